// What a job's check of a tree against what it should be concluded, as a
// value: the command line's exit status follows from it, while the window
// shows the status texts that go with it.
#pragma once

namespace torquelin {

enum class TreeCheck {
  NotChecked,    // nothing compared (the job has no check, or was told to skip it)
  Verified,      // apply: the tree has the patch's newer fingerprint; verify: it matches the vault
  Differs,       // apply: the applied tree's fingerprint is not the newer one; verify: it differs
  AlreadyNewer,  // apply: nothing done, the tree had the newer fingerprint already
  CheckPassed,   // apply, checking only: the patch can be applied
  Pending,       // apply, checking only: an interrupted apply of this patch is pending
  // apply: the tree is neither the patch's older tree nor its newer one; the
  // job failed before changing anything
  NotTheOlderTree,
};

}  // namespace torquelin
