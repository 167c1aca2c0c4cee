// The update check: asks the maker's server for the latest version number and
// tells the user whether a newer version exists; and its schedule.
#pragma once

#include <cstdint>
#include <string>

#include "model/messages.h"
#include "model/settings.h"
#include "model/prompts.h"

namespace kestrel {

// The version file's address: KESTREL_UPDATE_URL when set, otherwise the
// maker's "/files/kestrel.dat".
std::string UpdateVersionUrl();
// The product page, "/kestrel/" on the maker's web site.
std::string ProductPageUrl();

// Days between scheduled checks for an "Update Range" value (5 is never).
int UpdateIntervalDays(int range);

// Fetches the version file and shows the new-version question, the no-update
// box or the connection-problem box.
void CheckForUpdate(const MessageCatalogue& messages, const Prompts& prompts);

// Offers the check when its interval since "Update Date" has passed, and then
// records the time of the offer whatever the answer.
void MaybeCheckForUpdate(Settings& settings, const MessageCatalogue& messages, const Prompts& prompts,
                         std::int64_t now);

}  // namespace kestrel
