// The main window on the offscreen platform: layout, recent folders, dropped
// files, the conversion with its progress window, the break question and the
// preferences kept by the window and its dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QColor>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QSet>
#include <QTest>
#include <QComboBox>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QDropEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <chrono>
#include <utility>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/files.h"
#include "model/preferences.h"
#include "tests/support/test_support.h"

#include "window/conversion.h"
#include "window/dialogs.h"
#include "window/drop_target.h"
#include "window/main_window.h"
#include "window/placement.h"
#include "window/recent_folders.h"

namespace kestrel::window {
namespace {

using test::TempDir;

struct Box {
  BoxKind kind;
  std::string title;
  std::string text;
};

// A main window as a windowed run opens it, with scripted message boxes.
class MainWindowTest : public ::testing::Test {
 public:
  void SetUp() override {
    session = OpenMainWindow(state, dir.File("config.ini"));
    session->prompts.show = [this](BoxKind kind, const std::string& title, const std::string& text) {
      boxes.push_back({kind, title, text});
      if (onQuestion && kind == BoxKind::Question) onQuestion();
      return answer;
    };
    session->prompts.openUrl = [this](const std::string& url) { opened.push_back(url); };
    QApplication::processEvents();
  }
  void TearDown() override { delete session->mainWindow; }

  std::string Status() const { return session->statusBar->currentMessage().toStdString(); }

  // Presses OK of the progress window once the job has ended, keeping what it showed.
  void AnswerProgressWindow() {
    auto* poll = new QTimer(session->mainWindow);
    QObject::connect(poll, &QTimer::timeout, poll, [this, poll] {
      QWidget* progress = session->mainWindow->findChild<QWidget*>("progressWindow");
      if (progress == nullptr || !progress->isVisible()) return;
      if (closeProgress) {
        closeProgress = false;
        progress->close();
        return;
      }
      auto* ok = progress->findChild<QPushButton*>("okButton");
      if (!ok->isEnabled()) return;
      progressTitle = progress->windowTitle().toStdString();
      fileLine = progress->findChild<QLabel*>("fileLine")->text().toStdString();
      timeLineVisible = progress->findChild<QLabel*>("timeLine")->isVisible();
      failureLine = progress->findChild<QLabel*>("failureLine")->text().toStdString();
      failureLineVisible = progress->findChild<QLabel*>("failureLine")->isVisible();
      barValue = progress->findChild<QProgressBar*>("progressBar")->value();
      barMaximum = progress->findChild<QProgressBar*>("progressBar")->maximum();
      poll->deleteLater();
      ok->click();
    });
    poll->start(5);
  }

  TempDir dir;
  AppState state;
  std::unique_ptr<Session> session;
  std::vector<Box> boxes;
  std::vector<std::string> opened;
  bool answer = false;
  std::function<void()> onQuestion;
  bool closeProgress = false;
  std::string progressTitle, fileLine, failureLine;
  bool timeLineVisible = true, failureLineVisible = false;
  int barValue = -1, barMaximum = -1;
};

TEST_F(MainWindowTest, LayoutAt800PixelsOfInnerWidth) {
  QMainWindow* window = session->mainWindow;
  EXPECT_EQ(window->windowTitle(), "Tessaline PSD to BMP 3.0");
  EXPECT_EQ(window->minimumSize(), QSize(510, 260));
  EXPECT_EQ(window->maximumHeight(), 260);
  window->resize(800, 260);
  QApplication::processEvents();
  ASSERT_EQ(window->width(), 800);
  EXPECT_EQ(session->inputField->geometry(), QRect(10, 20, 640, 20));
  EXPECT_EQ(session->outputList->geometry(), QRect(10, 60, 640, 21));
  EXPECT_EQ(session->formatList->geometry(), QRect(10, 100, 640, 21));
  EXPECT_EQ(session->inputButton->geometry(), QRect(654, 19, 24, 24));
  EXPECT_EQ(session->outputButton->geometry(), QRect(654, 59, 24, 24));
  EXPECT_EQ(session->formatButton->geometry(), QRect(654, 99, 24, 24));
  EXPECT_EQ(session->convertButton->geometry(), QRect(690, 20, 100, 100));
  EXPECT_EQ(session->formatList->count(), 1);
  EXPECT_EQ(session->formatList->itemText(0), "BMP  (Windows or OS/2 Bitmap)");
}

TEST(RecentFolders, KeepTheConfiguredNumberMostRecentFirst) {
  Settings settings;
  SetDefaultSettings(settings, false, 0, "psd", "bmp");
  ASSERT_EQ(settings.Int(SettingId::OutFoldersNumber), 5);
  for (const char* folder : {"/e/", "/d/", "/c/", "/b/", "/a/"}) RememberOutputFolder(settings, folder);
  EXPECT_EQ(settings.Text(SettingId::RecentOutFolders), "/a/\t/b/\t/c/\t/d/\t/e/");
  RememberOutputFolder(settings, "/f/");
  EXPECT_EQ(settings.Text(SettingId::RecentOutFolders), "/f/\t/a/\t/b/\t/c/\t/d/");
  RememberOutputFolder(settings, "/C/");
  EXPECT_EQ(settings.Text(SettingId::RecentOutFolders), "/C/\t/f/\t/a/\t/b/\t/d/");
  RememberOutputFolder(settings, "");
  EXPECT_EQ(settings.Text(SettingId::RecentOutFolders), "/C/\t/f/\t/a/\t/b/\t/d/");
  settings.SetText(SettingId::RecentOutFolders, " /x/ \t\t/y/");
  EXPECT_EQ(RecentOutputFolders(settings), (std::vector<std::string>{"/x/", "/y/"}));
}

TEST_F(MainWindowTest, DroppedFilesFillTheInputWithTheFirstAndTheEmptyOutputFolder) {
  const std::string first = test::MakePsd(dir.Path(), "first.psd", "rgb8", 4, 4);
  const std::string second = test::MakePsd(dir.Path(), "second.psd", "rgb8", 4, 4);
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(first)), QUrl::fromLocalFile(QString::fromStdString(second))});
  QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(session->mainWindow, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QApplication::sendEvent(session->mainWindow, &drop);
  EXPECT_EQ(session->inputField->text().toStdString(), first);
  EXPECT_EQ(session->outputList->currentText().toStdString(), dir.Path() + "/");
  EXPECT_EQ(state.run.output, dir.Path() + "/");
  EXPECT_EQ(RecentOutputFolders(state.settings).front(), dir.Path() + "/");

  // With a folder already there, a later drop changes only the input.
  session->outputList->setEditText("/tmp/");
  DropFiles(*session, data);
  EXPECT_EQ(session->outputList->currentText(), "/tmp/");

  // A file of another kind is not taken.
  test::WriteText(dir.File("notes.txt"), "x");
  QMimeData text;
  text.setUrls({QUrl::fromLocalFile(QString::fromStdString(dir.File("notes.txt")))});
  DropFiles(*session, text);
  EXPECT_EQ(session->inputField->text().toStdString(), first);
}

// Sends a drag and a drop of data to a widget as the toolkit delivers them.
// A bitmap the window wrote holds tools/make_psd.py's "rgb8" picture of that
// size: red across, green down, blue (x + y) * 7. `width` and `height` are the
// picture's; a resized one is checked at its corners.
void ExpectGeneratedPicture(const std::string& bmp, int width, int height, int shownWidth = 0, int shownHeight = 0) {
  SCOPED_TRACE(bmp);
  const QImage image(QString::fromStdString(bmp));
  ASSERT_FALSE(image.isNull()) << "not a readable bitmap";
  const int w = shownWidth != 0 ? shownWidth : width;
  const int h = shownHeight != 0 ? shownHeight : height;
  ASSERT_EQ(image.width(), w);
  ASSERT_EQ(image.height(), h);
  auto expected = [&](int x, int y) {
    return QColor(x * 255 / (width - 1), y * 255 / (height - 1), ((x + y) * 7) % 256);
  };
  if (w == width && h == height) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) EXPECT_EQ(image.pixelColor(x, y), expected(x, y)) << x << "," << y;
    }
    return;
  }
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{width - 1, height - 1}}) {
    const QColor shown = image.pixelColor(x * (w - 1) / (width - 1), y * (h - 1) / (height - 1));
    const QColor want = expected(x, y);
    EXPECT_NEAR(shown.red(), want.red(), 8) << x << "," << y;
    EXPECT_NEAR(shown.green(), want.green(), 8) << x << "," << y;
  }
}

bool DropOn(QWidget* target, const QMimeData& data) {
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(target, &drop);
  return drop.isAccepted();
}

// Every field takes dropped files as files, never as "file://" text; a folder
// dropped on the output folder field becomes the output folder.
TEST_F(MainWindowTest, EveryFieldTakesDroppedFiles) {
  const std::string photo = test::MakePsd(dir.Path(), "photo.psd", "rgb8", 4, 4);
  QMimeData one;
  one.setUrls({QUrl::fromLocalFile(QString::fromStdString(photo))});
  QWidget* targets[] = {session->inputField, session->outputList->lineEdit(), session->outputList,
                        session->formatList, session->convertButton, session->container};
  for (QWidget* target : targets) {
    RunCommand(*session, kNew);
    ASSERT_TRUE(DropOn(target, one)) << target->metaObject()->className();
    EXPECT_EQ(session->inputField->text().toStdString(), photo) << target->metaObject()->className();
    EXPECT_EQ(session->outputList->currentText().toStdString(), dir.Path() + "/");
  }

  TempDir out;
  QMimeData folder;
  folder.setUrls({QUrl::fromLocalFile(QString::fromStdString(out.Path()))});
  ASSERT_TRUE(DropOn(session->outputList->lineEdit(), folder));
  EXPECT_EQ(session->outputList->currentText().toStdString(), out.Path() + "/");
  EXPECT_EQ(session->inputField->text().toStdString(), photo);

  // A file manager that sends its addresses as text.
  RunCommand(*session, kNew);
  QMimeData text;
  text.setText(QUrl::fromLocalFile(QString::fromStdString(photo)).toString() + "\r\n");
  DropFiles(*session, text);
  EXPECT_EQ(session->inputField->text().toStdString(), photo);
}

TEST_F(MainWindowTest, SeveralDroppedFilesAreAllConverted) {
  const std::string first = test::MakePsd(dir.Path(), "first.psd", "rgb8", 4, 4);
  const std::string second = test::MakePsd(dir.Path(), "second.psd", "rgb8", 6, 6);
  test::WriteText(dir.File("notes.txt"), "x");
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(first)), QUrl::fromLocalFile(QString::fromStdString(second)),
                QUrl::fromLocalFile(QString::fromStdString(dir.File("notes.txt")))});
  ASSERT_TRUE(DropOn(session->inputField, data));
  EXPECT_EQ(session->inputField->text().toStdString(), first);
  EXPECT_EQ(session->inputCaption->text(), "Input Files:");
  EXPECT_EQ(Status(), "Import complete, new files added: 2");
  TempDir out;
  session->outputList->setEditText(QString::fromStdString(out.Path()));
  AnswerProgressWindow();
  RunCommand(*session, kConvert);
  EXPECT_EQ(fileLine, "Files converted: 2 of 2");
  ExpectGeneratedPicture(out.File("first.bmp"), 4, 4);
  ExpectGeneratedPicture(out.File("second.bmp"), 6, 6);

  // Typing another path leaves the several files behind.
  session->inputField->setText(QString::fromStdString(second));
  EXPECT_EQ(session->inputCaption->text(), "Input File:");
  EXPECT_TRUE(session->inputFiles.empty());
}

// The first start opens centred; a saved place off the screen, or a size no
// screen holds, is brought back onto the screen, frame and all, and saved so.
TEST(WindowPlace, FirstStartCentredAndSavedPlacesPulledOntoTheScreen) {
  const QRect screen = DesktopScreens().front();
  TempDir dir;
  {
    AppState state;
    const std::unique_ptr<Session> session = OpenMainWindow(state, dir.File("config.ini"));
    // (The window system may shift a window by its frame's width.)
    const QPoint offset = session->mainWindow->geometry().center() - screen.center();
    EXPECT_LE(offset.manhattanLength(), 6) << offset.x() << "," << offset.y();
    EXPECT_EQ(session->mainWindow->size(), QSize(510, 260));
    delete session->mainWindow;
  }
  const struct {
    const char* window;
    QRect expected;
  } cases[] = {
      {"X = 3000\r\nY = 2000\r\nWidth = 510\r\nHeight = 260\r\n",
       QRect(screen.right() + 1 - 510, screen.bottom() + 1 - 260, 510, 260)},
      {"X = 0\r\nY = 0\r\nWidth = 2000000000\r\nHeight = 2000000000\r\n", QRect(0, 0, screen.width(), 260)},
      {"X = -2147483648\r\nY = 40\r\nWidth = -5\r\nHeight = 0\r\n", QRect(0, 40, 510, 260)},
  };
  for (const auto& c : cases) {
    test::WriteText(dir.File("config.ini"), std::string("[Window]\r\n") + c.window);
    AppState state;
    const std::unique_ptr<Session> session = OpenMainWindow(state, dir.File("config.ini"));
    QApplication::processEvents();
    const QRect shown = session->mainWindow->geometry();
    // The window system's frame is kept on the screen too: a window as wide
    // as the screen gives up the frame's width.
    const QRect frame = session->mainWindow->frameGeometry();
    EXPECT_EQ(shown.size(), c.expected.size().boundedTo(screen.size() - (frame.size() - shown.size()))) << c.window;
    EXPECT_TRUE(screen.contains(frame)) << c.window;
    EXPECT_LE((shown.topLeft() - c.expected.topLeft()).manhattanLength(), 6) << c.window;
    CloseMainWindow(*session);
    delete session->mainWindow;
    Settings saved;
    LoadPreferences(saved, state.formats, dir.File("config.ini"), 0);
    EXPECT_EQ(QRect(saved.Int(SettingId::WindowX), saved.Int(SettingId::WindowY), saved.Int(SettingId::WindowWidth),
                    saved.Int(SettingId::WindowHeight)),
              shown)
        << c.window;
  }
}

// The file chooser takes several files at once.
TEST_F(MainWindowTest, TheChooserTakesSeveralFiles) {
  const std::string first = test::MakePsd(dir.Path(), "first.psd", "rgb8", 4, 4);
  const std::string second = test::MakePsd(dir.Path(), "second.psd", "rgb8", 4, 4);
  bool chooserSeen = false;
  auto* poll = new QTimer(session->mainWindow);
  QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* chooser = qobject_cast<QFileDialog*>(top);
      if (chooser == nullptr || !chooser->isVisible()) continue;
      chooserSeen = true;
      poll->deleteLater();
      EXPECT_EQ(chooser->fileMode(), QFileDialog::ExistingFiles);
      chooser->setDirectory(QString::fromStdString(dir.Path()));
      chooser->findChild<QLineEdit*>("fileNameEdit")->setText("\"first.psd\" \"second.psd\"");
      QMetaObject::invokeMethod(chooser, "accept");
      if (chooser->isVisible()) chooser->reject();  // never leave the test waiting
    }
  });
  poll->start(50);
  RunCommand(*session, kSelectInputFile);
  ASSERT_TRUE(chooserSeen);
  EXPECT_EQ(session->inputFiles, (std::vector<std::string>{first, second}));
  EXPECT_EQ(session->inputField->text().toStdString(), first);
  EXPECT_EQ(session->inputCaption->text(), "Input Files:");
}

// Files given on the command line ("Open with") fill the window as it opens.
TEST(OpenWith, TheWindowOpensWithTheGivenFiles) {
  TempDir dir;
  AppState state;
  state.windowInputs = {test::MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4), test::MakePsd(dir.Path(), "b.psd", "rgb8", 4, 4)};
  const std::unique_ptr<Session> session = OpenMainWindow(state, dir.File("config.ini"));
  EXPECT_EQ(session->inputField->text().toStdString(), state.windowInputs[0]);
  EXPECT_EQ(session->inputFiles, state.windowInputs);
  EXPECT_EQ(session->outputList->currentText().toStdString(), dir.Path() + "/");
  delete session->mainWindow;
}

// A file manager's "Convert to BMP": the window opens with the files and
// converts them at once, beside themselves, through its progress window.
TEST(OpenWith, ConvertInWindowConvertsTheGivenFilesAtOnce) {
  TempDir dir;
  AppState state;
  state.windowInputs = {test::MakePsd(dir.Path(), "a.psd", "rgb8", 4, 4), test::MakePsd(dir.Path(), "b.psd", "rgb8", 6, 6)};
  state.convertWindowInputs = true;
  const std::unique_ptr<Session> session = OpenMainWindow(state, dir.File("config.ini"));
  std::vector<std::string> boxes;
  session->prompts.show = [&boxes](BoxKind, const std::string&, const std::string& text) {
    boxes.push_back(text);
    return false;
  };
  // The progress window may run its own event loop: a timer answers it from there.
  std::string fileLine;
  bool answered = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* progress = session->mainWindow->findChild<QWidget*>("progressWindow");
    if (answered || progress == nullptr || !progress->isVisible()) return;
    auto* ok = progress->findChild<QPushButton*>("okButton");
    if (!ok->isEnabled()) return;
    fileLine = progress->findChild<QLabel*>("fileLine")->text().toStdString();
    answered = true;
    ok->click();
  });
  poll.start(5);
  const bool ended = QTest::qWaitFor([&] { return answered; }, 30000);
  EXPECT_TRUE(ended);
  EXPECT_TRUE(boxes.empty()) << boxes.front();
  EXPECT_EQ(fileLine, "Files converted: 2 of 2");
  for (const char* name : {"a.bmp", "b.bmp"}) EXPECT_GT(FileSizeQuery(dir.File(name)), 0) << name;
  delete session->mainWindow;
}

// The menus have access keys, each once in its menu; Alt with a title's key
// and F10 open a menu instead of typing into the focused field.
TEST_F(MainWindowTest, MenusOpenFromTheKeyboard) {
  QMenuBar* bar = session->mainWindow->menuBar();
  QStringList titles;
  for (QAction* title : bar->actions()) {
    titles << title->text();
    QSet<QChar> keys;
    for (QAction* item : title->menu()->actions()) {
      if (item->isSeparator()) continue;
      const qsizetype at = item->text().indexOf('&');
      ASSERT_GE(at, 0) << item->text().toStdString();
      EXPECT_FALSE(keys.contains(item->text()[at + 1].toLower())) << item->text().toStdString();
      keys.insert(item->text()[at + 1].toLower());
    }
  }
  EXPECT_EQ(titles.join(","), "&File,&Converter,&Help");

  session->mainWindow->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(session->mainWindow));
  session->inputField->setFocus();
  const struct {
    QKeyCombination key;
    const char* menu;
  } cases[] = {{QKeyCombination(Qt::AltModifier, Qt::Key_F), "&File"},
               {QKeyCombination(Qt::AltModifier, Qt::Key_H), "&Help"},
               {QKeyCombination(Qt::NoModifier, Qt::Key_F10), "&File"}};
  for (const auto& c : cases) {
    QTest::keyClick(QApplication::focusWidget(), c.key.key(), c.key.keyboardModifiers());
    QTest::qWait(20);
    auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(open, nullptr) << c.menu;
    EXPECT_EQ(open->title().toStdString(), c.menu);
    open->close();
    QTest::qWait(20);
  }
  EXPECT_TRUE(session->inputField->text().isEmpty());
}

TEST_F(MainWindowTest, ConversionRunsThroughTheProgressWindow) {
  const std::string input = test::MakePsd(dir.Path(), "photo.psd", "rgb8", 16, 12);
  TempDir out;
  session->inputField->setText(QString::fromStdString(input));
  session->outputList->setEditText(QString::fromStdString(out.Path()));  // no final "/"
  AnswerProgressWindow();
  RunCommand(*session, kConvert);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(Status(), "Conversion complete");
  EXPECT_EQ(progressTitle, "Conversion complete (1/1)");
  EXPECT_EQ(fileLine, "Files converted: 1 of 1");
  EXPECT_FALSE(timeLineVisible);
  EXPECT_FALSE(failureLineVisible);
  EXPECT_EQ(barMaximum, 2);
  EXPECT_EQ(barValue, 1);
  ExpectGeneratedPicture(out.File("photo.bmp"), 16, 12);
  EXPECT_EQ(RecentOutputFolders(state.settings).front(), out.Path() + "/");
  EXPECT_TRUE(session->container->isEnabled());
}

TEST_F(MainWindowTest, MissingPsdPassesTheChecksAndConvertsNothing) {
  session->inputField->setText(QString::fromStdString(dir.File("gone.psd")));
  session->outputList->setEditText(QString::fromStdString(dir.Path()));
  AnswerProgressWindow();
  StartWindowedConversion(*session);
  EXPECT_TRUE(boxes.empty());
  EXPECT_EQ(fileLine, "Files converted: 0 of 1");
  EXPECT_EQ(failureLine.rfind("gone.psd: ", 0), 0u) << failureLine;
  EXPECT_EQ(Status(), "Conversion complete - " + failureLine);
}

// A file that fails names the command line's reason for it, in the progress
// window and in the status bar.
TEST_F(MainWindowTest, FailedFilesShowTheCommandLinesReason) {
  test::WriteText(dir.File("broken.psd"), std::string("8BPS\0\1", 6) + std::string(40, '\xff'));
  const test::RunResult cli = test::RunKestrel({"-q", "-i", dir.File("broken.psd"), "-o", dir.Path()});
  const std::string prefix = "kestrel: " + dir.File("broken.psd") + ": ";
  ASSERT_EQ(cli.err.rfind(prefix, 0), 0u) << cli.err;
  const std::string reason = cli.err.substr(prefix.size(), cli.err.find('\n') - prefix.size());
  session->inputField->setText(QString::fromStdString(dir.File("broken.psd")));
  session->outputList->setEditText(QString::fromStdString(dir.Path()));
  AnswerProgressWindow();
  StartWindowedConversion(*session);
  EXPECT_EQ(fileLine, "Files converted: 0 of 1");
  EXPECT_EQ(failureLine, "broken.psd: " + reason);
  EXPECT_TRUE(failureLineVisible);
  EXPECT_EQ(Status(), "Conversion complete - broken.psd: " + reason);
}

struct CheckCase {
  const char* name;
  std::function<void(MainWindowTest&, const std::string& input)> prepare;
  std::string message;  // "%d" stands for the test folder
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class WindowChecks : public MainWindowTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(WindowChecks, ShowOneWarningAndConvertNothing) {
  const std::string input = test::MakePsd(dir.Path(), "photo.psd", "rgb8", 4, 4);
  session->inputField->setText(QString::fromStdString(input));
  session->outputList->setEditText(QString::fromStdString(dir.Path() + "/"));
  GetParam().prepare(*this, input);
  StartWindowedConversion(*session);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, BoxKind::Warning);
  EXPECT_EQ(boxes[0].title, "Warning");
  std::string expected = GetParam().message;
  if (const auto at = expected.find("%d"); at != std::string::npos) expected.replace(at, 2, dir.Path());
  EXPECT_EQ(boxes[0].text, expected);
  EXPECT_EQ(Status(), "Conversion stopped");
  EXPECT_EQ(FileSizeQuery(dir.File("photo.bmp")), kPathMissing);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, WindowChecks,
    ::testing::Values(
        CheckCase{"EmptyInput", [](MainWindowTest& t, const std::string&) { t.session->inputField->clear(); },
                  "No input file(s) found. Please, add valid file(s) and try again!"},
        CheckCase{"OtherExtension",
                  [](MainWindowTest& t, const std::string&) {
                    test::WriteText(t.dir.File("a.png"), "x");
                    t.session->inputField->setText(QString::fromStdString(t.dir.File("a.png")));
                  },
                  "No input file(s) found. Please, add valid file(s) and try again!"},
        CheckCase{"EmptyOutput", [](MainWindowTest& t, const std::string&) { t.session->outputList->setEditText(" "); },
                  "The output folder's field is empty. Please, select existed output folder and try again!"},
        CheckCase{"MissingOutput",
                  [](MainWindowTest& t, const std::string&) {
                    t.session->outputList->setEditText(QString::fromStdString(t.dir.Path() + "/none"));
                  },
                  "The following output folder is invalid or doesn't exist:\r\n%d/none/\r\n\r\n"
                  "Please, correct the output path and try again!"},
        CheckCase{"ResizeWithoutWidth",
                  [](MainWindowTest& t, const std::string&) {
                    t.state.settings.SetNumber(SettingId::DoImageResize, 1);
                    t.state.settings.SetNumber(SettingId::Height, 10);
                  },
                  "Invalid resize width value!"},
        CheckCase{"ResizeWithoutHeight",
                  [](MainWindowTest& t, const std::string&) {
                    t.state.settings.SetNumber(SettingId::DoImageResize, 1);
                    t.state.settings.SetNumber(SettingId::Width, 10);
                  },
                  "Invalid resize height value!"},
        CheckCase{"EmptyWatermarkImage",
                  [](MainWindowTest& t, const std::string&) {
                    t.state.settings.SetNumber(SettingId::DoWatermark, 2);
                    t.state.settings.SetText(SettingId::WmImage, "");
                  },
                  "Selected watermark image is invalid/empty!"},
        CheckCase{"MissingWatermarkImage",
                  [](MainWindowTest& t, const std::string&) {
                    t.state.settings.SetNumber(SettingId::DoWatermark, 2);
                    t.state.settings.SetText(SettingId::WmImage, t.dir.File("mark.png"));
                  },
                  "Unable to load selected file as a watermark image: %d/mark.png"}),
    [](const auto& info) { return std::string(info.param.name); });

class BreakQuestion : public MainWindowTest, public ::testing::WithParamInterface<bool> {};

TEST_P(BreakQuestion, HoldsTheWorkerWhileOpenAndStopsItOnYes) {
  // Large enough that the job is still running when the close box is pressed.
  const std::string input = test::MakePsd(dir.Path(), "big.psd", "rgb8", 300, 300);
  session->inputField->setText(QString::fromStdString(input));
  session->outputList->setEditText(QString::fromStdString(dir.Path()));
  state.settings.SetNumber(SettingId::DoImageResize, 1);
  state.settings.SetNumber(SettingId::Width, 3000);
  state.settings.SetNumber(SettingId::Height, 3000);
  answer = GetParam();
  bool workerHeld = false;
  onQuestion = [&] {
    // While the question is open the job's status is locked: the worker, which
    // takes that lock to record its file and its end, is held.
    std::thread other([&] {
      workerHeld = !state.status.mutex.try_lock();
      if (!workerHeld) state.status.mutex.unlock();
    });
    other.join();
  };
  closeProgress = true;
  AnswerProgressWindow();
  StartWindowedConversion(*session);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, BoxKind::Question);
  EXPECT_EQ(boxes[0].title, "Warning");
  EXPECT_EQ(boxes[0].text, "Do you want to break the conversion?");
  EXPECT_TRUE(workerHeld);
  if (GetParam()) {
    EXPECT_EQ(Status(), "Conversion stopped");
    EXPECT_EQ(fileLine, "Conversion stopped");
    EXPECT_EQ(progressTitle.rfind("Conversion stopped (", 0), 0u) << progressTitle;
  } else {
    EXPECT_EQ(Status(), "Conversion complete");
    EXPECT_EQ(fileLine, "Files converted: 1 of 1");
    ExpectGeneratedPicture(dir.File("big.bmp"), 300, 300, 3000, 3000);
  }
}

INSTANTIATE_TEST_SUITE_P(Answers, BreakQuestion, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Yes" : "No"; });

TEST_F(MainWindowTest, ClosingSavesGeometryAndPreferences) {
  session->mainWindow->setGeometry(40, 50, 700, 260);
  QApplication::processEvents();
  state.settings.SetText(SettingId::RecentOutFolders, "/keep/");
  CloseMainWindow(*session);
  Settings saved;
  LoadPreferences(saved, state.formats, dir.File("config.ini"), 0);
  EXPECT_EQ(saved.Int(SettingId::WindowWidth), 700);
  EXPECT_EQ(saved.Int(SettingId::WindowHeight), 260);
  EXPECT_EQ(saved.Int(SettingId::WindowX), 40);
  EXPECT_EQ(saved.Int(SettingId::WindowY), 50);
  EXPECT_EQ(saved.Int(SettingId::IsMaximized), 0);
  EXPECT_EQ(saved.Text(SettingId::RecentOutFolders), "/keep/");

  state.settings.SetNumber(SettingId::OutFoldersHistory, 0);
  CloseMainWindow(*session);
  LoadPreferences(saved, state.formats, dir.File("config.ini"), 0);
  EXPECT_EQ(saved.Text(SettingId::RecentOutFolders), "");
}

TEST_F(MainWindowTest, NewEmptiesTheInputAndTheOutputFolder) {
  session->inputField->setText("/x/a.psd");
  session->outputList->setEditText("/x/");
  RunCommand(*session, kNew);
  EXPECT_TRUE(session->inputField->text().isEmpty());
  EXPECT_TRUE(session->outputList->currentText().isEmpty());
}

TEST_F(MainWindowTest, WebCommandsOpenTheMakersPages) {
  RunCommand(*session, kVisitHomepage);
  RunCommand(*session, kSendFeedback);
  RunCommand(*session, kBatchConvert);
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[0], "http://www.tessaline.example/kestrel/");
  EXPECT_EQ(opened[1], "mailto:support@tessaline.example?subject=Tessaline%20PSD%20to%20BMP%203.0%20Feedback");
  EXPECT_EQ(opened[2].rfind("http://www.tessaline.example/", 0), 0u);
}

// Opens a dialog by command and hands it to `inspect` while it is open.
void WithDialog(Session& session, int command, const char* name, const std::function<void(QDialog*)>& inspect) {
  QTimer::singleShot(0, session.mainWindow, [&session, name, inspect] {
    auto* dialog = session.mainWindow->findChild<QDialog*>(name);
    ASSERT_NE(dialog, nullptr);
    inspect(dialog);
  });
  RunCommand(session, command);
}

// The lines of the preferences dialog are named after their settings' keys.
template <typename T>
T* Editor(QDialog* dialog, SettingId id) {
  return dialog->findChild<T*>(QString::fromUtf8(RowOf(id).key.data(), static_cast<int>(RowOf(id).key.size())));
}

TEST_F(MainWindowTest, PreferencesDialogHasItsPagesAndOpensAtTheAskedOne) {
  QStringList captions;
  std::string page;
  WithDialog(*session, kPreferences, "preferencesDialog", [&](QDialog* dialog) {
    auto* pages = dialog->findChild<QListWidget*>("pages");
    for (int i = 0; i < pages->count(); ++i) captions << pages->item(i)->text();
    page = pages->currentItem()->text().toStdString();
    dialog->reject();
  });
  EXPECT_EQ(captions.join(","), "General,Input,Output,Transform,Adjustment,Frame,Watermark,File name");
  EXPECT_EQ(page, "General");
  WithDialog(*session, kOutputFormatOptions, "preferencesDialog", [&](QDialog* dialog) {
    page = dialog->findChild<QListWidget*>("pages")->currentItem()->text().toStdString();
    dialog->reject();
  });
  EXPECT_EQ(page, "Output");
}

TEST_F(MainWindowTest, PreferencesDialogShowsCaptionsAndOnlyTheSettingsThisEditionUses) {
  WithDialog(*session, kPreferences, "preferencesDialog", [&](QDialog* dialog) {
    const struct {
      SettingId id;
      int row;
      const char* caption;
    } choices[] = {{SettingId::ResizeAlgorithm, 3, "Bicubic"}, {SettingId::UpdateRange, 2, "Every month"},
                   {SettingId::WmTextPosition, 0, "Top-Left"}, {SettingId::ResizeType, 0, "All Images"},
                   {SettingId::FileTimestamp, 1, "Original"},  {SettingId::BmpCompression, 0, "None"},
                   {SettingId::BmpBpp, 5, "24"},               {SettingId::WidthUnit, 1, "Percent"}};
    for (const auto& c : choices) {
      auto* box = Editor<QComboBox>(dialog, c.id);
      ASSERT_NE(box, nullptr) << RowOf(c.id).key;
      EXPECT_EQ(box->itemText(c.row).toStdString(), c.caption) << RowOf(c.id).key;
    }
    // No raw keys, no geometry, no settings of formats this edition cannot read or write.
    for (SettingId id : {SettingId::WindowWidth, SettingId::WindowX, SettingId::UiTheme, SettingId::UiSize,
                         SettingId::HidePasswords, SettingId::JpgQuality, SettingId::DdsBpp, SettingId::RawLoadAs,
                         SettingId::UpdateDate, SettingId::Language, SettingId::Cfg}) {
      EXPECT_EQ(Editor<QWidget>(dialog, id), nullptr) << RowOf(id).key;
    }
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
      EXPECT_FALSE(label->text().startsWith("Do ")) << label->text().toStdString();
      EXPECT_NE(label->text(), "BMP BPP");
    }
    dialog->reject();
  });
}

TEST_F(MainWindowTest, PreferencesEditorsKeepToTheRangesOfTheirRows) {
  WithDialog(*session, kPreferences, "preferencesDialog", [&](QDialog* dialog) {
    const struct {
      SettingId id;
      int low, high;
    } cases[] = {{SettingId::Brightness, -100, 100}, {SettingId::Contrast, -100, 100},
                 {SettingId::Width, INT_MIN, INT_MAX}, {SettingId::OutFoldersNumber, 0, 255}};
    for (const auto& c : cases) {
      auto* box = Editor<QSpinBox>(dialog, c.id);
      ASSERT_NE(box, nullptr) << RowOf(c.id).key;
      EXPECT_EQ(box->minimum(), c.low) << RowOf(c.id).key;
      EXPECT_EQ(box->maximum(), c.high) << RowOf(c.id).key;
    }
    auto* gamma = Editor<QDoubleSpinBox>(dialog, SettingId::Gamma);
    ASSERT_NE(gamma, nullptr);
    EXPECT_DOUBLE_EQ(gamma->minimum(), 0.01);
    EXPECT_DOUBLE_EQ(gamma->maximum(), 9.99);
    dialog->reject();
  });
}

// Edits through the dialog (the colour and font choosers included) reach the
// settings on OK and Apply, not on Cancel, and the preferences file holds
// exactly what it holds when the same values are set directly.
TEST_F(MainWindowTest, PreferencesDialogStoresOnOkAndApplyAndTheFileMatchesDirectSettings) {
  Settings byHand = state.settings;
  WithDialog(*session, kPreferences, "preferencesDialog", [&](QDialog* dialog) {
    Editor<QComboBox>(dialog, SettingId::ResizeAlgorithm)->setCurrentIndex(5);
    dialog->reject();
  });
  EXPECT_EQ(state.settings.Int(SettingId::ResizeAlgorithm), 3);

  int appliedAlgorithm = -1;
  WithDialog(*session, kPreferences, "preferencesDialog", [&](QDialog* dialog) {
    Editor<QComboBox>(dialog, SettingId::ResizeAlgorithm)->setCurrentIndex(5);
    Editor<QComboBox>(dialog, SettingId::BmpBpp)->setCurrentIndex(5);  // 24
    Editor<QCheckBox>(dialog, SettingId::DoImageResize)->setChecked(true);
    Editor<QSpinBox>(dialog, SettingId::Width)->setValue(640);
    Editor<QComboBox>(dialog, SettingId::WidthUnit)->setCurrentIndex(1);
    Editor<QSpinBox>(dialog, SettingId::Brightness)->setValue(-30);
    Editor<QDoubleSpinBox>(dialog, SettingId::Gamma)->setValue(1.5);
    Editor<QComboBox>(dialog, SettingId::WmTextPosition)->setCurrentIndex(4);
    Editor<QLineEdit>(dialog, SettingId::FilenameMask)->setText("%filename%-small");
    // The colour chooser answers with a colour.
    QTimer::singleShot(50, dialog, [] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* chooser = qobject_cast<QColorDialog*>(top); chooser && chooser->isVisible()) {
          chooser->setCurrentColor(QColor(0x12, 0xAB, 0xEF));
          chooser->accept();
        }
      }
    });
    Editor<QPushButton>(dialog, SettingId::FrSolidLeftColor)->click();
    EXPECT_EQ(Editor<QPushButton>(dialog, SettingId::FrSolidLeftColor)->text(), "#12ABEF");
    dialog->findChild<QDialogButtonBox*>("buttons")->button(QDialogButtonBox::Apply)->click();
    appliedAlgorithm = state.settings.Int(SettingId::ResizeAlgorithm);
    dialog->accept();
  });
  EXPECT_EQ(appliedAlgorithm, 5);

  EXPECT_EQ(state.settings.Int(SettingId::BmpBpp), 24);
  EXPECT_EQ(state.settings.Int(SettingId::Width), 640);
  EXPECT_EQ(state.settings.Int(SettingId::WidthUnit), 1);
  EXPECT_TRUE(state.settings.IsOn(SettingId::DoImageResize));
  EXPECT_EQ(state.settings.Int(SettingId::Brightness), -30);
  EXPECT_FLOAT_EQ(state.settings.Real(SettingId::Gamma), 1.5f);
  EXPECT_EQ(state.settings.Int(SettingId::WmTextPosition), 4);
  EXPECT_EQ(state.settings.Text(SettingId::FilenameMask), "%filename%-small");
  EXPECT_EQ(state.settings.Text(SettingId::FrSolidLeftColor), "12ABEF");

  // The same values set without the dialog.
  byHand.SetNumber(SettingId::ResizeAlgorithm, 5);
  byHand.SetNumber(SettingId::BmpBpp, 24);
  byHand.SetNumber(SettingId::DoImageResize, 1);
  byHand.SetNumber(SettingId::Width, 640);
  byHand.SetNumber(SettingId::WidthUnit, 1);
  byHand.SetNumber(SettingId::Brightness, -30);
  byHand.SetReal(SettingId::Gamma, 1.5f);
  byHand.SetNumber(SettingId::WmTextPosition, 4);
  byHand.SetText(SettingId::FilenameMask, "%filename%-small");
  byHand.SetText(SettingId::FrSolidLeftColor, "12ABEF");
  CloseMainWindow(*session);  // stores the geometry, then saves
  for (SettingId id : {SettingId::IsMaximized, SettingId::WindowX, SettingId::WindowY, SettingId::WindowWidth,
                       SettingId::WindowHeight}) {
    byHand.SetNumber(id, state.settings.Int(id));
  }
  ASSERT_TRUE(SavePreferences(byHand, dir.File("by_hand.ini")));
  EXPECT_EQ(test::ReadText(dir.File("config.ini")), test::ReadText(dir.File("by_hand.ini")));
}

TEST_F(MainWindowTest, FontChooserSetsTheFontItsSizeAndStyle) {
  WithDialog(*session, kPreferences, "preferencesDialog", [&](QDialog* dialog) {
    QTimer::singleShot(50, dialog, [] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* chooser = qobject_cast<QFontDialog*>(top); chooser && chooser->isVisible()) {
          QFont font(QStringLiteral("DejaVu Sans"), 22);
          font.setBold(true);
          chooser->setCurrentFont(font);
          chooser->accept();
        }
      }
    });
    auto* field = Editor<QLineEdit>(dialog, SettingId::WmFont);
    ASSERT_NE(field, nullptr);
    field->parentWidget()->findChild<QToolButton*>()->click();
    dialog->accept();
  });
  EXPECT_EQ(state.settings.Text(SettingId::WmFont), "DejaVu Sans");
  EXPECT_EQ(state.settings.Int(SettingId::WmFontSize), 22);
  EXPECT_EQ(state.settings.Int(SettingId::WmFontStyle), 1);  // bold
}

// The preview is decoded in a confined child: a picture shows shrunk with its
// proportions, a damaged one shows nothing.
TEST_F(MainWindowTest, WatermarkPicturePreview) {
  QImage wide(200, 100, QImage::Format_RGB32);
  wide.fill(QColor(255, 0, 0));
  ASSERT_TRUE(wide.save(QString::fromStdString(dir.File("mark.png"))));
  test::WriteText(dir.File("broken.png"), std::string("\x89PNG\r\n\x1a\n", 8) + "garbage");
  const struct {
    std::string file;
    QSize size;
  } cases[] = {{"mark.png", QSize(48, 24)}, {"broken.png", QSize()}, {"none.png", QSize()}};
  for (const auto& c : cases) {
    state.settings.SetText(SettingId::WmImage, dir.File(c.file));
    QSize shown;
    QRgb colour = 0;
    WithDialog(*session, kPreferences, "preferencesDialog", [&](QDialog* dialog) {
      const QPixmap preview = dialog->findChild<QLabel*>("picturePreview")->pixmap();
      shown = preview.isNull() ? QSize() : preview.size();
      if (!preview.isNull()) colour = preview.toImage().pixel(10, 10);
      dialog->reject();
    });
    EXPECT_EQ(shown, c.size) << c.file;
    if (c.size.isValid()) {
      EXPECT_EQ(qRed(colour), 255) << c.file;
    }
  }
}

TEST_F(MainWindowTest, ConverterSearchOpensTheSearchPage) {
  WithDialog(*session, kCustomConverter, "converterSearchDialog", [](QDialog* dialog) {
    dialog->findChild<QLineEdit*>("from")->setText("PSD");
    dialog->findChild<QLineEdit*>("to")->setText("bmp");
    dialog->findChild<QPushButton*>("search")->click();
  });
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], "http://www.tessaline.example/search/?from=psd&to=bmp");
}

// A folder tree as the folder chooser, a drop on the input field and a drop on
// the window take it: the .psd/.psb files below it in any letter case, hidden
// ones left out, each keeping its subfolder.
struct FolderTree {
  std::string root;
  std::vector<std::string> files;  // the ones taken, in their order
};

FolderTree MakeFolderTree(const TempDir& dir) {
  const std::string root = dir.File("tree");
  std::filesystem::create_directories(root + "/sub/deeper");
  std::filesystem::create_directories(root + "/.hidden");
  FolderTree tree{root, {test::MakePsd(root, "a.psd", "rgb8", 4, 4),
                         test::MakePsd(root + "/sub", "B.PSD", "rgb8", 4, 4),
                         test::MakePsd(root + "/sub/deeper", "c.psd", "rgb8", 4, 4)}};
  test::MakePsd(root + "/.hidden", "d.psd", "rgb8", 4, 4);
  test::WriteText(root + "/notes.txt", "x");
  return tree;
}

TEST_F(MainWindowTest, TheFolderChooserTakesTheFilesBelowTheFolder) {
  const FolderTree tree = MakeFolderTree(dir);
  bool chooserSeen = false;
  auto* poll = new QTimer(session->mainWindow);
  QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* chooser = qobject_cast<QFileDialog*>(top);
      if (chooser == nullptr || !chooser->isVisible()) continue;
      chooserSeen = true;
      poll->deleteLater();
      EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
      EXPECT_EQ(chooser->windowTitle(), "Select Input Folder");
      chooser->setDirectory(QString::fromStdString(tree.root));
      QMetaObject::invokeMethod(chooser, "accept");
      if (chooser->isVisible()) chooser->reject();  // never leave the test waiting
    }
  });
  poll->start(50);
  RunCommand(*session, kAddInputFolder);
  ASSERT_TRUE(chooserSeen);
  EXPECT_EQ(session->inputFiles, tree.files);
  EXPECT_EQ(session->inputField->text().toStdString(), tree.files.front());
  EXPECT_EQ(session->inputCaption->text(), "Input Files:");
  EXPECT_EQ(Status(), "Import complete, new files added: 3");
  EXPECT_EQ(session->outputList->currentText().toStdString(), tree.root + "/");  // the folder, not its first file's
  EXPECT_TRUE(boxes.empty());

  // The menu offers it under the catalogue's text.
  QStringList items;
  for (QAction* item : session->mainWindow->menuBar()->actions().first()->menu()->actions()) {
    items << item->text().remove(QLatin1Char('&'));
  }
  EXPECT_TRUE(items.contains("Add Input Folder...")) << items.join(", ").toStdString();
}

TEST_F(MainWindowTest, ADroppedFolderIsTakenLikeTheChosenOne) {
  const FolderTree tree = MakeFolderTree(dir);
  QMimeData data;
  data.setUrls({QUrl::fromLocalFile(QString::fromStdString(tree.root))});
  for (QWidget* target : {static_cast<QWidget*>(session->inputField), static_cast<QWidget*>(session->mainWindow)}) {
    RunCommand(*session, kNew);
    ASSERT_TRUE(DropOn(target, data)) << target->metaObject()->className();
    EXPECT_EQ(session->inputFiles, tree.files) << target->metaObject()->className();
  }
  EXPECT_TRUE(boxes.empty());
}

// A folder with no file to take, or one that cannot be read, is refused with a
// warning and leaves the input as it was.
TEST_F(MainWindowTest, EmptyAndInvalidFoldersAreRefused) {
  const std::string kept = test::MakePsd(dir.Path(), "kept.psd", "rgb8", 4, 4);
  const std::string other = test::MakePsd(dir.Path(), "other.psd", "rgb8", 4, 4);
  ASSERT_EQ(TakeInputFiles(*session, {kept, other}), 2);
  const std::string empty = dir.File("empty");
  std::filesystem::create_directories(empty + "/.hidden");
  test::MakePsd(empty + "/.hidden", "x.psd", "rgb8", 4, 4);
  test::WriteText(empty + "/notes.txt", "x");
  const std::string missing = dir.File("missing");
  struct Case {
    std::string folder, text;
  };
  for (const Case& c : {Case{empty, "The input folder's field is empty. Please, check the existed input folder and "
                                    "try again!"},
                        Case{missing, "The following input folder is invalid or doesn't exist:\r\n" + missing +
                                          "\r\n\r\nPlease, correct the input path and try again!"},
                        Case{kept, "The following input folder is invalid or doesn't exist:\r\n" + kept +
                                       "\r\n\r\nPlease, correct the input path and try again!"}}) {
    boxes.clear();
    EXPECT_EQ(TakeInputFolder(*session, c.folder), 0) << c.folder;
    ASSERT_EQ(boxes.size(), 1u) << c.folder;
    EXPECT_EQ(boxes[0].kind, BoxKind::Warning);
    EXPECT_EQ(boxes[0].title, "Warning");
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(session->inputFiles, (std::vector<std::string>{kept, other})) << c.folder;
  }
}

// The output folder mirrors the input tree; with subfolders off, every file
// lands in the output folder itself.
TEST_F(MainWindowTest, AFoldersFilesAreConvertedIntoTheSameTree) {
  const FolderTree tree = MakeFolderTree(dir);
  for (const bool keep : {true, false}) {
    TempDir out;
    state.settings.SetNumber(SettingId::KeepSubfolders, keep ? 1 : 0);
    ASSERT_EQ(TakeInputFolder(*session, tree.root), 3);
    session->outputList->setEditText(QString::fromStdString(out.Path()));
    AnswerProgressWindow();
    RunCommand(*session, kConvert);
    EXPECT_EQ(fileLine, "Files converted: 3 of 3") << keep;
    ExpectGeneratedPicture(out.File("a.bmp"), 4, 4);
    ExpectGeneratedPicture(out.File(keep ? "sub/B.bmp" : "B.bmp"), 4, 4);
    ExpectGeneratedPicture(out.File(keep ? "sub/deeper/c.bmp" : "c.bmp"), 4, 4);
    EXPECT_EQ(FileSizeQuery(out.File(keep ? "B.bmp" : "sub")), kPathMissing) << keep;
  }
}

// From five files on the progress window shows the time line, and its title
// counts the files as they are reached.
TEST_F(MainWindowTest, FiveFilesShowTheTimeLineAndTheirCount) {
  std::vector<std::string> inputs;
  for (const char* name : {"1.psd", "2.psd", "3.psd", "4.psd", "5.psd"}) {
    inputs.push_back(test::MakePsd(dir.Path(), name, "rgb8", 64, 64));
  }
  ASSERT_EQ(TakeInputFiles(*session, inputs), 5);
  TempDir out;
  session->outputList->setEditText(QString::fromStdString(out.Path()));
  // Enlarged, so that each file lasts longer than the window's polling interval.
  state.settings.SetNumber(SettingId::DoImageResize, 1);
  state.settings.SetNumber(SettingId::Width, 1000);
  state.settings.SetNumber(SettingId::Height, 1000);
  std::vector<std::string> titles;
  auto* watch = new QTimer(session->mainWindow);
  QObject::connect(watch, &QTimer::timeout, watch, [&] {
    QWidget* progress = session->mainWindow->findChild<QWidget*>("progressWindow");
    if (progress == nullptr || !progress->isVisible()) return;
    const std::string title = progress->windowTitle().toStdString();
    if (titles.empty() || titles.back() != title) titles.push_back(title);
  });
  watch->start(1);
  AnswerProgressWindow();
  RunCommand(*session, kConvert);
  delete watch;
  EXPECT_EQ(progressTitle, "Conversion complete (5/5)");
  EXPECT_EQ(fileLine, "Files converted: 5 of 5");
  EXPECT_TRUE(timeLineVisible);
  EXPECT_EQ(barMaximum, 6);
  EXPECT_EQ(barValue, 5);
  // Every title shown while converting is "Converting (n/5)", n rising.
  int last = 0;
  for (const std::string& title : titles) {
    if (title.rfind("Conversion complete", 0) == 0 || title == "Converting") continue;
    int n = 0;
    ASSERT_EQ(std::sscanf(title.c_str(), "Converting (%d/5)", &n), 1) << title;
    EXPECT_GT(n, last) << title;
    last = n;
  }
  EXPECT_GT(last, 0) << "no count seen while converting";
}

// Stopping a run of several files takes effect between files: the file being
// converted is finished, the rest are left.
TEST_F(MainWindowTest, StoppingSeveralFilesStopsAfterTheCurrentOne) {
  std::vector<std::string> inputs{test::MakePsd(dir.Path(), "1.psd", "rgb8", 300, 300)};
  for (const char* name : {"2.psd", "3.psd", "4.psd", "5.psd"}) {
    inputs.push_back(test::MakePsd(dir.Path(), name, "rgb8", 4, 4));
  }
  ASSERT_EQ(TakeInputFiles(*session, inputs), 5);
  TempDir out;
  session->outputList->setEditText(QString::fromStdString(out.Path()));
  // The first file is slow enough that the question comes while it is converted.
  state.settings.SetNumber(SettingId::DoImageResize, 1);
  state.settings.SetNumber(SettingId::Width, 3000);
  state.settings.SetNumber(SettingId::Height, 3000);
  answer = true;
  // The close box is pressed once the first file is being converted.
  auto* stop = new QTimer(session->mainWindow);
  QObject::connect(stop, &QTimer::timeout, stop, [this, stop] {
    QWidget* progress = session->mainWindow->findChild<QWidget*>("progressWindow");
    if (progress == nullptr || !progress->isVisible() || progress->windowTitle() != "Converting (1/5)") return;
    stop->deleteLater();
    progress->close();
  });
  stop->start(1);
  AnswerProgressWindow();
  RunCommand(*session, kConvert);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, BoxKind::Question);
  EXPECT_EQ(progressTitle, "Conversion stopped (1/5)");
  ExpectGeneratedPicture(out.File("1.bmp"), 300, 300, 3000, 3000);
  EXPECT_EQ(FileSizeQuery(out.File("2.bmp")), kPathMissing);
}

struct DurationCase {
  std::int64_t ms;
  const char* text;
};

TEST(ProgressTexts, FormatDuration) {
  for (const DurationCase& c : {DurationCase{-5, "00:00:00"}, DurationCase{999, "00:00:00"},
                                DurationCase{1000, "00:00:01"}, DurationCase{3723000, "01:02:03"},
                                DurationCase{90000000, "1d:01:00:00"}, DurationCase{86399000, "23:59:59"}}) {
    EXPECT_EQ(FormatDuration(c.ms), c.text) << c.ms;
  }
}

TEST(ProgressTexts, ShortenPath) {
  const std::string path = "/0123456789/abcdefghij/klmnopqrst/uvwxyz0123/abcde/45678.psd";  // 60 characters
  ASSERT_EQ(path.size(), 60u);
  EXPECT_EQ(ShortenPath(path, 40), path.substr(0, 18) + "..." + path.substr(42));
  EXPECT_EQ(ShortenPath(path, 40).size(), 39u);
  EXPECT_EQ(ShortenPath(path, 60), path);
  EXPECT_EQ(ShortenPath("/ä/ö/ü/éééééé", 9), "/ä/...ééé");  // counts characters, not bytes
}

}  // namespace
}  // namespace kestrel::window
