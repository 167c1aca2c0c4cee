#include "settings/app_state.h"

#include "engine/job.h"
#include "platform/clock.h"
#include "platform/console.h"

namespace kestrel {

void PrepareCommandLineState(AppState& state) {
  BuildInputFormats(state.formats);
  BuildOutputFormats(state.formats);
  ResetRunState(state);
  SetDefaultSettings(state.settings, /*aspectOff=*/true, LocalNowSeconds(), state.formats.sourceFormats.front(),
                     state.formats.targetFormats.front());
  state.messages = LoadCatalogue();
  if (!state.print) state.print = [](std::string_view line) { WriteConsoleLine(line); };
}

}  // namespace kestrel
