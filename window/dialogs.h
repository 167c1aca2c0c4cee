// The dialogs that the main window's commands open.
#pragma once

#include <string_view>

#include "window/session.h"

namespace kestrel::window {

// The preferences dialog, opened at the page with that caption key
// ("General", "Output", ...); OK and Apply store its settings.
void OpenPreferencesDialog(Session& session, std::string_view page);

// The input chooser: a file dialog; a chosen file goes to the input.
void OpenInputChooser(Session& session);

void OpenAboutDialog(Session& session);

// From and To extensions; Search opens the maker's search page for them.
void OpenConverterSearchDialog(Session& session);

// The maker's search page for a conversion between two extensions.
std::string ConverterSearchUrl(std::string_view from, std::string_view to);

// The small maintenance window of -U; returns the exit code.
int RunMaintenanceWindow(AppState& state);

}  // namespace kestrel::window
