// The folder and file pickers behind the pages' "..." buttons, their file
// filters, and the report viewer. None keeps state between calls; the
// pickers and the viewer run on the interface thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace torquelin {

// One entry of a picker's file-type list.
struct FileFilterPair {
  const char16_t* description;
  const char16_t* pattern;  // e.g. "*.dov"; the first pair's gives the default extension
};
using FileFilter = std::vector<FileFilterPair>;

extern const FileFilter kPatchFilter;
extern const FileFilter kReportFilter;
extern const FileFilter kVaultFilter;

// The title of every folder picker.
inline constexpr char16_t kFolderPickerTitle[] = u"Select directory to scan.";

// A folder picker seeded with initial; returns the chosen folder, or
// initial when the user cancels.
std::u16string BrowseForFolder(std::u16string initial);

enum class FileDialogMode { Open, Save };

// An open or save dialog seeded with initial, with filter's first pair
// selected. A name typed without extension gets the first pattern's
// extension; an existing file is accepted without a prompt (the jobs replace
// files safely). Returns initial when cancelled.
std::u16string BrowseForFile(FileDialogMode mode, std::u16string initial, const FileFilter& filter);

// Opens the report with the desktop's program for its type (xdg-open, or
// Qt's own desktop services without it). The path goes over as one
// argument, never through a shell or a composed command line, so blanks
// and quotes in it are harmless. When no program can be found for it,
// noViewer runs on the interface thread: at once, or once xdg-open has
// said it found none. An empty path starts nothing. Not waited for.
void ViewReport(std::u16string path, std::function<void()> noViewer = {});

// What the user is told when no program to show the report was found.
std::u16string NoViewerMessage(const std::u16string& reportPath);

// The extension of the filter's first pattern ("*.dov" -> "dov"), empty when
// it has none.
std::u16string DefaultExtension(const FileFilter& filter);

}  // namespace torquelin
