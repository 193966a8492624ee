// Encoding a patch's content blocks on several threads while their bytes
// are written in block order on the calling thread.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "engine/patch/content_encoder.h"

namespace torquelin {

// Encodes every block (ContentBlockEncoder::Encode, one encoder per thread)
// and calls emit(block, piece) on the calling thread for each piece of each
// block, blocks in order, pieces in order: the first piece of a block is
// the start of its record. With threads <= 1 everything runs on the calling
// thread. Threads work at most 2 * threads blocks ahead of emit, and start a
// block only while the working memory of the blocks in hand
// (BlockWorkingMemory) stays within memoryBudget (one block always may), so
// memory does not grow with the patch: about memoryBudget plus one zstd
// context per thread.
//
// The first error in block order propagates: a block's CZRErr (a file
// changed since its scan, a file that cannot be opened, zstd failing) when
// emit has had every block before it, or whatever emit raises (COPCancel).
// Either way every thread has stopped and been joined before it leaves; a
// block being encoded is abandoned at its next piece.
void EncodeBlocksInOrder(const std::vector<ContentBlockPlan>& blocks, ContentOpener& newer,
                         ContentOpener& older, const CompactOptions& options, unsigned threads,
                         const std::function<void(size_t block, std::string&& piece)>& emit,
                         uint64_t memoryBudget = uint64_t{1} << 30);

}  // namespace torquelin
