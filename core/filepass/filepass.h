#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vellork {

class FolderSyncs;

// What one file's pass measured, or why it did not happen.
struct PassResult {
    bool ok = false;
    std::int64_t sizeBefore = -1;  // -1: not measured
    std::int64_t sizeAfter = -1;   // -1: not measured (the file was not replaced)
    std::string error;             // why the file was left as it was; empty when ok
    std::string note;              // something the user should know about a success
    // Leftovers of an earlier, interrupted pass that this pass proved to be its own and
    // removed, each as a path relative to the page's folder.
    std::vector<std::string> removed;
};

// The steps of a pass at which the system can fail; a test names one to make it fail.
enum class FaultPoint {
    Read,
    Write,
    CreateTemp,
    CopyMetadata,
    Sync,
    NameTemp,
    Replace,
    SyncFolder,
    Backup
};

struct PassOptions {
    // Called between chunks of work so the caller can keep a window alive; it decides itself
    // how often to really yield.
    std::function<void()> tick;
    std::size_t chunkSize = std::size_t{1} << 18;
    // Test seam for failing disks: asked before each such step of the pass; a nonzero error
    // code makes the step fail as the system would report it.
    std::function<int(FaultPoint)> fault;
    // The check run: the page is reached, refused, read and squeezed exactly as in a real run,
    // and `sizeAfter` is what it would become, but nothing at all is written on disk (no
    // temporary file, no leftover removed, no rename, no sync). `ok` says a real run would
    // have gone on to write.
    bool dryRun = false;
    // Given every chunk of the original page as it is read, in order, in real and dry runs.
    std::function<void(const char* data, std::size_t n)> inspect;
    // The file finally reached, after any link the user named, must itself have a page's name
    // (.html or .htm, in any case); otherwise it is refused with kNotAPageName.
    bool pageNamesOnly = false;
    // Passes running at the same time that share the sync of their folders after the rename;
    // each pass syncs its own folder when none is given.
    FolderSyncs* folderSyncs = nullptr;
    // Keep the original under its name with this suffix (empty: no backup): a second name of
    // the very file read where the file system allows it, else a copy with all its metadata;
    // on disk before the page is replaced, and never over a file that has the name already.
    std::string backupSuffix;
    // Leave the original as it is and put the squeezed page here instead: an open folder
    // (-1: beside the original, under its name) and the name in it. The file there is
    // replaced as the original would be, and given the original's metadata.
    int outputFolder = -1;
    std::string outputName;
};

// Squeezes the file at `path` into one line and replaces it, all or nothing: the new content
// is written to a temporary file beside the original, given every piece of the original's
// metadata (owner, group, mode, ACL, extended attributes, inode flags, project ID), synced, and
// renamed over the original once the original is known not to have changed meanwhile. Whatever
// cannot be kept that way is refused with a reason and left byte for byte: files that are not
// regular text pages, read-only, immutable or append-only files, set-user-ID, set-group-ID and
// capability-carrying files, files in folders that may not be written. A symbolic link the user
// named keeps pointing where it did and its target gets the new content; as root, a link is
// followed only where the kernel's protected-symlinks rule would follow it. A file with several
// names (hard links) gets the new content under this name only.
PassResult compressFile(const std::string& path, const PassOptions& options = {});

// What a list keeps of a row when it is added: the path the user chose with every link on its
// way followed, as far as it exists then. compressResolved reaches it again later.
std::string resolvedPath(const std::string& path);

// The pass over a page reached again from what resolvedPath gave, following no link at all: a
// path that now runs through a link is refused. The page itself may have been replaced
// meanwhile (an editor saving it anew); whatever file holds the name is the page.
PassResult compressResolved(const std::string& resolved, const PassOptions& options = {});

#ifndef _WIN32
// The same pass for a file found below a folder: `rootFolder` is an open folder (O_DIRECTORY)
// that the caller keeps open for the whole walk, and `relative` is followed from it without
// following any symbolic link and without leaving it, so a folder swapped for a link meanwhile
// cannot lead the rewrite anywhere else.
PassResult compressFileBelow(int rootFolder, const std::string& relative,
                             const PassOptions& options = {});
#else
// The same on Windows: `rootFolder` is an open folder HANDLE that the caller keeps open for the
// whole walk, and `relative` holds names separated by backslashes. Each is opened relative to
// the folder before it, so that no symbolic link, junction or other reparse point is followed
// and a name ending in a dot or a space stays the name it is.
PassResult compressFileBelow(void* rootFolder, const std::string& relative,
                             const PassOptions& options = {});
#endif

// The same for every name of one file (hard links, links, a name given twice).
using FileIdentity = std::pair<std::uint64_t, std::uint64_t>;
// The file a path leads to now, if any; for telling whether two passes meet on one file.
std::optional<FileIdentity> identityOfFile(const std::string& path);

// The reason given, on every system, when another program changed the file during its pass.
inline constexpr const char* kChangedDuringPass =
    "the file changed while it was being compressed; it was left as it is now";

// The reason given when a file reached is not named as a page and only pages are wanted.
inline constexpr const char* kNotAPageName =
    "not an .html or .htm page; --any-name compresses it anyway";

// The recognisable prefix and suffix of every file the pass names on disk.
inline constexpr const char* kTempPrefix = ".vellork-";
inline constexpr const char* kTempSuffix = ".tmp";

}  // namespace vellork
