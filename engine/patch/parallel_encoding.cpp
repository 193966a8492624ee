// The threads that encode content blocks ahead of the patch writer, and the
// hand-over of their bytes in block order.
#include "engine/patch/parallel_encoding.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>

#include "engine/tree/worker_threads.h"

namespace torquelin {

namespace {

// Thrown inside a thread's encoding when the run stops, to abandon it.
struct Stopped {};

class BlockPipeline {
 public:
  BlockPipeline(const std::vector<ContentBlockPlan>& blocks, ContentOpener& newer,
                ContentOpener& older, const CompactOptions& options, unsigned threads,
                uint64_t memoryBudget)
      : blocks_(blocks),
        newer_(newer),
        older_(older),
        options_(options),
        budget_(memoryBudget),
        window_(2 * size_t{threads}),
        slots_(blocks.size()),
        workers_(threads) {
    for (const ContentBlockPlan& block : blocks) {
      memories_.push_back(BlockWorkingMemory(block, options));
    }
    // With fewer threads than asked for (the system refused some) those
    // running share the work; with none Run encodes on the calling thread.
    workers_.Start([this](unsigned) { Work(); });
  }

  // The workers end before the members they use: workers_ is the last
  // member, so it is destroyed first, and its destructor waits for Work to
  // return on every thread.
  ~BlockPipeline() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
  }

  BlockPipeline(const BlockPipeline&) = delete;
  BlockPipeline& operator=(const BlockPipeline&) = delete;

  void Run(const std::function<void(size_t, std::string&&)>& emit) {
    if (workers_.Count() == 0) {
      ContentBlockEncoder encoder(newer_, older_, options_);
      for (size_t b = 0; b < blocks_.size(); ++b) {
        encoder.Encode(blocks_[b], [&](std::string&& piece) { emit(b, std::move(piece)); });
      }
      return;
    }
    for (size_t b = 0; b < blocks_.size(); ++b) {
      Slot& slot = slots_[b];
      while (true) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !slot.pieces.empty() || slot.done; });
        if (slot.pieces.empty()) {
          if (slot.error) std::rethrow_exception(slot.error);
          consumer_ = b + 1;
          changed_.notify_all();
          break;
        }
        std::string piece = std::move(slot.pieces.front());
        slot.pieces.pop_front();
        changed_.notify_all();
        lock.unlock();
        emit(b, std::move(piece));
      }
    }
  }

 private:
  struct Slot {
    std::deque<std::string> pieces;  // made, not yet emitted
    bool done = false;
    std::exception_ptr error;
  };

  // Whether the next block may be started now (under the mutex).
  bool MayStart() const {
    if (claimed_ >= blocks_.size()) return true;  // nothing left: the thread ends
    return claimed_ < consumer_ + window_ &&
           (inHand_ == 0 || inHand_ + memories_[claimed_] <= budget_);
  }

  void Work() {
    ContentBlockEncoder encoder(newer_, older_, options_);
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      changed_.wait(lock, [&] { return stop_ || MayStart(); });
      if (stop_ || claimed_ >= blocks_.size()) return;
      const size_t b = claimed_++;
      inHand_ += memories_[b];
      lock.unlock();
      std::exception_ptr error;
      try {
        encoder.Encode(blocks_[b], [&](std::string&& piece) { Hand(b, std::move(piece)); });
      } catch (const Stopped&) {
      } catch (...) {
        // Carried to the calling thread, which raises it in block order.
        error = std::current_exception();
      }
      lock.lock();
      slots_[b].done = true;
      slots_[b].error = error;
      inHand_ -= memories_[b];
      changed_.notify_all();
    }
  }

  // A piece of block b is ready. A thread waits while its block has another
  // piece waiting, so that a large file ahead of the writer is held in
  // memory a chunk or two at a time.
  void Hand(size_t b, std::string&& piece) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (stop_) throw Stopped();
    slots_[b].pieces.push_back(std::move(piece));
    changed_.notify_all();
    changed_.wait(lock, [&] { return stop_ || slots_[b].pieces.size() <= 1; });
    if (stop_) throw Stopped();
  }

  const std::vector<ContentBlockPlan>& blocks_;
  ContentOpener& newer_;
  ContentOpener& older_;
  const CompactOptions& options_;
  const uint64_t budget_;
  const size_t window_;
  std::vector<uint64_t> memories_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Slot> slots_;
  size_t claimed_ = 0;   // the next block a thread takes
  size_t consumer_ = 0;  // the block being emitted
  uint64_t inHand_ = 0;  // working memory of the blocks being encoded
  bool stop_ = false;
  WorkerThreads workers_;
};

}  // namespace

void EncodeBlocksInOrder(const std::vector<ContentBlockPlan>& blocks, ContentOpener& newer,
                         ContentOpener& older, const CompactOptions& options, unsigned threads,
                         const std::function<void(size_t block, std::string&& piece)>& emit,
                         uint64_t memoryBudget) {
  BlockPipeline pipeline(blocks, newer, older, options, threads <= 1 ? 0 : threads, memoryBudget);
  pipeline.Run(emit);
}

}  // namespace torquelin
