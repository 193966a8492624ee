// The compact patch writer: head, content blocks, index and end record
// (errors located .\patchReader).
#include "engine/patch/compact_writer.h"

#include "engine/base/error_sites.h"
#include "engine/patch/parallel_encoding.h"
#include "engine/patch/patch_stream.h"
#include "engine/patch/patch_writer.h"

namespace torquelin {

namespace {

// Passes records on and counts them: every offset the index and the End
// record hold is a count of the bytes before it.
class CountingOutput : public RecordOutput {
 public:
  explicit CountingOutput(RecordOutput& out) : out_(out) {}
  int64_t write(const void* buffer, int64_t n, RecordPiece piece) override {
    const int64_t written = out_.write(buffer, n, piece);
    if (written > 0) position_ += written;
    return written;
  }
  std::u16string_view name() const override { return out_.name(); }
  int64_t position() const { return position_; }

 private:
  RecordOutput& out_;
  int64_t position_ = 0;
};

// A Copy stores no bytes, so the encoder never reads its newer file; this
// reads it whole and checks it against its request, as a content's own
// bytes are checked.
void CheckCopiedFile(ContentOpener& newer, const ContentRequest& request) {
  FileChain file(newer, {{request.path, request.length, request.id}},
                 [&](size_t, bool matched) {
                   if (!matched) Raise(site::kPatchSourceShortRead, newer.Describe(request.path));
                 },
                 {});
  file.Finish();
}

}  // namespace

void WriteCompactPatch(CProgressSink& progress, const CompactHead& head,
                       std::vector<ContentRequest> requests, ContentOpener& newer,
                       ContentOpener& older, const std::u16string& patchPath,
                       const CompactOptions& options, unsigned threads) {
  progress.SetStatus(u"Creating a patch file");
  const size_t fileCount = requests.size();
  const std::vector<ContentBlockPlan> blocks = PlanContentBlocks(std::move(requests), options);

  PatchOutputFile file(patchPath, PatchOutputFile::Order::FrontToBack);
  BufferedOutput buffered(file.writer());
  CountingOutput out(buffered);
  FrameEncoder frames;

  WriteCompactMagic(out);
  WriteCompactHead(out, frames, options.level, head);

  progress.SetStatus(u"Compressing the file contents");
  progress.SetRange(static_cast<uint32_t>(fileCount));
  progress.ResetProgress();
  PatchFileIndex index;
  size_t started = blocks.size();
  std::u16string detail;
  EncodeBlocksInOrder(blocks, newer, older, options, threads,
                      [&](size_t block, std::string&& piece) {
                        if (block != started) {
                          started = block;
                          for (const ContentRequest& member : blocks[block]) {
                            detail = u"Writing File: " + member.path;
                            progress.SetDetail(detail);
                            progress.Step();
                            index.emplace(member.path, out.position());
                            if (member.kind == ContentKind::Copy) {
                              CheckCopiedFile(newer, member);
                            }
                          }
                        } else {
                          progress.SetDetail(detail);
                        }
                        WriteRaw(out, piece.data(), static_cast<int64_t>(piece.size()));
                      });

  const int64_t indexOffset = out.position();
  WriteCompactIndex(out, frames, options.level, index);
  // The End record is what makes readers trust the file; the file only
  // takes the patch's name once all of it is on the device.
  WriteCompactEnd(out, indexOffset);
  buffered.Flush();
  file.Commit();
}

}  // namespace torquelin
