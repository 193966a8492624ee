// Apply Patch (errors located .\fileio): the checks before anything is
// touched, staging the new contents, the five phases that change the target
// (the commit), finishing a killed run, the report and the closing check.
#include "engine/jobs/apply_patch.h"

#include <algorithm>
#include <optional>
#include <random>
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
#include "platform/safe_path.h"
#include "platform/system_error.h"

namespace {

// Calls fn with every proper ancestor of a relative path ("\a\b\c" gives
// "\a", then "\a\b").
template <typename Fn>
void ForEachAncestor(const std::u16string& path, Fn fn) {
  for (size_t end = path.find(u'\\', 1); end != std::u16string::npos;
       end = path.find(u'\\', end + 1)) {
    fn(path.substr(0, end));
  }
}

// A path the patch acts on must stay inside the directory and must be one a
// patch made with its own filter could hold: a path the filter ignores, or
// one below an ignored directory, is refused whole (a patch whose filter is
// "*" would otherwise see an empty tree, whatever the target holds).
void RequireActionable(const std::u16string& path, const CIgnoreFilter& filter) {
  if (!platform::IsSafeRelativePath(path)) {
    Raise(site::kApplyUnsafePath, path);
  }
  std::u16string matched;
  bool ignored = filter.Match(path, matched);
  ForEachAncestor(path, [&](const std::u16string& ancestor) {
    ignored = ignored || filter.Match(ancestor, matched);
  });
  if (ignored) Raise(site::kApplyIgnoredPath, path);
}

void CheckListedPaths(const ChangeSet& patch, const CIgnoreFilter& filter) {
  for (const PathList* list : {&patch.UnlinkedFiles, &patch.UnlinkedDirectories, &patch.NewDirs,
                               &patch.ChangedFiles, &patch.NewFiles}) {
    for (const std::u16string& path : *list) RequireActionable(path, filter);
  }
  for (const auto& [path, word] : patch.AttributeChanges) RequireActionable(path, filter);
}

// The journal lives in the target's root, so a root whose owner may not
// write it is opened for the owner for the whole run, and gets its mode back
// last, once the journal is gone.
class WritableRoot {
 public:
  WritableRoot(const platform::DirectoryHandle& target, bool open) : target_(target) {
    platform::EntryStatus status;
    if (open && target_.Stat(u"", status) && (status.word & platform::kAttrReadOnly) != 0 &&
        target_.SetMode(u"", 0)) {
      word_ = status.word;
    }
  }
  WritableRoot(const WritableRoot&) = delete;
  WritableRoot& operator=(const WritableRoot&) = delete;
  ~WritableRoot() {
    if (word_) target_.SetMode(u"", *word_);
  }

 private:
  const platform::DirectoryHandle& target_;
  std::optional<uint32_t> word_;
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

// Reads the record's head as extraction will, so no later step can fail on
// a record this check let pass: its place between the header and the index,
// its tag, its path (the index key that leads to it: the report and the
// attributes would otherwise speak of one file while another is written),
// and a length that ends before the index.
int64_t CheckRecord(zrFile::Reader& reader, int64_t indexOffset, const std::u16string& path,
                    int64_t offset) {
  if (offset < kPatchHeaderSize || offset >= indexOffset) {
    Raise(site::kApplyRecordPosition, path);
  }
  reader.seek(offset);
  DirectInput in(reader);
  ExpectTag(in, RecordType::FileContent);
  const std::u16string stored = ReadString(in);
  if (stored != path) {
    Raise(site::kApplyIndexMismatch, path + u" leads to the content stored for " + stored);
  }
  const int64_t length = ReadQword(in);
  if (length < 0 || length > indexOffset - reader.tell()) {
    Raise(site::kApplyRecordLength, path);
  }
  return length;
}

// The file index, each entry checked. An index key that could reach
// outside the directory refuses the patch in both modes; a damaged record
// refuses it only when errors are not tolerated.
std::vector<StoredFile> CheckStoredFiles(CProgressSink& progress, zrFile::Reader& reader,
                                         int64_t indexOffset, const CIgnoreFilter& filter,
                                         bool continueOnErrors) {
  reader.seek(indexOffset);
  const PatchFileIndex index = ReadFileIndex(reader, progress);
  std::vector<StoredFile> files;
  files.reserve(index.size());
  for (const auto& [path, offset] : index) {
    RequireActionable(path, filter);
    StoredFile file{path, offset, 0, std::nullopt};
    try {
      file.length = CheckRecord(reader, indexOffset, path, offset);
    } catch (const CZRErr& error) {
      if (!continueOnErrors) throw;
      file.damage = error;
    }
    files.push_back(std::move(file));
  }
  return files;
}

// A path beneath a symbolic link of the target would be changed wherever
// the link points: refused whole, naming it, unless the patch removes that
// link first (a link the newer tree replaced by a directory).
void RefuseLinksOnTheWay(const CDirSnapshot& target, const ChangeSet& patch,
                         const std::vector<StoredFile>& files, const std::u16string& directory) {
  const std::set<std::u16string> removed(patch.UnlinkedFiles.begin(), patch.UnlinkedFiles.end());
  const auto check = [&](const std::u16string& path) {
    ForEachAncestor(path, [&](const std::u16string& ancestor) {
      const auto word = target.attributes.find(ancestor);
      if (word != target.attributes.end() && platform::IsLinkWord(word->second) &&
          removed.count(ancestor) == 0) {
        Raise(site::kApplyThroughLink, JoinPath(directory, path));
      }
    });
  };
  for (const PathList* list : {&patch.UnlinkedFiles, &patch.UnlinkedDirectories, &patch.NewDirs}) {
    std::for_each(list->begin(), list->end(), check);
  }
  for (const auto& [path, word] : patch.AttributeChanges) check(path);
  for (const StoredFile& file : files) check(file.path);
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
class Skipped {
 public:
  explicit Skipped(bool continueOnErrors) : continueOnErrors_(continueOnErrors) {}

  void Add(const CZRErr& error) {
    if (!continueOnErrors_) throw error;
    messages_.push_back(error.message);
  }

  std::vector<std::u16string> Take() { return std::move(messages_); }

 private:
  bool continueOnErrors_;
  std::vector<std::u16string> messages_;
};

// A directory whose owner may not write it refuses new and removed entries,
// which a directory's read-only attribute never did on Windows; yet the older
// tree may hold such directories with entries the patch must change. Their
// owner gets the write bit while the tree changes, and every one gets its
// mode back before the patch's own attributes are set, or when the run stops
// early: nothing here may outlive the run. Both go through the target's
// handle like every other change.
class WritableParents {
 public:
  explicit WritableParents(const platform::DirectoryHandle& target) : target_(target) {}
  WritableParents(const WritableParents&) = delete;
  WritableParents& operator=(const WritableParents&) = delete;
  ~WritableParents() { Restore(); }

  // Opens the existing parents (the target itself included) of every path
  // the patch removes, creates or writes.
  void Open(const ChangeSet& patch, const std::vector<StoredFile>& files) {
    std::set<std::u16string> parents;
    const auto addParent = [&](const std::u16string& path) {
      parents.insert(path.substr(0, path.rfind(u'\\')));
    };
    for (const PathList* list :
         {&patch.UnlinkedFiles, &patch.UnlinkedDirectories, &patch.NewDirs}) {
      std::for_each(list->begin(), list->end(), addParent);
    }
    for (const StoredFile& file : files) addParent(file.path);
    for (const std::u16string& parent : parents) {
      platform::EntryStatus status;
      if (!target_.Stat(parent, status) || !status.isDirectory ||
          (status.word & platform::kAttrReadOnly) == 0) {
        continue;
      }
      // A zero high half with the read-only bit clear adds the owner's write bit.
      if (target_.SetMode(parent, 0)) opened_.emplace_back(parent, status.word);
    }
  }

  // Puts back every mode changed by Open; a directory removed meanwhile is
  // skipped. Safe to call twice.
  void Restore() {
    for (const auto& [parent, word] : opened_) target_.SetMode(parent, word);
    opened_.clear();
  }

 private:
  const platform::DirectoryHandle& target_;
  std::vector<std::pair<std::u16string, uint32_t>> opened_;
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
// keep its stamp; it is never known.
CDirSnapshot OpeningScan(CProgressSink& progress, const std::u16string& directory,
                         const CIgnoreFilter& filter, const std::u16string& filterText,
                         bool withIds, int64_t clockNs, std::vector<FileId>& ids, KnownFiles* known,
                         std::u16string& fingerprint) {
  if (!withIds) {
    CDirSnapshot snapshot = BuildSnapshot(progress, directory, filter, filterText, false);
    fingerprint = ComputeFingerprint(progress, snapshot);
    return snapshot;
  }
  std::vector<platform::EntryStamp> stamps;
  PathOrder order;
  CDirSnapshot snapshot = BuildSnapshot(progress, directory, filter, filterText, true, &ids,
                                        known != nullptr ? &stamps : nullptr, &order);
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
// lstat stamps them).
void ClosingCheck(CProgressSink& progress, const std::u16string& directory,
                  const CIgnoreFilter& filter, const ChangeSet& patch, const KnownFiles& known) {
  std::vector<platform::EntryStamp> stamps;
  PathOrder order;
  CDirSnapshot after = BuildSnapshot(progress, directory, filter, patch.IgnoreFilter, false,
                                     nullptr, &stamps, &order);
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
    reader.seek(file.offset);
    DirectInput in(reader);
    ExpectTag(in, RecordType::FileContent);
    ReadString(in);
    ReadQword(in);
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

// The fingerprint the tree will have once the patch is applied: the opening
// scan less what is removed, plus the new directories, with the carried
// files' new ids and the patch's attribute words. Nothing when that cannot
// be told: a damaged record or a file the tolerant mode skipped, or a new
// entry the patch gives no attribute word. Takes the opening scan (sorted,
// `ids` parallel to its files) apart to build the new tree from it, so no
// entry is copied.
std::optional<std::u16string> PredictFingerprint(CDirSnapshot& tree, std::vector<FileId>& ids,
                                                 const ChangeSet& patch,
                                                 const std::vector<StoredFile>& files,
                                                 const ContentIds& contentIds) {
  // Keeps the entries of a sorted list that `gone` does not name, and
  // forgets the words of those it drops.
  const auto dropGone = [&](PathList& list, const PathList& goneList,
                            std::vector<FileId>* listIds) {
    PathList gone = goneList;
    std::sort(gone.begin(), gone.end());
    size_t kept = 0, cursor = 0;
    for (size_t i = 0; i < list.size(); ++i) {
      while (cursor < gone.size() && gone[cursor] < list[i]) ++cursor;
      if (cursor < gone.size() && gone[cursor] == list[i]) {
        tree.attributes.erase(list[i]);
        continue;
      }
      if (kept != i) {
        list[kept] = std::move(list[i]);
        if (listIds != nullptr) (*listIds)[kept] = (*listIds)[i];
      }
      ++kept;
    }
    list.resize(kept);
    if (listIds != nullptr) listIds->resize(kept);
  };
  dropGone(tree.directories, patch.UnlinkedDirectories, nullptr);
  dropGone(tree.files, patch.UnlinkedFiles, &ids);

  const auto isNew = [&](const std::u16string& path) {
    return tree.attributes.count(path) == 0 && patch.AttributeChanges.count(path) != 0;
  };
  for (const std::u16string& path : patch.NewDirs) {
    if (tree.attributes.count(path) != 0) continue;
    if (!isNew(path)) return std::nullopt;
    tree.directories.push_back(path);
    tree.attributes[path] = 0;
  }
  std::vector<std::pair<std::u16string, FileId>> added;
  for (size_t i = 0; i < files.size(); ++i) {
    const StoredFile& file = files[i];
    if (file.damage) return std::nullopt;
    const bool fresh = tree.attributes.count(file.path) == 0;
    if (fresh) {
      if (!isNew(file.path)) return std::nullopt;
      tree.attributes[file.path] = 0;
    }
    if (!contentIds[i]) return std::nullopt;  // a file the tolerant mode skipped
    if (fresh) {
      added.emplace_back(file.path, *contentIds[i]);
      continue;
    }
    // A carried file that replaces a kept directory has no id to change.
    const auto at = std::lower_bound(tree.files.begin(), tree.files.end(), file.path);
    if (at != tree.files.end() && *at == file.path) ids[at - tree.files.begin()] = *contentIds[i];
  }
  for (const auto& [path, word] : patch.AttributeChanges) {
    const auto it = tree.attributes.find(path);
    if (it != tree.attributes.end()) it->second = word;
  }
  // The new files go in at their sorted places, so the list stays sorted.
  std::sort(added.begin(), added.end());
  PathList merged;
  std::vector<FileId> mergedIds;
  merged.reserve(tree.files.size() + added.size());
  mergedIds.reserve(merged.capacity());
  size_t next = 0;
  for (size_t i = 0; i <= tree.files.size(); ++i) {
    while (next < added.size() && (i == tree.files.size() || added[next].first < tree.files[i])) {
      merged.push_back(std::move(added[next].first));
      mergedIds.push_back(added[next].second);
      ++next;
    }
    if (i == tree.files.size()) break;
    merged.push_back(std::move(tree.files[i]));
    mergedIds.push_back(ids[i]);
  }
  tree.files = std::move(merged);
  ids = std::move(mergedIds);
  CSilentSink silent(nullptr, 0);
  return ComputeFingerprint(silent, tree, ids);
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

// Where a new content waits for the commit: beside its destination, or, in a
// directory the commit creates, in the nearest directory above it that stays.
std::u16string StagingName(const std::u16string& path, const std::set<std::u16string>& stays,
                           std::mt19937_64& random) {
  std::u16string parent = path.substr(0, path.rfind(u'\\'));
  while (!parent.empty() && stays.count(parent) == 0)
    parent = parent.substr(0, parent.rfind(u'\\'));
  const uint64_t r = random();
  std::u16string name = parent + u"\\.tq-";
  name += HexText(static_cast<uint32_t>(r >> 32));
  name += HexText(static_cast<uint32_t>(r));
  return name;
}

// Every directory the commit adds an entry to or removes one from, the
// target itself included: sorted, each once. A directory removed meanwhile
// would fail its flush, and its parent is in the list anyway.
std::vector<std::u16string> ChangedDirectories(const ChangeSet& patch) {
  std::set<std::u16string> directories{u""};
  const auto addParent = [&](const std::u16string& path) {
    directories.insert(path.substr(0, path.rfind(u'\\')));
  };
  for (const PathList* list : {&patch.UnlinkedFiles, &patch.UnlinkedDirectories, &patch.NewDirs,
                               &patch.NewFiles, &patch.ChangedFiles}) {
    std::for_each(list->begin(), list->end(), addParent);
  }
  const std::set<std::u16string> gone(patch.UnlinkedDirectories.begin(),
                                      patch.UnlinkedDirectories.end());
  std::vector<std::u16string> kept;
  for (const std::u16string& directory : directories) {
    if (gone.count(directory) == 0) kept.push_back(directory);
  }
  return kept;
}

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
        skipped_(continueOnErrors) {}

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
      platform::EntryStatus status;
      if (target_.MakeDirectory(path) ||
          (resuming_ && target_.Stat(path, status) && status.isDirectory)) {
        applied.NewDirs.push_back(path);
      } else {
        const std::u16string full = JoinPath(directory_, path);
        skipped_.Add(ChangeError(site::kApplyCreateDirectory, full, full));
      }
    }
  }

  // Writes every stored file at its destination (in place) or, with
  // `staged` (one name per file), under its staging name; returns the
  // files written. With `ids` (one per stored file), each written
  // content's id goes there.
  std::vector<StagedFile> WriteFiles(zrFile::Reader& reader, const std::vector<StoredFile>& files,
                                     const std::vector<StagedFile>* staged,
                                     ContentIds* ids = nullptr) {
    progress_->SetStatus(staged != nullptr ? u"Staging new contents." : u"Restoring files.");
    progress_->SetRange(static_cast<uint32_t>(files.size()));
    std::vector<StagedFile> written;
    for (size_t i = 0; i < files.size(); ++i) {
      const StoredFile& file = files[i];
      progress_->Step();
      progress_->SetDetail((staged != nullptr ? u"Staging: " : u"Extructing file: ") + file.path);
      // The carried file's word says whether it is a link.
      const auto word = patch_.AttributeChanges.find(file.path);
      const bool asLink =
          word != patch_.AttributeChanges.end() && platform::IsLinkWord(word->second);
      const std::u16string writeAs = staged != nullptr ? (*staged)[i].staged : std::u16string();
      try {
        if (file.damage) throw *file.damage;
        Sha1Context context;
        Sha1Init(context);
        if (!ExtractFileBeneath(reader, continueOnErrors_, *progress_, file.offset, target_,
                                directory_, file.path, asLink, writeAs,
                                ids != nullptr ? &context : nullptr)) {
          // Tolerated, and the shortened file stays; but the report must say
          // so, or a damaged file would pass for a restored one.
          ReportFailedFile(CZRErr(site::kApplyShortenedFile, file.path));
        }
        if (ids != nullptr) {
          Sha1Digest digest;
          Sha1Final(digest, context);
          (*ids)[i] = ToFileId(digest);
        }
        if (staged == nullptr) applied.ChangedFiles.push_back(file.path);
        written.push_back({file.path, writeAs});
      } catch (const CZRErr& error) {
        if (!continueOnErrors_) throw;
        if (!writeAs.empty()) target_.Remove(writeAs);
        ReportFailedFile(error);
      }
    }
    return written;
  }

  // Renames each staged file over its destination.
  void MoveIntoPlace(const std::vector<StagedFile>& staged) {
    progress_->SetStatus(u"Restoring files.");
    progress_->SetRange(static_cast<uint32_t>(staged.size()));
    for (const StagedFile& file : staged) {
      progress_->Step();
      progress_->SetDetail(u"Extructing file: " + file.path);
      const std::u16string full = directory_ + u"\\" + file.path;
      bool moved = target_.Rename(file.staged, file.path);
      // An empty directory in the way goes, as it would for an extraction.
      if (!moved && platform::LastErrorIsEntryInTheWay() && target_.Remove(file.path)) {
        moved = target_.Rename(file.staged, file.path);
      }
      const CZRErr error = ChangeError(site::kApplyMoveIntoPlace, full, full);
      platform::EntryStatus status;
      // A killed run moved it already.
      if (moved || (resuming_ && !target_.Stat(file.staged, status) &&
                    platform::LastErrorIsMissingEntry())) {
        applied.ChangedFiles.push_back(file.path);
        continue;
      }
      if (continueOnErrors_) target_.Remove(file.staged);
      ReportFailedFile(error);
    }
  }

  void RestoreAttributes() {
    progress_->SetStatus(u"Restoring FS attributes.");
    progress_->SetRange(static_cast<uint32_t>(patch_.AttributeChanges.size()));
    for (const auto& [path, word] : patch_.AttributeChanges) {
      progress_->Step();
      const std::u16string full = directory_ + u"\\" + path;
      progress_->SetDetail(u"Restoring: " + full);
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
};

// The commit of the staged files, made durable and the journal emptied at
// its end.
void Commit(Changer& changer, WritableParents& writableParents, ApplyJournal& journal,
            const std::vector<StagedFile>& staged, const ChangeSet& patch) {
  changer.RemoveFiles();
  changer.RemoveDirectories();
  changer.CreateDirectories();
  changer.MoveIntoPlace(staged);
  writableParents.Restore();
  changer.RestoreAttributes();
  journal.Finish(ChangedDirectories(patch));
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
  // staged files removed before the parents' modes are put back.
  const WritableRoot writableRoot(target, !checkOnly);
  WritableParents writableParents(target);
  ApplyJournal journal(target, directory, !checkOnly);
  zrFile::Reader reader(patchPath);
  const int64_t indexOffset = ReadPatchHeader(reader);
  const PatchIdentity identity = IdentifyPatch(progress, reader, indexOffset, patch, patchPath);
  const CIgnoreFilter filter(patch.IgnoreFilter);
  CheckListedPaths(patch, filter);
  const std::vector<StoredFile> storedFiles =
      CheckStoredFiles(progress, reader, indexOffset, filter, continueOnErrors);

  if (journal.Pending()) {
    const PatchIdentity& pending = journal.Pending()->patch;
    if (!pending.SamePatch(identity)) {
      journal.KeepPending();
      Raise(site::kApplyOtherPatchPending,
            pending.path + u" (fingerprints " + pending.olderId + u" to " + pending.newerId + u")");
    }
    if (checkOnly) {
      progress.SetStatus(kApplyPendingText);
      return {};
    }
    if (journal.Pending()->committing) {
      // Killed during the commit: every new content is staged, so the rest
      // of the commit finishes the tree.
      progress.SetStatus(u"Finishing an interrupted apply.");
      const std::vector<StagedFile> staged = journal.Pending()->files;
      journal.Resume();
      CommitSink commitSink(progress);
      Changer changer(commitSink, directory, target, patch, continueOnErrors, true);
      writableParents.Open(patch, storedFiles);
      Commit(changer, writableParents, journal, staged, patch);
      changer.Report(reportPath);
      progress.SetStatus(u"Patch applied ok.");
      if (!ignoreFingerprint) ClosingCheck(progress, directory, filter, patch, {});
      return changer.TakeSkipped();
    }
    journal.DropStaleStaging();
  }

  // Without the check the scan still runs (without ids), so every run shows
  // the same phases.
  const bool withIds = !ignoreFingerprint;
  KnownFiles known;
  const int64_t clock = withIds && !checkOnly ? journal.FileSystemNow() : 0;
  std::vector<FileId> ids;
  std::u16string fingerprint;
  CDirSnapshot before = OpeningScan(progress, directory, filter, patch.IgnoreFilter, withIds, clock,
                                    ids, checkOnly ? nullptr : &known, fingerprint);
  if (withIds && fingerprint != patch.OlderTreeID) {
    if (fingerprint == patch.NewerTreeID) {
      if (!checkOnly) Changer(progress, directory, target, patch, false, false).Report(reportPath);
      progress.SetStatus(kAlreadyAppliedText);
      return {};
    }
    Raise(site::kApplyFingerprintMismatch, fingerprint + u" expected:" + patch.OlderTreeID);
  }
  RefuseLinksOnTheWay(before, patch, storedFiles, directory);
  const std::set<std::u16string> goneDirs(patch.UnlinkedDirectories.begin(),
                                          patch.UnlinkedDirectories.end());
  std::set<std::u16string> stays;
  for (const std::u16string& path : before.directories) {
    if (goneDirs.count(path) == 0) stays.insert(path);
  }
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
  writableParents.Open(patch, storedFiles);
  if (way == ApplyWay::InPlace) {
    changer.RemoveFiles();
    changer.RemoveDirectories();
    changer.CreateDirectories();
    changer.WriteFiles(reader, storedFiles, nullptr);
    writableParents.Restore();
    changer.RestoreAttributes();
    changer.Report(reportPath);
  } else {
    std::mt19937_64 random{std::random_device{}()};
    JournalRecord record{identity, {}, false};
    for (const StoredFile& file : storedFiles) {
      record.files.push_back({file.path, StagingName(file.path, stays, random)});
    }
    journal.Begin(record);
    ContentIds contentIds(storedFiles.size());
    const std::vector<StagedFile> staged = changer.WriteFiles(
        reader, storedFiles, &record.files, checkWhileStaging ? &contentIds : nullptr);
    if (checkWhileStaging) {
      RefuseAnotherResult(before, ids, patch, storedFiles, contentIds);
      before = CDirSnapshot();
      ids = {};
    }
    journal.Commit(staged);
    CommitSink commitSink(progress);
    changer.UseSink(commitSink);
    Commit(changer, writableParents, journal, staged, patch);
    changer.Report(reportPath);
    changer.UseSink(progress);
  }
  progress.SetStatus(u"Patch applied ok.");
  if (!ignoreFingerprint) ClosingCheck(progress, directory, filter, patch, known);
  return changer.TakeSkipped();
}
