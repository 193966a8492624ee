// The per-user settings store: remembered field histories and check states.
#pragma once

#include <cstdint>
#include <memory>

#include <QString>

#include "ui/history_codec.h"

class QSettings;

namespace torquelin {

// Organisation and application under which the settings live.
inline constexpr char kSettingsOrganization[] = "Kestrany";
inline constexpr char kSettingsApplication[] = "Torquelin";

// One opening of the settings store, closed (and flushed) when destroyed.
// Open one per visit rather than keeping one around, so a second instance of
// the program sees what the first one stored. Use on one thread at a time.
// Every operation returns true on success; a failure changes nothing.
class SettingsStore {
 public:
  SettingsStore();
  ~SettingsStore();
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  bool WriteNumber(const QString& name, uint32_t value);
  // Reads a number, or up to 4 bytes of a binary value (little-endian); the
  // kind of the stored value is not examined further. Untouched on failure.
  bool ReadNumber(const QString& name, uint32_t& value);
  // Stores the list in its archive byte layout as a binary value.
  bool WriteHistory(const QString& name, const HistoryList& list);
  // Replaces list with the stored one. A value that is not binary, is longer
  // than kMaxHistoryBytes or is damaged counts as absent: list untouched.
  bool ReadHistory(const QString& name, HistoryList& list);

 private:
  std::unique_ptr<QSettings> settings_;
};

}  // namespace torquelin
