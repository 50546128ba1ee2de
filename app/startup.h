#pragma once

// What both programs do before they open anything else.

#ifdef _WIN32
namespace vellork::app {
// The Windows pass works on handles, which never take a standard stream's place.
inline void prepareProcess() {}
}  // namespace vellork::app
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vellork::app {

// A program started with a standard stream closed (`>&-`, some cron jobs and service managers)
// would hand that number to the next file it opens, and a line meant for the terminal would be
// written into a page. Each closed one is held by /dev/null, opened the wrong way round so that
// writing to it still fails (EBADF) as it would have, and the run can say the output was lost.
// Where not even /dev/null can be opened the program stops before it touches anything.
inline void prepareProcess() {
    for (int stream = 0; stream <= 2; ++stream) {
        if (::fcntl(stream, F_GETFD) >= 0 || errno != EBADF) continue;
        // The lowest free number is taken, and the ones below are open by now.
        if (::open("/dev/null", (stream == 0 ? O_WRONLY : O_RDONLY) | O_NOCTTY) != stream)
            std::_Exit(1);
    }
    // A write past the file size limit (ulimit -f) then fails with EFBIG instead of ending the
    // process: the page gets its reason and the next one is tried.
    ::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace vellork::app
#endif
