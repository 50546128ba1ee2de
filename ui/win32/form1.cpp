#include "form1.h"

#include "design.h"
#include "pacer.h"
#include "pictures.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <functional>

namespace vellork::win32 {

namespace {

constexpr wchar_t kClassName[] = L"VellorkForm1";

int setUps = 0;
int setUpsAtFirstControl = -1;

COLORREF rgb(design::Rgb c) {
    return RGB(c.r, c.g, c.b);
}

std::wstring decimalSeparator() {
    wchar_t separator[8] = L".";
    ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8);
    return separator;
}

std::wstring fileSizeText(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    return std::to_wstring((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) |
                           data.nFileSizeLow);
}

bool isPage(const std::wstring& path) {
    std::string name;
    return toUtf8(path, name) && isPageName(name);
}

// Every page under a dropped folder, in sorted order. Links and junctions inside it are passed
// over, so a drop never reaches pages outside the folder the user chose. `goOn` is asked between
// entries and may stop the search.
void pagesUnder(const std::wstring& folder, std::vector<std::wstring>& found,
                const std::function<bool()>& goOn) {
    WIN32_FIND_DATAW entry;
    HANDLE search = ::FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry,
                                       FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L".." ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        const std::wstring path = folder + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            pagesUnder(path, found, goOn);
        else if (isPage(path))
            found.push_back(path);
    } while (goOn() && ::FindNextFileW(search, &entry));
    ::FindClose(search);
}

}  // namespace

int Form1::setUpsBeforeFirstControl() {
    return setUpsAtFirstControl;
}

Form1::Form1(HINSTANCE instance, Dialogs& dialogs, Shell& shell)
    : instance_(instance), dialogs_(dialogs), shell_(shell), batch_(list_, *this, ".") {
    // Before any control of the window exists, so that they come from the common controls of
    // the manifest's version.
    ::InitCommonControls();
    ++setUps;
    list_.onChange([this](int row, int) { showListChange(row); });
}

Form1::~Form1() {
    if (window_) ::DestroyWindow(window_);
    for (HGDIOBJ object : std::initializer_list<HGDIOBJ>{font_, warningFont_, banner_, yellow_})
        if (object) ::DeleteObject(object);
    if (rowPictures_) ::ImageList_Destroy(rowPictures_);
}

int Form1::screenDpi() {
    HDC screen = ::GetDC(nullptr);
    const int dpi = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);
    return dpi;
}

bool Form1::create(int dpi) {
    dpi_ = dpi;
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = windowProc;
    type.hInstance = instance_;
    type.hIcon = ::LoadIconW(instance_, MAKEINTRESOURCEW(1));
    type.hIconSm = static_cast<HICON>(
        ::LoadImageW(instance_, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
    type.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    type.lpszClassName = kClassName;
    ::RegisterClassExW(&type);

    // A fixed border, minimise and close, no maximise; the client area as designed.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, px(design::kClientWidthTwips), px(design::kClientHeightTwips)};
    ::AdjustWindowRectEx(&frame, style, FALSE, 0);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT work;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    window_ = ::CreateWindowExW(0, kClassName, toWide(design::kTitle).c_str(), style,
                                work.left + (work.right - work.left - width) / 2,
                                work.top + (work.bottom - work.top - height) / 2, width, height,
                                nullptr, nullptr, instance_, this);
    if (!window_) return false;
    buildControls();
    focus_ = control(kListView1);  // the list has the focus when the window opens
    ::SetFocus(focus_);
    return true;
}

HWND Form1::makeControl(const wchar_t* type, ControlId id, const char* name, const char* text,
                        DWORD style, DWORD exStyle) {
    if (setUpsAtFirstControl < 0) setUpsAtFirstControl = setUps;
    const design::Placement& p = design::placement(name);
    HWND made =
        ::CreateWindowExW(exStyle, type, toWide(text).c_str(), WS_CHILD | WS_VISIBLE | style,
                          px(p.left), px(p.top), px(p.width), px(p.height), window_,
                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    ::SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return made;
}

void Form1::buildControls() {
    const auto font = [this](double points) {
        return ::CreateFontW(-static_cast<int>(points * dpi_ / 72 + 0.5), 0, 0, 0, FW_NORMAL, FALSE,
                             FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_SWISS,
                             toWide(design::kFontFace).c_str());
    };
    font_ = font(design::kFontPoints);
    warningFont_ = font(design::kWarningPoints);
    yellow_ = ::CreateSolidBrush(rgb(design::kLightYellow));

    // Created in tab order, which is also the order Tab walks; the picture comes last.
    HWND list = makeControl(WC_LISTVIEWW, kListView1, "ListView1", "",
                            WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL |
                                LVS_SHOWSELALWAYS | LVS_OWNERDATA | LVS_NOSORTHEADER);
    makeControl(L"BUTTON", kCommand1, "Command1", design::kAddFile, WS_TABSTOP | BS_PUSHBUTTON);
    makeControl(L"BUTTON", kCommand3, "Command3", design::kStart, WS_TABSTOP | BS_PUSHBUTTON);
    makeControl(PROGRESS_CLASSW, kProgressBar1, "ProgressBar1", "", 0);
    makeControl(L"BUTTON", kCommand4, "Command4", design::kClearList, WS_TABSTOP | BS_PUSHBUTTON);
    makeControl(L"STATIC", kLabel1, "Label1", design::kCountCaption, SS_LEFTNOWORDWRAP);
    makeControl(L"STATIC", kLabel2, "Label2", "0", SS_LEFTNOWORDWRAP);
    makeControl(L"BUTTON", kCheck1, "Check1", design::kOption, WS_TABSTOP | BS_CHECKBOX);
    HWND warning = makeControl(L"STATIC", kLabel3, "Label3", design::kWarning, SS_CENTER);
    ::SendMessageW(warning, WM_SETFONT, reinterpret_cast<WPARAM>(warningFont_), FALSE);
    // The pictures at the window's scale, drawn for it or smoothly resampled, never stretched
    // by the controls.
    HWND banner = makeControl(L"STATIC", kImage1, "Image1", "", SS_BITMAP);
    const design::Placement& image1 = design::placement("Image1");
    banner_ = loadPicture(instance_, kBannerVersions, px(image1.width), px(image1.height));
    ::SendMessageW(banner, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(banner_));

    ::SendMessageW(control(kProgressBar1), PBM_SETRANGE32, 0, 100);
    ListView_SetExtendedListViewStyle(list,
                                      LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER);
    const int side = ::MulDiv(16, dpi_, 96);
    rowPictures_ = ::ImageList_Create(side, side, ILC_COLOR32, 1, 0);
    HBITMAP page = loadPicture(instance_, kRowPictureVersions, side, side);
    ::ImageList_Add(rowPictures_, page, nullptr);
    ::DeleteObject(page);
    ListView_SetImageList(list, rowPictures_, LVSIL_SMALL);
    for (int column = 0; column < static_cast<int>(std::size(design::kColumns)); ++column) {
        std::wstring header = toWide(design::kColumns[column].header);
        LVCOLUMNW c{};
        c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        c.fmt = LVCFMT_LEFT;
        c.cx = px(design::kColumns[column].widthTwips);
        c.pszText = header.data();
        ListView_InsertColumn(list, column, &c);
    }
    // The header's text keeps 3 px from its edges, as in the Qt window; with the usual 6 px,
    // "Compression Ratio %" would not fit its designed width and end in "...".
    Header_SetBitmapMargin(ListView_GetHeader(list), 3);
    ::DragAcceptFiles(list, TRUE);
    ::SetWindowSubclass(list, listProc, 1, reinterpret_cast<DWORD_PTR>(this));
    for (ControlId button : {kCommand1, kCommand3, kCommand4})
        ::SetWindowSubclass(control(button), buttonProc, 1, 0);

    // The list's own tip, wherever the pointer rests on it; rows with a tip of their own show
    // that instead.
    tip_ = ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0,
                             window_, nullptr, instance_, nullptr);
    std::wstring listTip = toWide(design::kListTip);
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(list);
    tool.lpszText = listTip.data();
    ::SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

LRESULT CALLBACK Form1::windowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* self = static_cast<Form1*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        self->window_ = window;
    }
    auto* self = reinterpret_cast<Form1*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->handle(message, w, l) : ::DefWindowProcW(window, message, w, l);
}

LRESULT CALLBACK Form1::listProc(HWND list, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                 DWORD_PTR self) {
    if (message == WM_DROPFILES) {
        reinterpret_cast<Form1*>(self)->addDropped(reinterpret_cast<HDROP>(w));
        return 0;
    }
    if (message == WM_NCDESTROY) ::RemoveWindowSubclass(list, listProc, 1);
    return ::DefSubclassProc(list, message, w, l);
}

// No push button is the window's default. One that tells the dialog keys it is a push button is
// made the default when Tab reaches it, drawn so, and pressed by Enter.
LRESULT CALLBACK Form1::buttonProc(HWND button, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                                   DWORD_PTR) {
    if (message == WM_GETDLGCODE) return DLGC_BUTTON;
    if (message == WM_NCDESTROY) ::RemoveWindowSubclass(button, buttonProc, 1);
    return ::DefSubclassProc(button, message, w, l);
}

LRESULT Form1::handle(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(w) != BN_CLICKED) break;
            switch (LOWORD(w)) {
                case kCommand1:
                    addFiles();
                    return 0;
                case kCommand3:
                    startCompression();
                    return 0;
                case kCommand4:
                    clearList();
                    return 0;
                case kCheck1:
                    confirmOption();
                    return 0;
            }
            break;
        case WM_NOTIFY:
            return notify(*reinterpret_cast<const NMHDR*>(l));
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(l) == control(kLabel3)) {
                HDC dc = reinterpret_cast<HDC>(w);
                ::SetTextColor(dc, rgb(design::kDarkRed));
                ::SetBkColor(dc, rgb(design::kLightYellow));
                return reinterpret_cast<LRESULT>(yellow_);
            }
            break;
        case WM_PAINT:
            paint();
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(w) == WA_INACTIVE)
                rememberFocus();
            else if (restoreFocus())
                return 0;  // instead of the window itself taking the focus
            break;
        case WM_CLOSE:
            if (busy_) {
                // The command in progress finishes the file in hand and then closes the window.
                closeRequested_ = true;
                return 0;
            }
            ::DestroyWindow(window_);
            return 0;
        case WM_DESTROY:
            window_ = nullptr;
            if (mainLoop_) ::PostQuitMessage(0);
            return 0;
    }
    return ::DefWindowProcW(window_, message, w, l);
}

LRESULT Form1::notify(const NMHDR& header) {
    if (header.idFrom != kListView1) return 0;
    switch (header.code) {
        case LVN_GETDISPINFOW: {
            LVITEMW& item =
                const_cast<NMLVDISPINFOW&>(reinterpret_cast<const NMLVDISPINFOW&>(header)).item;
            const FileRow* row = list_.row(item.iItem + 1);
            if (!row) return 0;
            if (item.mask & LVIF_IMAGE) item.iImage = 0;
            if (item.mask & LVIF_TEXT) {
                const std::string& text = item.iSubItem == 0   ? readableName(row->path)
                                          : item.iSubItem == 1 ? row->size
                                          : item.iSubItem == 2 ? row->ratio
                                                               : row->compressedSize;
                const std::wstring shown = toWide(text);
                ::lstrcpynW(item.pszText, shown.c_str(), item.cchTextMax);
            }
            return 0;
        }
        case LVN_GETINFOTIPW: {
            auto& tip =
                const_cast<NMLVGETINFOTIPW&>(reinterpret_cast<const NMLVGETINFOTIPW&>(header));
            const FileRow* row = list_.row(tip.iItem + 1);
            tipText_ = toWide(row && !row->tip.empty() ? row->tip : design::kListTip);
            ::lstrcpynW(tip.pszText, tipText_.c_str(), tip.cchTextMax);
            return 0;
        }
        case NM_DBLCLK:
            openSelectedFile();
            return 0;
    }
    return 0;
}

void Form1::paint() {
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(window_, &ps);
    const auto shape = [&](const char* name, COLORREF fill, COLORREF border) {
        const design::Placement& p = design::placement(name);
        RECT r{px(p.left), px(p.top), px(p.left + p.width), px(p.top + p.height)};
        HBRUSH brush = ::CreateSolidBrush(border);
        ::FillRect(dc, &r, brush);
        ::DeleteObject(brush);
        ::InflateRect(&r, -1, -1);
        brush = ::CreateSolidBrush(fill);
        ::FillRect(dc, &r, brush);
        ::DeleteObject(brush);
    };
    shape("Shape2", rgb(design::kLightYellow), ::GetSysColor(COLOR_WINDOWTEXT));
    shape("Shape1", ::GetSysColor(COLOR_WINDOW), rgb(design::kSilver));
    ::EndPaint(window_, &ps);
}

void Form1::showListChange(int row) {
    HWND list = control(kListView1);
    if (!list) return;
    if (row == 0)
        ListView_SetItemCountEx(list, list_.count(), LVSICF_NOSCROLL);
    else
        ListView_RedrawItems(list, row - 1, row - 1);
    ::InvalidateRect(list, nullptr, FALSE);
}

void Form1::addFiles() {
    if (busy_) return;
    static constexpr wchar_t kFilter[] = L"HTML File(s)\0*.html\0HTM File(s)\0*.htm\0";
    const std::wstring answer = dialogs_.openAnswer(window_, toWide(design::kOpenTitle),
                                                    std::wstring(kFilter, std::size(kFilter) - 1));
    if (answer.empty()) return;
    addPaths(splitOpenAnswer(answer));
}

void Form1::addDropped(HDROP drop) {
    std::vector<std::wstring> dropped;
    if (!busy_) {  // during a batch the drop is refused whole
        const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
        for (UINT i = 0; i < count; ++i) {
            std::wstring path(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
            path.resize(::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
            dropped.push_back(path);
        }
    }
    ::DragFinish(drop);
    if (dropped.empty()) return;

    setBusy(true);
    YieldPacer pacer([this] { yield(); });
    std::vector<std::wstring> pages;
    for (const std::wstring& path : dropped) {
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (isPage(path)) pages.push_back(path);
            continue;
        }
        std::vector<std::wstring> found;
        pagesUnder(path, found, [&] {
            pacer.tick();
            return !closeRequested_;
        });
        std::sort(found.begin(), found.end());
        pages.insert(pages.end(), found.begin(), found.end());
    }
    setBusy(false);
    if (closeRequested_) {
        closeIfAsked();
        return;
    }
    if (!pages.empty()) addPaths(pages);
}

void Form1::addPaths(const std::vector<std::wstring>& paths) {
    setBusy(true);
    YieldPacer pacer([this] { yield(); });
    std::wstring refused;
    for (const std::wstring& path : paths) {
        std::string text;
        if (!toUtf8(path, text)) {
            refused += L"\n" + path;
            continue;
        }
        list_.insertAtTop(text);
        std::string size;
        toUtf8(fileSizeText(path), size);
        list_.setColumn(1, FileList::kSizeColumn, size);
        pacer.tick();
    }
    ::SetWindowTextW(control(kLabel2), std::to_wstring(list_.count()).c_str());
    setBusy(false);
    if (!refused.empty())
        dialogs_.message(window_, MessageIcon::Warning,
                         L"These files were not added: their names are not valid Unicode text, "
                         L"so the window cannot be sure to find them again.\n" +
                             refused);
    closeIfAsked();
}

void Form1::startCompression() {
    if (busy_) return;
    std::string separator;
    toUtf8(decimalSeparator(), separator);
    batch_.setDecimalSeparator(separator);
    batch_.start();
    closeIfAsked();
}

void Form1::clearList() {
    if (busy_) return;
    list_.clear();
}

void Form1::confirmOption() {
    if (busy_) return;
    const Dialogs::Answer answer =
        dialogs_.message(window_, MessageIcon::Warning, toWide(design::kOptionQuestion), true);
    ::SendMessageW(control(kCheck1), BM_SETCHECK,
                   answer == Dialogs::Answer::Yes ? BST_CHECKED : BST_UNCHECKED, 0);
}

void Form1::openSelectedFile() {
    const int selected = ListView_GetNextItem(control(kListView1), -1, LVNI_SELECTED);
    const std::optional<std::string> path = list_.rowText(selected + 1);
    if (!path || path->empty()) return;
    shell_.open(toWide(*path));
}

void Form1::setBusy(bool busy) {
    // A control turned off loses the focus; it gets it back once the command is done.
    if (busy) rememberFocus();
    busy_ = busy;
    for (ControlId command : {kCommand1, kCommand3, kCommand4, kCheck1})
        ::EnableWindow(control(command), !busy);
    ::DragAcceptFiles(control(kListView1), !busy);
    if (!busy && window_ && ::GetActiveWindow() == window_) restoreFocus();
}

void Form1::rememberFocus() {
    HWND focus = ::GetFocus();
    if (focus && ::IsChild(window_, focus)) focus_ = focus;
}

bool Form1::restoreFocus() {
    if (!focus_ || !::IsChild(window_, focus_) || !::IsWindowEnabled(focus_)) return false;
    ::SetFocus(focus_);
    return true;
}

void Form1::closeIfAsked() {
    if (closeRequested_ && window_) ::DestroyWindow(window_);
}

void Form1::showMessage(MessageIcon icon, const std::string& text) {
    dialogs_.message(window_, icon, toWide(text), false);
}

void Form1::setProgressMaximum(int maximum) {
    progressMaximum_ = maximum;
    ::SendMessageW(control(kProgressBar1), PBM_SETRANGE32, 0, maximum);
}

void Form1::setProgressValue(int value) {
    ::SendMessageW(control(kProgressBar1), PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

void Form1::yield() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));  // for the main loop, later
            return;
        }
        dispatch(message);
    }
}

int Form1::run() {
    mainLoop_ = true;
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) dispatch(message);
    return static_cast<int>(message.wParam);
}

void Form1::dispatch(MSG& message) {
    if (window_ && ::IsDialogMessageW(window_, &message)) return;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

}  // namespace vellork::win32
