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
enum class FaultPoint { Read, Write, CreateTemp, CopyMetadata, Sync, NameTemp, Replace, SyncFolder };

struct PassOptions {
    // Called between chunks of work so the caller can keep a window alive; it decides itself
    // how often to really yield.
    std::function<void()> tick;
    std::size_t chunkSize = std::size_t{1} << 18;
    // Where the safety copy goes when a file must be rewritten in place; empty means the
    // system's temporary folder ($TMPDIR, else /tmp).
    std::string backupFolder;
    // Test seam for failing disks: asked before each such step of the pass; a nonzero errno
    // makes the step fail as the system would report it. Restoring an original from its
    // safety copy is never made to fail.
    std::function<int(FaultPoint)> fault;
};

// Squeezes the file at `path` into one line and replaces it, never leaving a half-written file:
// the new content is written and synced to a temporary file beside the original, checked, and
// renamed over it. A file with several hard links, or in a folder that may not be written, is
// overwritten in place instead, guarded by a verified copy that restores it on any failure.
// A symbolic link keeps pointing where it did; its target gets the new content.
// Anything that is not an existing, writable regular file is refused untouched.
PassResult compressFile(const std::string& path, const PassOptions& options = {});

// The recognisable prefix of every file the pass names on disk.
inline constexpr const char* kTempPrefix = ".vellork-";
inline constexpr const char* kBackupPrefix = "vellork-backup-";

}  // namespace vellork
