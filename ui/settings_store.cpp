// SettingsStore over QSettings.
#include "ui/settings_store.h"

#include <QByteArray>
#include <QSettings>
#include <QVariant>

namespace torquelin {

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            kSettingsOrganization, kSettingsApplication)) {}

SettingsStore::~SettingsStore() = default;

bool SettingsStore::WriteNumber(const QString& name, uint32_t value) {
  settings_->setValue(name, QVariant::fromValue<quint32>(value));
  settings_->sync();
  return settings_->status() == QSettings::NoError;
}

bool SettingsStore::ReadNumber(const QString& name, uint32_t& value) {
  const QVariant stored = settings_->value(name);
  if (!stored.isValid()) return false;
  if (stored.typeId() == QMetaType::QByteArray) {
    const QByteArray bytes = stored.toByteArray();
    if (bytes.isEmpty() || bytes.size() > 4) return false;
    uint32_t read = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i)
      read |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])) << (8 * i);
    value = read;
    return true;
  }
  bool ok = false;
  const qulonglong number = stored.toULongLong(&ok);
  if (!ok || number > 0xFFFFFFFFull) return false;
  value = static_cast<uint32_t>(number);
  return true;
}

bool SettingsStore::WriteHistory(const QString& name, const HistoryList& list) {
  const std::vector<uint8_t> bytes = EncodeHistory(list);
  settings_->setValue(name, QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                       static_cast<qsizetype>(bytes.size())));
  settings_->sync();
  return settings_->status() == QSettings::NoError;
}

bool SettingsStore::ReadHistory(const QString& name, HistoryList& list) {
  const QVariant stored = settings_->value(name);
  if (stored.typeId() != QMetaType::QByteArray) return false;
  const QByteArray bytes = stored.toByteArray();
  std::optional<HistoryList> decoded = DecodeHistory(
      reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
  if (!decoded) return false;
  list = std::move(*decoded);
  return true;
}

}  // namespace torquelin
