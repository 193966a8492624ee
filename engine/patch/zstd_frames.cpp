// zstd frames: encoding whole contents or streams, decoding in pieces
// (errors located .\patchReader).
#include "engine/patch/zstd_frames.h"

#include <zstd.h>

#include <algorithm>
#include <bit>
#include <new>

#include "engine/base/error_sites.h"
#include "platform/encoding.h"

namespace torquelin {

namespace {

std::u16string ReasonText(size_t code) { return platform::FromUtf8(ZSTD_getErrorName(code)); }

[[noreturn]] void RaiseCompressFailed(const std::u16string& what, size_t code) {
  Raise(site::kCompressFailed, what + u" (" + ReasonText(code) + u")");
}

void Check(size_t code, const std::u16string& what) {
  if (ZSTD_isError(code)) RaiseCompressFailed(what, code);
}

}  // namespace

struct FrameEncoder::Context {
  ZSTD_CCtx* cctx;
};

FrameEncoder::FrameEncoder() : context_(new Context{ZSTD_createCCtx()}) {
  if (context_->cctx == nullptr) {
    delete context_;
    throw std::bad_alloc();
  }
}

FrameEncoder::~FrameEncoder() {
  ZSTD_freeCCtx(context_->cctx);
  delete context_;
}

int FrameWindowLog(uint64_t prefixSize, uint64_t contentSize) {
  const uint64_t span = std::max<uint64_t>(prefixSize + contentSize, 1);
  return std::max(10, static_cast<int>(std::bit_width(span - 1)));
}

size_t FrameEncoder::Encode(int level, const uint8_t* content, size_t contentSize,
                            const uint8_t* prefix, size_t prefixSize, std::string& out,
                            const std::u16string& what, FrameOptions options) {
  ZSTD_CCtx* cctx = context_->cctx;
  ZSTD_CCtx_reset(cctx, ZSTD_reset_session_and_parameters);
  Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level), what);
  Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, options.checksum ? 1 : 0), what);
  if (prefixSize > 0) {
    // Every byte of the prefix must stay within reach of the content's last
    // byte, or the frame could not refer to the start of the older file.
    Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, FrameWindowLog(prefixSize, contentSize)),
          what);
    if (options.longMatches)
      Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_enableLongDistanceMatching, 1), what);
    Check(ZSTD_CCtx_refPrefix(cctx, prefix, prefixSize), what);
  }
  const size_t start = out.size();
  out.resize(start + ZSTD_compressBound(contentSize));
  const size_t made =
      ZSTD_compress2(cctx, out.data() + start, out.size() - start, content, contentSize);
  if (ZSTD_isError(made)) {
    out.resize(start);
    RaiseCompressFailed(what, made);
  }
  out.resize(start + made);
  return made;
}

void FrameEncoder::Begin(int level, const std::u16string& what) {
  ZSTD_CCtx* cctx = context_->cctx;
  what_ = what;
  streamed_ = 0;
  ZSTD_CCtx_reset(cctx, ZSTD_reset_session_and_parameters);
  Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, level), what);
  Check(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 1), what);
}

size_t FrameEncoder::Stream(const uint8_t* piece, size_t size, Step step, std::string& out) {
  const bool end = step == Step::End;
  ZSTD_inBuffer in{piece, size, 0};
  const ZSTD_EndDirective directive = end ? ZSTD_e_end : ZSTD_e_continue;
  size_t left;
  do {
    const size_t start = out.size();
    const size_t room = std::max(ZSTD_CStreamOutSize(), size - in.pos + 64);
    out.resize(start + room);
    ZSTD_outBuffer output{out.data() + start, room, 0};
    left = ZSTD_compressStream2(context_->cctx, &output, &in, directive);
    out.resize(start + output.pos);
    streamed_ += output.pos;
    if (ZSTD_isError(left)) RaiseCompressFailed(what_, left);
  } while (end ? left != 0 : in.pos < in.size);
  return streamed_;
}

void FrameEncoder::Append(const uint8_t* piece, size_t size, std::string& out) {
  Stream(piece, size, Step::Continue, out);
}

size_t FrameEncoder::End(std::string& out) { return Stream(nullptr, 0, Step::End, out); }

size_t FrameEncoder::MemoryInUse() const { return ZSTD_sizeof_CCtx(context_->cctx); }

struct FrameDecoder::Context {
  ZSTD_DCtx* dctx;
  int windowLogMax;
};

FrameDecoder::FrameDecoder(int windowLogMax)
    : context_(new Context{ZSTD_createDCtx(), windowLogMax}) {
  if (context_->dctx == nullptr) {
    delete context_;
    throw std::bad_alloc();
  }
}

FrameDecoder::~FrameDecoder() {
  ZSTD_freeDCtx(context_->dctx);
  delete context_;
}

bool FrameDecoder::Begin(const uint8_t* prefix, size_t prefixSize) {
  ZSTD_DCtx* dctx = context_->dctx;
  ZSTD_DCtx_reset(dctx, ZSTD_reset_session_and_parameters);
  size_t code = ZSTD_DCtx_setParameter(dctx, ZSTD_d_windowLogMax, context_->windowLogMax);
  if (!ZSTD_isError(code) && prefixSize > 0) code = ZSTD_DCtx_refPrefix(dctx, prefix, prefixSize);
  if (ZSTD_isError(code)) {
    error_ = ZSTD_getErrorName(code);
    return false;
  }
  return true;
}

int FrameDecoder::Step(const uint8_t* input, size_t inputSize, size_t* inputUsed, uint8_t* output,
                       size_t outputSize, size_t* outputUsed) {
  ZSTD_inBuffer in{input, inputSize, *inputUsed};
  ZSTD_outBuffer out{output, outputSize, *outputUsed};
  const size_t left = ZSTD_decompressStream(context_->dctx, &out, &in);
  *inputUsed = in.pos;
  *outputUsed = out.pos;
  if (ZSTD_isError(left)) {
    error_ = ZSTD_getErrorName(left);
    return -1;
  }
  return left == 0 ? 0 : 1;
}

size_t FrameDecoder::MemoryInUse() const { return ZSTD_sizeof_DCtx(context_->dctx); }

int64_t FrameContentSize(const uint8_t* frame, size_t available) {
  const unsigned long long size = ZSTD_getFrameContentSize(frame, available);
  if (size == ZSTD_CONTENTSIZE_UNKNOWN || size == ZSTD_CONTENTSIZE_ERROR ||
      size > static_cast<unsigned long long>(INT64_MAX)) {
    return -1;
  }
  return static_cast<int64_t>(size);
}

uint64_t FrameBound(uint64_t contentSize) { return ZSTD_COMPRESSBOUND(contentSize); }

}  // namespace torquelin
