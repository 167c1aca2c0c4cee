// Writes the bash completion of kestrel from the settings table, so that every
// option and keyword the program reads is offered.
#include <cstdio>
#include <string>

#include "model/keywords.h"
#include "platform/text.h"
#include "model/settings.h"
#include "model/values.h"

namespace {

std::string Lower(std::string_view text) { return kestrel::LowerCase(text); }

}  // namespace

int main() {
  using namespace kestrel;
  std::string valued =
      "--input= --output= --conversion= --profile= --input-folder= --input-list= --input-list0= --jobs=";
  std::string switches = "-i -o -c -d -q -p -h -v --debug --quiet --pause --help --version --update";
  std::string keywordCases;
  for (const auto& row : SettingRows()) {
    if (row.optionName.empty()) continue;
    const std::string name = Lower(row.optionName);
    if (row.option == OptionClass::Switch || row.option == OptionClass::SwitchClear) {
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
    -i|-I|--input) COMPREPLY=($(compgen -f -X '!*.[pP][sS][dD]' -- "$cur") $(compgen -d -- "$cur")); return ;;
    -o|-O|--output) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    -c|-C) COMPREPLY=(bmp); return ;;
  esac
  if [[ $cur == -*=* ]]; then
    local option=${cur%%%%=*} value=${cur#*=} words=''
    case "${option,,}" in
%s    --input|--input-list|--input-list0|--wm-image|--profile) COMPREPLY=($(compgen -f -- "$value")) ;;
    --output|--input-folder) COMPREPLY=($(compgen -d -- "$value")) ;;
    --conversion) words='bmp' ;;
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
              keywordCases.c_str(), valued.c_str(), switches.c_str());
  return 0;
}
