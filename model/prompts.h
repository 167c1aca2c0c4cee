// How the update check and the window talk to the user: message boxes and
// web addresses, as replaceable functions so tests can answer them.
#pragma once

#include <functional>
#include <string>

namespace kestrel {

enum class BoxKind { Information, Warning, Error, Question };

struct Prompts {
  // Shows a message box; for a question the result is true on Yes.
  std::function<bool(BoxKind kind, const std::string& title, const std::string& text)> show;
  // Opens a web or mail address with the desktop's default handler.
  std::function<void(const std::string& url)> openUrl;
};

}  // namespace kestrel
