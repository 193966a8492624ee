// ComputeFileIds, with the threads that hash files side by side, and
// ComputeFingerprint.
#include "engine/tree/fingerprint.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/base/number_text.h"
#include "engine/base/silent_sink.h"
#include "engine/hash/sha1.h"
#include "engine/io/file_system.h"
#include "engine/tree/ordered_lookup.h"

namespace {

// Feeds text as little-endian UTF-16 code units, whatever the host's order.
void UpdateWithText(Sha1Context& context, const std::u16string& text, std::vector<uint8_t>& bytes) {
  bytes.resize(text.size() * 2);
  for (size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  Sha1Update(context, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

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

}  // namespace

// Hashes the snapshot's files on a few threads, each file once, taking them
// in walk order and running at most kWindow files ahead of the job thread,
// which collects the digests in that same order. Every thread has one
// buffer for the whole run; the first borrows the sink's. The destructor
// stops the threads and waits for them, so an exception leaving the job
// thread's loop never leaves a thread behind: files being read are read to
// their end (reading a file is never interrupted), finished digests are
// dropped, nothing new is started.
class FileIdHasher::Pool {
 public:
  Pool(CProgressSink& progress, const CDirSnapshot& snapshot, unsigned threads)
      : snapshot_(snapshot), slots_(kWindow) {
    const uint32_t size = progress.GetBufferSize();
    lenders_.reserve(threads);
    lenders_.emplace_back(progress.GetBuffer(), size);
    buffers_.reserve(threads - 1);
    for (unsigned t = 1; t < threads; ++t) {
      buffers_.push_back(std::make_unique_for_overwrite<uint8_t[]>(size));
      lenders_.emplace_back(buffers_.back().get(), size);
    }
    threads_.reserve(threads);
    try {
      for (CSilentSink& lender : lenders_) threads_.emplace_back([this, &lender] { Work(lender); });
    } catch (const std::system_error&) {
      // The system refused another thread: the ones running share the work,
      // and with none the caller hashes on its own thread.
    }
  }

  ~Pool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    workReady_.notify_all();
    for (std::thread& thread : threads_) thread.join();
  }

  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;

  bool Running() const { return !threads_.empty(); }

  // The digest of file index, to be asked for in walk order, each once.
  // Rethrows what reading that file raised.
  void Take(size_t index, Sha1Digest digest) {
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = slots_[index % kWindow];
    if (!slot.done) {
      // Woken for every file, the job thread would take a core from a
      // hashing thread each time and contend with it for the mutex; it
      // sleeps until a run of files is in instead. The run lies inside the
      // window, so the threads reach its end without waiting for a Take.
      waitEnd_ = std::min(index + kRun, snapshot_.files.size());
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
  static constexpr size_t kRun = 32;
  static_assert(kRun <= kWindow);

  struct Slot {
    bool done = false;
    Sha1Digest digest;
    std::exception_ptr error;
  };

  void Work(CProgressSink& lender) {
    std::u16string fullPath;
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      if (!stop_ && next_ < snapshot_.files.size() && next_ >= taken_ + kWindow) {
        ++idle_;
        workReady_.wait(lock, [&] { return stop_ || next_ < taken_ + kWindow; });
        --idle_;
      }
      if (stop_ || next_ >= snapshot_.files.size()) return;
      const size_t index = next_++;
      lock.unlock();
      Sha1Digest digest;
      std::exception_ptr error;
      try {
        fullPath.assign(snapshot_.root).append(snapshot_.files[index]);
        DigestFile(lender, fullPath, digest);
      } catch (...) {
        error = std::current_exception();
      }
      lock.lock();
      Slot& slot = slots_[index % kWindow];
      std::memcpy(slot.digest, digest, sizeof digest);
      slot.error = std::move(error);
      slot.done = true;
      // Files before the job thread's run were all taken, so any file that
      // finishes below its end belongs to the run.
      if (index < waitEnd_ && --missing_ == 0) {
        // Unlocked first, so that the job thread does not wake into a held
        // mutex.
        lock.unlock();
        resultReady_.notify_one();
        lock.lock();
      }
    }
  }

  const CDirSnapshot& snapshot_;
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
  std::vector<std::thread> threads_;
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

FileIdHasher::FileIdHasher(CProgressSink& progress, const CDirSnapshot& snapshot) {
  const size_t count = snapshot.files.size();
  if (const unsigned threads = FileIdThreadCount(); threads > 1 && count > 1) {
    pool_ = std::make_unique<Pool>(progress, snapshot,
                                   static_cast<unsigned>(std::min<size_t>(threads, count)));
    if (!pool_->Running()) pool_.reset();
  }
}

FileIdHasher::~FileIdHasher() = default;

void FileIdHasher::Finish(CProgressSink& progress, CDirSnapshot& snapshot) {
  progress.SetStatus(u"Calculating file ids...");
  progress.SetRange(static_cast<uint32_t>(snapshot.files.size()));
  progress.ResetProgress();
  const size_t count = snapshot.files.size();
  // Reused for every file so that the loop allocates only what the id map
  // itself needs.
  std::u16string detail;
  std::u16string fullPath;
  Sha1Digest digest;
  for (size_t i = 0; i < count; ++i) {
    const std::u16string& path = snapshot.files[i];
    detail.assign(u"Processing: ").append(path);
    progress.SetDetail(detail);
    if (pool_) {
      pool_->Take(i, digest);
    } else {
      fullPath.assign(snapshot.root).append(path);
      DigestFile(progress, fullPath, digest);
    }
    snapshot.fileIds.insert_or_assign(path, DigestToHex(digest));
    progress.Step();
  }
  pool_.reset();
}

void ComputeFileIds(CProgressSink& progress, CDirSnapshot& snapshot) {
  FileIdHasher hasher(progress, snapshot);
  hasher.Finish(progress, snapshot);
}

std::u16string ComputeFingerprint(CProgressSink& progress, CDirSnapshot& snapshot) {
  Sha1Context context;
  Sha1Init(context);
  progress.SetStatus(u"Calculating directory fingerprint...");
  progress.SetRange(static_cast<uint32_t>(snapshot.files.size() + snapshot.directories.size()));
  progress.ResetProgress();
  std::sort(snapshot.files.begin(), snapshot.files.end());
  std::sort(snapshot.directories.begin(), snapshot.directories.end());

  std::u16string text;
  std::vector<uint8_t> bytes;
  // Both lists are sorted now, so each pass walks the maps alongside.
  // The word is written as a signed 32-bit number: a word with the top bit
  // set (every POSIX regular file) contributes a '-'.
  const auto feed = [&](OrderedLookup<AttributeMap>& words, const std::u16string& path,
                        const std::u16string* id) {
    const uint32_t* word = words.Find(path);
    text.assign(path).append(DecimalText(static_cast<int32_t>(word == nullptr ? 0 : *word)));
    if (id != nullptr) text.append(*id);
    UpdateWithText(context, text, bytes);
    progress.Step();
  };
  OrderedLookup directoryWords(snapshot.attributes);
  for (const std::u16string& path : snapshot.directories) feed(directoryWords, path, nullptr);
  OrderedLookup fileWords(snapshot.attributes);
  OrderedLookup ids(snapshot.fileIds);
  for (const std::u16string& path : snapshot.files) feed(fileWords, path, ids.Find(path));
  Sha1Digest digest;
  Sha1Final(digest, context);
  return DigestToHex(digest);
}
