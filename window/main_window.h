// The windowed run: the main window, its commands, dropped files and the
// preferences kept between runs.
#pragma once

#include <memory>
#include <string>

#include "window/session.h"

namespace kestrel::window {

// Command numbers of the menus, toolbar and shortcuts.
enum Command : int {
  kNew = 0, kExit = 3, kInputChooser = 4, kSelectInputFile = 5, kAddInputFolder = 6,
  kSelectOutputFolder = 7,
  kOutputFormatOptions = 8, kConvert = 14, kBatchConvert = 15, kCustomConverter = 16,
  kPreferences = 17, kManual = 18, kSendFeedback = 21, kVisitHomepage = 22, kCheckForNewVersion = 23,
  kAbout = 24,
};

// Loads the preferences (from preferencesPath, when not empty) and the
// catalogue, builds and shows the main window as a windowed run starts it.
std::unique_ptr<Session> OpenMainWindow(AppState& state, const std::string& preferencesPath);

// Places the controls for the current size of the window.
void LayoutMainWindow(Session& session);

void RunCommand(Session& session, int command);

// Shows an accepted input file and fills an empty output folder from it (or
// from the folder its files were taken from).
void TakeWindowedInput(Session& session, const std::string& path);

// Refills the output folder list from the recent output folders.
void RefillOutputList(Session& session);

// Stores the geometry and saves the preferences (the end of a windowed run).
void CloseMainWindow(Session& session);

// The whole windowed run; returns the exit code.
int RunWindowedMode(AppState& state);

// Opens the main window as it starts, saves a PNG picture of it to file, and
// returns the exit code.
int RunDemonstration(AppState& state, const std::string& file);

}  // namespace kestrel::window
