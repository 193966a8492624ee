// Texts the window shows about a job's end that the jobs themselves do not.
#pragma once

#include <string>
#include <vector>

namespace torquelin {

// The status line after a failed job, made from the text of the message box
// that reported the failure: "Job failed: " and the error's message (the
// "Message: " line of an error's four lines, else the first line), so the
// reason stays on screen after the box is gone.
std::u16string FailedJobStatus(const std::u16string& reportedText);

// The box after an apply that skipped items (tolerant mode): how many, and
// the first few of them, one line each.
std::u16string SkippedItemsMessage(const std::vector<std::u16string>& skipped);

// Items of a skipped list shown in the box; the report lists them all.
inline constexpr int kSkippedItemsShown = 10;

}  // namespace torquelin
