// The opening scan, the foreseen newer tree and the closing check.
#include "engine/jobs/apply_prediction.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "engine/base/error_sites.h"
#include "engine/base/silent_sink.h"
#include "engine/jobs/apply_patch.h"
#include "engine/patch/patch_stream.h"
#include "platform/attribute_word.h"

namespace torquelin {

namespace {

// Orders known files by the file they are (device and inode), whatever
// name they have.
bool ByIdentity(const KnownFile& a, const KnownFile& b) {
  return std::tie(a.stamp.device, a.stamp.inode) < std::tie(b.stamp.device, b.stamp.inode);
}

// The length the walk's stamp gives a regular file, for the quick read of a
// small one; anything else is read the general way, which judges it.
uint32_t ListedSize(const CDirSnapshot& snapshot, const std::u16string& path,
                    const platform::EntryStamp& stamp) {
  const auto word = snapshot.attributes.find(path);
  const bool regular =
      word != snapshot.attributes.end() && platform::IsRegularFileWord(word->second);
  return regular && stamp.size >= 0 && stamp.size < kUnknownSize ? static_cast<uint32_t>(stamp.size)
                                                                 : kUnknownSize;
}

// Looks up the values of a sorted map for keys asked in ascending order,
// walking the map alongside, so a long list of keys costs one pass.
template <class Map>
class SortedCursor {
 public:
  explicit SortedCursor(const Map& map) : at_(map.begin()), end_(map.end()) {}
  const typename Map::mapped_type* Find(const std::u16string& key) {
    while (at_ != end_ && at_->first < key) ++at_;
    return at_ != end_ && at_->first == key ? &at_->second : nullptr;
  }

 private:
  typename Map::const_iterator at_, end_;
};

// Whether the sorted `list`, walked alongside with `cursor` for keys asked
// in ascending order, holds `key`.
bool SortedHolds(const PathList& list, size_t& cursor, const std::u16string& key) {
  while (cursor < list.size() && list[cursor] < key) ++cursor;
  return cursor < list.size() && list[cursor] == key;
}

PathList Sorted(PathList list) {
  if (!std::is_sorted(list.begin(), list.end())) std::sort(list.begin(), list.end());
  return list;
}

// The fingerprint the tree will have once the patch is applied: the opening
// scan less what is removed, plus the new entries, with the carried files'
// new ids and the patch's attribute words. Refuses a patch that gives a new
// entry no attribute word, or carries a file where a directory stays (or
// the reverse): its newer tree cannot be told. Nothing when a damaged
// record or a file the tolerant mode skipped leaves it unknown. Every list
// is walked in path order beside the others, so the cost is one pass over
// them after sorting what a crafted patch might not have sorted. Takes the
// opening scan (sorted, `ids` parallel to its files) apart.
std::optional<std::u16string> PredictFingerprint(CDirSnapshot& tree, std::vector<FileId>& ids,
                                                 const ChangeSet& patch,
                                                 const std::vector<StoredFile>& files,
                                                 const ContentIds& contentIds) {
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].damage || !contentIds[i]) return std::nullopt;
  }
  // Each pass walks both maps with cursors of its own. Only an entry the
  // tree holds already may keep the word it has.
  enum class Entry { New, Existing };
  const auto wordOf = [&](const std::u16string& path, SortedCursor<AttributeMap>& asked,
                          SortedCursor<AttributeMap>& old, Entry entry) {
    const uint32_t* word = asked.Find(path);
    if (word == nullptr && entry == Entry::Existing) word = old.Find(path);
    if (word == nullptr) Raise(site::kApplyUnforeseeable, path);
    return *word;
  };

  CDirSnapshot next;
  PathOrder order;
  // Directories: those kept, and the new ones, in path order.
  {
    const PathList gone = Sorted(patch.UnlinkedDirectories);
    const PathList added = Sorted(patch.NewDirs);
    SortedCursor<AttributeMap> asked(patch.AttributeChanges), old(tree.attributes);
    size_t goneAt = 0, a = 0;
    for (size_t d = 0; d <= tree.directories.size(); ++d) {
      const bool end = d == tree.directories.size();
      while (a < added.size() && (end || added[a] < tree.directories[d])) {
        order.directoryWords.push_back(wordOf(added[a], asked, old, Entry::New));
        next.directories.push_back(added[a++]);
      }
      if (end) break;
      if (a < added.size() && added[a] == tree.directories[d]) ++a;  // there already
      if (SortedHolds(gone, goneAt, tree.directories[d])) continue;
      order.directoryWords.push_back(wordOf(tree.directories[d], asked, old, Entry::Existing));
      next.directories.push_back(std::move(tree.directories[d]));
    }
  }
  // Files: those kept, with the carried contents' ids, and the new ones.
  std::vector<FileId> nextIds;
  {
    const PathList gone = Sorted(patch.UnlinkedFiles);
    std::vector<size_t> carried(files.size());
    for (size_t i = 0; i < files.size(); ++i) carried[i] = i;
    // In index order they come sorted; a crafted index may not.
    const auto byPath = [&](size_t x, size_t y) { return files[x].path < files[y].path; };
    if (!std::is_sorted(carried.begin(), carried.end(), byPath)) {
      std::sort(carried.begin(), carried.end(), byPath);
    }
    SortedCursor<AttributeMap> asked(patch.AttributeChanges), old(tree.attributes);
    size_t goneAt = 0, c = 0;
    const auto add = [&](std::u16string path, const FileId& id, Entry entry) {
      order.fileWords.push_back(wordOf(path, asked, old, entry));
      next.files.push_back(std::move(path));
      nextIds.push_back(id);
    };
    for (size_t f = 0; f <= tree.files.size(); ++f) {
      const bool end = f == tree.files.size();
      while (c < carried.size() && (end || files[carried[c]].path < tree.files[f])) {
        add(files[carried[c]].path, *contentIds[carried[c]], Entry::New);
        ++c;
      }
      if (end) break;
      const bool removed = SortedHolds(gone, goneAt, tree.files[f]);
      if (c < carried.size() && files[carried[c]].path == tree.files[f]) {
        // A changed file, or one removed and carried anew.
        add(std::move(tree.files[f]), *contentIds[carried[c]],
            removed ? Entry::New : Entry::Existing);
        ++c;
      } else if (!removed) {
        add(std::move(tree.files[f]), ids[f], Entry::Existing);
      }
    }
  }
  // A path both a directory and a file of the newer tree is no tree at all.
  for (size_t d = 0, f = 0; d < next.directories.size() && f < next.files.size();) {
    if (next.directories[d] == next.files[f]) Raise(site::kApplyUnforeseeable, next.files[f]);
    next.directories[d] < next.files[f] ? ++d : ++f;
  }
  for (uint32_t d = 0; d < next.directories.size(); ++d) order.directories.push_back(d);
  for (uint32_t f = 0; f < next.files.size(); ++f) order.files.push_back(f);
  tree = CDirSnapshot();
  ids = {};
  CSilentSink silent(nullptr, 0);
  return ComputeFingerprint(silent, next, nextIds, order);
}

}  // namespace

// The opening scan, with its fingerprint: the snapshot's lists come back
// sorted, and `ids` holds the files' ids in that order (empty without ids).
// With `known`, each file is stamped by the walk's own lstat, before its
// content is read, and a file whose change and modification times are both
// before `clockNs` (the file system's own clock at the start) goes there:
// any later write or mode change moves its change time past the stamp, and
// a replacement brings another inode, so an equal stamp at the end means an
// equal content. A file changed in the same clock tick as the start could
// keep its stamp; it is never known. The journal (`leaveOut`) is no part of
// the tree.
CDirSnapshot OpeningScan(CProgressSink& progress, const std::u16string& directory,
                         const CIgnoreFilter& filter, const std::u16string& filterText,
                         bool withIds, int64_t clockNs, std::vector<FileId>& ids, KnownFiles* known,
                         const LeftOutEntry* leaveOut, std::u16string& fingerprint) {
  if (!withIds) {
    CDirSnapshot snapshot = BuildSnapshot(progress, directory, filter, filterText, FileIds::Skip,
                                          nullptr, nullptr, nullptr, leaveOut);
    fingerprint = ComputeFingerprint(progress, snapshot);
    return snapshot;
  }
  std::vector<platform::EntryStamp> stamps;
  PathOrder order;
  CDirSnapshot snapshot =
      BuildSnapshot(progress, directory, filter, filterText, FileIds::Compute, &ids,
                    known != nullptr ? &stamps : nullptr, &order, leaveOut);
  if (known != nullptr) {
    known->reserve(snapshot.files.size());
    for (size_t i = 0; i < snapshot.files.size(); ++i) {
      if (stamps[i].changedNs < clockNs && stamps[i].modifiedNs < clockNs) {
        known->push_back({stamps[i], ids[i]});
      }
    }
    std::sort(known->begin(), known->end(), ByIdentity);
  }
  fingerprint = ComputeFingerprintSorting(progress, snapshot, ids, order);
  return snapshot;
}

// The closing check: a new scan, whose ids are read afresh for every file
// but those `known` still stamped exactly as at the start (the walk's own
// lstat stamps them). The journal (`leaveOut`) is no part of the tree.
bool ClosingCheck(CProgressSink& progress, const std::u16string& directory,
                  const CIgnoreFilter& filter, const ChangeSet& patch, const KnownFiles& known,
                  const LeftOutEntry* leaveOut) {
  std::vector<platform::EntryStamp> stamps;
  PathOrder order;
  CDirSnapshot after = BuildSnapshot(progress, directory, filter, patch.IgnoreFilter, FileIds::Skip,
                                     nullptr, &stamps, &order, leaveOut);
  std::vector<FileId> ids(after.files.size());
  CDirSnapshot reread;
  reread.root = after.root;
  std::vector<uint32_t> sizes;
  std::vector<size_t> rereadAt;
  for (size_t i = 0; i < after.files.size(); ++i) {
    const std::u16string& path = after.files[i];
    const KnownFile wanted{stamps[i], {}};
    const auto found = std::lower_bound(known.begin(), known.end(), wanted, ByIdentity);
    if (found != known.end() && found->stamp == stamps[i]) {
      ids[i] = found->id;
    } else {
      reread.files.push_back(path);
      sizes.push_back(ListedSize(after, path, stamps[i]));
      rereadAt.push_back(i);
    }
  }
  stamps = {};
  std::vector<FileId> rereadIds;
  {
    FileIdHasher hasher(progress, reread, std::move(sizes));
    hasher.Finish(progress, reread, &rereadIds);
  }
  for (size_t j = 0; j < rereadAt.size(); ++j) ids[rereadAt[j]] = rereadIds[j];
  const bool verified = ComputeFingerprint(progress, after, ids, order) == patch.NewerTreeID;
  progress.SetStatus(verified ? u"New fingerprint verified." : kAppliedFingerprintMismatchText);
  return verified;
}

FileId ToFileId(const Sha1Digest digest) {
  FileId id;
  std::copy(digest, digest + id.size(), id.begin());
  return id;
}

// Reads every stored content once and returns its id.
ContentIds HashStoredContents(CProgressSink& progress, zrFile::Reader& reader,
                              const std::vector<StoredFile>& files) {
  progress.SetStatus(u"Checking the patch's contents.");
  progress.SetRange(static_cast<uint32_t>(files.size()));
  ContentIds ids(files.size());
  for (size_t i = 0; i < files.size(); ++i) {
    const StoredFile& file = files[i];
    progress.Step();
    progress.SetDetail(u"Checking: " + file.path);
    if (file.damage) continue;
    // The head was checked already.
    if (file.length > 0) reader.seek(ContentStart(file));
    Sha1Context context;
    Sha1Init(context);
    const int64_t read =
        CopyThroughBuffer(reader, file.length, progress.GetBuffer(), progress.GetBufferSize(),
                          [&](const uint8_t* chunk, int64_t n) {
                            Sha1Update(context, chunk, static_cast<uint32_t>(n));
                          });
    if (read != file.length) Raise(site::kApplyRecordLength, file.path, reader.error());
    Sha1Digest digest;
    Sha1Final(digest, context);
    ids[i] = ToFileId(digest);
  }
  return ids;
}

// Refuses, before the commit, a patch whose stored contents would not give
// its newer fingerprint. Takes the opening scan apart.
void RefuseAnotherResult(CDirSnapshot& tree, std::vector<FileId>& ids, const ChangeSet& patch,
                         const std::vector<StoredFile>& files, const ContentIds& contentIds) {
  const auto predicted = PredictFingerprint(tree, ids, patch, files, contentIds);
  if (predicted && *predicted != patch.NewerTreeID) {
    Raise(site::kApplyContentsMismatch, *predicted + u" expected:" + patch.NewerTreeID);
  }
}

// The id of the content at `path` beneath the target: a regular file's
// bytes, or a link's target text; nothing when it cannot be read.
std::optional<FileId> ContentIdBeneath(CProgressSink& progress,
                                       const platform::DirectoryHandle& target,
                                       const std::u16string& path, bool isLink) {
  Sha1Context context;
  Sha1Init(context);
  if (isLink) {
    const platform::Result<std::string> text = target.ReadLink(path);
    if (!text) return std::nullopt;
    Sha1Update(context, text->data(), static_cast<uint32_t>(text->size()));
  } else {
    const platform::Result<platform::FileHandle> file = target.OpenFile(path);
    if (!file) return std::nullopt;
    platform::Result<uint64_t> got = uint64_t{0};
    while ((got = file->Read(progress.GetBuffer(), progress.GetBufferSize())) && *got > 0) {
      Sha1Update(context, progress.GetBuffer(), static_cast<uint32_t>(*got));
    }
    if (!got) return std::nullopt;
  }
  Sha1Digest digest;
  Sha1Final(digest, context);
  return ToFileId(digest);
}

}  // namespace torquelin
