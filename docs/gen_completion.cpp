// Writes the bash completion of kestrel from the settings table, so that every
// option and keyword the program reads is offered.
#include <cstdio>
#include <string>

#include "model/command_options.h"
#include "model/keywords.h"
#include "platform/text.h"
#include "model/settings.h"
#include "model/values.h"

namespace {

std::string Lower(std::string_view text) { return kestrel::LowerCase(text); }

}  // namespace

int main() {
  using namespace kestrel;
  std::string valued;
  std::string switches;
  // Where a value names a file or a folder, the shell offers those.
  std::string fileOptions = "--wm-image";
  std::string folderOptions;
  std::string psdOptions;
  std::string extensionOptions;
  std::string formCases;
  auto add = [](std::string& list, const std::string& word) { list += (list.empty() ? "" : " ") + word; };
  auto addAlternative = [](std::string& list, const std::string& word) { list += (list.empty() ? "" : "|") + word; };
  for (const auto& row : CommandOptionRows()) {
    const std::string name = Lower(row.longName);
    add(row.value == ValueShape::None ? switches : valued, row.value == ValueShape::None ? name : name + "=");
    std::string names = name;
    for (const auto shortName : row.shortNames) {
      if (shortName.empty()) continue;
      if (shortName == "-?") continue;  // unquoted in the script, it would match file names
      add(switches, Lower(shortName));
      names.append("|").append(shortName).append("|").append(Lower(shortName));
    }
    switch (row.value) {
      case ValueShape::PsdFile: addAlternative(psdOptions, names); addAlternative(fileOptions, name); break;
      case ValueShape::File: addAlternative(fileOptions, name); break;
      case ValueShape::Folder: addAlternative(folderOptions, names); break;
      case ValueShape::Extension: addAlternative(extensionOptions, names); break;
      case ValueShape::Form:
        // Alone it takes the form for people; with a value, one of the forms.
        add(switches, name);
        formCases += "    " + name + ") words='JSON TEXT' ;;\n";
        break;
      case ValueShape::None:
      case ValueShape::Number:
      case ValueShape::Selector: break;
    }
  }
  std::string keywordCases = formCases;
  for (const auto& row : SettingRows()) {
    if (row.optionName.empty()) continue;
    const std::string name = Lower(row.optionName);
    if (IsSwitch(row)) {
      switches += " " + name;
      continue;
    }
    valued += " " + name + "=";
    if (row.option == OptionClass::Keyword) {
      std::string words;
      for (auto word : KeywordsOf(row.keywordSet)) {
        if (!words.empty()) words += ' ';
        words += word;
      }
      keywordCases += "    " + name + ") words='" + words + "' ;;\n";
    }
    if (row.option == OptionClass::Colour) {
      std::string words;
      for (const NamedColour& colour : NamedColours()) {
        if (!words.empty()) words += ' ';
        words += AsciiUpper(colour.name);
      }
      keywordCases += "    " + name + ") words='" + words + "' ;;\n";
    }
  }

  std::printf(R"BASH(# bash completion for kestrel; generated from its settings table
_kestrel() {
  local line=${COMP_LINE:0:$COMP_POINT}
  local cur=${line##* }
  local prev=${COMP_WORDS[COMP_CWORD-1]}
  COMPREPLY=()
  case "$prev" in
    %s) COMPREPLY=($(compgen -f -X '!*.[pP][sS][dDbB]' -- "$cur") $(compgen -d -- "$cur")); return ;;
    %s) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    %s) COMPREPLY=(bmp); return ;;
  esac
  if [[ $cur == -*=* ]]; then
    local option=${cur%%%%=*} value=${cur#*=} words=''
    case "${option,,}" in
%s    %s) COMPREPLY=($(compgen -f -- "$value")) ;;
    %s) COMPREPLY=($(compgen -d -- "$value")) ;;
    %s) words='bmp' ;;
    esac
    if [[ -n $words ]]; then
      COMPREPLY=($(compgen -W "$words" -- "${value^^}"))
    fi
    # Without "=" among the word breaks the whole word is replaced.
    if [[ $COMP_WORDBREAKS != *=* ]]; then
      COMPREPLY=("${COMPREPLY[@]/#/$option=}")
    fi
    return
  fi
  local IFS=$'\n'
  COMPREPLY=($(compgen -W "$(printf '%%s\n' %s %s)" -- "$cur"))
  [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace
}
complete -o default -F _kestrel kestrel
)BASH",
              psdOptions.c_str(), folderOptions.c_str(), extensionOptions.c_str(), keywordCases.c_str(),
              fileOptions.c_str(), folderOptions.c_str(), extensionOptions.c_str(), valued.c_str(), switches.c_str());
  return 0;
}
