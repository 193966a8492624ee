// WalkDirectory, its two visitors and BuildSnapshot.
#include "engine/tree/walker.h"

#include <optional>
#include <vector>

#include "engine/io/file_system.h"
#include "engine/tree/fingerprint.h"
#include "platform/files.h"

namespace {

constexpr char16_t kProcessing[] = u"Processing: ";

// The walk's own recursion. ancestors holds the identity of every directory
// from the root down to the one being listed, so that a link leading back
// to any of them is not entered again.
void Walk(CProgressSink& progress, const std::u16string& root, const std::u16string& relPath,
          CDirIterSink& sink, const CIgnoreFilter& filter,
          std::vector<platform::NodeId>& ancestors) {
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDirectory(JoinPath(root, relPath), entries)) return;
  std::u16string matched;
  for (const platform::DirEntry& entry : entries) {
    const std::u16string entryPath = relPath + u"\\" + entry.name;
    if (filter.Match(entryPath, matched)) {
      sink.OnIgnored(progress, root, entryPath);
    } else if (entry.isDirectory) {
      sink.OnDirectory(progress, root, entryPath);
      bool cycle = false;
      for (const platform::NodeId& id : ancestors) cycle = cycle || id == entry.id;
      if (!cycle) {
        ancestors.push_back(entry.id);
        Walk(progress, root, entryPath, sink, filter, ancestors);
        ancestors.pop_back();
      }
    } else {
      sink.OnFile(progress, root, entryPath);
    }
  }
}

}  // namespace

void CFileCounterSink::OnDirectory(CProgressSink& progress, const std::u16string&,
                                   const std::u16string& relPath) {
  ++total;
  ++directories;
  progress.SetDetail(kProcessing + relPath);
}

void CFileCounterSink::OnFile(CProgressSink&, const std::u16string&, const std::u16string&) {
  ++total;
  ++files;
}

void CFSLocator::OnIgnored(CProgressSink&, const std::u16string&, const std::u16string& relPath) {
  snapshot_->ignored.push_back(relPath);
}

void CFSLocator::OnDirectory(CProgressSink& progress, const std::u16string&,
                             const std::u16string& relPath) {
  snapshot_->directories.push_back(relPath);
  progress.Step();
  progress.SetDetail(kProcessing + relPath);
}

void CFSLocator::OnFile(CProgressSink& progress, const std::u16string&,
                        const std::u16string& relPath) {
  snapshot_->files.push_back(relPath);
  progress.Step();
}

void WalkDirectory(CProgressSink& progress, const std::u16string& root,
                   const std::u16string& relPath, CDirIterSink& sink, const CIgnoreFilter& filter) {
  std::vector<platform::NodeId> ancestors;
  // Every directory from the root down to relPath is an ancestor of what
  // lies below; without its identity a link back to it would loop.
  std::u16string prefix;
  size_t start = 0;
  while (true) {
    platform::NodeId id;
    if (platform::GetNodeId(JoinPath(root, prefix), id)) ancestors.push_back(id);
    if (start >= relPath.size()) break;
    size_t next = relPath.find(u'\\', start + 1);
    if (next == std::u16string::npos) next = relPath.size();
    prefix = relPath.substr(0, next);
    start = next;
  }
  Walk(progress, root, relPath, sink, filter, ancestors);
}

CDirSnapshot BuildSnapshot(CProgressSink& progress, const std::u16string& root,
                           const std::u16string& filterText, bool computeFileIds) {
  CDirSnapshot snapshot;
  CFileCounterSink counter;
  progress.SetStatus(u"Counting all files");
  snapshot.filter = filterText;
  const CIgnoreFilter filter(filterText);
  WalkDirectory(progress, root, u"", counter, filter);
  snapshot.root = root;

  progress.SetStatus(u"Collecting files...");
  progress.SetRange(counter.total);
  progress.ResetProgress();
  CFSLocator locator(&snapshot);
  WalkDirectory(progress, root, u"", locator, filter);

  // The files are read while the attributes are: a stat per entry on this
  // thread, the contents on the hashing threads.
  std::optional<FileIdHasher> hasher;
  if (computeFileIds) hasher.emplace(progress, snapshot);
  progress.SetStatus(u"Getting File attributes...");
  progress.SetRange(counter.total);
  progress.ResetProgress();
  std::u16string fullPath;
  for (const PathList* list : {&snapshot.directories, &snapshot.files}) {
    for (const std::u16string& path : *list) {
      fullPath.assign(root).append(path);
      snapshot.attributes.insert_or_assign(path, GetAttributesOrZero(fullPath));
      progress.Step();
    }
  }

  if (hasher) hasher->Finish(progress, snapshot);
  return snapshot;
}
