// What apply checks of a patch's lists and of its target before the first
// change, so that a patch it accepts can neither reach outside the target nor
// stop the commit halfway.
#pragma once

#include <string>
#include <vector>

#include "engine/io/large_file.h"
#include "engine/jobs/apply_journal.h"
#include "engine/jobs/apply_prediction.h"
#include "engine/jobs/stored_files.h"
#include "engine/patch/change_set.h"
#include "engine/tree/ignore_filter.h"
#include "engine/tree/snapshot.h"
#include "platform/directory_handle.h"

namespace torquelin {

// Refuses (CZRErr, .\fileio), naming the path, any path of the patch's lists,
// of its attribute changes or of its file index (`stored`, in index order):
//   that is not a clean relative path (line 27);
//   that is the journal's name in the root (29);
//   that the patch's own filter ignores, itself or through a directory
//   above it (31): a patch whose filter is "*" would otherwise see an empty
//   tree, whatever the target holds;
//   that is listed twice, or in lists that contradict each other (33).
// Lists agree only as a comparison of two trees writes them: a path is in
// at most one list, except a file that became a directory (removed file and
// new directory) or the reverse (removed directory and changed file; a new file is taken too); the
// file index holds exactly the new and the changed files; an attribute change never names an entry
// that is only removed. Costs one sort of the paths and, beyond it, time linear in their length.
void CheckListedPaths(const ChangeSet& patch, const std::vector<std::u16string>& stored,
                      const CIgnoreFilter& filter);

// Refuses a path beneath a symbolic link of the target, which would be
// changed wherever the link points, unless the patch removes that link
// first (a link the newer tree replaced by a directory): "Refusing to follow
// a symbolic link on the way to: " + directory + path (line 35).
void RefuseLinksOnTheWay(const CDirSnapshot& target, const ChangeSet& patch,
                         const std::vector<std::u16string>& stored,
                         const std::u16string& directory);

// Refuses, naming the first such entry by its full path, what would make a
// removal or a change fail halfway through the commit:
//   an entry in a directory the patch removes that the patch does not
//   remove itself, an entry its filter ignores included (line 200);
//   an entry to remove, replace or change, or a directory whose entries
//   change, that the system keeps from being changed whatever its
//   permissions (immutable, append-only) (202).
// Only entries the opening scan of the target (`scanned`) found are looked
// at, so a patch's length buys no system calls for entries that are not
// there. Reads the target through `target` only.
void CheckChangesCanBeMade(const platform::DirectoryHandle& target, const std::u16string& directory,
                           const ChangeSet& patch, const CDirSnapshot& scanned);

// Every directory whose entries the patch adds, removes or replaces, the
// root ("") included when it is one: sorted, each once, whether it exists
// or not. `staged` are the staging paths of the stored files.
std::vector<std::u16string> ParentsOfChanges(const ChangeSet& patch,
                                             const std::vector<std::u16string>& staged);

// Staging needs room for every new content while the old ones are still
// there: each content rounded up to whole blocks, a block per new directory
// and for the journal, and a margin (1 MiB and a hundredth of the contents)
// for the file system's own bookkeeping. Refuses a file system with less
// (line 194); one that cannot say how much it has passes.
void RequireRoom(const platform::DirectoryHandle& target, const std::u16string& directory,
                 const ChangeSet& patch, const std::vector<StoredFile>& files);

// A killed run's commit is finished only where the tree still holds what
// that run left: every stored file it staged (all but `unstaged`, at
// `staged`) is either still staged, a file of ours with one name holding the
// patch's content, or already in its place with that content. Anything else
// (a journal planted with a commit line, or a tree changed since) refuses
// the journal before any change. `ids` are the stored contents' ids.
void RequireResumable(CProgressSink& progress, const ContentIds& ids,
                      const platform::DirectoryHandle& target, ApplyJournal& journal,
                      const ChangeSet& patch, const std::vector<StoredFile>& files,
                      const std::vector<std::u16string>& staged, const std::vector<bool>& unstaged);

}  // namespace torquelin
