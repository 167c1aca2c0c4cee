#include "model/program.h"

namespace kestrel {

std::string VersionText(int version) {
  const std::string digits = std::to_string(version);
  // A dot before the second and before the fourth character of the growing text.
  std::string text = digits.substr(0, 1);
  if (digits.size() >= 2) text.append(".").append(digits, 1, 1);
  if (digits.size() >= 3) text.append(".").append(digits, 2);
  if (!text.empty() && text.back() == '0' && text.size() > 3) text.resize(3);
  return text;
}

std::string TitleText() {
  std::string title(kProgramName);
  title.append(" ").append(VersionText(kProgramVersion));
  return title;
}

}  // namespace kestrel
