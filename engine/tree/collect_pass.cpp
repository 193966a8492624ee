// TreeCollector: directories are tasks; threads run them (open, list, look at
// every entry, hash the small files) and the job thread takes their results
// in walk order, running a task itself when no thread has started it yet.
#include "engine/tree/collect_pass.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

#include "engine/base/error_sites.h"
#include "engine/hash/sha1.h"
#include "engine/io/file_system.h"
#include "engine/tree/path_compare.h"
#include "engine/tree/walker.h"
#include "engine/tree/worker_threads.h"
#include "platform/directory_listing.h"
#include "platform/system_error.h"

namespace torquelin {

namespace {

constexpr char16_t kProcessing[] = u"Processing: ";

// Directories kept open for the tasks below them. Beyond this many, a
// directory is opened again from the nearest kept one, so a tree of any
// depth and width stays within the descriptor limit.
constexpr size_t kKeptListings = 128;

// Listed entries the threads may hold before the job thread has taken them:
// memory stays bounded whatever the tree.
constexpr size_t kEntriesAhead = 32768;

// A directory with more entries than this is looked at in runs of
// kShareRun by every thread free for it, so that one large directory does
// not keep the others waiting for one thread.
constexpr size_t kShareAbove = 2048;
constexpr size_t kShareRun = 1024;

// A directory kept open for the tasks below it; counted while it lives.
struct KeptListing {
  KeptListing(platform::DirectoryListing opened, std::atomic<size_t>& count)
      : listing(std::move(opened)), kept(count) {}
  ~KeptListing() { kept.fetch_sub(1, std::memory_order_relaxed); }
  KeptListing(const KeptListing&) = delete;
  KeptListing& operator=(const KeptListing&) = delete;

  platform::DirectoryListing listing;
  std::atomic<size_t>& kept;
};

enum class Use : uint8_t { Left, Ignored, Directory, File };

struct Entry {
  std::u16string path;
  Use use = Use::Left;
  bool hashed = false;
  uint32_t word = 0;
  uint32_t size = kUnknownSize;
  uint32_t index = 0;  // in the snapshot's list, once taken
  platform::EntryStamp stamp;
  FileId id;
};

// One directory. The thread that runs it writes everything below `state`;
// the job thread reads it once the state says Done (both under the mutex).
struct Task {
  // How to open it: `route` names the way down from `base`, or, with no
  // base, it is the root.
  std::shared_ptr<KeptListing> base;
  std::vector<std::string> route;
  std::u16string relPath;

  enum class State : uint8_t { Queued, Running, Done } state = State::Queued;

  std::vector<Entry> entries;
  std::vector<std::shared_ptr<Task>> children;  // one per Directory entry, in order
  // The directory's part of the lists' path order (see Sort).
  std::vector<uint32_t> fileItems;
  std::vector<uint32_t> directoryItems;
  // A name holds a '\\': no order from here. Set by any thread looking at
  // the entries.
  std::atomic<bool> unordered{false};
  bool failed = false;
  bool openFailed = false;    // the directory itself could not be opened
  uint32_t failure = 0;       // the code of the call that failed
  std::u16string failedName;  // the entry that failed, if it was one
  std::exception_ptr error;   // anything else the thread met
};

// Whether a + "\\" (when slashA) sorts before b + "\\" (when slashB), from
// unit `skip` on (both agree before it).
bool KeyLess(const std::u16string& a, bool slashA, const std::u16string& b, bool slashB,
             size_t skip) {
  const size_t n = std::min(a.size(), b.size());
  if (const size_t i = FirstDifference(a.data(), b.data(), skip, n); i < n) return a[i] < b[i];
  const auto unit = [](const std::u16string& s, bool slash, size_t i) -> int32_t {
    return i < s.size() ? s[i] : i == s.size() && slash ? u'\\' : -1;
  };
  for (size_t i = n;; ++i) {
    const int32_t x = unit(a, slashA, i);
    const int32_t y = unit(b, slashB, i);
    if (x != y) return x < y;
    if (x < 0) return false;
  }
}

// Items of a directory's part of the path order: an entry's position
// times two, plus one for what lies below a subdirectory.
constexpr uint32_t kBelow = 1;

}  // namespace

class TreeCollector::Work {
 public:
  // Runs on `shared`, or on `threads` threads of its own without it.
  Work(const std::u16string& root, const CIgnoreFilter& filter, bool readFiles,
       const LeftOutEntry* leaveOut, unsigned threads, WorkerThreads* shared)
      : root_(root),
        filter_(filter),
        readFiles_(readFiles),
        leaveOut_(leaveOut),
        top_(std::make_shared<Task>()),
        own_(shared == nullptr ? std::make_unique<WorkerThreads>(threads) : nullptr),
        threads_(shared == nullptr ? *own_ : *shared) {
    // With no thread running, the job thread runs every task itself.
    if (threads_.Count() == 0) return;
    queue_.push_back(top_);
    threads_.Start([this](unsigned) { Run(); });
  }

  ~Work() { Stop(); }

  Work(const Work&) = delete;
  Work& operator=(const Work&) = delete;

  void Collect(CProgressSink& progress, CDirSnapshot& snapshot, CollectedFiles& files,
               std::vector<platform::EntryStamp>* stamps, PathOrder* order) {
    progress_ = &progress;
    snapshot_ = &snapshot;
    files_ = &files;
    stamps_ = stamps;
    order_ = order;
    if (order_ != nullptr) *order_ = {};
    const std::shared_ptr<Task> top = std::move(top_);
    Take(top, 0);
    // Every task is taken: the threads are free for other work.
    Stop();
    if (order_ == nullptr) return;
    if (ordered_) {
      order_->files.reserve(snapshot.files.size());
      order_->directories.reserve(snapshot.directories.size());
      Emit(0, Listed::Files);
      Emit(0, Listed::Directories);
    } else {
      *order_ = {};
    }
    items_ = {};
    nodes_ = {};
  }

 private:
  // Per thread: the buffer small files are read into.
  struct Scratch {
    std::vector<uint8_t> buffer = std::vector<uint8_t>(kCollectReadLimit + 1);
    std::vector<platform::ListedEntry> listed;
    std::u16string matched;
  };

  // Tells the threads to leave Run and waits until they have; once only,
  // as shared threads may have other work by the next call.
  void Stop() {
    if (stopped_) return;
    stopped_ = true;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_.store(true);
    }
    workReady_.notify_all();
    threads_.Wait();
  }

  // A thread's loop, the mutex held between pieces of work.
  void Run() {
    Scratch scratch;
    std::unique_lock<std::mutex> lock(mutex_);
    while (WaitForWork(lock)) {
      // A directory already begun goes first: the job thread waits for it.
      if (!shared_.empty()) {
        LookAtNextRun(lock, scratch);
      } else {
        RunNextQueued(lock, scratch);
      }
    }
  }

  // Sleeps until there is a run to look at, or a directory to start while
  // the threads are not too far ahead; false once stopped.
  bool WaitForWork(std::unique_lock<std::mutex>& lock) {
    while (!stop_.load() && shared_.empty() && (queue_.empty() || ahead_ >= kEntriesAhead)) {
      ++idle_;
      workReady_.wait(lock);
      --idle_;
    }
    return !stop_.load();
  }

  // Looks at the next run of the first directory shared out.
  void LookAtNextRun(std::unique_lock<std::mutex>& lock, Scratch& scratch) {
    const std::shared_ptr<Shared> shared = shared_.front();
    const size_t run = shared->next++;
    if (shared->next == shared->runs) shared_.pop_front();
    lock.unlock();
    const bool last = RunShare(*shared, run, scratch);
    lock.lock();
    if (last) Finished(*shared->task, lock);
  }

  // Runs the next queued directory, unless the job thread took it first;
  // a large one is shared out rather than finished here.
  void RunNextQueued(std::unique_lock<std::mutex>& lock, Scratch& scratch) {
    const std::shared_ptr<Task> task = std::move(queue_.front());
    queue_.pop_front();
    if (task->state != Task::State::Queued) return;
    task->state = Task::State::Running;
    lock.unlock();
    std::shared_ptr<Shared> shared;
    RunTask(task, scratch, &shared);
    lock.lock();
    if (shared == nullptr) {
      Finished(*task, lock);
    } else {
      shared_.push_back(std::move(shared));
      if (idle_ > 0) workReady_.notify_all();
    }
  }

  // A large directory whose entries several threads look at: run r covers
  // entries [r * kShareRun, (r + 1) * kShareRun). The thread that ends the
  // last run finishes the task.
  struct Shared {
    std::shared_ptr<Task> task;
    platform::DirectoryListing listing;
    std::vector<platform::ListedEntry> listed;
    size_t runs = 0;
    size_t next = 0;  // the next run to take (under the collector's mutex)
    std::atomic<size_t> left{0};
    std::mutex failure;  // guards the three below
    size_t failedAt = SIZE_MAX;
    uint32_t code = 0;
    std::exception_ptr error;
  };

  // Looks at one run; true when it was the last and the task is finished.
  bool RunShare(Shared& shared, size_t run, Scratch& scratch) {
    LookAtRun(shared, run, scratch);
    if (shared.left.fetch_sub(1, std::memory_order_acq_rel) != 1) return false;
    ConcludeShared(shared);
    return true;
  }

  // Looks at one run, keeping its failure when it comes before any other
  // run's in list order.
  void LookAtRun(Shared& shared, size_t run, Scratch& scratch) {
    const size_t begin = run * kShareRun;
    const size_t end = std::min(shared.listed.size(), begin + kShareRun);
    try {
      size_t failedAt = 0;
      const platform::Status looked =
          LookAtRange(*shared.task, shared.listing, shared.listed, begin, end, scratch, failedAt);
      if (!looked) {
        std::lock_guard<std::mutex> lock(shared.failure);
        if (failedAt < shared.failedAt) {
          shared.failedAt = failedAt;
          shared.code = looked.error();
        }
      }
    } catch (...) {
      std::lock_guard<std::mutex> lock(shared.failure);
      if (!shared.error) shared.error = std::current_exception();
    }
  }

  // Every run is in: the first failure in list order is the directory's.
  void ConcludeShared(Shared& shared) {
    Task& task = *shared.task;
    try {
      if (shared.error) {
        task.error = shared.error;
      } else if (shared.failedAt != SIZE_MAX) {
        Fail(task, shared.code, std::move(shared.listed[shared.failedAt].name));
      } else {
        Settle(task, shared.listing, shared.listed);
      }
    } catch (...) {
      KeepError(task);
    }
    LetGoOfWayIn(task);
  }

  // Marks a task done, counts its entries as held and queues its children
  // first, so that the threads go on in about walk order.
  void Finished(Task& task, std::unique_lock<std::mutex>& lock) {
    task.state = Task::State::Done;
    ahead_ += task.entries.size();
    for (auto child = task.children.rbegin(); child != task.children.rend(); ++child) {
      queue_.push_front(*child);
    }
    const bool wakeJob = waitingFor_ == &task;
    const bool wakeThreads = !task.children.empty() && idle_ > 0;
    lock.unlock();
    if (wakeJob) resultReady_.notify_one();
    if (wakeThreads) workReady_.notify_all();
    lock.lock();
  }

  // Opens, lists and looks at one directory. Never throws: what goes wrong
  // is kept in the task for the job thread to raise in walk order. With
  // `shared`, a large directory may be left there for the threads to look
  // at together (see Shared), the task still running.
  void RunTask(const std::shared_ptr<Task>& owner, Scratch& scratch,
               std::shared_ptr<Shared>* shared = nullptr) {
    Task& task = *owner;
    try {
      platform::DirectoryListing listing;
      std::vector<platform::ListedEntry>& listed = scratch.listed;
      if (!List(task, listing, listed)) {
        // The task holds the failure.
      } else if (shared != nullptr && listed.size() > kShareAbove) {
        *shared = ShareOut(owner, std::move(listing), listed);
        return;
      } else {
        LookAtAll(task, listing, listed, scratch);
      }
    } catch (...) {
      KeepError(task);
    }
    LetGoOfWayIn(task);
  }

  // Opens the directory and lists its names; false, the failure kept in
  // the task, when either fails.
  bool List(Task& task, platform::DirectoryListing& listing,
            std::vector<platform::ListedEntry>& listed) {
    platform::Status looked = Open(task, listing);
    task.openFailed = !looked;
    if (looked) looked = listing.ListNames(listed);
    if (!looked) Fail(task, looked.error(), {});
    return static_cast<bool>(looked);
  }

  platform::Status Open(const Task& task, platform::DirectoryListing& listing) {
    if (task.base == nullptr) return listing.OpenRoot(root_);
    return listing.OpenRoute(task.base->listing, task.route);
  }

  // Leaves a large directory's entries to be looked at in runs (see Shared).
  std::shared_ptr<Shared> ShareOut(const std::shared_ptr<Task>& owner,
                                   platform::DirectoryListing listing,
                                   std::vector<platform::ListedEntry>& listed) {
    owner->entries.resize(listed.size());
    const auto shared = std::make_shared<Shared>();
    shared->task = owner;
    shared->listing = std::move(listing);
    shared->listed = std::move(listed);
    shared->runs = (shared->listed.size() + kShareRun - 1) / kShareRun;
    shared->left.store(shared->runs);
    return shared;
  }

  // Looks at every entry of a directory on this thread.
  void LookAtAll(Task& task, platform::DirectoryListing& listing,
                 std::vector<platform::ListedEntry>& listed, Scratch& scratch) {
    size_t failedAt = 0;
    const platform::Status looked =
        LookAtRange(task, listing, listed, 0, listed.size(), scratch, failedAt);
    if (!looked) {
      Fail(task, looked.error(), std::move(listed[failedAt].name));
      return;
    }
    Settle(task, listing, listed);
  }

  // The call that failed, and the entry it failed on (empty: the directory).
  static void Fail(Task& task, uint32_t code, std::u16string name) {
    task.failed = true;
    task.failure = code;
    task.failedName = std::move(name);
  }

  // What else went wrong; no child is run then.
  static void KeepError(Task& task) {
    task.error = std::current_exception();
    task.children.clear();
  }

  // Once a task is run, the way to its directory is needed no more.
  static void LetGoOfWayIn(Task& task) {
    task.base.reset();
    task.route.clear();
  }

  // Every entry looked at without failure: the children get their tasks
  // and their way in.
  void Settle(Task& task, platform::DirectoryListing& listing,
              std::vector<platform::ListedEntry>& listed) {
    Conclude(task, listed);
    if (!task.children.empty()) Hand(task, std::move(listing));
  }

  // Looks at entries [begin, end) of the listing (task.entries as long as
  // `listed`); fails at the first that cannot be looked at, its position in
  // `failedAt`.
  platform::Status LookAtRange(Task& task, const platform::DirectoryListing& listing,
                               std::vector<platform::ListedEntry>& listed, size_t begin, size_t end,
                               Scratch& scratch, size_t& failedAt) {
    if (task.entries.size() != listed.size()) task.entries.resize(listed.size());
    for (size_t i = begin; i < end; ++i) {
      if (stop_.load(std::memory_order_relaxed)) return {};
      if (const platform::Status looked =
              LookAtEntry(task, listing, listed[i], task.entries[i], scratch);
          !looked) {
        failedAt = i;
        return looked;
      }
    }
    return {};
  }

  // Finds what one entry is to the scan: left out, ignored, a directory,
  // or a file, whose content is read and hashed in the same open when it
  // is small and asked for.
  platform::Status LookAtEntry(Task& task, const platform::DirectoryListing& listing,
                               platform::ListedEntry& found, Entry& entry, Scratch& scratch) {
    entry.path.reserve(task.relPath.size() + 1 + found.name.size());
    entry.path.assign(task.relPath).append(1, u'\\').append(found.name);
    // The left-out entry is known by the node it is, so one of its name is
    // only decided once looked at (and then not read on the way).
    const bool maybeLeftOut =
        task.relPath.empty() && leaveOut_ != nullptr && found.name == leaveOut_->name;
    const bool ignored = !maybeLeftOut && filter_.Match(entry.path, scratch.matched);
    int64_t content = -1;
    const bool read = readFiles_ && !maybeLeftOut && !ignored;
    const platform::Status looked =
        listing.LookAt(found, read ? scratch.buffer.data() : nullptr, kCollectReadLimit, content);
    if (!looked) return looked;
    if (maybeLeftOut && IsLeftOut(found)) return {};
    if (ignored || (maybeLeftOut && filter_.Match(entry.path, scratch.matched))) {
      entry.use = Use::Ignored;
      return {};
    }
    entry.word = found.word;
    if (found.name.find(u'\\') != std::u16string::npos) {
      task.unordered.store(true, std::memory_order_relaxed);
    }
    if (found.kind == platform::EntryKind::Directory) {
      entry.use = Use::Directory;
      return {};
    }
    entry.use = Use::File;
    entry.size = found.size >= 0 && found.size < kUnknownSize ? static_cast<uint32_t>(found.size)
                                                              : kUnknownSize;
    entry.stamp = found.stamp;
    if (content >= 0) Hash(scratch.buffer.data(), static_cast<uint32_t>(content), entry);
    return {};
  }

  // Whether the entry of the left-out name is the left-out node itself.
  bool IsLeftOut(const platform::ListedEntry& found) const {
    return found.kind == platform::EntryKind::Other && found.stamp.device == leaveOut_->id.device &&
           found.stamp.inode == leaveOut_->id.inode;
  }

  // A small file's id, from the content read with its stat.
  static void Hash(const uint8_t* content, uint32_t length, Entry& entry) {
    Sha1Context context;
    Sha1Init(context);
    Sha1Update(context, content, length);
    Sha1Final(entry.id.data(), context);
    entry.hashed = true;
  }

  // Once every entry was looked at: the directory's part of the path order
  // and a task for each subdirectory.
  void Conclude(Task& task, std::vector<platform::ListedEntry>& listed) {
    Sort(task);
    for (size_t i = 0; i < listed.size(); ++i) {
      if (task.entries[i].use != Use::Directory) continue;
      const auto child = std::make_shared<Task>();
      child->relPath = task.entries[i].path;
      child->route.push_back(std::move(listed[i].nativeName));
      task.children.push_back(child);
    }
  }

  // A directory's part of the path order. Names hold no '\\', so among the
  // paths below a directory, the files sort as its own files by name and
  // each subdirectory's files as a block keyed by its name + '\\'; the
  // directories alike, each subdirectory by its name, what lies below it by
  // its name + '\\'. Walking these lists from the top gives the whole sorted
  // lists without comparing paths of different directories.
  void Sort(Task& task) {
    const size_t skip = task.relPath.size() + 1;
    const auto less = [&](uint32_t x, uint32_t y) {
      return KeyLess(task.entries[x >> 1].path, (x & kBelow) != 0, task.entries[y >> 1].path,
                     (y & kBelow) != 0, skip);
    };
    for (uint32_t i = 0; i < task.entries.size(); ++i) {
      if (task.entries[i].use == Use::File) task.fileItems.push_back(2 * i);
      if (task.entries[i].use != Use::Directory) continue;
      task.fileItems.push_back(2 * i + kBelow);
      task.directoryItems.push_back(2 * i);
      task.directoryItems.push_back(2 * i + kBelow);
    }
    std::sort(task.fileItems.begin(), task.fileItems.end(), less);
    std::sort(task.directoryItems.begin(), task.directoryItems.end(), less);
  }

  // Gives the children their way in: this directory itself while few are
  // kept open, else the way this one came by, one name longer.
  void Hand(Task& task, platform::DirectoryListing listing) {
    // The root has no way in but its path: always kept.
    if (kept_.fetch_add(1, std::memory_order_relaxed) < kKeptListings || task.base == nullptr) {
      const auto kept = std::make_shared<KeptListing>(std::move(listing), kept_);
      for (const std::shared_ptr<Task>& child : task.children) child->base = kept;
      return;
    }
    kept_.fetch_sub(1, std::memory_order_relaxed);
    for (const std::shared_ptr<Task>& child : task.children) {
      std::string name = std::move(child->route.back());
      child->route = task.route;
      child->route.push_back(std::move(name));
      child->base = task.base;
    }
  }

  // Waits for the task, or runs it when no thread has started it, and
  // raises what it met.
  void Await(const std::shared_ptr<Task>& owner) {
    RunOrWaitFor(owner);
    const Task& task = *owner;
    if (task.error) std::rethrow_exception(task.error);
    if (task.failed) RaiseFailure(task);
  }

  void RunOrWaitFor(const std::shared_ptr<Task>& owner) {
    Task& task = *owner;
    std::unique_lock<std::mutex> lock(mutex_);
    if (task.state == Task::State::Queued) {
      task.state = Task::State::Running;
      lock.unlock();
      RunTask(owner, jobScratch_);
      lock.lock();
      // Left in the queue; the threads pass over it.
      Finished(task, lock);
      if (threads_.Count() == 0) queue_.clear();
    } else if (task.state != Task::State::Done) {
      waitingFor_ = &task;
      resultReady_.wait(lock, [&] { return task.state == Task::State::Done; });
      waitingFor_ = nullptr;
    }
  }

  // The error a walk meets at this directory: the root that cannot be
  // opened, an entry or directory gone, or a directory that cannot be read.
  [[noreturn]] void RaiseFailure(const Task& task) const {
    const std::u16string directory = JoinPath(root_, task.relPath);
    if (task.relPath.empty() && task.openFailed) {
      Raise(site::kWalkUnlistable, directory, task.failure);
    }
    if (platform::IsMissingEntry(task.failure)) {
      Raise(site::kWalkVanished,
            task.failedName.empty() ? directory : directory + u"\\" + task.failedName,
            task.failure);
    }
    Raise(site::kWalkUnlistable, directory, task.failure);
  }

  // Puts one directory's entries into the snapshot in walk order, going
  // down into each subdirectory where it stands.
  void Take(const std::shared_ptr<Task>& owner, uint32_t node) {
    Task& task = *owner;
    Await(owner);
    // Counted as held only until the job thread starts on them: the entries
    // of the directories it is inside stay, as on any walk.
    Release(task.entries.size());
    Merge(task);
    size_t child = 0;
    for (Entry& entry : task.entries) {
      switch (entry.use) {
        case Use::Left:
          break;
        case Use::Ignored:
          snapshot_->ignored.push_back(std::move(entry.path));
          break;
        case Use::Directory: {
          AddDirectory(entry);
          std::shared_ptr<Task> below = std::move(task.children[child++]);
          Take(below, entry.index + 1);
          break;
        }
        case Use::File:
          AddFile(entry);
          break;
      }
    }
    if (order_ != nullptr) Place(task, node);
    task.entries = {};
  }

  void AddDirectory(Entry& entry) {
    entry.index = static_cast<uint32_t>(snapshot_->directories.size());
    if (order_ != nullptr) order_->directoryWords.push_back(entry.word);
    snapshot_->directories.push_back(std::move(entry.path));
    progress_->Step();
    detail_.assign(kProcessing).append(snapshot_->directories.back());
    progress_->SetDetail(detail_);
  }

  void AddFile(Entry& entry) {
    entry.index = static_cast<uint32_t>(snapshot_->files.size());
    if (order_ != nullptr) order_->fileWords.push_back(entry.word);
    snapshot_->files.push_back(std::move(entry.path));
    progress_->Step();
    files_->sizes.push_back(entry.size);
    if (stamps_ != nullptr) stamps_->push_back(entry.stamp);
    if (readFiles_) {
      files_->ids.push_back(entry.id);
      files_->hashed.push_back(entry.hashed);
    }
  }

  void Release(size_t entries) {
    std::lock_guard<std::mutex> lock(mutex_);
    ahead_ -= entries;
    if (idle_ > 0 && ahead_ < kEntriesAhead && !queue_.empty()) workReady_.notify_all();
  }

  // Keeps the directory's part of the path order with the lists' positions
  // of its entries: node 0 is the top, node d + 1 directory d.
  void Place(const Task& task, uint32_t node) {
    if (task.unordered.load(std::memory_order_relaxed)) ordered_ = false;
    if (!ordered_) return;
    if (nodes_.size() <= node) nodes_.resize(node + 1);
    Node& placed = nodes_[node];
    const auto add = [&](const std::vector<uint32_t>& items) {
      for (const uint32_t item : items) {
        const Entry& entry = task.entries[item >> 1];
        items_.push_back((item & kBelow) != 0 ? kNodeFlag | (entry.index + 1) : entry.index);
      }
    };
    placed.files = static_cast<uint32_t>(items_.size());
    add(task.fileItems);
    placed.directories = static_cast<uint32_t>(items_.size());
    add(task.directoryItems);
    placed.end = static_cast<uint32_t>(items_.size());
  }

  // Appends the sorted positions of the files (or directories) below node.
  enum class Listed { Files, Directories };
  void Emit(uint32_t node, Listed listed) {
    const bool files = listed == Listed::Files;
    const Node& at = nodes_[node];
    std::vector<uint32_t>& out = files ? order_->files : order_->directories;
    for (uint32_t k = files ? at.files : at.directories; k < (files ? at.directories : at.end);
         ++k) {
      const uint32_t item = items_[k];
      if ((item & kNodeFlag) != 0) {
        Emit(item & ~kNodeFlag, listed);
      } else {
        out.push_back(item);
      }
    }
  }

  // A directory's words are one run in the snapshot's map (no key there
  // falls between two of them yet: any such key lies below the directory),
  // so in sorted order each goes in next to the one before without a
  // search. Its files' order is that order but for subdirectories, whose
  // words (in the wrong place) are found by a search.
  void Merge(const Task& task) {
    AttributeMap& all = snapshot_->attributes;
    auto hint = all.end();
    for (const uint32_t item : task.fileItems) {
      const Entry& entry = task.entries[item >> 1];
      hint = std::next(all.insert_or_assign(hint, entry.path, entry.word));
    }
  }

  const std::u16string root_;
  const CIgnoreFilter& filter_;
  const bool readFiles_;
  const LeftOutEntry* leaveOut_;
  std::shared_ptr<Task> top_;
  CProgressSink* progress_ = nullptr;
  CDirSnapshot* snapshot_ = nullptr;
  CollectedFiles* files_ = nullptr;
  std::vector<platform::EntryStamp>* stamps_ = nullptr;
  PathOrder* order_ = nullptr;
  // The path order's parts (see Place), by node; items_ holds them all.
  struct Node {
    uint32_t files = 0;
    uint32_t directories = 0;
    uint32_t end = 0;
  };
  static constexpr uint32_t kNodeFlag = 0x80000000;
  std::vector<Node> nodes_;
  std::vector<uint32_t> items_;
  bool ordered_ = true;
  Scratch jobScratch_;
  std::u16string detail_;

  std::mutex mutex_;
  std::condition_variable workReady_;    // a task was queued, or room made
  std::condition_variable resultReady_;  // the task the job thread waits for is done
  std::deque<std::shared_ptr<Task>> queue_;
  std::deque<std::shared_ptr<Shared>> shared_;  // with runs left to take
  size_t ahead_ = 0;                            // entries of done tasks not taken yet
  unsigned idle_ = 0;
  const Task* waitingFor_ = nullptr;
  std::atomic<bool> stop_{false};
  std::atomic<size_t> kept_{0};
  std::unique_ptr<WorkerThreads> own_;
  WorkerThreads& threads_;
  bool stopped_ = false;  // the job thread's: Stop has run
};

unsigned ScanThreadCount() {
  const unsigned threads = FileIdThreadCount();
  return threads > 1 ? threads : 0;
}

TreeCollector::TreeCollector(const std::u16string& root, const CIgnoreFilter& filter,
                             bool readFiles, const LeftOutEntry* leaveOut, WorkerThreads* threads) {
  work_ = std::make_unique<Work>(root, filter, readFiles, leaveOut, ScanThreadCount(), threads);
}

TreeCollector::~TreeCollector() = default;

void TreeCollector::Collect(CProgressSink& progress, CDirSnapshot& snapshot, CollectedFiles& files,
                            std::vector<platform::EntryStamp>* stamps, PathOrder* order) {
  work_->Collect(progress, snapshot, files, stamps, order);
}

}  // namespace torquelin
