#pragma once

#include "rows.h"
#include "run.h"
#include "wintoolkit.h"

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

namespace vellork::win32 {

// The controls' identifiers; Windows keeps 1 and 2 for Enter and Escape, which press nothing.
enum ControlId : int {
    kListView1 = 100,
    kCommand1,
    kCommand3,
    kProgressBar1,
    kCommand4,
    kLabel1,
    kLabel2,
    kCheck1,
    kLabel3,
    kImage1,
};

// The program's one window in Win32 common controls, built from the same design as the Qt one:
// the banner, the backup warning, the file list and its commands.
class Form1 : private CompressHost {
public:
    Form1(HINSTANCE instance, Dialogs& dialogs, Shell& shell);
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // Creates the window and its controls at `dpi` dots per inch (the screen's unless a test asks
    // for another), centred on the screen but not yet shown.
    bool create(int dpi = screenDpi());
    static int screenDpi();
    HWND window() const { return window_; }
    HWND control(ControlId id) const { return ::GetDlgItem(window_, id); }
    FileList& fileList() { return list_; }
    bool busy() const { return busy_; }

    // How often the common controls had been set up when the process's first control was made.
    static int setUpsBeforeFirstControl();

    // Runs the window's messages until it closes; the program's main loop.
    int run();

    // Handles one message of the thread's queue as the window's loops do: Tab moves the focus and
    // Space presses the focused control, as in a dialog, while Enter and Escape press nothing.
    void dispatch(MSG& message);

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM w, LPARAM l);
    static LRESULT CALLBACK listProc(HWND list, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                     DWORD_PTR self);
    static LRESULT CALLBACK buttonProc(HWND button, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                       DWORD_PTR);
    LRESULT handle(UINT message, WPARAM w, LPARAM l);
    LRESULT notify(const NMHDR& header);
    HWND makeControl(const wchar_t* type, ControlId id, const char* name, const char* text,
                     DWORD style, DWORD exStyle = 0);
    void buildControls();
    void paint();
    int px(int twips) const { return ::MulDiv(twips, dpi_, 1440); }
    // The focus a control had when another window took it (a message box, the open dialog) or
    // a command turned the controls off, given back afterwards as a dialog gives it back.
    void rememberFocus();
    bool restoreFocus();
    void showListChange(int row);

    // The commands.
    void addFiles();                                  // "Add File"
    void addDropped(HDROP drop);                      // files and folders dropped on the list
    void addPaths(const std::vector<std::wstring>&);  // what both add: one row on top per path
    void startCompression();                          // "Start Compression >"
    void clearList();                                 // "Clear List"
    void confirmOption();
    void openSelectedFile();  // double-click on the list

    // While a command works through the list, nothing else may change it.
    void setBusy(bool busy);
    void closeIfAsked();

    // CompressHost
    void showMessage(MessageIcon icon, const std::string& text) override;
    void setProgressMaximum(int maximum) override;
    int progressMaximum() const override { return progressMaximum_; }
    void setProgressValue(int value) override;
    void yield() override;
    void batchStarted() override { setBusy(true); }
    void batchFinished() override { setBusy(false); }
    bool stopRequested() const override { return closeRequested_; }

    HINSTANCE instance_;
    Dialogs& dialogs_;
    Shell& shell_;
    FileList list_;
    CompressRun batch_;
    HWND window_ = nullptr;
    HWND tip_ = nullptr;
    HFONT font_ = nullptr, warningFont_ = nullptr;
    HBITMAP banner_ = nullptr;
    HIMAGELIST rowPictures_ = nullptr;
    HBRUSH yellow_ = nullptr;
    int dpi_ = 96;
    int progressMaximum_ = 100;
    bool busy_ = false;
    bool closeRequested_ = false;
    bool mainLoop_ = false;  // the program's own window: closing it ends the program
    std::wstring tipText_;   // the row tip being shown, kept alive for the list
    HWND focus_ = nullptr;
};

}  // namespace vellork::win32
