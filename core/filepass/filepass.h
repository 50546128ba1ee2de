#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vellork {

// What one file's pass measured, or why it did not happen.
struct PassResult {
    bool ok = false;
    std::int64_t sizeBefore = -1;  // -1: not measured
    std::int64_t sizeAfter = -1;   // -1: not measured (the file was not replaced)
    std::string error;             // why the file was left as it was; empty when ok
    std::string note;              // something the user should know about a success
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
    SyncFolder
};

struct PassOptions {
    // Called between chunks of work so the caller can keep a window alive; it decides itself
    // how often to really yield.
    std::function<void()> tick;
    std::size_t chunkSize = std::size_t{1} << 18;
    // Test seam for failing disks: asked before each such step of the pass; a nonzero error
    // code makes the step fail as the system would report it.
    std::function<int(FaultPoint)> fault;
};

// Squeezes the file at `path` into one line and replaces it, all or nothing: the new content
// is written to a temporary file beside the original, given every piece of the original's
// metadata (owner, group, mode, ACL, extended attributes, inode flags), synced, and renamed
// over the original once the original is known not to have changed meanwhile. Whatever cannot
// be kept that way is refused with a reason and left byte for byte: files that are not regular
// text pages, read-only, immutable or append-only files, files in folders that may not be
// written. A symbolic link keeps pointing where it did; its target gets the new content.
// A file with several names (hard links) gets the new content under this name only.
PassResult compressFile(const std::string& path, const PassOptions& options = {});

#ifndef _WIN32
// The same pass for a file found below a folder: `relative` is followed from `root` one
// folder at a time without following any symbolic link, and the file is opened, checked and
// replaced relative to its own folder, so a folder swapped for a link meanwhile cannot lead
// the rewrite anywhere else.
PassResult compressFileBelow(const std::string& root, const std::string& relative,
                             const PassOptions& options = {});
#endif

// The reason given, on every system, when another program changed the file during its pass.
inline constexpr const char* kChangedDuringPass =
    "the file changed while it was being compressed; it was left as it is now";

// The recognisable prefix and suffix of every file the pass names on disk.
inline constexpr const char* kTempPrefix = ".vellork-";
inline constexpr const char* kTempSuffix = ".tmp";

}  // namespace vellork
