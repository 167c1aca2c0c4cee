// The message catalogue: English texts addressed by group and key.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace kestrel {

inline constexpr std::string_view kNoStringError = "%NO_STRING_ERROR%";

// Read-only once loaded, so any thread may look texts up.
struct MessageCatalogue {
  // Upper-cased group name -> upper-cased key -> text.
  std::map<std::string, std::map<std::string, std::string, std::less<>>, std::less<>> groups;
};

MessageCatalogue LoadCatalogue();

// The text of group and key, matched without regard to case; "%NO_STRING_ERROR%"
// when either does not exist.
std::string CatalogueText(const MessageCatalogue& catalogue, std::string_view group, std::string_view key);

// Replaces "%s1%" .. "%s4%" (any case) by the values, in that order; an empty
// value leaves its placeholder in place. A value that itself holds a later
// placeholder is completed by the later value.
std::string FormatMessage(std::string_view templ, std::string_view s1 = {}, std::string_view s2 = {},
                          std::string_view s3 = {}, std::string_view s4 = {});

}  // namespace kestrel
