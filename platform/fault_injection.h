// A failure switch for tests: makes a chosen write, create, rename or sync of the
// platform layer fail with a chosen errno, so the callers' handling of full
// disks and I/O errors can be exercised without such a disk, or runs a test's
// action at a chosen point (to change a tree between a check and a write).
// Compiled in always; inert until a test arms it.
#pragma once

#include <cstdint>
#include <functional>

namespace torquelin {

namespace platform::fault_injection {

enum class FaultPoint {
  Write,    // WriteDescriptor: fails before writing anything
  Create,   // OpenForWriting, ReplacementFile::Create, DirectoryHandle::CreateFile
  Rename,   // ReplacementFile::Commit, DirectoryHandle::Rename
  Sync,     // SyncDescriptor
  Resolve,  // DirectoryHandle: before it resolves a path beneath its directory
  Openat2,  // DirectoryHandle: openat2 itself; ENOSYS makes it walk component by component
  Count
};

// How long an armed point keeps failing.
enum class Failing { Once, FromThenOn };

// From the next call on, the nth call (1 = the very next) at `point` fails
// with `error`; with Failing::FromThenOn every later call there fails too,
// the way a full disk keeps refusing. Re-arming a point restarts its count.
// Any thread; the count is shared by all threads.
void Arm(FaultPoint point, uint64_t nth, int error, Failing failing = Failing::Once);

// The nth call at `point` from now on first runs `action` on the calling
// thread, once, and then proceeds normally. Replaces what was armed there.
void ArmAction(FaultPoint point, uint64_t nth, std::function<void()> action);

// Makes every point behave normally again.
void DisarmAll();

// Called by the platform layer at each point: runs an armed action that is
// due, then returns the errno to fail with, or 0.
int Take(FaultPoint point);

}  // namespace platform::fault_injection

}  // namespace torquelin
