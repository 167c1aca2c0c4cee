#include "window/qt_prompts.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPointer>
#include <QUrl>

namespace kestrel::window {

Prompts MakeDesktopPrompts(QWidget* parent) {
  QPointer<QWidget> owner(parent);
  Prompts prompts;
  prompts.show = [owner](BoxKind kind, const std::string& title, const std::string& text) {
    const QString qTitle = QString::fromStdString(title);
    const QString qText = QString::fromStdString(text).replace("\r\n", "\n");
    switch (kind) {
      case BoxKind::Question:
        return QMessageBox::question(owner, qTitle, qText, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
      case BoxKind::Warning:
        QMessageBox::warning(owner, qTitle, qText);
        return true;
      case BoxKind::Error:
        QMessageBox::critical(owner, qTitle, qText);
        return true;
      case BoxKind::Information:
        QMessageBox::information(owner, qTitle, qText);
        return true;
    }
    return true;
  };
  prompts.openUrl = [](const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); };
  return prompts;
}

}  // namespace kestrel::window
