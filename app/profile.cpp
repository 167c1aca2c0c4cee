#include "app/profile.h"

namespace kestrel {

bool ReadProfile(Settings& /*settings*/, const std::string& /*fileName*/) {
  // TODO(profiles): read the INI file; until then every profile counts as unreadable.
  return false;
}

}  // namespace kestrel
