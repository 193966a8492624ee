// The output rules: what may stand at an output path, outputs that collide,
// outputs inside the trees a job works on.
#include "engine/jobs/output_rules.h"

#include "engine/base/error_sites.h"
#include "engine/io/standard_input.h"
#include "engine/tree/normalize_path.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/output_target.h"
#include "platform/standard_streams.h"
#include "platform/system_error.h"

namespace torquelin {

namespace {

using Use = FileArgument::Use;

bool IsWritten(const FileArgument& file) { return !file.path.empty() && file.use != Use::Read; }

bool IsStandardInput(const FileArgument& file) {
  return file.use == Use::Read && IsStandardStream(file.path);
}

bool IsStandardOutput(const FileArgument& file) {
  return file.use == Use::Patch && IsStandardStream(file.path);
}

bool IsDeviceOrFifo(platform::NodeKind kind) {
  return kind == platform::NodeKind::CharacterDevice || kind == platform::NodeKind::Fifo;
}

// A user's path may separate with '/' or '\'.
size_t LastSeparator(const std::u16string& path) { return path.find_last_of(u"/\\"); }

// The directory a path's last component lives in: "." for a bare name.
std::u16string ParentOf(const std::u16string& path) {
  const size_t separator = LastSeparator(path);
  if (separator == std::u16string::npos) return u".";
  return separator == 0 ? path.substr(0, 1) : path.substr(0, separator);
}

std::u16string LastComponent(const std::u16string& path) {
  const size_t separator = LastSeparator(path);
  return separator == std::u16string::npos ? path : path.substr(separator + 1);
}

platform::Result<platform::NodeId> NodeIdOf(const FileArgument& file) {
  if (IsStandardOutput(file)) {
    return platform::StandardStreamId(platform::StandardStream::Output);
  }
  return platform::GetNodeId(file.path);
}

bool SameFile(const FileArgument& fileA, const FileArgument& fileB) {
  const std::u16string& a = fileA.path;
  const std::u16string& b = fileB.path;
  const platform::Result<platform::NodeId> idA = NodeIdOf(fileA);
  const platform::Result<platform::NodeId> idB = NodeIdOf(fileB);
  if (idA || idB) return idA && idB && *idA == *idB;
  // Neither exists yet: the same name in the same directory is one file.
  const platform::Result<platform::NodeId> parentA = platform::GetNodeId(ParentOf(a));
  const platform::Result<platform::NodeId> parentB = platform::GetNodeId(ParentOf(b));
  if (parentA && parentB) return *parentA == *parentB && LastComponent(a) == LastComponent(b);
  return NormalizePath(a) == NormalizePath(b);
}

// True when the path's directory is `tree` or lies below it. Climbs by ".."
// from the nearest directory that exists, so the physical parents count,
// never the text: a link to the tree, or "x/../tree", is caught as well.
bool IsInside(const std::u16string& path, const platform::NodeId& tree) {
  std::u16string directory = ParentOf(path);
  platform::Result<platform::NodeId> here = platform::GetNodeId(directory);
  while (!here) {
    const std::u16string up = ParentOf(directory);
    if (up == directory) return false;
    directory = up;
    here = platform::GetNodeId(directory);
  }
  while (true) {
    if (*here == tree) return true;
    directory += u"/..";
    const platform::Result<platform::NodeId> parent = platform::GetNodeId(directory);
    // The root is its own parent.
    if (!parent || *parent == *here) return false;
    here = parent;
  }
}

}  // namespace

void CheckOutputs(const std::vector<std::u16string>& trees,
                  const std::vector<FileArgument>& files) {
  for (const FileArgument& file : files) {
    if (!IsWritten(file)) continue;
    if (IsStandardOutput(file)) {
      if (platform::StandardStreamIsTerminal(platform::StandardStream::Output)) {
        Raise(site::kPatchToTerminal, u"standard output");
      }
      continue;
    }
    const platform::NodeKind kind = platform::KindOfNode(file.path);
    const bool replaceable =
        kind == platform::NodeKind::Missing || kind == platform::NodeKind::RegularFile;
    if (!replaceable && !(file.use == Use::Report && IsDeviceOrFifo(kind))) {
      Raise(site::kOutputNotAFile, file.path);
    }
  }
  for (size_t i = 0; i < files.size(); ++i) {
    for (size_t k = i + 1; k < files.size(); ++k) {
      const FileArgument& a = files[i];
      const FileArgument& b = files[k];
      if (a.path.empty() || b.path.empty() || (!IsWritten(a) && !IsWritten(b))) continue;
      // Standard input is read to its end before anything is written.
      if (IsStandardInput(a) || IsStandardInput(b)) continue;
      if (SameFile(a, b)) Raise(site::kOutputsCollide, a.path + u" and " + b.path);
    }
  }
  for (const std::u16string& tree : trees) {
    if (tree.empty()) continue;
    const platform::Result<platform::NodeId> treeId = platform::GetNodeId(tree);
    if (!treeId) continue;
    for (const FileArgument& file : files) {
      if (!IsWritten(file)) continue;
      // Standard output counts where a file behind it lies; writing into a
      // device or FIFO adds nothing to a tree.
      const std::u16string path =
          IsStandardOutput(file)
              ? platform::StandardStreamFilePath(platform::StandardStream::Output)
              : platform::ResolveFinalLink(file.path);
      if (path.empty() || IsDeviceOrFifo(platform::KindOfNode(path))) continue;
      if (IsInside(path, *treeId)) {
        Raise(site::kOutputInsideTree,
              (IsStandardOutput(file) ? path : file.path) + u" is inside " + tree);
      }
    }
  }
}

void CheckReportWritable(const std::u16string& reportPath) {
  if (reportPath.empty()) return;
  const bool straightIn = IsDeviceOrFifo(platform::KindOfNode(reportPath));
  const platform::Status writable =
      platform::MayWrite(straightIn ? reportPath : ParentOf(reportPath));
  if (writable) return;
  Raise(site::kReportNotWritable,
        reportPath + u": " + platform::FromUtf8(platform::ErrorCodeText(writable.error())),
        writable.error());
}

}  // namespace torquelin
