// The standard information entries: computer, user, date and engine version.
#pragma once

#include <cstdint>

#include "engine/base/tree_types.h"

namespace torquelin {

// Writes "ComputerName" and "UserName" (each only when the system gives it),
// "DateCreated" and "zrEngineVersion" = "1.2", replacing earlier values.
void AddInfoEntries(TextMap& info);

// "Www Mmm DD hh:mm:ss YYYY\n" in local time, English names, the day of
// month zero-padded.
std::u16string FormatDateCreated(int64_t time);

}  // namespace torquelin
