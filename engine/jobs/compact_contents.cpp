// Choosing how a compact patch stores each content it carries.
#include "engine/jobs/compact_contents.h"

#include <algorithm>
#include <map>

#include "engine/base/error_sites.h"
#include "engine/io/file_system.h"
#include "platform/files.h"

namespace torquelin {

namespace {

// Finds paths among a compared tree's files, asked in ascending order.
class FileCursor {
 public:
  explicit FileCursor(const ComparedFiles& tree) : tree_(tree) {}

  // The id of `path`, or null when the tree has no such file or no id for it.
  const FileId* IdOf(const std::u16string& path) {
    const PathList& files = tree_.snapshot.files;
    while (next_ < files.size() && files[next_] < path) ++next_;
    if (next_ == files.size() || files[next_] != path) return nullptr;
    const FileId& id = tree_.ids[next_];
    return id == kNoFileId ? nullptr : &id;
  }

 private:
  const ComparedFiles& tree_;
  size_t next_ = 0;
};

// A regular file's word: neither 0 (absent or unreadable), a directory,
// nor a symbolic link.
bool IsRegularFile(const CDirSnapshot& snapshot, const std::u16string& path) {
  const auto found = snapshot.attributes.find(path);
  if (found == snapshot.attributes.end()) return false;
  const uint32_t word = found->second;
  return word != 0 && !IsDirectoryAttribute(word) && !platform::IsLinkWord(word);
}

// The length of a tree's entry as lstat sees it (a link's: its target text).
uint64_t LengthOf(const std::u16string& root, const std::u16string& path) {
  const std::u16string full = JoinPath(root, path);
  const platform::Result<platform::EntryStamp> stamp = platform::StampEntry(full);
  if (!stamp) Raise(site::kReaderOpen, full, stamp.error());
  return static_cast<uint64_t>(stamp->size);
}

}  // namespace

std::vector<FileId> IdsInFileOrder(const CDirSnapshot& snapshot) {
  std::vector<FileId> ids(snapshot.files.size(), kNoFileId);
  for (size_t i = 0; i < ids.size(); ++i) {
    const auto found = snapshot.fileIds.find(snapshot.files[i]);
    if (found == snapshot.fileIds.end() || !DigestFromHex(found->second, ids[i].data())) {
      ids[i] = kNoFileId;
    }
  }
  return ids;
}

CompactContents PlanCompactContents(ChangeSet changes, const ComparedFiles& newer,
                                    const ComparedFiles& older, OlderSource olderContents) {
  // Every carried path, ascending, and whether it is a changed one.
  std::vector<std::pair<const std::u16string*, bool>> carried;
  carried.reserve(changes.NewFiles.size() + changes.ChangedFiles.size());
  for (const std::u16string& path : changes.NewFiles) carried.emplace_back(&path, false);
  for (const std::u16string& path : changes.ChangedFiles) carried.emplace_back(&path, true);
  std::inplace_merge(carried.begin(), carried.begin() + changes.NewFiles.size(), carried.end(),
                     [](const auto& a, const auto& b) { return *a.first < *b.first; });

  std::vector<ContentRequest> requests;
  requests.reserve(carried.size());
  std::vector<bool> mayRefer;
  // The older file each wanted id is first found in, once known.
  std::map<FileId, const std::u16string*> sources;
  FileCursor newerIds(newer);
  for (const auto& entry : carried) {
    const std::u16string& path = *entry.first;
    ContentRequest request{
        path,      kNoFileId, LengthOf(newer.snapshot.root, path), ContentKind::Compressed, {},
        kNoFileId, 0};
    if (const FileId* id = newerIds.IdOf(path)) request.id = *id;
    // An empty content needs no older file; a link is made from its text.
    mayRefer.push_back(request.length > 0 && IsRegularFile(newer.snapshot, path));
    if (mayRefer.back()) sources.emplace(request.id, nullptr);
    requests.push_back(std::move(request));
  }
  // Only older files with a wanted id have their word looked up.
  for (size_t i = 0; i < older.snapshot.files.size(); ++i) {
    const auto wanted = sources.find(older.ids[i]);
    if (wanted == sources.end() || wanted->second != nullptr) continue;
    if (IsRegularFile(older.snapshot, older.snapshot.files[i])) {
      wanted->second = &older.snapshot.files[i];
    }
  }

  CompactContents contents;
  OlderIdMap& olderIds = contents.head.olderIds;
  FileCursor olderOfCarried(older);
  for (size_t r = 0; r < requests.size(); ++r) {
    ContentRequest& request = requests[r];
    const FileId* before = olderOfCarried.IdOf(request.path);
    if (!mayRefer[r]) continue;
    const auto source = sources.find(request.id);
    if (source != sources.end() && source->second != nullptr) {
      request.kind = ContentKind::Copy;
      request.reference = *source->second;
      request.referenceId = request.id;
    } else if (olderContents == OlderSource::Directory && carried[r].second && before != nullptr &&
               IsRegularFile(older.snapshot, request.path)) {
      request.kind = ContentKind::Delta;
      request.reference = request.path;
      request.referenceId = *before;
      request.referenceLength = LengthOf(older.snapshot.root, request.path);
    }
    if (!request.reference.empty()) olderIds.emplace(request.reference, request.referenceId);
  }
  // What the patch changes or removes, so that a wrong target can be told
  // by its files.
  for (const PathList* list : {&changes.ChangedFiles, &changes.UnlinkedFiles}) {
    FileCursor cursor(older);
    for (const std::u16string& path : *list) {
      if (const FileId* id = cursor.IdOf(path)) olderIds.emplace(path, *id);
    }
  }
  contents.head.changes = std::move(changes);
  contents.requests = std::move(requests);
  return contents;
}

}  // namespace torquelin
