// The records of one program run, passed by reference to whatever needs them.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/fonts.h"
#include "settings/formats.h"
#include "settings/job_records.h"
#include "settings/messages.h"
#include "settings/settings.h"

namespace kestrel {

struct AppState {
  FormatRegistry formats = MakeEditionRegistry();
  Settings settings;
  RunState run;
  MessageCatalogue messages;
  InputList inputs;
  JobStatus status;
  std::shared_ptr<WatermarkFont> watermarkFont;
  // Where console lines go: standard output, or a test's collector.
  std::function<void(std::string_view)> print;
};

// A fresh state as the command-line driver prepares it: format tables,
// run state, command-line defaults and the message catalogue.
void PrepareCommandLineState(AppState& state);

}  // namespace kestrel
