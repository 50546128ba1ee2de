#pragma once

#include "run.h"

#include <windows.h>

#include <shellapi.h>

#include <string>

namespace vellork::win32 {

// The modal things a test cannot click through, and the call to the shell. The program uses
// the system's versions below; tests script the answers.
class Dialogs {
public:
    enum class Answer { Ok, Yes, No };
    virtual ~Dialogs() = default;

    // A modal message titled "Vellork": an OK button, or Yes and No when `yesNo` is set.
    virtual Answer message(HWND owner, MessageIcon icon, const std::wstring& text,
                           bool yesNo = false) = 0;

    // The multi-select open dialog's answer as it stands in its buffer: one whole path, or the
    // folder and then each chosen name, NUL-separated; empty when cancelled.
    virtual std::wstring openAnswer(HWND owner, const std::wstring& title,
                                    const std::wstring& filter) = 0;
};

class Shell {
public:
    virtual ~Shell() = default;
    // Opens the file in the application the system has for it ("open"), without waiting.
    virtual void open(const std::wstring& path) = 0;
};

class SystemDialogs : public Dialogs {
public:
    Answer message(HWND owner, MessageIcon icon, const std::wstring& text, bool yesNo) override;
    std::wstring openAnswer(HWND owner, const std::wstring& title,
                            const std::wstring& filter) override;
};

class SystemShell : public Shell {
public:
    // The shell's call, which a test may replace to see what it is handed.
    using Execute = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
    explicit SystemShell(Execute execute = ::ShellExecuteW) : execute_(execute) {}
    void open(const std::wstring& path) override;

private:
    Execute execute_;
};

// UTF-16 from UTF-8 text, and back; the way back fails on a lone surrogate, which no UTF-8 file
// name could stand for.
std::wstring toWide(const std::string& text);
bool toUtf8(const std::wstring& text, std::string& out);

}  // namespace vellork::win32
