// The preferences dialog: a list of pages on the left, the page's settings on
// the right, OK, Cancel and Apply below. Each editor reads its setting when
// the dialog opens and writes it back on OK or Apply.
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <climits>
#include <functional>
#include <vector>

#include "model/formats.h"
#include "model/keywords.h"
#include "window/dialogs.h"
#include "window/picture_preview.h"
#include "window/preferences_pages.h"

namespace kestrel::window {
namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Writes an editor's value back to its setting.
using Store = std::function<void(Settings&)>;

// What every editor needs while the dialog is built.
struct Builder {
  Session& session;
  QDialog& dialog;
  std::vector<Store> stores;

  QString Caption(std::string_view key) const {
    const std::string text = CatalogueText(session.state.messages, "Preferences", key);
    return text == kNoStringError ? Q(key) : Q(text);
  }
  const Settings& settings() const { return session.state.settings; }
};

const PreferenceRow* PreferenceOf(SettingId id) {
  for (const PreferenceRow& pref : PreferenceRows()) {
    if (pref.id == id) return &pref;
  }
  return nullptr;
}

// A drop-down of captions whose row is the setting's number. A number outside
// the list is shown as itself and kept unless another row is chosen.
QComboBox* ChoiceBox(Builder& b, SettingId id, const QStringList& captions, const std::vector<int>& values) {
  auto* box = new QComboBox;
  box->addItems(captions);
  const int value = b.settings().Int(id);
  int row = -1;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i] == value) row = static_cast<int>(i);
  }
  if (row < 0) {
    box->addItem(QString::number(value));
    row = box->count() - 1;
  }
  box->setCurrentIndex(row);
  b.stores.push_back([box, id, value, values](Settings& s) {
    const int chosen = box->currentIndex();
    s.SetNumber(id, chosen >= 0 && chosen < static_cast<int>(values.size()) ? values[static_cast<std::size_t>(chosen)]
                                                                            : value);
  });
  return box;
}

std::vector<int> Numbers(std::size_t count) {
  std::vector<int> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = static_cast<int>(i);
  return values;
}

QComboBox* CaptionChoice(Builder& b, SettingId id, std::initializer_list<std::string_view> keys) {
  QStringList captions;
  for (std::string_view key : keys) captions << b.Caption(key);
  return ChoiceBox(b, id, captions, Numbers(keys.size()));
}

// The output format that keeps its bits per pixel or compression in id.
const OutputFormat* FormatOf(const Builder& b, SettingId id) {
  for (const std::string& target : b.session.state.formats.targetFormats) {
    const OutputFormat* format = FindOutputFormat(target);
    if (format && (format->depthSetting == id || format->compression == id)) return format;
  }
  return nullptr;
}

QWidget* DepthBox(Builder& b, SettingId id) {
  QStringList captions{b.Caption("Auto")};
  std::vector<int> values{0};
  if (const OutputFormat* format = FormatOf(b, id)) {
    for (int depth : format->depths) {
      captions << QString::number(depth);
      values.push_back(depth);
    }
  }
  return ChoiceBox(b, id, captions, values);
}

QWidget* CompressionBox(Builder& b, SettingId id) {
  QStringList captions;
  const SettingRow& row = RowOf(id);
  for (int value = 0;; ++value) {
    const std::string_view keyword = KeywordTextOf(row, value);
    if (keyword.empty()) break;
    // "NONE" is captioned "None"; the method names are their own captions.
    std::string key(keyword);
    if (CatalogueText(b.session.state.messages, "Preferences", key) == kNoStringError && key.size() > 1) {
      for (std::size_t i = 1; i < key.size(); ++i) key[i] = static_cast<char>(std::tolower(key[i]));
    }
    captions << b.Caption(key);
  }
  return ChoiceBox(b, id, captions, Numbers(static_cast<std::size_t>(captions.size())));
}

QWidget* NumberBox(Builder& b, SettingId id) {
  const SettingRow& row = RowOf(id);
  auto* box = new QSpinBox;
  const PreferenceRow* pref = PreferenceOf(id);
  if (row.range) {
    box->setRange(static_cast<int>(row.range->low), static_cast<int>(row.range->high));
  } else if ((pref && pref->width == PreferenceWidth::Low8) || row.kind == ValueKind::Kw8) {
    box->setRange(0, 255);
  } else {
    box->setRange(INT_MIN, INT_MAX);
  }
  box->setValue(b.settings().Int(id));
  b.stores.push_back([box, id](Settings& s) { s.SetNumber(id, box->value()); });
  return box;
}

QWidget* RealBox(Builder& b, SettingId id) {
  const SettingRow& row = RowOf(id);
  auto* box = new QDoubleSpinBox;
  const ValueRange range = row.range.value_or(ValueRange{-1000.0, 1000.0});
  box->setRange(range.low, range.high);
  box->setDecimals(2);
  box->setSingleStep(0.1);
  box->setValue(b.settings().Real(id));
  b.stores.push_back([box, id](Settings& s) { s.SetReal(id, static_cast<float>(box->value())); });
  return box;
}

QIcon Swatch(const QColor& colour) {
  QPixmap pixmap(32, 16);
  pixmap.fill(colour.isValid() ? colour : QColor(Qt::transparent));
  QPainter painter(&pixmap);
  painter.setPen(QColor(Qt::black));
  painter.drawRect(0, 0, 31, 15);
  return QIcon(pixmap);
}

// A button that shows the colour and opens the colour chooser. Colours are
// kept as six hexadecimal digits, red first; text that is not one is kept
// until a colour is chosen.
QWidget* ColourButton(Builder& b, SettingId id, const QString& caption) {
  auto* button = new QPushButton;
  auto text = std::make_shared<QString>(Q(b.settings().Text(id)));
  auto show = [button, text] {
    const QColor colour(QStringLiteral("#") + *text);
    button->setIcon(Swatch(colour));
    button->setText(colour.isValid() ? colour.name().toUpper() : *text);
  };
  show();
  QObject::connect(button, &QPushButton::clicked, button, [button, text, show, caption] {
    const QColor chosen = QColorDialog::getColor(QColor(QStringLiteral("#") + *text), button->window(), caption);
    if (!chosen.isValid()) return;
    *text = chosen.name().mid(1).toUpper();
    show();
  });
  b.stores.push_back([text, id](Settings& s) { s.SetText(id, text->toStdString()); });
  return button;
}

QLineEdit* TextField(Builder& b, SettingId id) {
  auto* field = new QLineEdit(Q(b.settings().Text(id)));
  b.stores.push_back([field, id](Settings& s) { s.SetText(id, field->text().toStdString()); });
  return field;
}

// A field with a "..." button beside it.
QWidget* WithChooser(QWidget* field, QToolButton** chooser) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(field, 1);
  *chooser = new QToolButton;
  (*chooser)->setText(QStringLiteral("..."));
  layout->addWidget(*chooser);
  return row;
}

// The font's family name; the font chooser also sets the size and the style
// of the watermark text where the dialog has them.
QWidget* FontField(Builder& b, SettingId id, QLineEdit** field) {
  *field = TextField(b, id);
  QToolButton* chooser = nullptr;
  QWidget* row = WithChooser(*field, &chooser);
  QDialog* dialog = &b.dialog;
  QObject::connect(chooser, &QToolButton::clicked, chooser, [dialog, field = *field] {
    auto* size = dialog->findChild<QSpinBox*>(Q(RowOf(SettingId::WmFontSize).key));
    auto* style = dialog->findChild<QComboBox*>(Q(RowOf(SettingId::WmFontStyle).key));
    QFont current(field->text(), size ? size->value() : -1);
    if (style) {
      current.setBold(style->currentIndex() == 1 || style->currentIndex() == 3);
      current.setItalic(style->currentIndex() == 2 || style->currentIndex() == 3);
    }
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, current, dialog);
    if (!ok) return;
    field->setText(chosen.family());
    if (size && chosen.pointSize() > 0) size->setValue(chosen.pointSize());
    if (style) style->setCurrentIndex((chosen.bold() ? 1 : 0) + (chosen.italic() ? 2 : 0));
  });
  return row;
}

// The picture's path with the file chooser and a small preview.
QWidget* PictureField(Builder& b, SettingId id, QLineEdit** field) {
  *field = TextField(b, id);
  QToolButton* chooser = nullptr;
  QWidget* row = WithChooser(*field, &chooser);
  auto* preview = new QLabel;
  preview->setObjectName(QStringLiteral("picturePreview"));
  preview->setFixedSize(kPreviewSide + 2, kPreviewSide + 2);
  preview->setAlignment(Qt::AlignCenter);
  preview->setFrameShape(QFrame::StyledPanel);
  static_cast<QHBoxLayout*>(row->layout())->addWidget(preview);
  auto refresh = [preview, field = *field] { preview->setPixmap(PicturePreview(field->text().toStdString())); };
  refresh();
  QObject::connect(*field, &QLineEdit::editingFinished, preview, refresh);
  const QString title = Q(CatalogueText(b.session.state.messages, "Dialog", "Select Watermark Image"));
  const QString filter = Q(CatalogueText(b.session.state.messages, "Dialog", "All Supported Files")) +
                         QStringLiteral(" (*.bmp *.ico *.jpg *.jpeg *.png *.BMP *.ICO *.JPG *.JPEG *.PNG);;") +
                         Q(CatalogueText(b.session.state.messages, "Dialog", "All Files")) + QStringLiteral(" (*)");
  QObject::connect(chooser, &QToolButton::clicked, chooser, [field = *field, title, filter, refresh] {
    const QString chosen = QFileDialog::getOpenFileName(field->window(), title, field->text(), filter);
    if (chosen.isEmpty()) return;
    field->setText(chosen);
    refresh();
  });
  return row;
}

QWidget* DateBox(Builder& b, SettingId id) {
  // Dates are local wall-clock seconds: shown as UTC so nothing shifts them.
  auto* box = new QDateTimeEdit;
  box->setTimeSpec(Qt::UTC);
  box->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  box->setCalendarPopup(true);
  box->setDateTime(QDateTime::fromSecsSinceEpoch(b.settings().Date(id), Qt::UTC));
  b.stores.push_back([box, id](Settings& s) { s.SetNumber(id, box->dateTime().toSecsSinceEpoch()); });
  return box;
}

// Adds one line to form; the editor is named after its setting's key.
void AddLine(Builder& b, QFormLayout* form, const PreferenceLine& line) {
  const QString caption = b.Caption(line.caption);
  if (line.kind == LineKind::Check) {
    auto* box = new QCheckBox(caption);
    box->setObjectName(Q(RowOf(line.id).key));
    box->setChecked(b.settings().IsOn(line.id));
    b.stores.push_back([box, id = line.id](Settings& s) { s.SetNumber(id, box->isChecked() ? 1 : 0); });
    form->addRow(box);
    return;
  }
  QWidget* editor = nullptr;  // the control the caption names
  QWidget* shown = nullptr;   // what the line holds: the editor, or a row around it
  QLineEdit* field = nullptr;
  switch (line.kind) {
    case LineKind::Choice: editor = CaptionChoice(b, line.id, line.choices); break;
    case LineKind::Number: editor = NumberBox(b, line.id); break;
    case LineKind::Real: editor = RealBox(b, line.id); break;
    case LineKind::Colour: editor = ColourButton(b, line.id, caption); break;
    case LineKind::Font: shown = FontField(b, line.id, &field); editor = field; break;
    case LineKind::Text: editor = TextField(b, line.id); break;
    case LineKind::Picture: shown = PictureField(b, line.id, &field); editor = field; break;
    case LineKind::Date: editor = DateBox(b, line.id); break;
    case LineKind::Depth: editor = DepthBox(b, line.id); break;
    case LineKind::Compression: editor = CompressionBox(b, line.id); break;
    default: return;
  }
  editor->setObjectName(Q(RowOf(line.id).key));
  if (shown == nullptr) shown = editor;
  if (line.companion != SettingId::None || !line.unit.empty()) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(shown, 1);
    if (line.companion != SettingId::None) {
      QComboBox* unit = CaptionChoice(b, line.companion, line.choices);
      unit->setObjectName(Q(RowOf(line.companion).key));
      layout->addWidget(unit);
    } else {
      layout->addWidget(new QLabel(b.Caption(line.unit)));
    }
    shown = row;
  }
  auto* label = new QLabel(caption);
  label->setBuddy(editor);
  form->addRow(label, shown);
}

QWidget* BuildPage(Builder& b, const PreferencePage& page) {
  auto* content = new QWidget;
  auto* column = new QVBoxLayout(content);
  auto* form = new QFormLayout;
  column->addLayout(form);
  for (const PreferenceLine& line : page.lines) {
    if (line.kind == LineKind::Section) {
      auto* box = new QGroupBox(b.Caption(line.caption));
      form = new QFormLayout(box);
      column->addWidget(box);
      continue;
    }
    AddLine(b, form, line);
  }
  column->addStretch(1);
  auto* scroll = new QScrollArea;
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->setWidget(content);
  return scroll;
}

}  // namespace

void OpenPreferencesDialog(Session& session, std::string_view startPage) {
  const MessageCatalogue& messages = session.state.messages;
  QDialog dialog(session.mainWindow);
  dialog.setObjectName(QStringLiteral("preferencesDialog"));
  dialog.setWindowTitle(Q(CatalogueText(messages, "Menu", "Preferences")).remove(QStringLiteral("...")));
  Builder builder{session, dialog, {}};

  auto* pages = new QListWidget(&dialog);
  pages->setObjectName(QStringLiteral("pages"));
  pages->setFixedWidth(140);
  auto* stack = new QStackedWidget(&dialog);
  int start = 0;
  for (const PreferencePage& page : PreferencePages()) {
    if (page.caption == startPage) start = stack->count();
    pages->addItem(builder.Caption(page.caption));
    stack->addWidget(BuildPage(builder, page));
  }
  QObject::connect(pages, &QListWidget::currentRowChanged, stack, &QStackedWidget::setCurrentIndex);
  pages->setCurrentRow(start);

  auto apply = [&builder, &session] {
    for (const Store& store : builder.stores) store(session.state.settings);
  };
  auto* buttons =
      new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, &dialog);
  buttons->setObjectName(QStringLiteral("buttons"));
  buttons->button(QDialogButtonBox::Ok)->setText(Q(CatalogueText(messages, "Dialog", "OK")));
  buttons->button(QDialogButtonBox::Cancel)->setText(Q(CatalogueText(messages, "Dialog", "Cancel")));
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, &dialog, apply);
  auto* top = new QHBoxLayout;
  top->addWidget(pages);
  top->addWidget(stack, 1);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addLayout(top);
  layout->addWidget(buttons);
  dialog.resize(640, 560);
  if (dialog.exec() == QDialog::Accepted) apply();
}

}  // namespace kestrel::window
