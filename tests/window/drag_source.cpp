// A drag source for the test under a real X server: a small window that, when
// pressed, drags the files named by its arguments as a file manager does.
// The pointer (moved by xdotool) then drops them wherever it is released.
#include <QApplication>
#include <QDrag>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class DragSource : public QWidget {
 public:
  explicit DragSource(QList<QUrl> urls) : urls_(std::move(urls)) {}

 protected:
  void mousePressEvent(QMouseEvent*) override {
    auto* data = new QMimeData;
    data->setUrls(urls_);
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    const Qt::DropAction done = drag->exec(Qt::CopyAction);
    std::printf("%s\n", done == Qt::CopyAction ? "dropped" : "not dropped");
    std::fflush(stdout);
    // The target may still be reading the data; stay a little longer.
    QTimer::singleShot(3000, qApp, &QApplication::quit);
  }

 private:
  QList<QUrl> urls_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QList<QUrl> urls;
  for (int i = 1; i < argc; ++i) urls << QUrl::fromLocalFile(QString::fromLocal8Bit(argv[i]));
  DragSource source(urls);
  source.setWindowTitle(QStringLiteral("kestrel-drag-source"));
  source.setGeometry(20, 600, 160, 100);
  source.show();
  return QApplication::exec();
}
