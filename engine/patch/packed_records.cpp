// Packed records: compressing records as they are written, decompressing
// them as they are read (errors located .\patchReader).
#include "engine/patch/packed_records.h"

#include <algorithm>
#include <cstring>

#include "engine/base/error_sites.h"
#include "engine/patch/compact_format.h"
#include "platform/encoding.h"

namespace torquelin {

namespace {

// A packed frame is read and decoded in pieces of this size.
constexpr size_t kPackingPiece = 65536;

// Records up to this size are held until they are complete and compressed
// at kSmallLevel at least: small records (a few thousand paths, most patch
// infos and member tables) cost little time at any level, and each byte
// saved there is a byte of every patch. Larger ones are compressed as they
// come, at the patch's level, in pieces of this size.
constexpr size_t kSmallRecords = size_t{256} << 10;
constexpr int kSmallLevel = 19;

}  // namespace

int64_t MemoryInput::read(void* buffer, int64_t n) {
  const size_t take = std::min(static_cast<size_t>(n), size_ - next_);
  std::memcpy(buffer, bytes_ + next_, take);
  next_ += take;
  return static_cast<int64_t>(take);
}

PackingOutput::PackingOutput(FrameEncoder& encoder, int level, const std::u16string& what)
    : encoder_(encoder), level_(level), what_(what) {}

int64_t PackingOutput::write(const void* buffer, int64_t n, RecordPiece) {
  pending_.append(static_cast<const char*>(buffer), static_cast<size_t>(n));
  decoded_ += static_cast<uint64_t>(n);
  if (pending_.size() >= kSmallRecords) Compress();
  return n;
}

void PackingOutput::Compress() {
  if (!started_) {
    encoder_.Begin(level_, what_);
    started_ = true;
  }
  encoder_.Append(reinterpret_cast<const uint8_t*>(pending_.data()), pending_.size(), frame_);
  pending_.clear();
}

void PackingOutput::WriteTo(RecordOutput& out) {
  if (started_) {
    Compress();
    encoder_.End(frame_);
  } else {
    // All in hand: zstd then sizes its tables for these bytes, not for a
    // stream of unknown length.
    encoder_.Encode(std::max(level_, kSmallLevel),
                    reinterpret_cast<const uint8_t*>(pending_.data()), pending_.size(), nullptr, 0,
                    frame_, what_, {.checksum = true});
  }
  WriteTag(out, static_cast<RecordType>(CompactRecord::Packed));
  WriteQword(out, static_cast<int64_t>(decoded_));
  WriteQword(out, static_cast<int64_t>(frame_.size()));
  WriteRaw(out, frame_.data(), static_cast<int64_t>(frame_.size()));
}

PackedInput::PackedInput(RecordInput& in, uint64_t maxDecoded, const std::u16string& what)
    : in_(in), what_(what), decoder_(kMaxFrameWindowLog) {
  ExpectTag(in, static_cast<RecordType>(CompactRecord::Packed));
  const int64_t decoded = ReadQword(in);
  const int64_t size = ReadQword(in);
  if (decoded < 0 || size <= 0) Damaged();
  const uint64_t claimed = static_cast<uint64_t>(decoded);
  const bool bomb =
      claimed > kPackedAlwaysAllowed && claimed / kMaxPackedRatio >= static_cast<uint64_t>(size);
  if (claimed > maxDecoded || bomb || static_cast<uint64_t>(size) > FrameBound(claimed)) {
    Damaged();
  }
  decodedLeft_ = static_cast<uint64_t>(decoded);
  frameLeft_ = static_cast<uint64_t>(size);
  if (!decoder_.Begin(nullptr, 0)) Damaged(decoder_.error());
  input_.resize(kPackingPiece);
  out_.resize(kPackingPiece);
}

void PackedInput::Damaged(const char* reason) const {
  std::u16string detail = what_;
  if (reason != nullptr) detail += u" (" + platform::FromUtf8(reason) + u")";
  Raise(site::kCompactDamaged, detail);
}

bool PackedInput::Refill() {
  outNext_ = outEnd_ = 0;
  while (!ended_ && outEnd_ == 0) {
    if (inputUsed_ == inputEnd_) {
      if (frameLeft_ == 0) Damaged();  // the frame goes on past its stated size
      const size_t want = static_cast<size_t>(std::min<uint64_t>(frameLeft_, input_.size()));
      ReadRaw(in_, input_.data(), static_cast<int64_t>(want));
      frameLeft_ -= want;
      inputUsed_ = 0;
      inputEnd_ = want;
    }
    const int state =
        decoder_.Step(reinterpret_cast<const uint8_t*>(input_.data()), inputEnd_, &inputUsed_,
                      reinterpret_cast<uint8_t*>(out_.data()), out_.size(), &outEnd_);
    if (state < 0) Damaged(decoder_.error());
    if (outEnd_ > decodedLeft_) Damaged();
    decodedLeft_ -= outEnd_;
    ended_ = state == 0;
  }
  return outEnd_ > 0;
}

int64_t PackedInput::read(void* buffer, int64_t n) {
  uint8_t* into = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < n) {
    if (outNext_ == outEnd_ && !Refill()) break;
    const size_t take = std::min(outEnd_ - outNext_, static_cast<size_t>(n - done));
    std::memcpy(into + done, out_.data() + outNext_, take);
    outNext_ += take;
    done += static_cast<int64_t>(take);
  }
  return done;
}

void PackedInput::Finish() {
  if (outNext_ != outEnd_ || Refill()) Damaged();  // records left over
  if (decodedLeft_ != 0 || frameLeft_ != 0 || inputUsed_ != inputEnd_) Damaged();
}

}  // namespace torquelin
