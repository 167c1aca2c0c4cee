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

// A page caption from the catalogue, or the group name itself.
QString Caption(const Session& session, std::string_view group) {
  const std::string text = CatalogueText(session.state.messages, "Preferences", group);
  return text == kNoStringError ? Q(group) : Q(text);
}

// One editor of the preferences dialog: reads its setting when built and
// writes it back on OK.
struct Editor {
  std::function<void(Settings&)> store;
};

// The keyword texts of a row in number order (a compression setting's are its format's).
std::vector<std::string> KeywordChoices(const SettingRow& row) {
  std::vector<std::string> choices;
  for (int value = 0;; ++value) {
    const std::string_view text = KeywordTextOf(row, value);
    if (text.empty()) return choices;
    choices.emplace_back(text);
  }
}

QWidget* MakeEditor(const Settings& settings, const PreferenceRow& pref, QWidget* parent, std::vector<Editor>& editors) {
  const SettingRow& row = RowOf(pref.id);
  const SettingId id = pref.id;
  if (row.keywordSet != KeywordSet::None) {
    auto* box = new QComboBox(parent);
    const std::vector<std::string> choices = KeywordChoices(row);
    for (const std::string& choice : choices) box->addItem(Q(choice));
    const int value = settings.Int(id);
    if (value < 0 || value >= static_cast<int>(choices.size())) box->addItem(QString::number(value));
    box->setCurrentIndex(value >= 0 && value < static_cast<int>(choices.size()) ? value : box->count() - 1);
    editors.push_back({[box, id, value, n = static_cast<int>(choices.size())](Settings& s) {
      const int chosen = box->currentIndex();
      s.SetNumber(id, chosen < n ? chosen : value);
    }});
    return box;
  }
  switch (row.kind) {
    case ValueKind::Flag: {
      auto* box = new QCheckBox(parent);
      box->setChecked(settings.IsOn(id));
      editors.push_back({[box, id](Settings& s) { s.SetNumber(id, box->isChecked() ? 1 : 0); }});
      return box;
    }
    case ValueKind::Real: {
      auto* box = new QDoubleSpinBox(parent);
      const ValueRange range = row.range.value_or(ValueRange{-1000.0, 1000.0});
      box->setRange(range.low, range.high);
      box->setDecimals(2);
      box->setSingleStep(0.1);
      box->setValue(settings.Real(id));
      editors.push_back({[box, id](Settings& s) { s.SetReal(id, static_cast<float>(box->value())); }});
      return box;
    }
    case ValueKind::Date: {
      // Dates are local wall-clock seconds: shown as UTC so nothing shifts them.
      auto* box = new QDateTimeEdit(parent);
      box->setTimeSpec(Qt::UTC);
      box->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
      box->setDateTime(QDateTime::fromSecsSinceEpoch(settings.Date(id), Qt::UTC));
      editors.push_back({[box, id](Settings& s) { s.SetNumber(id, box->dateTime().toSecsSinceEpoch()); }});
      return box;
    }
    case ValueKind::Text:
    case ValueKind::Colour: {
      auto* field = new QLineEdit(Q(settings.Text(id)), parent);
      if (row.kind == ValueKind::Colour) field->setMaxLength(6);
      editors.push_back({[field, id](Settings& s) { s.SetText(id, field->text().toStdString()); }});
      return field;
    }
    default: {
      auto* box = new QSpinBox(parent);
      if (row.range) {
        box->setRange(static_cast<int>(row.range->low), static_cast<int>(row.range->high));
      } else if (pref.width == PreferenceWidth::Low8 || row.kind == ValueKind::Kw8) {
        box->setRange(0, 255);
      } else {
        box->setRange(INT_MIN, INT_MAX);
      }
      box->setValue(settings.Int(id));
      editors.push_back({[box, id](Settings& s) { s.SetNumber(id, box->value()); }});
      return box;
    }
  }
}

}  // namespace

void OpenPreferencesDialog(Session& session, std::string_view group) {
  Settings& settings = session.state.settings;
  QDialog dialog(session.mainWindow);
  dialog.setObjectName(QStringLiteral("preferencesDialog"));
  dialog.setWindowTitle(Q(CatalogueText(session.state.messages, "Menu", "Preferences")).remove(QStringLiteral("...")));
  auto* pages = new QListWidget(&dialog);
  pages->setObjectName(QStringLiteral("pages"));
  pages->setFixedWidth(140);
  auto* stack = new QStackedWidget(&dialog);
  std::vector<Editor> editors;

  // One page per group of the preferences file, one line per setting, in file order.
  std::string_view current;
  QFormLayout* form = nullptr;
  int startPage = 0;
  for (const PreferenceRow& pref : PreferenceRows()) {
    if (pref.id == SettingId::Cfg) continue;  // the file's own version number
    if (pref.group != current) {
      current = pref.group;
      if (current == group) startPage = stack->count();
      auto* page = new QWidget;
      form = new QFormLayout(page);
      auto* scroll = new QScrollArea;
      scroll->setWidgetResizable(true);
      scroll->setWidget(page);
      stack->addWidget(scroll);
      pages->addItem(Caption(session, current));
    }
    form->addRow(Q(pref.key), MakeEditor(settings, pref, form->parentWidget(), editors));
  }
  QObject::connect(pages, &QListWidget::currentRowChanged, stack, &QStackedWidget::setCurrentIndex);
  pages->setCurrentRow(startPage);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  buttons->button(QDialogButtonBox::Ok)->setText(Q(CatalogueText(session.state.messages, "Dialog", "OK")));
  buttons->button(QDialogButtonBox::Cancel)->setText(Q(CatalogueText(session.state.messages, "Dialog", "Cancel")));
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* top = new QHBoxLayout;
  top->addWidget(pages);
  top->addWidget(stack, 1);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(top);
  layout->addWidget(buttons);
  dialog.resize(640, 460);
  if (dialog.exec() != QDialog::Accepted) return;
  for (const Editor& editor : editors) editor.store(settings);
}

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
