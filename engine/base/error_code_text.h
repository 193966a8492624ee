// The system's words for the error code of a shown error, added when the
// error is shown (the error's own text, which reports carry, stays as it is).
#pragma once

#include <string>
#include <string_view>

namespace torquelin {

// text as CZRErr::GetText() gives it, with the system's text for the code
// added to its "Error Code: " line in parentheses:
//   "Error Code: 2\n" -> "Error Code: 2 (No such file or directory)\n".
// Any other text comes back unchanged, and so does a code of 0, which names
// no system error. For showing only: never store the result in a report.
std::u16string WithErrorCodeText(std::u16string_view text);

}  // namespace torquelin
