// The main window on the offscreen platform: layout, recent folders, dropped
// files, the conversion with its progress window, the break question and the
// preferences kept by the window and its dialog.
#include <gtest/gtest.h>

#include <QApplication>
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
#include <climits>
#include <functional>
#include <thread>

#include "platform/files.h"
#include "model/preferences.h"
#include "tests/support/test_support.h"

namespace {

// The decoder runs in a child forked from the worker while the toolkit's
// threads go on. The address sanitizer of this compiler does not lock its
// allocator around fork, so a child can inherit a held allocator lock and hang
// until the decoder's time limit: conversions from the window are tested in the
// plain build only. (The plain allocator is fork-safe.)
bool SanitizerForkUnsafe() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return false;
#endif
}

}  // namespace
#include "window/conversion.h"
#include "window/dialogs.h"
#include "window/drop_target.h"
#include "window/main_window.h"
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
  std::string progressTitle, fileLine;
  bool timeLineVisible = true;
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

TEST_F(MainWindowTest, ConversionRunsThroughTheProgressWindow) {
  if (SanitizerForkUnsafe()) GTEST_SKIP() << "fork beside the toolkit's threads under the address sanitizer";
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
  EXPECT_EQ(barMaximum, 2);
  EXPECT_EQ(barValue, 1);
  EXPECT_GT(FileSizeQuery(out.File("photo.bmp")), 0);
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
  if (SanitizerForkUnsafe()) GTEST_SKIP() << "fork beside the toolkit's threads under the address sanitizer";
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
    // While the question is open the worker cannot record its end.
    const auto started = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    workerHeld = std::chrono::steady_clock::now() - started >= std::chrono::milliseconds(300);
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
    EXPECT_GT(FileSizeQuery(dir.File("big.bmp")), 0);
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

QWidget* FieldOf(QDialog* dialog, const QString& label) {
  for (QLabel* candidate : dialog->findChildren<QLabel*>()) {
    if (candidate->text() == label && candidate->buddy() != nullptr) return candidate->buddy();
  }
  return nullptr;
}

TEST_F(MainWindowTest, PreferencesDialogOpensAtItsPageAndStoresEdits) {
  std::string page;
  WithDialog(*session, kPreferences, "preferencesDialog", [&](QDialog* dialog) {
    page = dialog->findChild<QListWidget*>("pages")->currentItem()->text().toStdString();
    dialog->reject();
  });
  EXPECT_EQ(page, "General");

  WithDialog(*session, kOutputFormatOptions, "preferencesDialog", [&](QDialog* dialog) {
    page = dialog->findChild<QListWidget*>("pages")->currentItem()->text().toStdString();
    auto* quality = qobject_cast<QSpinBox*>(FieldOf(dialog, "JPG Quality"));
    ASSERT_NE(quality, nullptr);
    quality->setValue(42);
    auto* compression = qobject_cast<QComboBox*>(FieldOf(dialog, "PNG Compression"));
    ASSERT_NE(compression, nullptr);
    EXPECT_EQ(compression->itemText(3), "ZLIB9");
    compression->setCurrentIndex(3);
    dialog->accept();
  });
  EXPECT_EQ(page, "Output");
  EXPECT_EQ(state.settings.Int(SettingId::JpgQuality), 42);
  EXPECT_EQ(state.settings.Int(SettingId::PngCompression), 3);

  // Every setting has its editor.
  int editors = 0;
  WithDialog(*session, kPreferences, "preferencesDialog", [&](QDialog* dialog) {
    for (const PreferenceRow& pref : PreferenceRows()) {
      editors += FieldOf(dialog, QString::fromUtf8(pref.key.data(), static_cast<int>(pref.key.size()))) ? 1 : 0;
    }
    dialog->reject();
  });
  EXPECT_EQ(editors, static_cast<int>(PreferenceRows().size()) - 1);  // all but CFG, the file's version
}

TEST_F(MainWindowTest, PreferencesEditorsKeepToTheRangesOfTheirRows) {
  WithDialog(*session, kPreferences, "preferencesDialog", [&](QDialog* dialog) {
    const struct {
      const char* label;
      int low, high;
    } cases[] = {{"Image Brightness", -100, 100}, {"JPG Quality", 1, 100}, {"WEBP Quality", 1, 100},
                 {"Image Width", INT_MIN, INT_MAX}, {"Out Folders Number", 0, 255}};
    for (const auto& c : cases) {
      auto* box = qobject_cast<QSpinBox*>(FieldOf(dialog, c.label));
      ASSERT_NE(box, nullptr) << c.label;
      EXPECT_EQ(box->minimum(), c.low) << c.label;
      EXPECT_EQ(box->maximum(), c.high) << c.label;
    }
    auto* gamma = qobject_cast<QDoubleSpinBox*>(FieldOf(dialog, "Image Gamma"));
    ASSERT_NE(gamma, nullptr);
    EXPECT_DOUBLE_EQ(gamma->minimum(), 0.01);
    EXPECT_DOUBLE_EQ(gamma->maximum(), 9.99);
    dialog->reject();
  });
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
