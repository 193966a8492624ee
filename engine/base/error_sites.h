// Every place the engine raises an error, defined once: its type, the module
// location and line number users see, and the message's fixed start.
#pragma once

#include "engine/base/errors.h"

namespace torquelin {

// The line numbers are part of the text users (and scripts matching it) see,
// so they are fixed here and never follow the code when it moves. Messages
// are used exactly as written, typos and blanks included; the raising code
// appends the variable part (usually a path) directly.
namespace site {

// What a failed write of an output adds after the fixed text (and after the
// counts the text is followed by), so the message names the file the user
// gave: " file:" + path; nothing when there is no path to name.
inline std::u16string FileNameDetail(std::u16string_view path) {
  return path.empty() ? std::u16string() : u" file:" + std::u16string(path);
}

// Large-file I/O (.\fileReader).
inline constexpr ErrorSite kOutputTooLarge{
    1, location::kFileReader, 23,
    u"It appers that the output file is larger then 4GB, please verify that you are not using FAT "
    u"filesystem for the storage."};
inline constexpr ErrorSite kReaderOpen{0, location::kFileReader, 58, u"Unable to ioen file:"};
inline constexpr ErrorSite kWriterOpen{0, location::kFileReader, 67, u"Unable to open file:"};
inline constexpr ErrorSite kStreamOpen{0, location::kFileReader, 80, u"Unable to open file:"};
// A patch given as "-" (standard input or output).
// + "standard input" or "standard output"
inline constexpr ErrorSite kPatchFromTerminal{0, location::kFileReader, 88,
                                              u"Refusing to read a patch from a terminal: "};
inline constexpr ErrorSite kPatchToTerminal{0, location::kFileReader, 89,
                                            u"Refusing to write a patch to a terminal: "};
inline constexpr ErrorSite kStandardInputRead{0, location::kFileReader, 92,
                                              u"Unable to read the patch from standard input"};
inline constexpr ErrorSite kStandardInputKeep{
    0, location::kFileReader, 94,
    u"Unable to keep the patch read from standard input in a temporary file"};
inline constexpr ErrorSite kStandardOutputKeep{
    0, location::kFileReader, 96,
    u"Unable to keep the patch for standard output in a temporary file"};
inline constexpr ErrorSite kStandardOutputWrite{0, location::kFileReader, 98,
                                                u"Unable to write the patch to standard output"};

// File-system operations (.\fileio).
inline constexpr ErrorSite kRemoveDirectory{0, location::kFileio, 133, u"Unable to remove item. "};
inline constexpr ErrorSite kRemoveFile{0, location::kFileio, 146, u"Unable to remove item. "};
inline constexpr ErrorSite kFileSize{0, location::kFileio, 83, u"Unable to get a file  size:"};
inline constexpr ErrorSite kDigestShortRead{0, location::kFileio, 105,
                                            u"Unable read a source file:"};
// The walk: a directory below the root that cannot be listed, or an entry
// gone while its directory was read, fails the scan rather than leave a hole
// that a patch would turn into removals.
inline constexpr ErrorSite kWalkUnlistable{0, location::kFileio, 62,
                                           u"Unable to list a directory: "};
inline constexpr ErrorSite kWalkVanished{0, location::kFileio, 66,
                                         u"An entry vanished while its directory was read: "};

// Apply Patch (.\fileio).
inline constexpr ErrorSite kApplyUnsafePath{0, location::kFileio, 27,
                                            u"Refusing an unsafe path stored in the patch: "};
// + index path + " leads to the content stored for " + stored path
inline constexpr ErrorSite kApplyIndexMismatch{0, location::kFileio, 56,
                                               u"Refusing a patch whose file index entry "};
inline constexpr ErrorSite kApplyIgnoredPath{0, location::kFileio, 31,
                                             u"Refusing a path the patch's own filter ignores: "};
// The journal's own name in the root, which no patch may name.
inline constexpr ErrorSite kApplyReservedPath{0, location::kFileio, 29,
                                              u"Refusing a path apply keeps for its journal: "};
// A path in two lists, or twice in one, beyond what comparing two trees
// writes.
inline constexpr ErrorSite kApplyContradictingPath{
    0, location::kFileio, 33,
    u"Refusing a path the patch lists twice or in lists that contradict each other: "};
// + the full path of the item that lies through (or is) the link
inline constexpr ErrorSite kApplyThroughLink{0, location::kFileio, 35,
                                             u"Refusing to follow a symbolic link on the way to: "};
inline constexpr ErrorSite kApplyRecordPosition{
    0, location::kFileio, 58, u"Refusing a stored file record outside the patch's contents: "};
inline constexpr ErrorSite kApplyRecordLength{
    0, location::kFileio, 60, u"Refusing a stored file whose length does not fit in the patch: "};
inline constexpr ErrorSite kApplyDirectoryMissing{
    0, location::kFileio, 165, u"Directory for patch application does  not exists: "};
// + calculated + " expected:" + expected
inline constexpr ErrorSite kApplyFingerprintMismatch{
    0, location::kFileio, 188,
    u"Trying to apply a patch to dirrectory with different fingerprint Calculated:"};
inline constexpr ErrorSite kApplyCreateDirectory{0, location::kFileio, 238,
                                                 u"Unable to create a directory. "};
inline constexpr ErrorSite kApplyShortenedFile{
    0, location::kFileio, 196,
    u"Unable to fully read a patch file content, the file stays shortened: "};
inline constexpr ErrorSite kApplySetAttributes{0, location::kFileio, 287,
                                               u"Unable to set attributes on a file "};
// The lock and the journal that make a run safe to kill (+ the directory,
// or the journal's full path).
inline constexpr ErrorSite kApplyBusy{0, location::kFileio, 170,
                                      u"Another apply is already running on this directory: "};
inline constexpr ErrorSite kApplyJournal{0, location::kFileio, 178,
                                         u"Unable to write the apply journal: "};
// + the journal's full path: what stands at its name is not a journal this
// program wrote for this patch and this tree.
inline constexpr ErrorSite kApplyJournalInvalid{
    0, location::kFileio, 179,
    u"Refusing an entry that is not a valid apply journal (move it away to apply): "};
// + the full path of what stands at a staged file's name.
inline constexpr ErrorSite kApplyStagedInTheWay{0, location::kFileio, 181,
                                                u"Refusing an entry in the way of a staged file: "};
// + patch path + " (fingerprints " + older + " to " + newer + ")"
inline constexpr ErrorSite kApplyOtherPatchPending{
    0, location::kFileio, 175,
    u"An interrupted apply of another patch must be finished first in this directory: "};
// + calculated + " expected:" + expected: the stored contents are not those
// the patch was made with, found before anything changed.
inline constexpr ErrorSite kApplyContentsMismatch{
    0, location::kFileio, 192,
    u"The patch's stored contents do not give its newer fingerprint, nothing was changed. "
    u"Calculated:"};
// + the path of a new entry the patch gives no attribute word.
inline constexpr ErrorSite kApplyUnforeseeable{
    0, location::kFileio, 190, u"Refusing a patch whose newer tree cannot be foreseen: "};
// + the full path of the entry that would keep a removal from succeeding.
inline constexpr ErrorSite kApplyRemovalBlocked{
    0, location::kFileio, 200,
    u"A directory the patch removes holds an entry the patch does not remove: "};
// + the full path of the entry.
inline constexpr ErrorSite kApplyUnchangeable{
    0, location::kFileio, 202,
    u"The system keeps an entry the patch changes from being changed (immutable or "
    u"append-only): "};
// Not raised: listed as skipped. + the relative path.
inline constexpr ErrorSite kApplySetIdLeftOff{
    0, location::kFileio, 290,
    u"Set-user-id and set-group-id bits left off, the owner is not the replaced file's: "};
// + directory + ": needed " + bytes + " bytes, available " + bytes + " bytes"
inline constexpr ErrorSite kApplyNoRoom{0, location::kFileio, 194,
                                        u"Not enough free space for the patch's new contents in "};
// + the destination's full path
inline constexpr ErrorSite kApplyMoveIntoPlace{0, location::kFileio, 262,
                                               u"Unable to move a new file into place: "};

// The output rules every job checks before its first change (.\fileio).
inline constexpr ErrorSite kOutputNotAFile{0, location::kFileio, 301,
                                           u"Refusing to replace what is not a regular file: "};
// + first path + " and " + second path
inline constexpr ErrorSite kOutputsCollide{0, location::kFileio, 309,
                                           u"Two arguments name the same file: "};
// + output + " is inside " + directory
inline constexpr ErrorSite kOutputInsideTree{
    0, location::kFileio, 317, u"Refusing to write into a directory the job reads or changes: "};
// + path + ": " + the system's reason
inline constexpr ErrorSite kReportNotWritable{0, location::kFileio, 325,
                                              u"Unable to create the report file:"};

// Patch stream, writer and reader (.\patchReader).
inline constexpr ErrorSite kWriteType{0, location::kPatchReader, 102,
                                      u"Unable write a type to a patch."};
inline constexpr ErrorSite kWriteQword{0, location::kPatchReader, 109,
                                       u"Unable write DWORD a patch."};
inline constexpr ErrorSite kWriteDword{0, location::kPatchReader, 116,
                                       u"Unable write DWORD to a patch."};
// + expected count + " actual:" + written count
inline constexpr ErrorSite kWriteBuffer{0, location::kPatchReader, 130,
                                        u"Unable write buffer to a patch. exp:"};
inline constexpr ErrorSite kReadType{0, location::kPatchReader, 149, u"Unable to read a type."};
inline constexpr ErrorSite kTypeMismatch{0, location::kPatchReader, 150, u"Type mismatch."};
inline constexpr ErrorSite kReadQword{0, location::kPatchReader, 156,
                                      u"Unable to read qword from a patch."};
inline constexpr ErrorSite kReadDword{0, location::kPatchReader, 163,
                                      u"Unable to read dword from a patch."};
inline constexpr ErrorSite kReadBuffer{0, location::kPatchReader, 168,
                                       u"Unable to read a buffer from a patch."};
inline constexpr ErrorSite kMissingMagic{0, location::kPatchReader, 190,
                                         u"Unable to open a patch file, missing magic number."};
inline constexpr ErrorSite kUnfinishedPatch{0, location::kPatchReader, 198,
                                            u"This patch file has not been properly written."};
inline constexpr ErrorSite kPatchSourceShortRead{0, location::kPatchReader, 74,
                                                 u"Unable read a source file:"};
inline constexpr ErrorSite kPatchFlush{0, location::kPatchReader, 82,
                                       u"Unable to flush a patch file to disk:"};
// The finished patch could not take the place of the previous file (+ path).
inline constexpr ErrorSite kPatchReplace{0, location::kPatchReader, 86,
                                         u"Unable to move a patch file into place:"};
inline constexpr ErrorSite kNoPatchToLoad{0, location::kPatchReader, 50,
                                          u"No patch file specified: "};
inline constexpr ErrorSite kExtractUnsafePath{0, location::kPatchReader, 90,
                                              u"Refusing an unsafe path stored in the patch: "};
inline constexpr ErrorSite kExtractWrite{0, location::kPatchReader, 113,
                                         u"Unable to write a dest file:"};
inline constexpr ErrorSite kExtractShort{0, location::kPatchReader, 117,
                                         u"Unable to fully read a patch file content"};

// Compact patch contents (.\patchReader). Their messages name the relative
// path stored in the patch.
// + path + " (" + the library's reason + ")"
inline constexpr ErrorSite kCompressFailed{0, location::kPatchReader, 210,
                                           u"Unable to compress a file for the patch: "};
// + what is damaged
inline constexpr ErrorSite kCompactDamaged{0, location::kPatchReader, 214,
                                           u"Refusing a damaged compact patch: "};
// + path + " (" + the library's reason + ")"
inline constexpr ErrorSite kContentUndecodable{0, location::kPatchReader, 218,
                                               u"Unable to decode the content stored for: "};
inline constexpr ErrorSite kContentIdMismatch{
    0, location::kPatchReader, 222, u"The content stored for a file does not give its id: "};
// + the older file's path
inline constexpr ErrorSite kReferenceMismatch{
    0, location::kPatchReader, 226,
    u"The older file a stored content is made from is not the one the patch expects: "};

// Calculate Fingerprint and Query Patch (.\rezeriravodu).
inline constexpr ErrorSite kFingerprintDirectoryMissing{
    1, location::kRezeriravodu, 17, u"Directory for fingerprinting does  not exists: "};
inline constexpr ErrorSite kNoReportToQuery{0, location::kRezeriravodu, 28,
                                            u"No XML report file specified: "};

// Tree comparison and the Create Patch jobs (.\vudare).
// + newer filter + " old:" + older filter
inline constexpr ErrorSite kFiltersDiffer{0, location::kVudare, 114,
                                          u"Ignored filters do not match: new:"};
inline constexpr ErrorSite kNewerDirectoryMissing{
    0, location::kVudare, 150, u"Newer directory for patch creation does  not exists: "};
inline constexpr ErrorSite kNoPatchToCreate{0, location::kVudare, 156,
                                            u"No patch file specified: "};
inline constexpr ErrorSite kOlderDirectoryMissing{
    0, location::kVudare, 178, u"Older directory for patch creation does  not exists: "};
// + the level asked for
inline constexpr ErrorSite kCompactLevelRange{0, location::kVudare, 230,
                                              u"Compression level out of range (1 to 22): "};
inline constexpr ErrorSite kNoVaultForPatch{0, location::kVudare, 196,
                                            u"No vault file specified: "};

// Verify (.\vudare).
inline constexpr ErrorSite kVerifyDirectoryMissing{0, location::kVudare, 214,
                                                   u"Directory to verify does not exist: "};
inline constexpr ErrorSite kNoVaultToVerify{0, location::kVudare, 220,
                                            u"No vault file specified: "};

// Create Vault (.\vault).
inline constexpr ErrorSite kVaultDirectoryMissing{
    0, location::kVault, 129, u"Directory for patch application does  not exists: "};
inline constexpr ErrorSite kNoVaultToCreate{0, location::kVault, 135, u"No vault file specified: "};

// XML documents and the vault file (.\xmlrep).
inline constexpr ErrorSite kXmlCreate{0, location::kXmlrep, 46, u"Unable to make an XML object "};
inline constexpr ErrorSite kXmlOpen{0, location::kXmlrep, 29, u"XML object Err"};
// + path + ": " + the system's reason
inline constexpr ErrorSite kXmlSave{0, location::kXmlrep, 95, u"Unable to save an XML file:"};
inline constexpr ErrorSite kVaultXml{0, location::kXmlrep, 267, u"Unable to make an XML object "};
inline constexpr ErrorSite kVaultRead{0, location::kXmlrep, 273, u"Unable to read vault file:"};

}  // namespace site

}  // namespace torquelin
