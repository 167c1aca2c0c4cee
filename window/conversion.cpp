#include "window/conversion.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "job/job.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "job/run_check.h"
#include "window/drop_target.h"
#include "window/main_window.h"
#include "window/recent_folders.h"

namespace kestrel::window {
namespace {

constexpr int kPollMs = 15;
constexpr int kLineWidth = 280;
constexpr int kTimeLineFileCount = 4;  // the time line shows from 5 files on

QString Q(const std::string& text) { return QString::fromStdString(text); }

// The progress window hands its close box (and Escape) to the loop.
class ProgressDialog : public QDialog {
 public:
  explicit ProgressDialog(QWidget* parent) : QDialog(parent) {}
  std::function<void()> onClose;

 protected:
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    if (onClose) onClose();
  }
  void reject() override {
    if (onClose) onClose();
  }
};

void Status(Session& session, std::string_view key, std::string_view group = "Msg") {
  session.statusBar->showMessage(Q(Text(session, group, key)));
  session.statusBar->setToolTip(QString());
}

// Reports a failed check.
void Refuse(Session& session, const std::string& message) {
  Status(session, "Conversion is not complete");
  session.prompts.show(BoxKind::Warning, Text(session, "Msg", "Warning"), message);
}

void EnableMainWindow(Session& session, bool enabled) {
  session.container->setEnabled(enabled);
  session.mainWindow->menuBar()->setEnabled(enabled);
  session.toolbar->setEnabled(enabled);
}

}  // namespace

std::string FormatDuration(std::int64_t ms) {
  if (ms < 1000) return "00:00:00";
  std::int64_t s = ms / 1000, m = 0, h = 0, d = 0;
  if (s >= 60) { m = s / 60; s %= 60; }
  if (m >= 60) { h = m / 60; m %= 60; }
  if (h >= 24) { d = h / 24; h %= 24; }
  auto two = [](std::int64_t v) {
    std::string digits = std::to_string(v);
    if (v < 10) digits.insert(digits.begin(), '0');
    return digits;
  };
  std::string text = two(h) + ":" + two(m) + ":" + two(s);
  return d >= 1 ? std::to_string(d) + "d:" + text : text;
}

std::string ShortenPath(const std::string& text, int max) {
  const std::u32string characters = QString::fromStdString(text).toStdU32String();
  if (static_cast<int>(characters.size()) <= max) return text;
  const std::size_t keep = static_cast<std::size_t>(std::max(0, (max - 3) / 2));
  const std::u32string shortened =
      characters.substr(0, keep) + U"..." + characters.substr(characters.size() - keep);
  return QString::fromStdU32String(shortened).toStdString();
}

void StartWindowedConversion(Session& session) {
  AppState& state = session.state;
  RunState& run = state.run;

  const std::vector<std::string> paths = InputFilesToConvert(session);
  run.currentInputPath = paths.front();
  InputList inputs;
  for (const std::string& path : paths) {
    if (AddInputFile(state, path)) inputs.merge(state.inputs);
  }
  // Files taken from a folder keep their place below it, so that the output
  // folder can mirror the tree.
  const std::string& folder = session.inputFolder;
  if (!folder.empty() && paths == session.inputFiles) {
    for (auto& [path, entry] : inputs) {
      if (StartsWith(path, folder)) entry.subfolder = FolderPart(path.substr(folder.size()));
    }
  }
  state.inputs = std::move(inputs);
  run.output = std::string(TrimBlanks(session.outputList->currentText().toStdString()));
  const int row = session.formatList->currentIndex();
  const auto& targets = state.formats.targetFormats;
  run.conversion = row >= 0 && static_cast<std::size_t>(row) < targets.size() ? targets[static_cast<std::size_t>(row)]
                                                                               : targets.front();
  Status(session, "Preparing", "General");

  const CheckedRun checked = CheckRun(state, Face::Window);
  if (checked.refusal) {
    return Refuse(session, FormatMessage(Text(session, "Msg", checked.refusal->message), checked.refusal->detail));
  }
  ApplyCheckedRun(state, checked);

  RememberOutputFolder(state.settings, run.output);
  RefillOutputList(session);
  session.outputList->setEditText(Q(run.output));
  Status(session, "Converting", "General");
  RunProgressWindow(session);
  state.watermarkFont.reset();
}

namespace {

// The progress window's controls and what it needs to show a file.
struct ProgressView {
  ProgressDialog* dialog = nullptr;
  QLabel* fileLine = nullptr;
  QLabel* timeLine = nullptr;
  QProgressBar* bar = nullptr;
  QPushButton* button = nullptr;
  QLabel* failureLine = nullptr;
  int count = 0;
  int charWidth = 7;
};

// Builds the window for a job of count files: the time line shows from five files on.
void BuildProgressView(Session& session, ProgressView& view, ProgressDialog& dialog) {
  view.dialog = &dialog;
  dialog.setObjectName(QStringLiteral("progressWindow"));
  dialog.setWindowTitle(Q(Text(session, "Dialog", "Convert Progress")));
  dialog.setFixedSize(300, 130);
  dialog.setWindowModality(Qt::ApplicationModal);
  view.fileLine = new QLabel(&dialog);
  view.fileLine->setObjectName(QStringLiteral("fileLine"));
  view.fileLine->setGeometry(10, 13, kLineWidth, 20);
  view.timeLine = new QLabel(Q(FormatMessage(Text(session, "Dialog", "Time Remaining"),
                                             Text(session, "Dialog", "Time Unknown"))), &dialog);
  view.timeLine->setObjectName(QStringLiteral("timeLine"));
  view.timeLine->setGeometry(10, 33, kLineWidth, 20);
  view.bar = new QProgressBar(&dialog);
  view.bar->setObjectName(QStringLiteral("progressBar"));
  view.bar->setGeometry(10, 60, kLineWidth, 20);
  view.bar->setRange(0, view.count + 1);
  view.bar->setValue(0);
  view.bar->setTextVisible(false);
  view.button = new QPushButton(Q(Text(session, "Dialog", "OK")), &dialog);
  view.button->setObjectName(QStringLiteral("okButton"));
  view.button->setGeometry(110, 95, 80, 25);
  view.button->setEnabled(false);
  view.failureLine = new QLabel(&dialog);
  view.failureLine->setObjectName(QStringLiteral("failureLine"));
  view.failureLine->setTextFormat(Qt::PlainText);
  view.failureLine->setWordWrap(true);
  view.failureLine->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  view.failureLine->hide();
  if (view.count <= kTimeLineFileCount) {
    view.timeLine->hide();
    view.bar->move(10, 50);
  }
  const QRect owner = session.mainWindow->geometry();
  dialog.move(owner.center() - QPoint(150, 65));
  dialog.show();
  EnableMainWindow(session, false);
  dialog.activateWindow();
  const int measured = dialog.fontMetrics().horizontalAdvance(QStringLiteral("abc123:\\-")) / 9;
  view.charWidth = measured > 0 ? measured : 7;
}

std::string ProgressText(Session& session, int index, int count) {
  return FormatMessage(Text(session, "Msg", "Progress"), std::to_string(index), std::to_string(count));
}

// The file the worker has reached, and the time left after the previous file's duration.
void ShowFile(Session& session, const ProgressView& view, int index, const std::string& file, std::int64_t elapsed) {
  view.dialog->setWindowTitle(Q(Text(session, "Dialog", "Convert Progress") + " " + ProgressText(session, index, view.count)));
  const bool tooWide = static_cast<std::int64_t>(QString::fromStdString(file).size()) * view.charWidth > kLineWidth;
  view.fileLine->setText(Q(tooWide ? ShortenPath(file, kLineWidth / view.charWidth) : file));
  if (view.count > kTimeLineFileCount && elapsed != 0) {
    view.timeLine->setText(Q(FormatMessage(Text(session, "Dialog", "Time Remaining"),
                                           FormatDuration(elapsed * (view.count - index + 1)))));
  }
  view.bar->setValue(index);
}

// What the job said about the files it could not convert, one "name: why"
// per file, in the order they failed.
struct FailureLog {
  std::mutex mutex;
  std::vector<std::string> lines;
};

// The job's line "kestrel: <path>: <why>" as "<file name>: <why>".
std::string FailureText(std::string_view line, const InputList& inputs) {
  constexpr std::string_view kPrefix = "kestrel: ";
  if (line.substr(0, kPrefix.size()) == kPrefix) line.remove_prefix(kPrefix.size());
  for (const auto& entry : inputs) {
    const std::string& path = entry.first;
    if (line.size() > path.size() + 2 && line.substr(0, path.size()) == path && line.substr(path.size(), 2) == ": ") {
      return FileNamePart(path) + std::string(line.substr(path.size()));
    }
  }
  return std::string(line);
}

// The failures below the bar of the progress window (the window grows to
// hold up to three), and the first of them after the status bar's text.
void ShowFailures(Session& session, const ProgressView& view, const std::string& outcome,
                  const std::vector<std::string>& failures) {
  constexpr std::size_t kShown = 3;
  QStringList shown;
  for (std::size_t i = 0; i < failures.size() && i < kShown; ++i) shown << Q(failures[i]);
  if (failures.size() > kShown) shown << QStringLiteral("...");
  const int top = view.bar->geometry().bottom() + 8;
  view.failureLine->setText(shown.join(QLatin1Char('\n')));
  view.failureLine->setToolTip(shown.join(QLatin1Char('\n')));
  const int most = view.dialog->fontMetrics().height() * 8;
  const int height = std::min(view.failureLine->heightForWidth(kLineWidth), most);
  view.failureLine->setGeometry(10, top, kLineWidth, height);
  view.failureLine->show();
  view.button->move(110, top + height + 8);
  view.dialog->setFixedSize(300, top + height + 8 + 25 + 10);
  std::string status = outcome + " - " + failures.front();
  if (failures.size() > 1) status += " (+" + std::to_string(failures.size() - 1) + ")";
  session.statusBar->showMessage(Q(status));
  session.statusBar->setToolTip(shown.join(QLatin1Char('\n')));
}

void ShowOutcome(Session& session, const ProgressView& view, int converted, bool cancelled,
                 const std::vector<std::string>& failures) {
  const std::string outcome = Text(session, "Msg", cancelled ? "Conversion is not complete" : "Conversion complete");
  session.statusBar->showMessage(Q(outcome));
  view.dialog->setWindowTitle(Q(outcome + " " + ProgressText(session, converted, view.count)));
  if (cancelled) {
    view.fileLine->setText(Q(outcome));
  } else {
    view.fileLine->setText(Q(FormatMessage(Text(session, "Msg", "Files converted"), std::to_string(converted),
                                           std::to_string(view.count))));
    view.timeLine->setText(Q(FormatMessage(Text(session, "Dialog", "Time Remaining"), "00:00:00")));
  }
  view.bar->setValue(converted);
  if (!failures.empty()) ShowFailures(session, view, outcome, failures);
  view.button->setEnabled(true);
  view.button->setFocus();
}

// Asks whether to stop after the current file; on Yes the job stops there.
// Holding the job's mutex while the question is open keeps the worker from
// starting its next file.
bool AskToBreak(Session& session, JobStatus& status) {
  std::unique_lock lock(status.mutex);
  if (!session.prompts.show(BoxKind::Question, Text(session, "Msg", "Warning"),
                            Text(session, "Msg", "Ask break conversion"))) {
    return false;
  }
  status.running = false;
  return true;
}

}  // namespace

void RunProgressWindow(Session& session) {
  AppState& state = session.state;
  JobStatus& status = state.status;
  ProgressDialog dialog(session.mainWindow);
  ProgressView view;
  view.count = static_cast<int>(state.inputs.size());
  BuildProgressView(session, view, dialog);

  ResetJobStatus(status);
  // The worker reports each failed file here; shown when the job has ended.
  FailureLog failures;
  const auto printError = std::exchange(state.printError, [&failures, &state](std::string_view line) {
    std::lock_guard lock(failures.mutex);
    failures.lines.push_back(FailureText(line, state.inputs));
  });
  std::atomic<bool> finished{false};
  std::thread worker([&state, &finished] {
    RunConversionJob(state);
    finished = true;
  });
  bool workerAlive = true;
  bool cancelled = false;
  bool asking = false;
  int lastShown = 0;

  QEventLoop loop;
  QTimer timer;
  timer.setInterval(kPollMs);
  QObject::connect(&timer, &QTimer::timeout, &dialog, [&] {
    if (!workerAlive) return;
    if (finished) {
      worker.join();
      workerAlive = false;
      ShowOutcome(session, view, ConvertedFiles(status), cancelled, failures.lines);
      return;
    }
    std::unique_lock lock(status.mutex);
    const int index = status.fileIndex;
    const std::string file = status.currentFile;
    const std::int64_t elapsed = status.lastDurationMs;
    lock.unlock();
    if (index > lastShown) {
      lastShown = index;
      ShowFile(session, view, index, file, elapsed);
    }
  });
  QObject::connect(view.button, &QPushButton::clicked, &dialog, [&] {
    if (!workerAlive) loop.quit();
  });
  dialog.onClose = [&] {
    if (!workerAlive) {
      loop.quit();
      return;
    }
    if (asking) return;
    asking = true;
    timer.stop();  // the poll waits while the question is open
    cancelled = AskToBreak(session, status) || cancelled;
    asking = false;
    timer.start();
  };
  timer.start();
  loop.exec();

  timer.stop();
  if (workerAlive) worker.join();  // not reached: the loop ends only after the worker
  state.printError = printError;
  EnableMainWindow(session, true);
  dialog.hide();
  session.mainWindow->activateWindow();
}

}  // namespace kestrel::window
