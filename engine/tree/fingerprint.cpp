// ComputeFileIds, with the threads that hash files side by side, and
// ComputeFingerprint.
#include "engine/tree/fingerprint.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/base/silent_sink.h"
#include "engine/hash/sha1.h"
#include "engine/io/file_system.h"
#include "engine/tree/ordered_lookup.h"
#include "engine/tree/path_compare.h"
#include "engine/tree/worker_threads.h"
#include "platform/encoding.h"
#include "platform/files.h"

namespace torquelin {

namespace {

// 0: not set by SetFileIdThreadCount.
std::atomic<unsigned> gThreadCount{0};

// More threads than this gain nothing once reading memory is the limit, and
// each costs a scratch buffer.
constexpr unsigned kMaxDefaultThreads = 8;

void DigestFile(CProgressSink& bufferOwner, const std::u16string& fullPath, Sha1Digest digest) {
  Sha1Context context;
  Sha1Init(context);
  DigestFileContent(bufferOwner, fullPath, context);
  Sha1Final(digest, context);
}

// Reads the small files of a tree at the cost of three system calls each:
// an open relative to the file's directory (kept open while the files of
// one directory follow each other, so the kernel does not resolve the
// whole path every time), one read of the listed length plus one byte, and
// the close. The walk's stat stands in for the one an open would make.
class SmallFileReader {
 public:
  // True, with the digest, when the file held exactly `size` bytes. False
  // when it is no small regular file of that length now, or cannot be read
  // this way: the caller reads it the general way, which raises what the
  // file deserves.
  bool Digest(CProgressSink& bufferOwner, const std::u16string& root, const std::u16string& relPath,
              uint32_t size, Sha1Digest digest) {
    if (size == kUnknownSize || size >= bufferOwner.GetBufferSize()) return false;
    const size_t slash = relPath.rfind(u'\\');
    if (slash == std::u16string::npos) return false;
    const std::u16string_view parent(relPath.data(), slash);
    if (!directory_.IsOpen() || parent != parent_) {
      directory_.Close();
      parent_.assign(parent);
      platform::Result<platform::FileHandle> opened =
          platform::OpenDirectoryForLookup(JoinPath(root, parent_));
      if (!opened) return false;
      directory_ = std::move(*opened);
    }
    name_ = platform::NameToNative(std::u16string_view(relPath).substr(slash + 1));
    const platform::Result<platform::FileHandle> file = platform::OpenEntryAt(directory_, name_);
    if (!file) return false;
    uint8_t* buffer = bufferOwner.GetBuffer();
    // The byte past the listed length tells a file that grew since.
    const platform::Result<uint64_t> got = file->ReadOnce(buffer, uint64_t{size} + 1);
    if (!got || *got != size) return false;
    Sha1Context context;
    Sha1Init(context);
    Sha1Update(context, buffer, size);
    Sha1Final(digest, context);
    return true;
  }

 private:
  std::u16string parent_;  // relative path of the open directory
  platform::FileHandle directory_;
  std::string name_;
};

// The id of file `index`, read the quick way when the walk's length allows.
void DigestListed(CProgressSink& bufferOwner, SmallFileReader& reader, const CDirSnapshot& snapshot,
                  const std::vector<uint32_t>& sizes, size_t index, std::u16string& fullPath,
                  Sha1Digest digest) {
  const std::u16string& path = snapshot.files[index];
  const uint32_t size = index < sizes.size() ? sizes[index] : kUnknownSize;
  if (reader.Digest(bufferOwner, snapshot.root, path, size, digest)) return;
  fullPath.assign(snapshot.root).append(path);
  DigestFile(bufferOwner, fullPath, digest);
}

}  // namespace

// Hashes the snapshot's files on a few threads, each file once, taking them
// in walk order and running at most kWindow files ahead of the job thread,
// which collects the digests in that same order. Every thread has one
// buffer for the whole run; the first borrows the sink's. The threads are
// the scan's when it hands them over, else its own. The destructor stops
// the work and waits for it, so an exception leaving the job thread's loop
// never leaves a thread busy: files being read are read to their end
// (reading a file is never interrupted), finished digests are dropped,
// nothing new is started.
class FileIdHasher::Pool {
 public:
  // Reads the files `pending` names (every file when it is empty and all),
  // on at most `threads` of `shared`, or of threads of its own without it.
  Pool(CProgressSink& progress, const CDirSnapshot& snapshot, const std::vector<uint32_t>& sizes,
       const std::vector<uint32_t>& pending, bool all, unsigned threads, WorkerThreads* shared)
      : snapshot_(snapshot),
        sizes_(sizes),
        pending_(pending),
        all_(all),
        count_(all ? snapshot.files.size() : pending.size()),
        slots_(kWindow),
        own_(shared == nullptr ? std::make_unique<WorkerThreads>(threads) : nullptr),
        threads_(shared == nullptr ? *own_ : *shared) {
    // With none running, the caller hashes on its own thread.
    const unsigned working = std::min(threads, threads_.Count());
    if (working == 0) return;
    const uint32_t size = progress.GetBufferSize();
    lenders_.reserve(working);
    lenders_.emplace_back(progress.GetBuffer(), size);
    buffers_.reserve(working - 1);
    for (unsigned t = 1; t < working; ++t) {
      buffers_.push_back(std::make_unique_for_overwrite<uint8_t[]>(size));
      lenders_.emplace_back(buffers_.back().get(), size);
    }
    threads_.Start([this](unsigned t) {
      if (t < lenders_.size()) Work(lenders_[t]);
    });
  }

  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    workReady_.notify_all();
    threads_.Wait();
  }

  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  bool Running() const { return !lenders_.empty(); }

  // The digest of the index-th file it reads, to be asked for in walk
  // order, each once.
  // Rethrows what reading that file raised.
  void Take(size_t index, Sha1Digest digest) {
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = slots_[index % kWindow];
    if (!slot.done) {
      // Woken for every file, the job thread would take a core from a
      // hashing thread each time and contend with it for the mutex; it
      // sleeps until a run of files is in instead. The run lies inside the
      // window, so the threads reach its end without waiting for a Take.
      waitEnd_ = std::min(index + kRun, count_);
      missing_ = 0;
      for (size_t i = index; i < waitEnd_; ++i) missing_ += slots_[i % kWindow].done ? 0 : 1;
      resultReady_.wait(lock, [&] { return missing_ == 0; });
      waitEnd_ = 0;
    }
    slot.done = false;
    taken_ = index + 1;
    const std::exception_ptr error = std::move(slot.error);
    slot.error = nullptr;
    std::memcpy(digest, slot.digest, sizeof slot.digest);
    // Waking costs a system call per file; only a thread that ran out of
    // window is asleep and needs it.
    const bool wake = idle_ > 0;
    lock.unlock();
    if (wake) workReady_.notify_one();
    if (error) std::rethrow_exception(error);
  }

 private:
  // Digests and errors waiting to be taken. Memory does not grow with the
  // tree (about 40 bytes a slot); a wide window keeps the threads busy past
  // a large file that holds up the job thread, and while the job thread
  // reads the attributes before it starts taking digests.
  static constexpr size_t kWindow = 4096;
  // Files the job thread waits for at once when it has caught up.
  static constexpr size_t kRun = 64;
  static_assert(kRun <= kWindow);
  // A thread takes a run of files at once, so that the mutex is taken per
  // run rather than per file, but stops before a run holds much content:
  // the files after a large one would wait for it.
  static constexpr size_t kBatchFiles = 32;
  static constexpr uint64_t kBatchBytes = 256 * 1024;

  struct Finished {
    Sha1Digest digest;
    std::exception_ptr error;
  };

  struct Slot {
    bool done = false;
    Sha1Digest digest;
    std::exception_ptr error;
  };

  // The end of the run of files a thread takes from `first` on.
  size_t BatchEnd(size_t first) const {
    const size_t limit = std::min({count_, taken_ + kWindow, first + kBatchFiles});
    size_t end = first;
    uint64_t bytes = 0;
    while (end < limit) {
      const size_t file = FileAt(end);
      const uint32_t size = file < sizes_.size() ? sizes_[file] : kUnknownSize;
      bytes += size == kUnknownSize ? kBatchBytes : size;
      if (end > first && bytes > kBatchBytes) break;
      ++end;
    }
    return end;
  }

  void Work(CProgressSink& lender) {
    std::u16string fullPath;
    SmallFileReader reader;
    std::vector<Finished> finished(kBatchFiles);
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      if (!stop_ && next_ < count_ && next_ >= taken_ + kWindow) {
        ++idle_;
        workReady_.wait(lock, [&] { return stop_ || next_ < taken_ + kWindow; });
        --idle_;
      }
      if (stop_ || next_ >= count_) return;
      const size_t first = next_;
      const size_t end = BatchEnd(first);
      next_ = end;
      lock.unlock();
      for (size_t index = first; index < end; ++index) {
        Finished& done = finished[index - first];
        try {
          DigestListed(lender, reader, snapshot_, sizes_, FileAt(index), fullPath, done.digest);
        } catch (...) {
          done.error = std::current_exception();
        }
      }
      lock.lock();
      bool wake = false;
      for (size_t index = first; index < end; ++index) {
        Finished& done = finished[index - first];
        Slot& slot = slots_[index % kWindow];
        std::memcpy(slot.digest, done.digest, sizeof done.digest);
        slot.error = std::move(done.error);
        done.error = nullptr;
        slot.done = true;
        // Files before the job thread's run were all taken, so any file
        // that finishes below its end belongs to the run.
        if (index < waitEnd_ && --missing_ == 0) wake = true;
      }
      if (wake) {
        // Unlocked first, so that the job thread does not wake into a held
        // mutex.
        lock.unlock();
        resultReady_.notify_one();
        lock.lock();
      }
    }
  }

  size_t FileAt(size_t index) const { return all_ ? index : pending_[index]; }

  const CDirSnapshot& snapshot_;
  const std::vector<uint32_t>& sizes_;
  const std::vector<uint32_t>& pending_;
  const bool all_;
  const size_t count_;  // files to read
  std::mutex mutex_;
  std::condition_variable workReady_;    // a hashing thread may go on
  std::condition_variable resultReady_;  // the digest the job waits for is in
  std::vector<Slot> slots_;              // file i in slot i % kWindow
  size_t next_ = 0;                      // the next file a thread takes
  size_t taken_ = 0;                     // files the job thread has collected
  size_t waitEnd_ = 0;                   // end of the run the job thread waits for
  size_t missing_ = 0;                   // files of that run not done yet
  unsigned idle_ = 0;                    // threads waiting for window
  bool stop_ = false;
  std::vector<std::unique_ptr<uint8_t[]>> buffers_;
  // Each thread reads files through its own silent sink, which lends it one
  // of these buffers; reading a file asks a sink for nothing but the buffer.
  std::vector<CSilentSink> lenders_;
  std::unique_ptr<WorkerThreads> own_;
  WorkerThreads& threads_;
};

void SetFileIdThreadCount(unsigned count) { gThreadCount.store(count); }

unsigned FileIdThreadCount() {
  if (const unsigned set = gThreadCount.load(); set != 0) return set;
  if (const char* text = std::getenv("TORQUELIN_HASH_THREADS")) {
    const long value = std::strtol(text, nullptr, 10);
    if (value > 0) return static_cast<unsigned>(std::min<long>(value, 256));
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores, 1u, kMaxDefaultThreads);
}

FileIdHasher::FileIdHasher(CProgressSink& progress, const CDirSnapshot& snapshot,
                           std::vector<uint32_t> sizes)
    : FileIdHasher(progress, snapshot, std::move(sizes), {}, {}) {}

FileIdHasher::FileIdHasher(CProgressSink& progress, const CDirSnapshot& snapshot,
                           std::vector<uint32_t> sizes, std::vector<FileId> known,
                           std::vector<bool> hashed, WorkerThreads* threads)
    : sizes_(std::move(sizes)), known_(std::move(known)), hashed_(std::move(hashed)) {
  const bool all = hashed_.empty();
  if (!all) {
    for (size_t i = 0; i < hashed_.size(); ++i) {
      if (!hashed_[i]) pending_.push_back(static_cast<uint32_t>(i));
    }
  }
  const size_t count = all ? snapshot.files.size() : pending_.size();
  if (const unsigned wanted = FileIdThreadCount(); wanted > 1 && count > 1) {
    pool_ = std::make_unique<Pool>(progress, snapshot, sizes_, pending_, all,
                                   static_cast<unsigned>(std::min<size_t>(wanted, count)), threads);
    if (!pool_->Running()) pool_.reset();
  }
}

FileIdHasher::~FileIdHasher() = default;

void FileIdHasher::Finish(CProgressSink& progress, CDirSnapshot& snapshot,
                          std::vector<FileId>* ids) {
  progress.SetStatus(u"Calculating file ids...");
  progress.SetRange(static_cast<uint32_t>(snapshot.files.size()));
  progress.ResetProgress();
  const size_t count = snapshot.files.size();
  // Reused for every file so that the loop allocates only what the id map
  // itself needs.
  std::u16string detail;
  std::u16string fullPath;
  SmallFileReader reader;
  Sha1Digest digest;
  // The known ids become the list handed back, filled in where missing.
  const bool inPlace = ids != nullptr && ids->empty() && known_.size() == count;
  if (inPlace) {
    ids->swap(known_);
  } else if (ids != nullptr) {
    ids->reserve(ids->size() + count);
  }
  const std::vector<FileId>& known = inPlace ? *ids : known_;
  // The walk's lengths, where it listed them, are the bytes to read.
  const auto lengthOf = [&](size_t file) -> uint64_t {
    const bool listed = file < sizes_.size() && sizes_[file] != kUnknownSize;
    const bool isKnown = file < hashed_.size() && hashed_[file];
    return listed && !isKnown ? sizes_[file] : 0;
  };
  uint64_t bytes = 0;
  for (size_t file = 0; file < sizes_.size(); ++file) bytes += lengthOf(file);
  if (bytes != 0) progress.SetByteRange(bytes);
  size_t read = 0;
  size_t i = 0;
  try {
    for (; i < count; ++i) {
      const std::u16string& path = snapshot.files[i];
      detail.assign(u"Processing: ").append(path);
      progress.SetDetail(detail);
      const bool isKnown = i < hashed_.size() && hashed_[i];
      if (isKnown) {
        std::memcpy(digest, known[i].data(), sizeof digest);
      } else if (pool_) {
        pool_->Take(read++, digest);
      } else {
        DigestListed(progress, reader, snapshot, sizes_, i, fullPath, digest);
      }
      if (inPlace) {
        std::memcpy((*ids)[i].data(), digest, sizeof digest);
      } else if (ids != nullptr) {
        ids->emplace_back();
        std::memcpy(ids->back().data(), digest, sizeof digest);
      } else {
        snapshot.fileIds.insert_or_assign(path, DigestToHex(digest));
      }
      if (bytes != 0) progress.AddBytes(lengthOf(i));
      progress.Step();
    }
  } catch (...) {
    // No id past the file that failed, as when they are appended.
    if (inPlace) ids->resize(i);
    throw;
  }
  pool_.reset();
  sizes_ = {};
  known_ = {};
  hashed_ = {};
  pending_ = {};
}

void ComputeFileIds(CProgressSink& progress, CDirSnapshot& snapshot) {
  FileIdHasher hasher(progress, snapshot);
  hasher.Finish(progress, snapshot);
}

namespace {

// Puts each list's element order[j] at j for every j, following the
// permutation's cycles, so that no second copy of a list is needed.
template <class... Lists>
void Permute(std::vector<uint32_t>& order, Lists&... lists) {
  for (uint32_t i = 0; i < order.size(); ++i) {
    uint32_t j = i;
    while (order[j] != i) {
      const uint32_t k = order[j];
      (std::swap(lists[j], lists[k]), ...);
      order[j] = j;
      j = k;
    }
    order[j] = j;
  }
}

// The bytes the fingerprint hashes, gathered so that SHA-1 gets whole
// blocks rather than one short piece per entry.
class FingerprintText {
 public:
  FingerprintText() : bytes_(kBatch) { Sha1Init(context_); }

  void Append(const std::u16string& text) {
    uint8_t* at = Room(text.size());
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(at, text.data(), 2 * text.size());
      at += 2 * text.size();
    } else {
      for (const char16_t unit : text) at = Unit(at, unit);
    }
    used_ = static_cast<size_t>(at - bytes_.data());
  }
  // The word as a signed 32-bit number: a word with the top bit set (every
  // POSIX regular file) contributes a '-'. Most entries share a handful of
  // words, so the last one's text is kept.
  void AppendWord(uint32_t word) {
    if (word != lastWord_ || lastWordSize_ == 0) {
      const int32_t value = static_cast<int32_t>(word);
      uint32_t magnitude = value < 0 ? 0u - word : word;
      char16_t digits[11];
      int n = 0;
      do {
        digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
      } while (magnitude != 0);
      uint8_t* at = lastWordText_;
      if (value < 0) at = Unit(at, u'-');
      while (n > 0) at = Unit(at, digits[--n]);
      lastWord_ = word;
      lastWordSize_ = static_cast<size_t>(at - lastWordText_);
    }
    std::memcpy(Room(12), lastWordText_, lastWordSize_);
    used_ += lastWordSize_;
  }
  void AppendId(const uint8_t* id) {
    static constexpr char kDigits[] = "0123456789abcdef";
    uint8_t* at = Room(40);
    for (int i = 0; i < 20; ++i) {
      at = Unit(at, static_cast<char16_t>(kDigits[id[i] >> 4]));
      at = Unit(at, static_cast<char16_t>(kDigits[id[i] & 0xF]));
    }
    used_ = static_cast<size_t>(at - bytes_.data());
  }
  std::u16string Finish() {
    Flush();
    Sha1Digest digest;
    Sha1Final(digest, context_);
    return DigestToHex(digest);
  }

 private:
  static constexpr size_t kBatch = 64 * 1024;

  // Where `units` more code units go.
  uint8_t* Room(size_t units) {
    if (used_ + 2 * units > bytes_.size()) {
      Flush();
      if (2 * units > bytes_.size()) bytes_.resize(2 * units);
    }
    return bytes_.data() + used_;
  }
  // Little-endian, whatever the host's order.
  static uint8_t* Unit(uint8_t* at, char16_t unit) {
    at[0] = static_cast<uint8_t>(unit & 0xFF);
    at[1] = static_cast<uint8_t>(unit >> 8);
    return at + 2;
  }
  void Flush() {
    Sha1Update(context_, bytes_.data(), static_cast<uint32_t>(used_));
    used_ = 0;
  }

  Sha1Context context_;
  std::vector<uint8_t> bytes_;
  size_t used_ = 0;
  uint32_t lastWord_ = 0;
  uint8_t lastWordText_[24];
  size_t lastWordSize_ = 0;
};

// The fingerprint over the sorted lists; idOf(i, text) appends file i's id.
template <class IdOf>
std::u16string FingerprintSorted(CProgressSink& progress, const CDirSnapshot& snapshot, IdOf idOf) {
  FingerprintText text;
  // Both lists are sorted now, so each pass walks the map alongside.
  const auto feed = [&](OrderedLookup<AttributeMap>& words, const std::u16string& path) {
    const uint32_t* word = words.Find(path);
    text.Append(path);
    text.AppendWord(word == nullptr ? 0 : *word);
  };
  OrderedLookup directoryWords(snapshot.attributes);
  for (const std::u16string& path : snapshot.directories) {
    feed(directoryWords, path);
    progress.Step();
  }
  OrderedLookup fileWords(snapshot.attributes);
  for (size_t i = 0; i < snapshot.files.size(); ++i) {
    feed(fileWords, snapshot.files[i]);
    idOf(i, text);
    progress.Step();
  }
  return text.Finish();
}

void StartFingerprint(CProgressSink& progress, CDirSnapshot& snapshot) {
  progress.SetStatus(u"Calculating directory fingerprint...");
  progress.SetRange(static_cast<uint32_t>(snapshot.files.size() + snapshot.directories.size()));
  progress.ResetProgress();
  std::sort(snapshot.directories.begin(), snapshot.directories.end(), PathLess);
}

}  // namespace

std::u16string ComputeFingerprint(CProgressSink& progress, CDirSnapshot& snapshot) {
  StartFingerprint(progress, snapshot);
  std::sort(snapshot.files.begin(), snapshot.files.end(), PathLess);
  OrderedLookup ids(snapshot.fileIds);
  return FingerprintSorted(progress, snapshot, [&](size_t i, FingerprintText& text) {
    if (const std::u16string* id = ids.Find(snapshot.files[i])) text.Append(*id);
  });
}

std::u16string ComputeFingerprint(CProgressSink& progress, CDirSnapshot& snapshot,
                                  std::vector<FileId>& ids) {
  StartFingerprint(progress, snapshot);
  std::vector<uint32_t> order(snapshot.files.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(),
            [&](uint32_t a, uint32_t b) { return PathLess(snapshot.files[a], snapshot.files[b]); });
  ids.resize(snapshot.files.size());
  Permute(order, snapshot.files, ids);
  return FingerprintSorted(progress, snapshot,
                           [&](size_t i, FingerprintText& text) { text.AppendId(ids[i].data()); });
}

std::u16string ComputeFingerprint(CProgressSink& progress, CDirSnapshot& snapshot,
                                  std::vector<FileId>& ids, PathOrder& order) {
  const size_t files = snapshot.files.size();
  const size_t directories = snapshot.directories.size();
  if (ids.size() != files || !order.Covers(snapshot))
    return ComputeFingerprint(progress, snapshot, ids);
  progress.SetStatus(u"Calculating directory fingerprint...");
  progress.SetRange(static_cast<uint32_t>(files + directories));
  progress.ResetProgress();
  FingerprintText text;
  for (const uint32_t d : order.directories) {
    text.Append(snapshot.directories[d]);
    text.AppendWord(order.directoryWords[d]);
    progress.Step();
  }
  for (const uint32_t f : order.files) {
    text.Append(snapshot.files[f]);
    text.AppendWord(order.fileWords[f]);
    text.AppendId(ids[f].data());
    progress.Step();
  }
  order = {};
  return text.Finish();
}

std::u16string ComputeFingerprintSorting(CProgressSink& progress, CDirSnapshot& snapshot,
                                         std::vector<FileId>& ids, PathOrder& order) {
  if (ids.size() != snapshot.files.size() || !order.Covers(snapshot)) {
    return ComputeFingerprint(progress, snapshot, ids);
  }
  std::vector<uint32_t> files = order.files;
  std::vector<uint32_t> directories = order.directories;
  std::u16string fingerprint = ComputeFingerprint(progress, snapshot, ids, order);
  Permute(files, snapshot.files, ids);
  Permute(directories, snapshot.directories);
  return fingerprint;
}

}  // namespace torquelin
