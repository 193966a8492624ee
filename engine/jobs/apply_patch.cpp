// Apply Patch (errors located .\fileio): the checks before anything is
// touched, staging the new contents, the five phases that change the target
// (the commit), finishing a killed run, the report and the closing check.
#include "engine/jobs/apply_patch.h"

#include <algorithm>
#include <optional>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/base/error_sites.h"
#include "engine/base/info_entries.h"
#include "engine/base/number_text.h"
#include "engine/base/silent_sink.h"
#include "engine/hash/sha1.h"
#include "engine/io/file_system.h"
#include "engine/jobs/apply_checks.h"
#include "engine/jobs/apply_journal.h"
#include "engine/jobs/output_rules.h"
#include "engine/patch/change_set.h"
#include "engine/patch/patch_reader.h"
#include "engine/patch/patch_stream.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/ignore_filter.h"
#include "engine/tree/normalize_path.h"
#include "engine/tree/walker.h"
#include "engine/xml/diff_report.h"
#include "platform/directory_handle.h"
#include "platform/files.h"
#include "platform/system_error.h"
#include "platform/system_info.h"

namespace {

// New contents and directories stay private until the commit gives them
// the patch's attributes.
constexpr uint32_t kPrivateFile = 0600;
constexpr uint32_t kPrivateDirectory = 0700;
// The set-user-id and set-group-id bits of an attribute word's high half.
constexpr uint32_t kSetIdBits = 06000u << 16;
// The owner's write bit of a mode.
constexpr uint32_t kOwnerWrite = 0200;

// Added to a failure during the commit of a staged apply: the journal stays,
// so the same command finishes the tree.
constexpr char16_t kPartlyChanged[] =
    u" (The directory is partly changed; once the cause is fixed, running the same command again "
    u"finishes the apply.)";

// Permission bits of an attribute word.
uint32_t PermissionsOf(uint32_t word) { return (word >> 16) & 07777; }

// A directory of the target whose owner may not write it refuses new and
// removed entries, which a directory's read-only attribute never did on
// Windows; yet the older tree may hold such directories with entries the
// patch must change. Their owner gets the write bit while the tree changes,
// and each gets its mode back (only while it still has exactly the mode it
// was given) before the patch's own attributes are set, or when the run
// stops. The journal records them before they are opened, so a run killed
// meanwhile leaves them for the next run to put back.
class WritableDirectories {
 public:
  explicit WritableDirectories(const platform::DirectoryHandle& target) : target_(target) {}
  WritableDirectories(const WritableDirectories&) = delete;
  WritableDirectories& operator=(const WritableDirectories&) = delete;
  ~WritableDirectories() { Restore(); }

  // Notes which of `directories` exist, as directories their owner may not
  // write; nothing changes yet.
  void Plan(const std::vector<std::u16string>& directories) {
    for (const std::u16string& directory : directories) {
      platform::EntryStatus status;
      // The root is WritableRoot's.
      if (!directory.empty() && target_.Stat(directory, status) && status.isDirectory &&
          (status.word & platform::kAttrReadOnly) != 0) {
        planned_.push_back({directory, status.word});
      }
    }
  }
  const std::vector<OpenedDirectory>& Planned() const { return planned_; }

  // Gives the planned directories their owner's write bit.
  void Open() {
    for (const OpenedDirectory& directory : planned_) {
      // A zero high half with the read-only bit clear adds the owner's write bit.
      if (target_.SetMode(directory.path, 0)) opened_.push_back(directory);
    }
    planned_.clear();
  }

  // Takes over directories a killed run opened (their words from before):
  // each still as that run left it, or as it was before, is opened now and
  // put back at the end; one changed since is left as it is.
  void Adopt(const std::vector<OpenedDirectory>& directories) {
    for (const OpenedDirectory& directory : directories) {
      platform::EntryStatus status;
      if (!target_.Stat(directory.path, status) || !status.isDirectory) continue;
      const uint32_t now = PermissionsOf(status.word), before = PermissionsOf(directory.word);
      if (now == (before | kOwnerWrite) || (now == before && target_.SetMode(directory.path, 0))) {
        opened_.push_back(directory);
      }
    }
  }

  // Puts back every mode changed by Open or taken over by Adopt. Safe to
  // call twice.
  void Restore() {
    for (const OpenedDirectory& directory : opened_) {
      platform::EntryStatus status;
      if (target_.Stat(directory.path, status) && status.isDirectory &&
          PermissionsOf(status.word) == (PermissionsOf(directory.word) | kOwnerWrite)) {
        target_.SetMode(directory.path, directory.word);
      }
    }
    opened_.clear();
  }

 private:
  const platform::DirectoryHandle& target_;
  std::vector<OpenedDirectory> planned_;
  std::vector<OpenedDirectory> opened_;
};

// The journal lives in the target's root, so a root whose owner may not
// write it is opened for the owner for the whole run, and gets its mode back
// last, once the journal is gone. Its word is noted first and opened by Open.
class WritableRoot {
 public:
  WritableRoot(const platform::DirectoryHandle& target, bool wanted) : target_(target) {
    platform::EntryStatus status;
    if (wanted && target_.Stat(u"", status) && (status.word & platform::kAttrReadOnly) != 0) {
      word_ = status.word;
    }
  }
  WritableRoot(const WritableRoot&) = delete;
  WritableRoot& operator=(const WritableRoot&) = delete;
  ~WritableRoot() { Close(); }

  // Puts the root's mode back, when it still has the one this run gave it.
  void Close() {
    platform::EntryStatus status;
    if (opened_ && target_.Stat(u"", status) &&
        PermissionsOf(status.word) == (PermissionsOf(*word_) | kOwnerWrite)) {
      target_.SetMode(u"", *word_);
    }
    opened_ = false;
  }

  void Open() {
    // A zero high half with the read-only bit clear adds the owner's write bit.
    if (word_ && !opened_) opened_ = target_.SetMode(u"", 0);
  }

  // The root's word from before, when this run opens the root.
  std::optional<uint32_t> Word() const { return word_; }

  // Takes over the root a killed run opened, when it still has the mode that
  // run gave it.
  void Adopt(uint32_t word) {
    platform::EntryStatus status;
    if (!opened_ && target_.Stat(u"", status) &&
        PermissionsOf(status.word) == (PermissionsOf(word) | kOwnerWrite)) {
      word_ = word;
      opened_ = true;
    }
  }

 private:
  const platform::DirectoryHandle& target_;
  std::optional<uint32_t> word_;
  bool opened_ = false;
};

// One file the patch carries, as checked before anything changes.
struct StoredFile {
  std::u16string path;
  int64_t offset = 0;
  int64_t length = 0;
  // Why its record cannot be used; only ever set when errors are tolerated,
  // and then only this file is skipped.
  std::optional<CZRErr> damage;
};

// The file index, in index order.
std::vector<StoredFile> ReadStoredFiles(CProgressSink& progress, zrFile::Reader& reader,
                                        int64_t indexOffset) {
  reader.seek(indexOffset);
  const PatchFileIndex index = ReadFileIndex(reader, progress);
  std::vector<StoredFile> files;
  files.reserve(index.size());
  for (const auto& [path, offset] : index) files.push_back({path, offset, 0, std::nullopt});
  return files;
}

std::vector<std::u16string> PathsOf(const std::vector<StoredFile>& files) {
  std::vector<std::u16string> paths;
  paths.reserve(files.size());
  for (const StoredFile& file : files) paths.push_back(file.path);
  return paths;
}

// The bytes of a content record before its content: its tag, the path as a
// String record (tag, Dword record, UTF-16) and the length as a Qword record.
int64_t ContentStart(const StoredFile& file) {
  return file.offset + 1 + 1 + 5 + 2 * static_cast<int64_t>(file.path.size()) + 9;
}

// Reads the record's head as extraction will, so no later step can fail on
// a record this check let pass: its place between the header and the index,
// its tag, its path (the index key that leads to it: the report and the
// attributes would otherwise speak of one file while another is written),
// and a length that ends before the index.
int64_t CheckRecord(RecordInput& in, int64_t indexOffset, const StoredFile& file) {
  ExpectTag(in, RecordType::FileContent);
  const std::u16string stored = ReadString(in);
  if (stored != file.path) {
    Raise(site::kApplyIndexMismatch, file.path + u" leads to the content stored for " + stored);
  }
  const int64_t length = ReadQword(in);
  if (length < 0 || length > indexOffset - ContentStart(file)) {
    Raise(site::kApplyRecordLength, file.path);
  }
  return length;
}

// Checks every stored file's record. Records laid out one after the other,
// as a writer lays them out, are read in one buffered pass. A damaged record
// refuses the patch, or, when errors are tolerated, costs only its file.
void CheckRecords(zrFile::Reader& reader, int64_t indexOffset, std::vector<StoredFile>& files,
                  bool continueOnErrors) {
  std::optional<BufferedInput> in;
  int64_t next = -1;  // where the buffered input stands
  for (StoredFile& file : files) {
    try {
      if (file.offset < kPatchHeaderSize || file.offset >= indexOffset) {
        Raise(site::kApplyRecordPosition, file.path);
      }
      if (!in || file.offset != next) {
        in.reset();
        reader.seek(file.offset);
        in.emplace(reader);
      }
      file.length = CheckRecord(*in, indexOffset, file);
      next = ContentStart(file) + file.length;
      // Content lies between this head and the next: read afresh there.
      if (file.length > 0) in.reset();
    } catch (const CZRErr& error) {
      in.reset();
      if (!continueOnErrors) throw;
      file.damage = error;
    }
  }
}

// The error for a change that failed beneath the target: a symbolic link met
// on the way is named as such, any other failure gets the phase's own error.
// Built at once, so it carries the failed call's errno.
CZRErr ChangeError(const ErrorSite& usual, const std::u16string& detail,
                   const std::u16string& fullPath) {
  if (platform::LastErrorIsLinkInTheWay()) return CZRErr(site::kApplyThroughLink, fullPath);
  return CZRErr(usual, detail);
}

// What the tolerant mode skipped, in order; the strict mode throws instead.
// A note is listed in both modes and never stops the run.
class Skipped {
 public:
  explicit Skipped(bool continueOnErrors) : continueOnErrors_(continueOnErrors) {}

  void Add(const CZRErr& error) {
    if (!continueOnErrors_) throw error;
    messages_.push_back(error.message);
  }

  void Note(const std::u16string& message) { messages_.push_back(message); }

  std::vector<std::u16string> Take() { return std::move(messages_); }

 private:
  bool continueOnErrors_;
  std::vector<std::u16string> messages_;
};

// Stays silent about cancellation: once the commit has started, stopping
// halfway would leave a tree that is neither the older nor the newer one, so
// a request to cancel waits for the commit's end. Everything else is passed
// on as it comes.
class CommitSink : public CProgressSink {
 public:
  explicit CommitSink(CProgressSink& inner) : inner_(inner) {}
  uint32_t GetBufferSize() override { return inner_.GetBufferSize(); }
  uint8_t* GetBuffer() override { return inner_.GetBuffer(); }
  void SetStatus(const std::u16string& text) override {
    Pass([&] { inner_.SetStatus(text); });
  }
  void SetDetail(const std::u16string& text) override {
    Pass([&] { inner_.SetDetail(text); });
  }
  void ShowMessage(const std::u16string& text) override { inner_.ShowMessage(text); }
  void SetRange(uint32_t count) override { inner_.SetRange(count); }
  void ResetProgress() override { inner_.ResetProgress(); }
  void Step() override {
    Pass([&] { inner_.Step(); });
  }

 private:
  template <typename Fn>
  void Pass(Fn fn) {
    try {
      fn();
    } catch (const COPCancel&) {
    }
  }
  CProgressSink& inner_;
};

// The journal's name for the patch: both fingerprints, its size, and the
// SHA-1 of its header and file index.
PatchIdentity IdentifyPatch(CProgressSink& progress, zrFile::Reader& reader, int64_t indexOffset,
                            const ChangeSet& patch, const std::u16string& patchPath) {
  PatchIdentity identity{patch.OlderTreeID, patch.NewerTreeID, reader.size(), {}, patchPath};
  Sha1Context context;
  Sha1Init(context);
  const auto hash = [&](int64_t from, int64_t length) {
    reader.seek(from);
    CopyThroughBuffer(reader, length, progress.GetBuffer(), progress.GetBufferSize(),
                      [&](const uint8_t* chunk, int64_t n) {
                        Sha1Update(context, chunk, static_cast<uint32_t>(n));
                      });
  };
  hash(0, kPatchHeaderSize);
  hash(indexOffset, identity.size - indexOffset);
  Sha1Digest digest;
  Sha1Final(digest, context);
  identity.digest = DigestToHex(digest);
  return identity;
}

// A file of the opening scan whose id the closing check may take over while
// it stays exactly as it was.
struct KnownFile {
  platform::EntryStamp stamp;
  FileId id;
};

// Orders known files by the file they are (device and inode), whatever
// name they have.
bool ByIdentity(const KnownFile& a, const KnownFile& b) {
  return std::tie(a.stamp.device, a.stamp.inode) < std::tie(b.stamp.device, b.stamp.inode);
}

// The known files, sorted by identity. A path is not needed: the same
// device and inode with the same size and times is the same content,
// whatever name it is found under at the end (a hard link of a known file
// is known too), and it takes far less room than a list of paths.
using KnownFiles = std::vector<KnownFile>;

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
    CDirSnapshot snapshot = BuildSnapshot(progress, directory, filter, filterText, false, nullptr,
                                          nullptr, nullptr, leaveOut);
    fingerprint = ComputeFingerprint(progress, snapshot);
    return snapshot;
  }
  std::vector<platform::EntryStamp> stamps;
  PathOrder order;
  CDirSnapshot snapshot = BuildSnapshot(progress, directory, filter, filterText, true, &ids,
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

// The length the walk's stamp gives a regular file, for the quick read of a
// small one; anything else is read the general way, which judges it.
uint32_t ListedSize(const CDirSnapshot& snapshot, const std::u16string& path,
                    const platform::EntryStamp& stamp) {
  const auto word = snapshot.attributes.find(path);
  const bool regular =
      word != snapshot.attributes.end() && ((word->second >> 16) & 0170000) == 0100000;
  return regular && stamp.size >= 0 && stamp.size < kUnknownSize ? static_cast<uint32_t>(stamp.size)
                                                                 : kUnknownSize;
}

// The closing check: a new scan, whose ids are read afresh for every file
// but those `known` still stamped exactly as at the start (the walk's own
// lstat stamps them). The journal (`leaveOut`) is no part of the tree.
void ClosingCheck(CProgressSink& progress, const std::u16string& directory,
                  const CIgnoreFilter& filter, const ChangeSet& patch, const KnownFiles& known,
                  const LeftOutEntry* leaveOut) {
  std::vector<platform::EntryStamp> stamps;
  PathOrder order;
  CDirSnapshot after = BuildSnapshot(progress, directory, filter, patch.IgnoreFilter, false,
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
  progress.SetStatus(ComputeFingerprint(progress, after, ids, order) == patch.NewerTreeID
                         ? u"New fingerprint verified."
                         : kAppliedFingerprintMismatchText);
}

// The id of each stored content, in the order of the patch's files; none
// for a damaged record or a file the tolerant mode skipped.
using ContentIds = std::vector<std::optional<FileId>>;

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
    if (read != file.length) Raise(site::kApplyRecordLength, file.path);
    Sha1Digest digest;
    Sha1Final(digest, context);
    ids[i] = ToFileId(digest);
  }
  return ids;
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
  // Each pass walks both maps with cursors of its own.
  const auto wordOf = [&](const std::u16string& path, SortedCursor<AttributeMap>& asked,
                          SortedCursor<AttributeMap>& old, bool existed) {
    const uint32_t* word = asked.Find(path);
    if (word == nullptr && existed) word = old.Find(path);
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
        order.directoryWords.push_back(wordOf(added[a], asked, old, false));
        next.directories.push_back(added[a++]);
      }
      if (end) break;
      if (a < added.size() && added[a] == tree.directories[d]) ++a;  // there already
      if (SortedHolds(gone, goneAt, tree.directories[d])) continue;
      order.directoryWords.push_back(wordOf(tree.directories[d], asked, old, true));
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
    const auto add = [&](std::u16string path, const FileId& id, bool existed) {
      order.fileWords.push_back(wordOf(path, asked, old, existed));
      next.files.push_back(std::move(path));
      nextIds.push_back(id);
    };
    for (size_t f = 0; f <= tree.files.size(); ++f) {
      const bool end = f == tree.files.size();
      while (c < carried.size() && (end || files[carried[c]].path < tree.files[f])) {
        add(files[carried[c]].path, *contentIds[carried[c]], false);
        ++c;
      }
      if (end) break;
      const bool removed = SortedHolds(gone, goneAt, tree.files[f]);
      if (c < carried.size() && files[carried[c]].path == tree.files[f]) {
        // A changed file, or one removed and carried anew.
        add(std::move(tree.files[f]), *contentIds[carried[c]], !removed);
        ++c;
      } else if (!removed) {
        add(std::move(tree.files[f]), ids[f], true);
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

// Refuses, before the commit, a patch whose stored contents would not give
// its newer fingerprint. Takes the opening scan apart.
void RefuseAnotherResult(CDirSnapshot& tree, std::vector<FileId>& ids, const ChangeSet& patch,
                         const std::vector<StoredFile>& files, const ContentIds& contentIds) {
  const auto predicted = PredictFingerprint(tree, ids, patch, files, contentIds);
  if (predicted && *predicted != patch.NewerTreeID) {
    Raise(site::kApplyContentsMismatch, *predicted + u" expected:" + patch.NewerTreeID);
  }
}

// Staging needs room for every new content while the old ones are still
// there: each content rounded up to whole blocks, a block per new directory
// and for the journal, and a margin (1 MiB and a hundredth of the contents)
// for the file system's own bookkeeping.
void RequireRoom(const platform::DirectoryHandle& target, const std::u16string& directory,
                 const ChangeSet& patch, const std::vector<StoredFile>& files) {
  uint64_t available = 0, block = 0;
  if (!target.FreeSpace(available, block)) return;  // a file system that cannot say
  block = std::max<uint64_t>(block, 1);
  uint64_t contents = 0;
  for (const StoredFile& file : files) {
    contents += (static_cast<uint64_t>(file.length) + block - 1) / block * block;
  }
  const uint64_t needed =
      contents + (patch.NewDirs.size() + 1) * block + (uint64_t{1} << 20) + contents / 100;
  if (needed > available) {
    Raise(site::kApplyNoRoom, directory + u": needed " + DecimalText(static_cast<int64_t>(needed)) +
                                  u" bytes, available " +
                                  DecimalText(static_cast<int64_t>(available)) + u" bytes");
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
    std::string text;
    if (!target.ReadLink(path, text)) return std::nullopt;
    Sha1Update(context, text.data(), static_cast<uint32_t>(text.size()));
  } else {
    const int fd = target.OpenFile(path);
    if (fd < 0) return std::nullopt;
    int64_t n = 0;
    while ((n = platform::ReadDescriptor(fd, progress.GetBuffer(), progress.GetBufferSize())) > 0) {
      Sha1Update(context, progress.GetBuffer(), static_cast<uint32_t>(n));
    }
    platform::CloseDescriptor(fd);
    if (n < 0) return std::nullopt;
  }
  Sha1Digest digest;
  Sha1Final(digest, context);
  return ToFileId(digest);
}

// Whether the carried file at `path` is a symbolic link: its word says so.
bool CarriedAsLink(const ChangeSet& patch, const std::u16string& path) {
  const auto word = patch.AttributeChanges.find(path);
  return word != patch.AttributeChanges.end() && platform::IsLinkWord(word->second);
}

// A killed run's commit is finished only where the tree still holds what
// that run left: every stored file it staged is either still staged, a file
// of ours with one name holding the patch's content, or already in its
// place with that content. Anything else (a journal planted with a commit
// line, or a tree changed since) refuses the journal before any change.
void RequireResumable(CProgressSink& progress, zrFile::Reader& reader,
                      const platform::DirectoryHandle& target, ApplyJournal& journal,
                      const ChangeSet& patch, const std::vector<StoredFile>& files,
                      const std::vector<std::u16string>& staged,
                      const std::vector<bool>& unstaged) {
  const ContentIds ids = HashStoredContents(progress, reader, files);
  for (size_t i = 0; i < files.size(); ++i) {
    if (unstaged[i] || !ids[i]) continue;
    const bool asLink = CarriedAsLink(patch, files[i].path);
    platform::EntryStatus status;
    std::optional<FileId> found;
    if (target.Stat(staged[i], status)) {
      if (status.isLink == asLink && !status.isDirectory && status.links == 1 &&
          status.owner == journal.Owner()) {
        found = ContentIdBeneath(progress, target, staged[i], asLink);
      }
    } else if (platform::LastErrorIsMissingEntry() && target.Stat(files[i].path, status) &&
               status.isLink == asLink && !status.isDirectory) {
      found = ContentIdBeneath(progress, target, files[i].path, asLink);
    }
    if (found != ids[i]) journal.RefusePending();
  }
}

// Who a new or replaced entry belongs to. Run by the superuser, a replaced
// entry keeps its owner and group and a new one takes its directory's, so
// that applying never hands a user's file to the superuser; the set-id bits
// of a file then stay only where its owner is the one it had (an entry only
// given new attributes, or a replaced file), so a patch never makes a
// program set-id for someone else. Run by anyone else, entries are the
// running user's as they are made, and nothing here changes.
class Ownership {
 public:
  Ownership(const platform::DirectoryHandle& target, const ChangeSet& patch)
      : target_(target), active_(platform::RunsAsSuperuser()) {
    if (!active_) return;
    carried_.insert(patch.NewFiles.begin(), patch.NewFiles.end());
    carried_.insert(patch.ChangedFiles.begin(), patch.ChangedFiles.end());
  }

  bool Active() const { return active_; }

  // Who `path` belongs to once made or replaced: the entry there now, else
  // its directory. False when neither can be looked at.
  bool OwnerFor(const std::u16string& path, platform::EntryStatus& owner, bool& replaces) const {
    replaces = target_.Stat(path, owner);
    return replaces || target_.Stat(path.substr(0, path.rfind(u'\\')), owner);
  }

  // Gives `entry` (the new entry, or its staged stand-in) to `owner`;
  // `replaces` tells whether it takes the place of an entry of that owner.
  bool Give(const std::u16string& entry, const std::u16string& path,
            const platform::EntryStatus& owner, bool replaces) {
    if (!target_.SetOwner(entry, owner.owner, owner.group)) return false;
    if (replaces) kept_.insert(path);
    return true;
  }

  // Marks a replaced file that a killed run already moved into place: that
  // run gave it the replaced file's owner first.
  void AlreadyGiven(const std::u16string& path) { kept_.insert(path); }

  // The word to set on `path`: without its set-id bits where they would
  // come with another owner than the file had.
  uint32_t Allowed(const std::u16string& path, uint32_t word) const {
    if (!active_ || (word & kSetIdBits) == 0 || (word & platform::kAttrDirectory) != 0) {
      return word;
    }
    if (carried_.count(path) == 0 || kept_.count(path) != 0) return word;
    return word & ~kSetIdBits;
  }

 private:
  const platform::DirectoryHandle& target_;
  bool active_;
  std::set<std::u16string> carried_;  // the new and changed files
  std::set<std::u16string> kept_;     // those that kept a replaced file's owner
};

// The changes themselves, item by item, with the texts every run shows; a
// failure raises or, when tolerated, is listed and skipped. When `resuming`
// a killed run's commit, what that run did already counts as done.
class Changer {
 public:
  Changer(CProgressSink& progress, const std::u16string& directory,
          const platform::DirectoryHandle& target, const ChangeSet& patch, bool continueOnErrors,
          bool resuming)
      : progress_(&progress),
        directory_(directory),
        target_(target),
        patch_(patch),
        continueOnErrors_(continueOnErrors),
        resuming_(resuming),
        skipped_(continueOnErrors),
        ownership_(target, patch) {}

  void UseSink(CProgressSink& progress) { progress_ = &progress; }

  void RemoveFiles() {
    progress_->SetStatus(u"Removing Files.");
    progress_->SetRange(static_cast<uint32_t>(patch_.UnlinkedFiles.size()));
    for (const std::u16string& path : patch_.UnlinkedFiles) {
      progress_->Step();
      progress_->SetDetail(u"Removing: " + path);
      Remove(path, false, applied.UnlinkedFiles);
    }
  }

  void RemoveDirectories() {
    progress_->SetStatus(u"Removing Directories.");
    PathList unlinkedDirs = patch_.UnlinkedDirectories;
    progress_->SetRange(static_cast<uint32_t>(unlinkedDirs.size()));
    // Ascending order puts a parent before everything below it; walking it
    // backwards empties every directory before its parent is removed.
    std::sort(unlinkedDirs.begin(), unlinkedDirs.end());
    for (auto it = unlinkedDirs.rbegin(); it != unlinkedDirs.rend(); ++it) {
      progress_->Step();
      progress_->SetDetail(u"Removing: " + *it);
      Remove(*it, true, applied.UnlinkedDirectories);
    }
  }

  void CreateDirectories() {
    progress_->SetStatus(u"Creating Directories.");
    progress_->SetRange(static_cast<uint32_t>(patch_.NewDirs.size()));
    for (const std::u16string& path : patch_.NewDirs) {
      progress_->Step();
      progress_->SetDetail(u"Creating: " + path);
      const std::u16string full = JoinPath(directory_, path);
      platform::EntryStatus status, parent;
      if (!target_.MakeDirectory(path, kPrivateDirectory) &&
          !(resuming_ && target_.Stat(path, status) && status.isDirectory)) {
        skipped_.Add(ChangeError(site::kApplyCreateDirectory, full, full));
        continue;
      }
      // A new directory belongs to whoever its directory belongs to.
      if (ownership_.Active() && !(target_.Stat(path.substr(0, path.rfind(u'\\')), parent) &&
                                   ownership_.Give(path, path, parent, false))) {
        skipped_.Add(ChangeError(site::kApplyCreateDirectory, full, full));
        continue;
      }
      applied.NewDirs.push_back(path);
    }
  }

  // Writes every stored file at its destination (in place) or, with
  // `staged` (one name per file), under its staging name; returns the
  // places in `files` of those written. With `ids` (one per stored file),
  // each written content's id goes there.
  std::vector<size_t> WriteFiles(zrFile::Reader& reader, const std::vector<StoredFile>& files,
                                 const std::vector<std::u16string>* staged,
                                 ContentIds* ids = nullptr) {
    progress_->SetStatus(staged != nullptr ? u"Staging new contents." : u"Restoring files.");
    progress_->SetRange(static_cast<uint32_t>(files.size()));
    std::vector<size_t> written;
    for (size_t i = 0; i < files.size(); ++i) {
      const StoredFile& file = files[i];
      progress_->Step();
      progress_->SetDetail((staged != nullptr ? u"Staging: " : u"Extructing file: ") + file.path);
      const bool asLink = CarriedAsLink(patch_, file.path);
      const std::u16string writeAs = staged != nullptr ? (*staged)[i] : std::u16string();
      const std::u16string full = directory_ + u"\\" + file.path;
      try {
        if (file.damage) throw *file.damage;
        // In place, the owner of what is replaced is known only before.
        platform::EntryStatus owner;
        bool replaces = false;
        if (staged == nullptr && ownership_.Active() &&
            !ownership_.OwnerFor(file.path, owner, replaces)) {
          throw ChangeError(site::kWriterOpen, full, full);
        }
        Sha1Context context;
        Sha1Init(context);
        if (!ExtractFileBeneath(reader, continueOnErrors_, *progress_, file.offset, target_,
                                directory_, file.path, asLink, writeAs,
                                ids != nullptr ? &context : nullptr, kPrivateFile)) {
          // Tolerated, and the shortened file stays; but the report must say
          // so, or a damaged file would pass for a restored one.
          ReportFailedFile(CZRErr(site::kApplyShortenedFile, file.path));
        }
        if (staged == nullptr && ownership_.Active() &&
            !ownership_.Give(file.path, file.path, owner, replaces)) {
          throw ChangeError(site::kWriterOpen, full, full);
        }
        if (ids != nullptr) {
          Sha1Digest digest;
          Sha1Final(digest, context);
          (*ids)[i] = ToFileId(digest);
        }
        if (staged == nullptr) applied.ChangedFiles.push_back(file.path);
        written.push_back(i);
      } catch (const CZRErr& error) {
        if (!continueOnErrors_) throw;
        if (!writeAs.empty()) target_.Remove(writeAs);
        ReportFailedFile(error);
      }
    }
    return written;
  }

  // Renames each staged file (`staged`, by the places in `files` of
  // `moving`) over its destination.
  void MoveIntoPlace(const std::vector<StoredFile>& files,
                     const std::vector<std::u16string>& staged, const std::vector<size_t>& moving) {
    progress_->SetStatus(u"Restoring files.");
    progress_->SetRange(static_cast<uint32_t>(moving.size()));
    for (const size_t i : moving) {
      const std::u16string& path = files[i].path;
      progress_->Step();
      progress_->SetDetail(u"Extructing file: " + path);
      const std::u16string full = directory_ + u"\\" + path;
      platform::EntryStatus status;
      // A killed run moved it already.
      if (resuming_ && !target_.Stat(staged[i], status) && platform::LastErrorIsMissingEntry()) {
        ownership_.AlreadyGiven(path);
        applied.ChangedFiles.push_back(path);
        continue;
      }
      platform::EntryStatus owner;
      bool replaces = false;
      bool moved = !ownership_.Active() || (ownership_.OwnerFor(path, owner, replaces) &&
                                            ownership_.Give(staged[i], path, owner, replaces));
      moved = moved && target_.Rename(staged[i], path);
      // An empty directory in the way goes, as it would for an extraction.
      if (!moved && platform::LastErrorIsEntryInTheWay() && target_.Remove(path)) {
        moved = target_.Rename(staged[i], path);
      }
      if (moved) {
        applied.ChangedFiles.push_back(path);
        continue;
      }
      const CZRErr error = ChangeError(site::kApplyMoveIntoPlace, full, full);
      if (continueOnErrors_) target_.Remove(staged[i]);
      ReportFailedFile(error);
    }
  }

  void RestoreAttributes() {
    progress_->SetStatus(u"Restoring FS attributes.");
    progress_->SetRange(static_cast<uint32_t>(patch_.AttributeChanges.size()));
    for (const auto& [path, asked] : patch_.AttributeChanges) {
      progress_->Step();
      const std::u16string full = directory_ + u"\\" + path;
      progress_->SetDetail(u"Restoring: " + full);
      const uint32_t word = ownership_.Allowed(path, asked);
      if (platform::IsLinkWord(word)) {
        // A link has no permissions of its own: its word holds when a link
        // stands there.
        platform::EntryStatus status;
        if (!target_.Stat(path, status)) {
          skipped_.Add(ChangeError(site::kApplySetAttributes, path, full));
        } else if (!status.isLink) {
          skipped_.Add(CZRErr(site::kApplySetAttributes, path));
        } else {
          applied.AttributeChanges[path] = word;
        }
      } else if (target_.SetMode(path, word)) {
        applied.AttributeChanges[path] = word;
        if (word != asked) skipped_.Note(CZRErr(site::kApplySetIdLeftOff, path).message);
      } else {
        skipped_.Add(ChangeError(site::kApplySetAttributes, path, full));
      }
    }
  }

  // Adds the info entries and writes the report, when one was asked for.
  void Report(const std::u16string& reportPath) {
    AddInfoEntries(applied.Info);
    if (!reportPath.empty()) WriteDiffReport(*progress_, reportPath, applied, errorTexts_);
  }

  std::vector<std::u16string> TakeSkipped() { return skipped_.Take(); }

  ChangeSet applied;

 private:
  void Remove(const std::u16string& path, bool directory, PathList& done) {
    platform::EntryStatus status;
    // A killed run removed it already, or put the newer entry of the other
    // kind in its place.
    if (resuming_ && (!target_.Stat(path, status) || status.isDirectory != directory)) {
      done.push_back(path);
      return;
    }
    bool wasDirectory = false;
    if (target_.Remove(path, &wasDirectory)) {
      done.push_back(path);
      return;
    }
    const std::u16string full = JoinPath(directory_, path);
    skipped_.Add(
        ChangeError(wasDirectory ? site::kRemoveDirectory : site::kRemoveFile, full, full));
  }

  void ReportFailedFile(const CZRErr& error) {
    errorTexts_.push_back(error.GetText());
    skipped_.Add(error);
  }

  CProgressSink* progress_;
  const std::u16string& directory_;
  const platform::DirectoryHandle& target_;
  const ChangeSet& patch_;
  bool continueOnErrors_;
  bool resuming_;
  Skipped skipped_;
  PathList errorTexts_;
  Ownership ownership_;
};

// The commit of the staged files, made durable and the journal emptied at
// its end. A failure on the way leaves the journal, and says that the same
// command finishes the tree.
void Commit(Changer& changer, WritableDirectories& writable, ApplyJournal& journal,
            const std::vector<StoredFile>& files, const std::vector<std::u16string>& staged,
            const std::vector<size_t>& moving, const std::vector<std::u16string>& changedDirs) {
  try {
    changer.RemoveFiles();
    changer.RemoveDirectories();
    changer.CreateDirectories();
    changer.MoveIntoPlace(files, staged, moving);
    writable.Restore();
    changer.RestoreAttributes();
    journal.Finish(changedDirs);
  } catch (CZRErr& error) {
    error.message += kPartlyChanged;
    throw;
  }
}

// Every directory the commit adds an entry to or removes one from, the
// target itself included: sorted, each once. A directory removed meanwhile
// would fail its flush, and its parent is in the list anyway.
std::vector<std::u16string> ChangedDirectories(const ChangeSet& patch) {
  std::vector<std::u16string> directories = ParentsOfChanges(patch, {});
  if (directories.empty() || !directories.front().empty())
    directories.insert(directories.begin(), u"");
  PathList gone = patch.UnlinkedDirectories;
  std::sort(gone.begin(), gone.end());
  std::vector<std::u16string> kept;
  for (const std::u16string& directory : directories) {
    if (!std::binary_search(gone.begin(), gone.end(), directory)) kept.push_back(directory);
  }
  return kept;
}

}  // namespace

std::vector<std::u16string> ApplyPatch(CProgressSink& progress, const std::u16string& directoryText,
                                       const std::u16string& patchPath,
                                       const std::u16string& reportPath, bool continueOnErrors,
                                       bool ignoreFingerprint, ApplyWay way, bool checkOnly) {
  const std::u16string directory = NormalizePath(directoryText);
  CheckOutputs({directory},
               {{patchPath, FileArgument::Use::Read}, {reportPath, FileArgument::Use::Report}});
  CheckReportWritable(reportPath);
  progress.SetStatus(u"Applying a file");
  const ChangeSet patch = LoadPatchInfo(progress, patchPath);
  if (!DirectoryExists(directory)) {
    Raise(site::kApplyDirectoryMissing, directory);
  }
  platform::DirectoryHandle target;
  if (!target.Open(directory)) {
    Raise(site::kApplyDirectoryMissing, directory);
  }
  // Declared before the journal, so a run that stops while staging has its
  // staged files removed before the directories' modes are put back.
  WritableRoot writableRoot(target, !checkOnly);
  WritableDirectories writable(target);
  // The superuser makes the journal, which records the root's word, before
  // opening the root, and puts the mode back before removing it; anyone
  // else needs the root open to make and remove it.
  const bool superuser = platform::RunsAsSuperuser();
  if (!superuser) writableRoot.Open();
  ApplyJournal journal(target, directory, !checkOnly, writableRoot.Word());
  writableRoot.Open();
  if (superuser) journal.BeforeRemoval([&writableRoot] { writableRoot.Close(); });
  // A killed run that opened the root left its word in the journal.
  if (journal.RootWord()) writableRoot.Adopt(*journal.RootWord());
  zrFile::Reader reader(patchPath);
  const int64_t indexOffset = ReadPatchHeader(reader);
  const PatchIdentity identity = IdentifyPatch(progress, reader, indexOffset, patch, patchPath);
  const CIgnoreFilter filter(patch.IgnoreFilter);
  std::vector<StoredFile> storedFiles = ReadStoredFiles(progress, reader, indexOffset);
  CheckListedPaths(patch, PathsOf(storedFiles), filter);
  CheckRecords(reader, indexOffset, storedFiles, continueOnErrors);
  // The staged paths follow from the patch and a token alone.
  std::optional<StagingPlaces> places;
  const auto stagedPaths = [&](const std::string& token) {
    if (!places) places.emplace(patch.NewDirs);
    std::vector<std::u16string> staged;
    staged.reserve(storedFiles.size());
    for (size_t i = 0; i < storedFiles.size(); ++i) {
      staged.push_back(places->PathFor(storedFiles[i].path, token, i));
    }
    return staged;
  };
  const std::vector<std::u16string> changedDirs = ChangedDirectories(patch);

  if (journal.Pending()) {
    const JournalRecord& pending = *journal.Pending();
    if (!pending.patch.SamePatch(identity)) {
      journal.KeepPending();
      Raise(site::kApplyOtherPatchPending, pending.patch.path + u" (fingerprints " +
                                               pending.patch.olderId + u" to " +
                                               pending.patch.newerId + u")");
    }
    // Nothing the journal holds leads anywhere the patch does not: the
    // directories it opened are ones the patch changes.
    const std::vector<std::u16string> staged = stagedPaths(pending.token);
    const std::vector<std::u16string> parents = ParentsOfChanges(patch, staged);
    for (const OpenedDirectory& opened : pending.opened) {
      if (!std::binary_search(parents.begin(), parents.end(), opened.path)) {
        journal.RefusePending();
      }
    }
    std::vector<bool> unstaged(storedFiles.size(), false);
    for (const uint32_t index : pending.unstaged) {
      if (index >= storedFiles.size()) journal.RefusePending();
      unstaged[index] = true;
    }
    if (pending.committing) {
      // Killed during the commit: every new content is staged, so the rest
      // of the commit finishes the tree.
      if (!checkOnly) progress.SetStatus(u"Finishing an interrupted apply.");
      RequireResumable(progress, reader, target, journal, patch, storedFiles, staged, unstaged);
    }
    if (checkOnly) {
      progress.SetStatus(kApplyPendingText);
      return {};
    }
    if (pending.committing) {
      writable.Adopt(pending.opened);
      std::vector<size_t> moving;
      for (size_t i = 0; i < storedFiles.size(); ++i) {
        if (!unstaged[i]) moving.push_back(i);
      }
      journal.Resume();
      CommitSink commitSink(progress);
      Changer changer(commitSink, directory, target, patch, continueOnErrors, true);
      Commit(changer, writable, journal, storedFiles, staged, moving, changedDirs);
      changer.Report(reportPath);
      progress.SetStatus(u"Patch applied ok.");
      if (!ignoreFingerprint) {
        ClosingCheck(progress, directory, filter, patch, {}, journal.Entry());
      }
      return changer.TakeSkipped();
    }
    // Killed while staging: its directories get their modes back (the root
    // stays open for this run) and its staged files go.
    writable.Adopt(pending.opened);
    writable.Restore();
    journal.DropStaleStaging(staged);
  }

  // Without the check the scan still runs (without ids), so every run shows
  // the same phases.
  const bool withIds = !ignoreFingerprint;
  KnownFiles known;
  const int64_t clock = withIds && !checkOnly ? journal.FileSystemNow() : 0;
  std::vector<FileId> ids;
  std::u16string fingerprint;
  CDirSnapshot before =
      OpeningScan(progress, directory, filter, patch.IgnoreFilter, withIds, clock, ids,
                  checkOnly ? nullptr : &known, journal.Entry(), fingerprint);
  if (withIds && fingerprint != patch.OlderTreeID) {
    if (fingerprint == patch.NewerTreeID) {
      if (!checkOnly) Changer(progress, directory, target, patch, false, false).Report(reportPath);
      progress.SetStatus(kAlreadyAppliedText);
      return {};
    }
    Raise(site::kApplyFingerprintMismatch, fingerprint + u" expected:" + patch.OlderTreeID);
  }
  RefuseLinksOnTheWay(before, patch, PathsOf(storedFiles), directory);
  if (!continueOnErrors) CheckChangesCanBeMade(target, directory, patch, before);
  // Staging reads every content anyway: it checks them in the same pass,
  // and a refusal then removes what it staged. Otherwise they are read
  // once more here.
  const bool checkWhileStaging = withIds && way == ApplyWay::Staged && !checkOnly;
  if (withIds && !checkWhileStaging) {
    RefuseAnotherResult(before, ids, patch, storedFiles,
                        HashStoredContents(progress, reader, storedFiles));
  }
  if (!checkWhileStaging) {
    before = CDirSnapshot();
    ids = {};
  }
  if (way == ApplyWay::Staged) RequireRoom(target, directory, patch, storedFiles);
  if (checkOnly) {
    std::vector<std::u16string> damaged;
    for (const StoredFile& file : storedFiles) {
      if (file.damage) damaged.push_back(file.damage->message);
    }
    progress.SetStatus(kApplyCheckedText);
    return damaged;
  }

  Changer changer(progress, directory, target, patch, continueOnErrors, false);
  if (way == ApplyWay::InPlace) {
    writable.Plan(ParentsOfChanges(patch, {}));
    writable.Open();
    changer.RemoveFiles();
    changer.RemoveDirectories();
    changer.CreateDirectories();
    changer.WriteFiles(reader, storedFiles, nullptr);
    writable.Restore();
    changer.RestoreAttributes();
    changer.Report(reportPath);
  } else {
    JournalRecord record{std::nullopt, identity, NewStagingToken(), {}, false, {}};
    const std::vector<std::u16string> staged = stagedPaths(record.token);
    writable.Plan(ParentsOfChanges(patch, staged));
    record.opened = writable.Planned();
    journal.Begin(record, staged);
    writable.Open();
    ContentIds contentIds(storedFiles.size());
    const std::vector<size_t> written =
        changer.WriteFiles(reader, storedFiles, &staged, checkWhileStaging ? &contentIds : nullptr);
    if (checkWhileStaging) {
      RefuseAnotherResult(before, ids, patch, storedFiles, contentIds);
      before = CDirSnapshot();
      ids = {};
    }
    std::vector<std::u16string> writtenPaths;
    std::vector<uint32_t> unstaged;
    for (size_t i = 0, w = 0; i < storedFiles.size(); ++i) {
      if (w < written.size() && written[w] == i) {
        writtenPaths.push_back(staged[i]);
        ++w;
      } else {
        unstaged.push_back(static_cast<uint32_t>(i));
      }
    }
    journal.Commit(writtenPaths, unstaged);
    CommitSink commitSink(progress);
    changer.UseSink(commitSink);
    Commit(changer, writable, journal, storedFiles, staged, written, changedDirs);
    changer.Report(reportPath);
    changer.UseSink(progress);
  }
  progress.SetStatus(u"Patch applied ok.");
  if (!ignoreFingerprint) ClosingCheck(progress, directory, filter, patch, known, journal.Entry());
  return changer.TakeSkipped();
}
