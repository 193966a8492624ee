// Helpers shared by the desktop program's tests.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include "ui/control_visitors.h"
#include "ui/history_codec.h"
#include "ui/job_page.h"
#include "ui/main_window.h"
#include "ui/settings_store.h"

namespace torquelin {

// Points the per-user settings at dir and empties them, so a test never sees
// or touches the real user's settings.
inline void UseTemporarySettings(const QTemporaryDir& dir) {
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
  QSettings(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganization,
            kSettingsApplication)
      .clear();
}

// The raw stored value, as the program's settings store holds it.
inline QVariant StoredValue(const QString& name) {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganization,
                   kSettingsApplication)
      .value(name);
}

inline void StoreValue(const QString& name, const QVariant& value) {
  QSettings(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganization,
            kSettingsApplication)
      .setValue(name, value);
}

inline QStringList ToStrings(const HistoryList& list) {
  QStringList out;
  for (const auto& entry : list) out << QString::fromStdU16String(entry);
  return out;
}

inline HistoryList ToHistory(const QStringList& list) {
  HistoryList out;
  for (const QString& entry : list) out.push_back(entry.toStdU16String());
  return out;
}

// Records each visited control as "name:kind:caption".
class RecordingVisitor : public ControlVisitor {
 public:
  void Visit(std::u16string name, QWidget& control) override {
    QString kind = "other";
    QString caption;
    if (qobject_cast<QComboBox*>(&control)) {
      kind = "field";
    } else if (auto* check = qobject_cast<QCheckBox*>(&control)) {
      kind = "check";
      caption = ShownText(check->text());
    } else if (auto* button = qobject_cast<QPushButton*>(&control)) {
      kind = "button";
      caption = ShownText(button->text());
    }
    visits << QString::fromStdU16String(name) + ":" + kind +
                  (caption.isEmpty() ? "" : ":" + caption);
    enabled << control.isEnabled();
  }
  QStringList visits;
  QList<bool> enabled;
};

inline QStringList Visits(JobPage& page) {
  RecordingVisitor visitor;
  page.ForEachItem(visitor);
  return visitor.visits;
}

inline bool AllListedEnabled(JobPage& page) {
  RecordingVisitor visitor;
  page.ForEachItem(visitor);
  return !visitor.enabled.contains(false);
}

inline bool NoneListedEnabled(JobPage& page) {
  RecordingVisitor visitor;
  page.ForEachItem(visitor);
  return !visitor.enabled.contains(true);
}

inline QComboBox& Field(MainWindow& window, JobKind kind, const QString& name) {
  return *window.PageForJob(int(kind))->findChild<QComboBox*>(name);
}

inline QPushButton& Action(MainWindow& window, JobKind kind) {
  return *window.PageForJob(int(kind))->findChild<QPushButton*>("action");
}

// Answers every message box that opens while it lives: records its text and
// presses the given button.
class MessageBoxCloser : public QObject {
 public:
  explicit MessageBoxCloser(QMessageBox::StandardButton answer = QMessageBox::Ok) {
    timer_.setInterval(20);
    connect(&timer_, &QTimer::timeout, this, [this, answer] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box == nullptr || !box->isVisible()) continue;
        texts << box->text();
        box->button(answer)->click();
      }
    });
    timer_.start();
  }
  QStringList texts;

 private:
  QTimer timer_;
};

}  // namespace torquelin
