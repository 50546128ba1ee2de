#pragma once

// Between reaching a page (reach_win32.cpp) and the pass over it (filepass_win32.cpp).

#include "filepass.h"
#include "winsys.h"

#include <string>

namespace vellork::win32 {

// How the page is held through its pass: read, with its security descriptor. Readers may share
// it, and so may a rename of its name (the pass's own among them), but no writer.
inline constexpr ACCESS_MASK kPageAccess = GENERIC_READ | READ_CONTROL;
inline constexpr ULONG kPageSharing = FILE_SHARE_READ | FILE_SHARE_DELETE;

// A page reached: its folder, open, its name there as the folder stores it, and the page itself,
// open as above. From here on the pass goes through these handles only.
struct Reached {
    Handle ownFolder;         // the folder, when it was opened for this page alone
    HANDLE folder = nullptr;  // ownFolder's, or a folder the caller keeps open
    std::wstring name;
    Handle file;
};

// Refuses what must not be touched, sweeps the leftovers of a killed pass from the folder, then
// makes the new page beside the original and renames it over the original.
PassResult passOver(Reached& page, const PassOptions& options);

}  // namespace vellork::win32
