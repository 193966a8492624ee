// Building a job page from its control table, and what the page does with
// the controls it built.
#include "ui/job_page.h"

#include <algorithm>
#include <cstdlib>
#include <numeric>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include "ui/control_visitors.h"
#include "ui/history_codec.h"
#include "ui/page_help.h"

namespace torquelin {

namespace {

// The page grid, in dialog units.
constexpr int kLabelX = 7;
constexpr int kLabelWidth = 62;  // room for the longest label in any desktop font
// A label's text line sits 6 units below its row and is 8 high; its box is
// a little taller and centres the text, so a taller desktop font still fits.
constexpr int kLabelTop = 3;
constexpr int kLabelHeight = 11;
constexpr int kFieldX = 71;
constexpr int kFieldWidth = 319;
constexpr int kRowHeight = 14;
constexpr int kBrowseX = 396;
constexpr int kBrowseWidth = 18;
constexpr int kCheckWidth = 300;
constexpr int kCheckHeight = 10;
constexpr int kBottomY = 96;
constexpr int kRows[] = {3, 20, 37, 54, 71};

struct ButtonPlace {
  int x, width;
  const char* objectName;
};

ButtonPlace BottomButton(ControlKind kind) {
  switch (kind) {
    case ControlKind::Help:
      return {7, 33, "help"};
    case ControlKind::ViewReport:
      return {258, 90, "view"};
    default:
      return {354, 60, "action"};
  }
}

bool IsBottomButton(ControlKind kind) {
  return kind == ControlKind::Action || kind == ControlKind::ViewReport ||
         kind == ControlKind::Help;
}

// Where a control sits, for ordering the page by screen position.
std::pair<int, int> Position(const PageControl& c) {
  switch (c.kind) {
    case ControlKind::Field:
    case ControlKind::Result:
      return {c.y, kFieldX};
    case ControlKind::Browse:
      return {c.y, kBrowseX};
    case ControlKind::Check:
      return {c.y, c.x};
    default:
      return {kBottomY, BottomButton(c.kind).x};
  }
}

// A label sits on the grid row at or above its control (the result box sits
// a unit lower than its row).
int LabelRow(int y) {
  int row = kRows[0];
  for (int r : kRows)
    if (r <= y) row = r;
  return row;
}

}  // namespace

QString ShownText(const QString& caption) {
  QString shown = caption;
  return shown.remove(QLatin1Char('&'));
}

std::u16string ControlText(const QWidget& control) {
  if (auto* combo = qobject_cast<const QComboBox*>(&control))
    return combo->currentText().toStdU16String();
  if (auto* edit = qobject_cast<const QLineEdit*>(&control)) return edit->text().toStdU16String();
  if (auto* button = qobject_cast<const QAbstractButton*>(&control))
    return button->text().toStdU16String();
  if (auto* label = qobject_cast<const QLabel*>(&control)) return label->text().toStdU16String();
  return control.windowTitle().toStdU16String();
}

JobPage::JobPage(JobKind kind, std::u16string prefix, std::span<const PageControl> table,
                 const DialogUnits& units, QWidget* parent)
    : QWidget(parent),
      kind_(kind),
      prefix_(std::move(prefix)),
      table_(table),
      units_(units),
      controls_(table.size(), nullptr) {
  setObjectName(QString::fromStdU16String(prefix_));
  setWhatsThis(PageHelpText(kind_));
  // Created in screen order, so Tab walks the page as it reads; a "..."
  // button needs its field, which comes first on its row.
  std::vector<size_t> order(table_.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return Position(table_[a]) < Position(table_[b]); });
  for (size_t i : order) controls_[i] = Build(table_[i]);
}

QWidget* JobPage::Build(const PageControl& c) {
  const QString name = QString::fromStdU16String(prefix_) + QString::fromUtf16(c.key);
  const QString label = QString::fromLatin1(c.label);
  // A field or the result box: in the field column, its label left of it.
  auto labelled = [&](QWidget* box) {
    layout_.Place(box, units_.Rect(kFieldX, c.y, kFieldWidth, kRowHeight), kGrowWide);
    box->setObjectName(name);
    auto* caption = new QLabel(label, this);
    caption->setGeometry(
        units_.Rect(kLabelX, LabelRow(c.y) + kLabelTop, kLabelWidth, kLabelHeight));
    caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    caption->setBuddy(box);
    return box;
  };
  switch (c.kind) {
    case ControlKind::Field: {
      auto* field = new QComboBox(this);
      field->setEditable(true);
      // The history changes only after a successful job, never by typing Enter.
      field->setInsertPolicy(QComboBox::NoInsert);
      field->setMaxVisibleItems(static_cast<int>(kMaxHistoryEntries));
      // What the user types is what the job gets: no completion from the
      // history behind the cursor (the drop-down list still offers it).
      field->setCompleter(nullptr);
      return labelled(field);
    }
    case ControlKind::Result: {
      auto* result = new QLineEdit(this);
      result->setReadOnly(true);
      return labelled(result);
    }
    case ControlKind::Browse: {
      auto* field = static_cast<QComboBox*>(FieldAt(c.y));
      auto* button = new QPushButton(QStringLiteral("..."), this);
      button->setAutoDefault(false);
      layout_.Place(button, units_.Rect(kBrowseX, c.y, kBrowseWidth, kRowHeight), kKeepRight);
      button->setObjectName(field->objectName() + QStringLiteral("_browse"));
      const Picker picker = c.picker;
      const FileDialogMode mode =
          picker == Picker::OpenFile ? FileDialogMode::Open : FileDialogMode::Save;
      const FileFilter* filter = c.filter;
      connect(button, &QPushButton::clicked, this, [field, picker, mode, filter] {
        const std::u16string current = ControlText(*field);
        const std::u16string chosen = picker == Picker::Folder
                                          ? BrowseForFolder(current)
                                          : BrowseForFile(mode, current, *filter);
        field->setEditText(QString::fromStdU16String(chosen));
      });
      return button;
    }
    case ControlKind::Check: {
      auto* check = new QCheckBox(label, this);
      check->setGeometry(units_.Rect(c.x, c.y, kCheckWidth, kCheckHeight));
      check->setObjectName(name);
      return check;
    }
    case ControlKind::Action:
    case ControlKind::ViewReport:
    case ControlKind::Help:
      break;
  }
  const ButtonPlace place = BottomButton(c.kind);
  auto* button = new QPushButton(label, this);
  button->setAutoDefault(false);
  layout_.Place(button, units_.Rect(place.x, kBottomY, place.width, kRowHeight),
                c.kind == ControlKind::Help ? kFixed : kKeepRight);
  button->setObjectName(QLatin1String(place.objectName));
  if (c.kind == ControlKind::Help) {
    connect(button, &QPushButton::clicked, this,
            [this] { QMessageBox::information(this, PageHelpTitle(kind_), PageHelpText(kind_)); });
  } else if (c.kind == ControlKind::ViewReport) {
    connect(button, &QPushButton::clicked, this, [this] {
      const std::u16string report = ControlText(Control(u"report"));
      ViewReport(report, [page = QPointer<JobPage>(this), report] {
        if (page)
          QMessageBox::information(page, QStringLiteral("Torquelin"),
                                   QString::fromStdU16String(NoViewerMessage(report)));
      });
    });
  } else {
    connect(button, &QPushButton::clicked, this, [this] { emit JobRequested(kind_); });
  }
  return button;
}

QWidget* JobPage::FieldAt(int y) const {
  for (size_t i = 0; i < table_.size(); ++i)
    if (table_[i].kind == ControlKind::Field && table_[i].y == y) return controls_[i];
  return nullptr;
}

QWidget& JobPage::Control(std::u16string_view key) const {
  for (size_t i = 0; i < table_.size(); ++i)
    if (!IsBottomButton(table_[i].kind) && table_[i].kind != ControlKind::Browse &&
        key == table_[i].key)
      return *controls_[i];
  // A page asks only for keys of its own table.
  std::abort();
}

void JobPage::Stretch(int extraWidth) { layout_.Apply(extraWidth, 0); }

void JobPage::ForEachItem(ControlVisitor& visitor) {
  for (size_t i = 0; i < table_.size(); ++i) {
    if (table_[i].kind == ControlKind::Result) continue;
    visitor.Visit(prefix_ + table_[i].key, *controls_[i]);
  }
}

QPushButton& JobPage::ActionButton() const {
  for (size_t i = 0; i < table_.size(); ++i)
    if (table_[i].kind == ControlKind::Action) return *static_cast<QPushButton*>(controls_[i]);
  std::abort();
}

std::u16string JobPage::Text(std::u16string_view key) const { return ControlText(Control(key)); }

bool JobPage::IsSet(std::u16string_view key) const {
  return static_cast<QCheckBox&>(Control(key)).checkState() != Qt::Unchecked;
}

}  // namespace torquelin
