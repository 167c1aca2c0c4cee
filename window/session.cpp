#include "window/session.h"

namespace kestrel::window {

std::string Text(const Session& session, std::string_view group, std::string_view key) {
  return CatalogueText(session.state.messages, group, key);
}

}  // namespace kestrel::window
