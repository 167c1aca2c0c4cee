#include "window/main_window.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTimer>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include "model/program.h"
#include "job/job.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "model/preferences.h"
#include "update/update_check.h"
#include "window/conversion.h"
#include "window/dialogs.h"
#include "window/drop_target.h"
#include "window/icons.h"
#include "window/placement.h"
#include "window/qt_prompts.h"
#include "window/recent_folders.h"

namespace kestrel::window {
namespace {

constexpr int kMinimumWidth = 510;
constexpr int kFixedHeight = 260;
constexpr std::string_view kSupportMail = "support@tessaline.example";

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The main window forwards its events to the session's handlers.
class MainWindowWidget : public QMainWindow {
 public:
  explicit MainWindowWidget(Session& session) : session_(session) { setAcceptDrops(true); }

 protected:
  void closeEvent(QCloseEvent* event) override {
    session_.quit = true;
    event->accept();
    QApplication::quit();
  }
  void dragEnterEvent(QDragEnterEvent* event) override {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
  }
  void dropEvent(QDropEvent* event) override {
    DropFiles(session_, *event->mimeData());
    event->acceptProposedAction();
  }
  void resizeEvent(QResizeEvent* event) override {
    QMainWindow::resizeEvent(event);
    LayoutMainWindow(session_);
  }

 private:
  Session& session_;
};

// A menu text with its access key: the first letter not yet taken in its menu
// (Alt with that letter, or the letter alone once the menu is open).
QString WithAccessKey(const QString& text, QString& taken) {
  QString escaped = text;
  escaped.replace(QLatin1Char('&'), QStringLiteral("&&"));
  for (qsizetype i = 0; i < escaped.size(); ++i) {
    const QChar letter = escaped[i].toLower();
    if (!letter.isLetterOrNumber() || taken.contains(letter)) continue;
    taken += letter;
    return escaped.left(i) + QLatin1Char('&') + escaped.mid(i);
  }
  return escaped;
}

QAction* AddCommand(Session& session, QWidget* owner, int command, std::string_view picture,
                    std::string_view menuKey, const QKeySequence& shortcut = {}) {
  auto* action = new QAction(Q(Text(session, "Menu", menuKey)), owner);
  if (!picture.empty()) action->setIcon(Picture(picture));
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  QObject::connect(action, &QAction::triggered, owner, [&session, command] { RunCommand(session, command); });
  return action;
}

QToolButton* OneButtonBar(Session& session, QWidget* parent, int command, std::string_view picture,
                          std::string_view tooltipKey) {
  auto* button = new QToolButton(parent);
  button->setIcon(Picture(picture));
  button->setIconSize(QSize(16, 16));
  button->setAutoRaise(true);
  button->setToolTip(Q(Text(session, "Menu", tooltipKey)));
  QObject::connect(button, &QToolButton::clicked, parent, [&session, command] { RunCommand(session, command); });
  return button;
}

QLabel* Caption(Session& session, QWidget* parent, std::string_view key, int y) {
  auto* label = new QLabel(Q(Text(session, "General", key)), parent);
  label->setGeometry(10, y, 350, 20);
  return label;
}

// Gives every menu title and item of the bar its access key, and F10 opens
// the first menu, as desktop programs do.
void AddAccessKeys(QMainWindow* window) {
  QMenuBar* bar = window->menuBar();
  QString titles;
  for (QAction* title : bar->actions()) {
    title->setText(WithAccessKey(title->text(), titles));
    QString items;
    if (QMenu* menu = title->menu()) {
      for (QAction* item : menu->actions()) {
        if (!item->isSeparator()) item->setText(WithAccessKey(item->text(), items));
      }
    }
  }
  auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), window);
  QObject::connect(f10, &QShortcut::activated, bar, [bar] {
    if (!bar->actions().isEmpty() && bar->isEnabled()) bar->setActiveAction(bar->actions().first());
  });
}

void BuildMenusAndToolbar(Session& session, QMainWindow* window) {
  QMenuBar* bar = window->menuBar();
  QMenu* file = bar->addMenu(Q(Text(session, "Menu", "File")));
  file->addAction(AddCommand(session, window, kNew, "New", "New", QKeySequence(Qt::CTRL | Qt::Key_N)));
  file->addAction(AddCommand(session, window, kSelectInputFile, "Add", "Select Input File"));
  file->addAction(AddCommand(session, window, kAddInputFolder, "", "Select Input Folder"));
  file->addAction(AddCommand(session, window, kSelectOutputFolder, "OutFolder", "Select Output Folder"));
  file->addSeparator();
  file->addAction(AddCommand(session, window, kExit, "", "Exit", QKeySequence(Qt::ALT | Qt::Key_X)));

  QMenu* converter = bar->addMenu(Q(Text(session, "Menu", "Converter")));
  converter->addAction(AddCommand(session, window, kConvert, "Convert", "Convert", QKeySequence(Qt::Key_F5)));
  converter->addAction(AddCommand(session, window, kBatchConvert, "", "Batch Convert"));
  converter->addSeparator();
  converter->addAction(AddCommand(session, window, kCustomConverter, "", "Custom Converter"));
  converter->addSeparator();
  converter->addAction(AddCommand(session, window, kPreferences, "Preferences", "Preferences"));

  QMenu* help = bar->addMenu(Q(Text(session, "Menu", "Help")));
  help->addAction(AddCommand(session, window, kManual, "Help", "Manual", QKeySequence(Qt::Key_F1)));
  help->addSeparator();
  help->addAction(AddCommand(session, window, kSendFeedback, "Email", "Send Feedback"));
  help->addAction(AddCommand(session, window, kVisitHomepage, "Web", "Visit Homepage"));
  help->addAction(AddCommand(session, window, kCheckForNewVersion, "Updates", "Check For New Version"));
  help->addSeparator();
  help->addAction(AddCommand(session, window, kAbout, "", "About"));
  AddAccessKeys(window);

  // The toolbar's buttons carry the menu texts as tooltips; the menu actions
  // above already own the shortcuts.
  QToolBar* toolbar = window->addToolBar(QStringLiteral("main"));
  toolbar->setObjectName(QStringLiteral("toolbar"));
  toolbar->setMovable(false);
  toolbar->setIconSize(QSize(24, 24));
  auto tool = [&](int command, std::string_view picture, std::string_view key) {
    toolbar->addAction(AddCommand(session, window, command, picture, key));
  };
  tool(kNew, "New", "New");
  tool(kSelectInputFile, "Add", "Select Input File");
  tool(kSelectOutputFolder, "OutFolder", "Select Output Folder");
  toolbar->addSeparator();
  tool(kPreferences, "Preferences", "Preferences");
  toolbar->addSeparator();
  tool(kConvert, "Convert", "Convert");
  toolbar->addSeparator();
  tool(kManual, "Help", "Manual");
  tool(kSendFeedback, "Email", "Send Feedback");
  tool(kVisitHomepage, "Web", "Visit Homepage");
  tool(kCheckForNewVersion, "Updates", "Check For New Version");
  session.toolbar = toolbar;
}

void BuildControls(Session& session, QMainWindow* window) {
  auto* container = new QWidget(window);
  container->setObjectName(QStringLiteral("container"));
  session.container = container;
  session.inputCaption = Caption(session, container, "Input File", 5);
  session.inputField = new QLineEdit(container);
  session.inputField->setObjectName(QStringLiteral("inputField"));
  session.inputButton = OneButtonBar(session, container, kSelectInputFile, "Add", "Select Input File");
  Caption(session, container, "Output Folder", 45);
  session.outputList = new QComboBox(container);
  session.outputList->setObjectName(QStringLiteral("outputList"));
  session.outputList->setEditable(true);
  session.outputList->setInsertPolicy(QComboBox::NoInsert);
  session.outputButton = OneButtonBar(session, container, kSelectOutputFolder, "OutFolder", "Select Output Folder");
  Caption(session, container, "Output Format", 85);
  session.formatList = new QComboBox(container);
  session.formatList->setObjectName(QStringLiteral("formatList"));
  session.formatButton = OneButtonBar(session, container, kOutputFormatOptions, "OutFormat", "Output Format Options");
  session.convertButton = new QToolButton(container);
  session.convertButton->setObjectName(QStringLiteral("convertButton"));
  session.convertButton->setIcon(Picture("Convert"));
  session.convertButton->setIconSize(QSize(64, 64));
  session.convertButton->setText(Q(Text(session, "General", "Convert")));
  session.convertButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  window->setCentralWidget(container);

  // Editing the field leaves the several files of a drop or choice behind.
  QObject::connect(session.inputField, &QLineEdit::textChanged, container, [&session](const QString& text) {
    if (session.inputFiles.empty() || text.toStdString() == session.inputFiles.front()) return;
    session.inputFiles.clear();
    session.inputFolder.clear();
    session.inputCaption->setText(Q(Text(session, "General", "Input File")));
    session.inputField->setToolTip(QString());
  });
  QObject::connect(session.outputList, &QComboBox::currentTextChanged, container,
                   [&session](const QString& text) { session.state.run.output = text.toStdString(); });
  QObject::connect(session.formatList, &QComboBox::currentIndexChanged, container, [&session](int row) {
    const auto& targets = session.state.formats.targetFormats;
    if (row >= 0 && static_cast<std::size_t>(row) < targets.size()) {
      session.state.settings.SetText(SettingId::OutputFormat, targets[static_cast<std::size_t>(row)]);
    }
  });
  QObject::connect(session.convertButton, &QToolButton::clicked, container,
                   [&session] { StartWindowedConversion(session); });
}

void FillFormatList(Session& session) {
  session.formatList->clear();
  for (const std::string& target : session.state.formats.targetFormats) {
    const OutputFormat* format = FindOutputFormat(target);
    const std::string description(format ? format->description : std::string_view());
    session.formatList->addItem(Q(AsciiUpper(target) + "  (" + description + ")"));
  }
  session.formatList->setCurrentIndex(0);
}

// The HTML manual: beside the program in the build tree, or in the installed
// documentation.
std::string ManualPath() {
  const std::string folder = FolderPart(ProgramFilePath());
  for (const std::string& candidate : {folder + "docs/kestrel.html", folder + "../share/doc/kestrel/kestrel.html"}) {
    if (FileSizeQuery(candidate) > 0) return candidate;
  }
  return {};
}

std::string MailLink() {
  const QString subject = QString::fromStdString(TitleText() + " Feedback");
  return "mailto:" + std::string(kSupportMail) + "?subject=" +
         QString::fromUtf8(QUrl::toPercentEncoding(subject)).toStdString();
}

}  // namespace

void RefillOutputList(Session& session) {
  const QString text = session.outputList->currentText();
  const QSignalBlocker blocker(session.outputList);
  session.outputList->clear();
  for (const std::string& folder : RecentOutputFolders(session.state.settings)) session.outputList->addItem(Q(folder));
  session.outputList->setEditText(text);
}

void LayoutMainWindow(Session& session) {
  if (session.container == nullptr) return;
  const int width = session.mainWindow->width();
  const int field = width - 160;
  session.inputField->setGeometry(10, 20, field, 20);
  session.outputList->setGeometry(10, 60, field, 21);
  session.formatList->setGeometry(10, 100, field, 21);
  session.inputButton->setGeometry(width - 146, 19, 24, 24);
  session.outputButton->setGeometry(width - 146, 59, 24, 24);
  session.formatButton->setGeometry(width - 146, 99, 24, 24);
  session.convertButton->setGeometry(width - 110, 20, 100, 100);
  session.container->update();
}

void TakeWindowedInput(Session& session, const std::string& path) {
  session.inputField->setText(Q(path));
  if (!session.outputList->currentText().isEmpty()) return;
  std::string folder = session.state.run.input;
  if (folder.empty()) folder = session.inputFolder;
  if (folder.empty()) folder = FolderPart(path);
  RememberOutputFolder(session.state.settings, folder);
  session.state.run.output = folder;
  RefillOutputList(session);
  session.outputList->setEditText(Q(folder));
}

void RunCommand(Session& session, int command) {
  AppState& state = session.state;
  switch (command) {
    case kNew: {
      RefillOutputList(session);
      const std::string runMode = state.run.runMode;
      ResetRunState(state);
      state.run.runMode = runMode;
      session.inputField->clear();
      session.outputList->setEditText(QString());
      break;
    }
    case kExit:
      session.mainWindow->close();
      break;
    case kInputChooser:
      OpenInputChooser(session);
      break;
    case kSelectInputFile: {
      QString filter = Q(Text(session, "Dialog", "All Supported Files")) + " (";
      for (const std::string& extension : state.formats.acceptedInputExtensions) {
        filter += "*." + Q(extension) + " *." + Q(AsciiUpper(extension)) + " ";
      }
      filter = filter.trimmed() + ");;" + Q(Text(session, "Dialog", "All Files")) + " (*)";
      const QStringList chosen = QFileDialog::getOpenFileNames(
          session.mainWindow, Q(Text(session, "Dialog", "Select Input Files")), {}, filter);
      std::vector<std::string> paths;
      for (const QString& path : chosen) paths.push_back(path.toStdString());
      TakeInputFiles(session, paths);
      break;
    }
    case kAddInputFolder: {
      const QString folder = QFileDialog::getExistingDirectory(session.mainWindow,
                                                               Q(Text(session, "Dialog", "Select Input Folder")));
      if (!folder.isEmpty()) TakeInputFolder(session, folder.toStdString());
      break;
    }
    case kSelectOutputFolder: {
      const QString folder = QFileDialog::getExistingDirectory(session.mainWindow,
                                                               Q(Text(session, "Dialog", "Select Output Folder")),
                                                               session.outputList->currentText());
      if (!folder.isEmpty()) {
        session.outputList->setEditText(folder);
        state.run.output = folder.toStdString();
      }
      break;
    }
    case kOutputFormatOptions:
      OpenPreferencesDialog(session, "Output");
      break;
    case kConvert:
      StartWindowedConversion(session);
      break;
    case kBatchConvert:
      session.prompts.openUrl(std::string(kMakerWebAddress) + "/batch-converter/");
      break;
    case kCustomConverter:
      OpenConverterSearchDialog(session);
      break;
    case kPreferences:
      OpenPreferencesDialog(session, "General");
      break;
    case kManual:
      if (const std::string manual = ManualPath(); !manual.empty()) {
        session.prompts.openUrl(QUrl::fromLocalFile(Q(manual)).toString().toStdString());
      }
      break;
    case kSendFeedback:
      session.prompts.openUrl(MailLink());
      break;
    case kVisitHomepage:
      session.prompts.openUrl(ProductPageUrl());
      break;
    case kCheckForNewVersion:
      CheckForUpdate(state.messages, session.prompts);
      break;
    case kAbout:
      OpenAboutDialog(session);
      break;
    default:
      break;  // commands 9 to 13 do nothing in this edition
  }
}

std::unique_ptr<Session> OpenMainWindow(AppState& state, const std::string& preferencesPath) {
  auto session = std::make_unique<Session>(Session{state, preferencesPath, {}});
  Settings& settings = state.settings;
  const bool firstStart = preferencesPath.empty() || FileSizeQuery(preferencesPath) == kPathMissing;
  LoadPreferences(settings, state.formats, preferencesPath, LocalNowSeconds());
  state.messages = LoadCatalogue();

  auto* window = new MainWindowWidget(*session);
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  session->mainWindow = window;
  session->prompts = MakeDesktopPrompts(window);
  window->setWindowTitle(Q(TitleText()));
  window->setMinimumSize(kMinimumWidth, kFixedHeight);
  window->setMaximumHeight(kFixedHeight);
  BuildMenusAndToolbar(*session, window);
  session->statusBar = window->statusBar();
  session->statusBar->showMessage(QString());
  BuildControls(*session, window);

  const SavedPlace saved{settings.Int(SettingId::WindowX), settings.Int(SettingId::WindowY),
                         settings.Int(SettingId::WindowWidth), settings.Int(SettingId::WindowHeight)};
  window->setGeometry(PlaceMainWindow(saved, firstStart, DesktopScreens(), QSize(kMinimumWidth, kFixedHeight),
                                      kFixedHeight));
  RefillOutputList(*session);
  FillFormatList(*session);
  RunCommand(*session, kNew);
  InstallDropTargets(*session);
  // Files the program was opened with ("Open with" of a file manager).
  if (!state.windowInputs.empty()) TakeInputFiles(*session, state.windowInputs);
  if (state.convertWindowInputs) {
    // Once the window is shown and laid out, as if Convert had been pressed.
    QTimer::singleShot(0, window, [raw = session.get()] { RunCommand(*raw, kConvert); });
  }
  if (settings.IsOn(SettingId::IsMaximized)) {
    window->showMaximized();
  } else {
    KeepFrameOnScreen(window, firstStart, QSize(kMinimumWidth, kFixedHeight), kFixedHeight);
    window->show();
  }
  LayoutMainWindow(*session);
  return session;
}

void CloseMainWindow(Session& session) {
  Settings& settings = session.state.settings;
  QMainWindow* window = session.mainWindow;
  if (window->isMaximized()) {
    settings.SetNumber(SettingId::IsMaximized, 1);
  } else if (!window->isMinimized()) {
    settings.SetNumber(SettingId::IsMaximized, 0);
    const QRect inner = window->geometry();
    settings.SetNumber(SettingId::WindowWidth, inner.width());
    settings.SetNumber(SettingId::WindowHeight, inner.height());
    settings.SetNumber(SettingId::WindowX, inner.x());
    settings.SetNumber(SettingId::WindowY, inner.y());
  }
  if (!settings.IsOn(SettingId::OutFoldersHistory)) settings.SetText(SettingId::RecentOutFolders, "");
  if (!session.preferencesPath.empty()) SavePreferences(settings, session.preferencesPath);
}

int RunWindowedMode(AppState& state) {
  const std::string path = PreferencesPath("Tessaline", "kestrel");
  const std::unique_ptr<Session> session = OpenMainWindow(state, path);
  if (state.run.runMode != "T") {
    MaybeCheckForUpdate(state.settings, state.messages, session->prompts, LocalNowSeconds());
  }
  while (!session->quit) QApplication::exec();
  CloseMainWindow(*session);
  delete session->mainWindow;
  return 0;
}

int RunDemonstration(AppState& state, const std::string& file) {
  if (file.empty()) {
    WriteErrorLine("kestrel: -T needs the file name of the picture to write");
    return 1;
  }
  const std::unique_ptr<Session> session = OpenMainWindow(state, PreferencesPath("Tessaline", "kestrel"));
  for (int i = 0; i < 5; ++i) QApplication::processEvents();
  const QPixmap picture = session->mainWindow->grab();
  delete session->mainWindow;
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!picture.save(&buffer, "PNG") || !WriteFileAtomically(file, png.constData(), static_cast<std::size_t>(png.size()))) {
    WriteErrorLine("kestrel: cannot write the picture " + file);
    return 1;
  }
  return 0;
}

}  // namespace kestrel::window
