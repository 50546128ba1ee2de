// How a window's row reaches its page again on Windows.

#include "filepass.h"

namespace vellork {

// The row keeps the path as the user chose it: the pass itself reaches the page through the
// handle it opens from that path.
std::string resolvedPath(const std::string& path) {
    return path;
}

PassResult compressResolved(const std::string& resolved, const PassOptions& options) {
    return compressFile(resolved, options);
}

}  // namespace vellork
