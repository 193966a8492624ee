// Helpers shared by the desktop program's tests.
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "ui/history_codec.h"
#include "ui/registry.h"

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
