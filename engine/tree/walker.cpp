// WalkDirectory, its two visitors and BuildSnapshot.
#include "engine/tree/walker.h"

#include <optional>
#include <vector>

#include "engine/base/error_sites.h"
#include "engine/io/file_system.h"
#include "engine/tree/collect_pass.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/worker_threads.h"
#include "platform/directory_listing.h"
#include "platform/system_error.h"

namespace torquelin {

namespace {

constexpr char16_t kProcessing[] = u"Processing: ";

// Directories deeper than this are not kept open while their subdirectories
// are walked, so a tree of any depth stays within the descriptor limit; one
// of them is opened again from the deepest kept level when it is needed.
constexpr size_t kKeptLevels = 128;

class Walker {
 public:
  Walker(CProgressSink& progress, const std::u16string& root, CDirIterSink& sink,
         const CIgnoreFilter& filter, AttributeMap* words, std::vector<uint32_t>* sizes,
         std::vector<platform::EntryStamp>* stamps, const LeftOutEntry* leaveOut)
      : progress_(progress),
        root_(root),
        sink_(sink),
        filter_(filter),
        words_(words),
        sizes_(words != nullptr ? sizes : nullptr),
        stamps_(sizes_ != nullptr ? stamps : nullptr),
        leaveOut_(leaveOut) {}

  void Run(const std::u16string& relPath) {
    levels_.resize(1);
    const platform::Status opened = levels_[0].listing.OpenRoot(JoinPath(root_, relPath));
    if (!opened) Raise(site::kWalkUnlistable, JoinPath(root_, relPath), opened.error());
    Walk(0, relPath);
  }

 private:
  struct Level {
    platform::DirectoryListing listing;
    std::string nativeName;  // within the level above; empty for the start
  };

  // A directory that could not be opened or read, or (failedName) one of
  // its entries that could not be looked at, with the code of the failed
  // call. Only an entry that is gone is named itself; anything else the
  // directory cannot give is its own fault.
  [[noreturn]] void Fail(const std::u16string& relPath, const std::u16string& failedName,
                         uint32_t code) {
    const std::u16string directory = JoinPath(root_, relPath);
    if (platform::IsMissingEntry(code)) {
      Raise(site::kWalkVanished, failedName.empty() ? directory : directory + u"\\" + failedName,
            code);
    }
    Raise(site::kWalkUnlistable, directory, code);
  }

  // Opens level `depth` + 1 (already named) inside level `depth`, opening
  // the levels between it and the deepest kept one again when needed.
  platform::Status OpenBelow(size_t depth) {
    if (levels_[depth].listing.IsOpen()) {
      return levels_[depth + 1].listing.OpenChild(levels_[depth].listing,
                                                  levels_[depth + 1].nativeName);
    }
    size_t kept = depth;
    while (!levels_[kept].listing.IsOpen()) --kept;
    std::vector<std::string> route;
    for (size_t k = kept + 1; k <= depth + 1; ++k) route.push_back(levels_[k].nativeName);
    return levels_[depth + 1].listing.OpenRoute(levels_[kept].listing, route);
  }

  void Walk(size_t depth, const std::u16string& relPath) {
    std::vector<platform::ListedEntry> entries;
    std::u16string failedName;
    const platform::Status read =
        levels_[depth].listing.ReadEntries(words_ != nullptr, entries, failedName);
    if (!read) Fail(relPath, failedName, read.error());
    if (depth >= kKeptLevels) levels_[depth].listing.Close();
    std::u16string matched;
    // One buffer for the whole directory: a path apiece would cost an
    // allocation per entry.
    std::u16string entryPath;
    const bool atRoot = depth == 0 && relPath.empty();
    for (platform::ListedEntry& entry : entries) {
      if (atRoot && IsLeftOut(levels_[0].listing, entry)) continue;
      entryPath.assign(relPath).append(1, u'\\').append(entry.name);
      if (filter_.Match(entryPath, matched)) {
        sink_.OnIgnored(progress_, root_, entryPath);
        continue;
      }
      if (words_ != nullptr) words_->insert_or_assign(entryPath, entry.word);
      if (entry.kind != platform::EntryKind::Directory) {
        sink_.OnFile(progress_, root_, entryPath);
        if (sizes_ != nullptr) {
          sizes_->push_back(entry.size >= 0 && entry.size < kUnknownSize
                                ? static_cast<uint32_t>(entry.size)
                                : kUnknownSize);
        }
        if (stamps_ != nullptr) stamps_->push_back(entry.stamp);
        continue;
      }
      sink_.OnDirectory(progress_, root_, entryPath);
      if (levels_.size() < depth + 2) levels_.resize(depth + 2);
      levels_[depth + 1].nativeName = std::move(entry.nativeName);
      const platform::Status opened = OpenBelow(depth);
      if (!opened) Fail(entryPath, {}, opened.error());
      Walk(depth + 1, entryPath);
      levels_[depth + 1].listing.Close();
    }
  }

  // Only an entry of the left-out name is looked at more closely: every
  // other entry costs nothing more than before.
  bool IsLeftOut(const platform::DirectoryListing& listing, platform::ListedEntry& entry) {
    if (leaveOut_ == nullptr || entry.kind != platform::EntryKind::Other ||
        entry.name != leaveOut_->name) {
      return false;
    }
    int64_t content = -1;
    platform::ListedEntry looked = entry;
    if (words_ == nullptr && !listing.LookAt(looked, nullptr, 0, content)) return false;
    return looked.stamp.device == leaveOut_->id.device && looked.stamp.inode == leaveOut_->id.inode;
  }

  CProgressSink& progress_;
  const std::u16string& root_;
  CDirIterSink& sink_;
  const CIgnoreFilter& filter_;
  AttributeMap* words_;
  std::vector<uint32_t>* sizes_;
  std::vector<platform::EntryStamp>* stamps_;
  const LeftOutEntry* leaveOut_;
  std::vector<Level> levels_;  // the open directories from the start down
};

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
                   const std::u16string& relPath, CDirIterSink& sink, const CIgnoreFilter& filter,
                   AttributeMap* words, std::vector<uint32_t>* sizes,
                   std::vector<platform::EntryStamp>* stamps, const LeftOutEntry* leaveOut) {
  Walker(progress, root, sink, filter, words, sizes, stamps, leaveOut).Run(relPath);
}

CDirSnapshot BuildSnapshot(CProgressSink& progress, const std::u16string& root,
                           const std::u16string& filterText, FileIds computeFileIds) {
  return BuildSnapshot(progress, root, CIgnoreFilter(filterText), filterText, computeFileIds);
}

CDirSnapshot BuildSnapshot(CProgressSink& progress, const std::u16string& root,
                           const CIgnoreFilter& filter, const std::u16string& filterText,
                           FileIds computeFileIds, std::vector<FileId>* ids,
                           std::vector<platform::EntryStamp>* stamps, PathOrder* order,
                           const LeftOutEntry* leaveOut) {
  CDirSnapshot snapshot;
  CFileCounterSink counter;
  // One set of threads, for the collecting pass and then the file ids. They
  // get going on the collecting pass while this one counts.
  WorkerThreads threads(ScanThreadCount());
  TreeCollector collector(root, filter, computeFileIds == FileIds::Compute, leaveOut, &threads);
  progress.SetStatus(u"Counting all files");
  snapshot.filter = filterText;
  WalkDirectory(progress, root, u"", counter, filter, nullptr, nullptr, nullptr, leaveOut);
  snapshot.root = root;

  progress.SetStatus(u"Collecting files...");
  progress.SetRange(counter.total);
  progress.ResetProgress();
  // The counting pass knows the lists' lengths: growing them by doubling
  // would move every path several times and leave up to half unused.
  snapshot.files.reserve(counter.files);
  snapshot.directories.reserve(counter.directories);
  CollectedFiles collected;
  collected.sizes.reserve(counter.files);
  if (computeFileIds == FileIds::Compute) {
    collected.ids.reserve(counter.files);
    collected.hashed.reserve(counter.files);
  }
  if (stamps != nullptr) {
    stamps->clear();
    stamps->reserve(counter.files);
  }
  collector.Collect(progress, snapshot, collected, stamps, order);

  // The collecting pass read every word already, and the small files; this
  // phase keeps its progress while the hashing threads start on the rest.
  std::optional<FileIdHasher> hasher;
  if (computeFileIds == FileIds::Compute) {
    hasher.emplace(progress, snapshot, std::move(collected.sizes), std::move(collected.ids),
                   std::move(collected.hashed), &threads);
  }
  progress.SetStatus(u"Getting File attributes...");
  progress.SetRange(counter.total);
  progress.ResetProgress();
  for (size_t i = snapshot.directories.size() + snapshot.files.size(); i > 0; --i) progress.Step();

  if (hasher) hasher->Finish(progress, snapshot, ids);
  return snapshot;
}

}  // namespace torquelin
