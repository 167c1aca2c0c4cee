#include "window/drop_target.h"

#include <QComboBox>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMimeData>
#include <QStatusBar>
#include <QUrl>

#include "job/job.h"
#include "platform/files.h"
#include "platform/folder_tree.h"
#include "platform/text.h"
#include "window/main_window.h"

namespace kestrel::window {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

std::string LocalPath(const QUrl& url) {
  return (url.isLocalFile() ? url.toLocalFile() : url.toString()).toStdString();
}

// A text field keeps its own drops of plain text, but dropped files go to the
// window's inputs (or, onto the output folder field, a folder to the output).
class DropTarget : public QObject {
 public:
  DropTarget(Session& session, bool outputField, QObject* parent)
      : QObject(parent), session_(session), outputField_(outputField) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!drag->mimeData()->hasUrls()) return false;
        drag->acceptProposedAction();
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!drop->mimeData()->hasUrls()) return false;
        DropFiles(session_, *drop->mimeData(), outputField_);
        drop->acceptProposedAction();
        return true;
      }
      default:
        return QObject::eventFilter(watched, event);
    }
  }

 private:
  Session& session_;
  bool outputField_;
};

}  // namespace

std::vector<std::string> DroppedPaths(const QMimeData& data) {
  std::vector<std::string> paths;
  if (data.hasUrls()) {
    for (const QUrl& url : data.urls()) paths.push_back(LocalPath(url));
  } else if (data.hasText()) {
    for (const QString& line : data.text().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
      const QString trimmed = line.trimmed();
      if (trimmed.isEmpty()) continue;
      paths.push_back(trimmed.startsWith(QStringLiteral("file:")) ? LocalPath(QUrl(trimmed)) : trimmed.toStdString());
    }
  }
  return paths;
}

void DropFiles(Session& session, const QMimeData& data, bool ontoOutputField) {
  const std::vector<std::string> paths = DroppedPaths(data);
  if (paths.empty()) return;
  if (ontoOutputField && FileSizeQuery(paths.front()) == kPathIsFolder) {
    std::string folder = paths.front();
    if (folder.back() != '/') folder += '/';
    session.outputList->setEditText(Q(folder));
    session.state.run.output = folder;
    return;
  }
  if (FileSizeQuery(paths.front()) == kPathIsFolder) {
    TakeInputFolder(session, paths.front());
    return;
  }
  TakeInputFiles(session, paths);
}

void InstallDropTargets(Session& session) {
  session.inputField->installEventFilter(new DropTarget(session, false, session.inputField));
  for (QComboBox* list : {session.outputList, session.formatList}) {
    const bool output = list == session.outputList;
    list->setAcceptDrops(true);
    list->installEventFilter(new DropTarget(session, output, list));
    if (QLineEdit* edit = list->lineEdit()) edit->installEventFilter(new DropTarget(session, output, edit));
  }
}

namespace {

// The accepted files of paths become the inputs; folder is where they were
// found (ending in "/"), or empty.
int TakeInputs(Session& session, const std::vector<std::string>& paths, const std::string& folder) {
  std::vector<std::string> accepted;
  for (const std::string& path : paths) {
    if (AddInputFile(session.state, path)) accepted.push_back(path);
  }
  if (accepted.empty()) return 0;
  session.inputFiles = accepted;
  session.inputFolder = folder;
  TakeWindowedInput(session, accepted.front());
  const bool several = accepted.size() > 1;
  session.inputCaption->setText(Q(Text(session, "General", several ? "Input Files" : "Input File")));
  QStringList names;
  for (const std::string& path : accepted) names << Q(path);
  session.inputField->setToolTip(several ? names.join(QLatin1Char('\n')) : QString());
  if (several) {
    session.statusBar->showMessage(
        Q(FormatMessage(Text(session, "Msg", "Import complete"), std::to_string(accepted.size()))));
  }
  return static_cast<int>(accepted.size());
}

void Warn(Session& session, const std::string& message) {
  session.prompts.show(BoxKind::Warning, Text(session, "Msg", "Warning"), message);
}

}  // namespace

int TakeInputFiles(Session& session, const std::vector<std::string>& paths) {
  return TakeInputs(session, paths, {});
}

int TakeInputFolder(Session& session, const std::string& folder) {
  const auto files = FileSizeQuery(folder) == kPathIsFolder ? FilesBelow(folder, session.state.formats.acceptedInputExtensions) : std::nullopt;
  if (!files) {
    Warn(session, FormatMessage(Text(session, "Msg", "Invalid input folder"), folder));
    return 0;
  }
  const std::string root = folder.back() == '/' ? folder : folder + "/";
  std::vector<std::string> paths;
  for (const std::string& relative : *files) paths.push_back(root + relative);
  const int taken = TakeInputs(session, paths, root);
  if (taken == 0) Warn(session, Text(session, "Msg", "Empty input folder"));
  return taken;
}

std::vector<std::string> InputFilesToConvert(const Session& session) {
  const std::string field(TrimBlanks(session.inputField->text().toStdString()));
  if (!session.inputFiles.empty() && field == session.inputFiles.front()) return session.inputFiles;
  return {field};
}

}  // namespace kestrel::window
