#include "update/update_check.h"

#include <cstdlib>

#include "model/program.h"
#include "update/http_get.h"

namespace kestrel {
namespace {

constexpr int kNeverRange = 5;
constexpr std::int64_t kSecondsPerDay = 86400;

// Decimal reading: blanks and tabs skipped, a sign, digits up to the first
// other character; 0 without digits.
int ReadVersionNumber(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  int value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && value < 100000000) {
    value = value * 10 + (text[at++] - '0');
  }
  return negative ? -value : value;
}

}  // namespace

std::string UpdateVersionUrl() {
  const char* override = std::getenv("KESTREL_UPDATE_URL");
  if (override != nullptr && *override != '\0') return override;
  return std::string(kMakerWebAddress) + "/files/kestrel.dat";
}

std::string ProductPageUrl() { return std::string(kMakerWebAddress) + "/kestrel/"; }

int UpdateIntervalDays(int range) {
  switch (range) {
    case 0: return 1;
    case 1: return 7;
    case 2: return 30;
    case 3: return 90;
    case 4: return 180;
    default: return 30;
  }
}

void CheckForUpdate(const MessageCatalogue& messages, const Prompts& prompts) {
  const std::string reply = HttpGetBodyPrefix(UpdateVersionUrl(), TitleText());
  const int version = ReadVersionNumber(reply);
  auto text = [&](std::string_view key) { return CatalogueText(messages, "Msg", key); };
  if (version == 0) {
    prompts.show(BoxKind::Error, text("Error"), text("Internet connection problems"));
  } else if (version > kProgramVersion) {
    if (prompts.show(BoxKind::Question, text("New Update"), text("New Update Text"))) {
      prompts.openUrl(ProductPageUrl());
    }
  } else {
    prompts.show(BoxKind::Information, text("No Update"), text("No Update Text"));
  }
}

void MaybeCheckForUpdate(Settings& settings, const MessageCatalogue& messages, const Prompts& prompts,
                         std::int64_t now) {
  const int range = settings.Int(SettingId::UpdateRange);
  if (range == kNeverRange) return;
  const std::int64_t due = settings.Date(SettingId::UpdateDate) + UpdateIntervalDays(range) * kSecondsPerDay;
  if (now <= due) return;
  if (prompts.show(BoxKind::Question, CatalogueText(messages, "Msg", "Check for Updates"),
                   CatalogueText(messages, "Msg", "Ask check for updates"))) {
    CheckForUpdate(messages, prompts);
  }
  settings.SetNumber(SettingId::UpdateDate, now);
}

}  // namespace kestrel
