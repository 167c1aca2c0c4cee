#include "window/dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <climits>
#include <functional>
#include <vector>

#include "model/keywords.h"
#include "model/program.h"
#include "job/job.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "window/icons.h"
#include "window/main_window.h"
#include "window/qt_prompts.h"

namespace kestrel::window {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<int>(text.size())); }

}  // namespace

void OpenInputChooser(Session& session) { RunCommand(session, kSelectInputFile); }

void OpenAboutDialog(Session& session) {
  const MessageCatalogue& messages = session.state.messages;
  QDialog dialog(session.mainWindow);
  dialog.setObjectName(QStringLiteral("aboutDialog"));
  dialog.setWindowTitle(Q(CatalogueText(messages, "About", "Title")));
  auto* layout = new QVBoxLayout(&dialog);
  auto* name = new QLabel(QStringLiteral("<b>%1</b>").arg(Q(kProgramName).toHtmlEscaped()), &dialog);
  layout->addWidget(name);
  layout->addWidget(new QLabel(Q(CatalogueText(messages, "About", "Version") + " " + VersionText(kProgramVersion)), &dialog));
  layout->addWidget(new QLabel(Q(kCopyrightLine), &dialog));
  auto* web = new QLabel(Q(CatalogueText(messages, "About", "Website") + " ") +
                             QStringLiteral("<a href=\"%1\">%1</a>").arg(Q(kMakerWebAddress)), &dialog);
  web->setTextInteractionFlags(Qt::TextBrowserInteraction);
  QObject::connect(web, &QLabel::linkActivated, &dialog,
                   [&session](const QString& link) { session.prompts.openUrl(link.toStdString()); });
  layout->addWidget(web);
  auto* ok = new QPushButton(Q(CatalogueText(messages, "Dialog", "OK")), &dialog);
  QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
  layout->addWidget(ok, 0, Qt::AlignRight);
  dialog.exec();
}

std::string ConverterSearchUrl(std::string_view from, std::string_view to) {
  const QByteArray fromText = QUrl::toPercentEncoding(Q(LowerCase(TrimBlanks(from))));
  const QByteArray toText = QUrl::toPercentEncoding(Q(LowerCase(TrimBlanks(to))));
  return std::string(kMakerWebAddress) + "/search/?from=" + fromText.toStdString() + "&to=" + toText.toStdString();
}

void OpenConverterSearchDialog(Session& session) {
  const MessageCatalogue& messages = session.state.messages;
  QDialog dialog(session.mainWindow);
  dialog.setObjectName(QStringLiteral("converterSearchDialog"));
  dialog.setWindowTitle(Q(CatalogueText(messages, "Custom-Converter", "Title")));
  auto* form = new QFormLayout(&dialog);
  auto* from = new QLineEdit(Q(session.state.formats.sourceFormats.front()), &dialog);
  from->setObjectName(QStringLiteral("from"));
  auto* to = new QLineEdit(Q(session.state.formats.targetFormats.front()), &dialog);
  to->setObjectName(QStringLiteral("to"));
  form->addRow(Q(CatalogueText(messages, "Custom-Converter", "From")), from);
  form->addRow(Q(CatalogueText(messages, "Custom-Converter", "To")), to);
  auto* search = new QPushButton(Q(CatalogueText(messages, "Custom-Converter", "Search")), &dialog);
  search->setObjectName(QStringLiteral("search"));
  search->setDefault(true);
  QObject::connect(search, &QPushButton::clicked, &dialog, [&] {
    session.prompts.openUrl(ConverterSearchUrl(from->text().toStdString(), to->text().toStdString()));
    dialog.accept();
  });
  form->addRow(search);
  dialog.exec();
}

int RunMaintenanceWindow(AppState& state) {
  state.messages = LoadCatalogue();
  QDialog window;
  window.setObjectName(QStringLiteral("maintenanceWindow"));
  window.setWindowTitle(Q(CatalogueText(state.messages, "Uninstall", "Title")));
  window.setFixedSize(300, 100);
  auto* check = new QCheckBox(Q(CatalogueText(state.messages, "Uninstall", "Uninstall Text")), &window);
  check->setChecked(true);
  check->setGeometry(15, 20, 270, 24);
  auto* next = new QPushButton(Q(CatalogueText(state.messages, "Uninstall", "Next")), &window);
  next->setGeometry(205, 62, 80, 25);
  QObject::connect(next, &QPushButton::clicked, &window, &QDialog::accept);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    window.move(screen->availableGeometry().center() - QPoint(150, 50));
  }
  const Prompts prompts = MakeDesktopPrompts(&window);
  if (window.exec() == QDialog::Accepted && check->isChecked()) {
    prompts.openUrl(std::string(kMakerWebAddress) + "/kestrel/uninstall.html");
  }
  return 0;
}

}  // namespace kestrel::window
