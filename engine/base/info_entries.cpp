// AddInfoEntries and the "DateCreated" text.
#include "engine/base/info_entries.h"

#include "platform/system_info.h"

namespace torquelin {

namespace {
void AppendTwoDigits(std::u16string& text, int value) {
  text.push_back(static_cast<char16_t>(u'0' + (value / 10) % 10));
  text.push_back(static_cast<char16_t>(u'0' + value % 10));
}
}  // namespace

std::u16string FormatDateCreated(int64_t time) {
  static constexpr const char16_t* kDays[] = {u"Sun", u"Mon", u"Tue", u"Wed",
                                              u"Thu", u"Fri", u"Sat"};
  static constexpr const char16_t* kMonths[] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                                u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  const platform::LocalTimeParts t = platform::ToLocalTime(time);
  std::u16string text = kDays[t.weekday % 7];
  text += u" ";
  text += kMonths[t.month % 12];
  text += u" ";
  AppendTwoDigits(text, t.dayOfMonth);
  text += u" ";
  AppendTwoDigits(text, t.hour);
  text += u":";
  AppendTwoDigits(text, t.minute);
  text += u":";
  AppendTwoDigits(text, t.second);
  text += u" ";
  std::u16string year;
  for (int y = t.year; y > 0; y /= 10)
    year.insert(year.begin(), static_cast<char16_t>(u'0' + y % 10));
  text += year;
  text += u"\n";
  return text;
}

void AddInfoEntries(TextMap& info) {
  const int64_t now = platform::CurrentTime();
  if (const auto host = platform::GetHostName()) info[u"ComputerName"] = *host;
  if (const auto user = platform::GetUserName()) info[u"UserName"] = *user;
  info[u"DateCreated"] = FormatDateCreated(now);
  info[u"zrEngineVersion"] = u"1.2";
}

}  // namespace torquelin
