// The windowed run's state: the program records, the preferences path, the
// message-box seam and the widgets of the main window.
#pragma once

#include <string>
#include <vector>

#include "model/app_state.h"
#include "model/prompts.h"

class QApplication;
class QComboBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QStatusBar;
class QToolBar;
class QToolButton;
class QWidget;

namespace kestrel::window {

struct Session {
  AppState& state;
  std::string preferencesPath;  // empty: nothing is saved (the picture mode)
  // Every message box and opened address goes through here; tests replace it.
  Prompts prompts;
  bool quit = false;

  QMainWindow* mainWindow = nullptr;
  QToolBar* toolbar = nullptr;
  QWidget* container = nullptr;
  QLabel* inputCaption = nullptr;      // "Input File:", or "Input Files:" for several
  QLineEdit* inputField = nullptr;     // control 2
  // The files taken from the last drop or choice, the first shown in the
  // field; empty once the field is edited or emptied.
  std::vector<std::string> inputFiles = {};
  // The folder those files were found below, ending in "/"; empty when they
  // were dropped or chosen one by one. Their subfolders are taken from it.
  std::string inputFolder = {};
  QComboBox* outputList = nullptr;     // control 5
  QComboBox* formatList = nullptr;     // control 7
  QToolButton* inputButton = nullptr;  // one-button bars of commands 5, 7, 8
  QToolButton* outputButton = nullptr;
  QToolButton* formatButton = nullptr;
  QToolButton* convertButton = nullptr;  // control 8
  QStatusBar* statusBar = nullptr;
};

// Text of the message catalogue.
std::string Text(const Session& session, std::string_view group, std::string_view key);

}  // namespace kestrel::window
