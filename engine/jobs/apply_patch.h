// Job 2, Apply Patch: brings a copy of the older tree up to the newer state a
// patch records, checking the tree's fingerprint before and after.
#pragma once

#include <string>
#include <vector>

#include "engine/base/progress.h"
#include "engine/jobs/tree_check.h"

namespace torquelin {

// The closing status when the applied tree does not fingerprint as the newer
// tree. The job still ends normally, with TreeCheck::Differs.
inline constexpr char16_t kAppliedFingerprintMismatchText[] =
    u"After patch has been aplied fingerprints do not match.";
// The closing status of a run that found nothing to do.
inline constexpr char16_t kAlreadyAppliedText[] = u"Directory already has the newer fingerprint.";
// The closing status of a check that found the patch applicable.
inline constexpr char16_t kApplyCheckedText[] = u"The patch can be applied.";
// The closing status of a check that found a killed run of the same patch
// still pending: applying again finishes it.
inline constexpr char16_t kApplyPendingText[] =
    u"An interrupted apply of this patch is pending; applying it again finishes it.";

// How the changes are made.
enum class ApplyWay {
  // Every new content is first written beside its destination and made
  // durable, under a journal; then the commit renames them into place. A
  // run killed at any moment leaves a tree that the same command finishes.
  Staged,
  // Straight into place, as the changes come: needs no room beyond the new
  // tree's, but a run that stops halfway leaves a tree that is neither the
  // older nor the newer one.
  InPlace,
};

// How a run goes about it.
struct ApplyOptions {
  // Skip each item that cannot be changed, listing it (see below).
  bool continueOnErrors = false;
  // Skip both fingerprint checks and the forecast of the newer one.
  bool ignoreFingerprint = false;
  ApplyWay way = ApplyWay::Staged;
  // Every check up to the first change, and nothing more.
  bool checkOnly = false;
};

// What a run ended with.
struct ApplyResult {
  // The message of every item skipped, in the order they happened (see
  // below); a check lists the damaged records a tolerant run would skip.
  std::vector<std::u16string> skipped;
  // The fingerprint checks' verdict: Verified or Differs after the closing
  // check, AlreadyNewer, CheckPassed or Pending when the run ended before
  // any change, NotChecked when told to ignore the fingerprint.
  TreeCheck check = TreeCheck::NotChecked;
};

// Applies the patch at patchPath to directory (normalised first). In order:
// loads the patch info (the reader's errors, "No patch file specified: " for
// an empty path); refuses a missing directory ("Directory for patch
// application does  not exists: ", line 165); takes the lock on the
// directory's journal ("Another apply is already running on this directory:
// ", 170), refusing whatever stands at its name that is not a journal of
// this program (179); then, before anything is touched, refuses the paths
// CheckListedPaths refuses (lines 27, 29, 31, 33) and checks every stored
// file's record: its position (58), tag, path against its index key (56)
// and length (60). A journal left by a killed run of another patch refuses
// the run (175); one of this patch that does not fit it or the tree is
// refused (179); one of this patch is finished (its commit) or cleared (its
// staged files; 181 for anything else in their place). Unless ignoreFingerprint: a
// directory whose fingerprint is the patch's newer one is left as it is
// (kAlreadyAppliedText, success); any other than the older one is refused
// (line 188). A path beneath a symbolic link of the target which the patch
// does not remove is refused (35), and, without continueOnErrors, what
// would stop the commit halfway (200, 202). Unless ignoreFingerprint, every
// stored content is read and the fingerprint the tree would have is
// computed: not the newer one, the patch is refused (192; 190 when a new
// entry has no word; skipped when a tolerated damaged record makes it
// unknowable). Staged, a file system without room for the new contents is
// refused (194). checkOnly stops here (kApplyCheckedText).
//
// Then, Staged: every stored file is written privately beside its
// destination and made durable under the journal, and the commit removes files, removes
// directories deepest first, creates directories (line 238), renames the
// staged files into place (262) and sets attributes (line 287; never on a
// link); a cancel request waits for the commit's end. InPlace: the same
// phases with every stored file written straight into place (a link where
// its word says so). Then writes the report of what was done to reportPath
// when given, shows "Patch applied ok." and, unless ignoreFingerprint, runs
// the closing check: "New fingerprint verified." or
// kAppliedFingerprintMismatchText.
//
// Every change goes through one DirectoryHandle on the directory: nothing
// outside it is touched, no symbolic link is followed, and a link met where a
// directory should be fails that item ("Refusing to follow a symbolic link on
// the way to: " + full path). A directory of the target whose owner may not
// write it is opened for the owner while entries inside it change, and gets
// its mode back before the attributes are set (or when the run stops, or,
// staged, by the run after a kill). Run by the superuser, entries keep or
// take their owners as Ownership says, and set-id bits left off are listed
// as skipped in both modes.
//
// continueOnErrors skips each item that cannot be removed, created, written
// or given its attributes, and each stored file whose record is damaged;
// extraction failures, damaged records and shortened files are listed as
// report errors, and every skipped item's message is returned, in the order
// they happened (none when nothing was skipped). Without it the first such
// failure raises, and a damaged record refuses the patch before anything
// changes. A failure while staging leaves the tree as it was; one during
// the commit leaves the journal, so that the same run again finishes it,
// and its message says so.
// A compact patch (told by its magic) goes the same way, with these
// differences: its older ids' paths pass the path checks too (27, 29, 31);
// every block's table and chunk heads are read before anything changes
// (its structure's damage always refuses it); a target that is not the
// older tree is refused with the files the patch expects that are missing
// or changed added to the message (ten, then how many more); every content
// is decoded while it is staged, its delta's or copy's older file read
// beneath the target, so an older file that is not the expected one or a
// content that does not give its id refuses the patch before any change,
// naming the file (tolerated: the content's file, or those of its frame,
// are skipped); checkOnly decodes every content without writing it; and it
// is always staged, whatever `way` says, since its contents are made from
// the files the commit replaces.
//
// InPlace keeps what was done after an error or a cancellation (COPCancel
// passes through). Raises CZRErr of type 0. Runs on the job's thread.
ApplyResult ApplyPatch(CProgressSink& progress, const std::u16string& directory,
                       const std::u16string& patchPath, const std::u16string& reportPath,
                       const ApplyOptions& options = {});

}  // namespace torquelin
