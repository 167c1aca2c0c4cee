#include "model/messages.h"

#include "platform/text.h"

namespace kestrel {
namespace {

struct CatalogueLine {
  bool opensGroup;
  std::string_view name;  // the group name, or the key of an entry
  std::string_view text;
};

constexpr CatalogueLine kCatalogue[] = {
#define GROUP(name) {true, name, {}},
#define ENTRY(key, text) {false, key, text},
#include "model/message_texts.inc"
#undef GROUP
#undef ENTRY
};

}  // namespace

MessageCatalogue LoadCatalogue() {
  MessageCatalogue catalogue;
  std::map<std::string, std::string, std::less<>>* group = nullptr;
  for (const auto& line : kCatalogue) {
    if (line.opensGroup) {
      group = &catalogue.groups[UpperCase(line.name)];
    } else if (group != nullptr) {
      group->emplace(UpperCase(line.name), std::string(line.text));  // the first of a repeated key wins
    }
  }
  return catalogue;
}

std::string CatalogueText(const MessageCatalogue& catalogue, std::string_view group, std::string_view key) {
  const auto g = catalogue.groups.find(UpperCase(group));
  if (g == catalogue.groups.end()) return std::string(kNoStringError);
  const auto entry = g->second.find(UpperCase(key));
  if (entry == g->second.end()) return std::string(kNoStringError);
  return entry->second;
}

std::string FormatMessage(std::string_view templ, std::string_view s1, std::string_view s2,
                          std::string_view s3, std::string_view s4) {
  std::string result(templ);
  if (result.empty()) return result;
  const std::string_view values[] = {s1, s2, s3, s4};
  const std::string_view placeholders[] = {"%s1%", "%s2%", "%s3%", "%s4%"};
  for (int k = 0; k < 4; ++k) {
    if (!values[k].empty()) result = ReplaceAllIgnoreCase(result, placeholders[k], values[k]);
  }
  return result;
}

}  // namespace kestrel
