#include "wintoolkit.h"

#include "design.h"

#include <commdlg.h>

#include <vector>

namespace vellork::win32 {

std::wstring toWide(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    out.resize(static_cast<std::size_t>(
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), size)));
    return out;
}

bool toUtf8(const std::wstring& text, std::string& out) {
    out.clear();
    if (text.empty()) return true;
    const int size = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size,
                                             nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return false;
    out.resize(static_cast<std::size_t>(needed));
    return ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), size, out.data(),
                                 needed, nullptr, nullptr) == needed;
}

Dialogs::Answer SystemDialogs::message(HWND owner, MessageIcon icon, const std::wstring& text,
                                       bool yesNo) {
    UINT type = yesNo ? MB_YESNO : MB_OK;
    switch (icon) {
        case MessageIcon::Critical:
            type |= MB_ICONERROR;
            break;
        case MessageIcon::Warning:
            type |= MB_ICONWARNING;
            break;
        case MessageIcon::Information:
            type |= MB_ICONINFORMATION;
            break;
    }
    const int pressed = ::MessageBoxW(owner, text.c_str(), toWide(design::kTitle).c_str(), type);
    if (!yesNo) return Answer::Ok;
    return pressed == IDYES ? Answer::Yes : Answer::No;
}

std::wstring SystemDialogs::openAnswer(HWND owner, const std::wstring& title,
                                       const std::wstring& filter) {
    // Room for some thousands of names from one folder; the dialog refuses a longer choice.
    std::vector<wchar_t> buffer(1 << 18, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = buffer.data();
    dialog.nMaxFile = static_cast<DWORD>(buffer.size() - 1);
    dialog.lpstrTitle = title.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_ALLOWMULTISELECT;
    if (!::GetOpenFileNameW(&dialog)) {
        if (::CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
            message(owner, MessageIcon::Warning,
                    L"Too many files were chosen at once. Please add them in smaller groups.",
                    false);
        return {};
    }
    // The answer ends at the first empty element: the dialog closes its list with two NULs.
    std::size_t end = 0;
    while (end + 1 < buffer.size() && !(buffer[end] == L'\0' && buffer[end + 1] == L'\0')) ++end;
    return std::wstring(buffer.data(), end);
}

void SystemShell::open(const std::wstring& path) {
    // No owner, so the application that opens the file belongs to no window of ours; it comes up
    // as it starts by itself.
    execute_(nullptr, L"open", path.c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
}

}  // namespace vellork::win32
