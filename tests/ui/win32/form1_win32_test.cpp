// Vellork.exe's window, made in the test's own process under Wine with scripted dialogs, and the
// resources built into it: icons, version block, the manifest that brings in common controls 6.

#include "design.h"
#include "form1.h"
#include "win32_test_util.h"

#include <shlobj.h>

#include <cwchar>
#include <set>

using namespace vellork;
using namespace vellork::win32;
using namespace vellork::testing;

TEST(WindowsResources, TheNeutralIconGroupAndTheVersionBlock) {
    const HMODULE self = ::GetModuleHandleW(nullptr);
    auto resource = [&](const wchar_t* type, WORD language) {
        HRSRC at = ::FindResourceExW(self, type, MAKEINTRESOURCEW(1), language);
        const auto* data = static_cast<const wchar_t*>(::LockResource(::LoadResource(self, at)));
        return std::wstring(data, data ? ::SizeofResource(self, at) / 2 : 0);
    };
    const std::wstring group = resource(RT_GROUP_ICON, 0), version = resource(RT_VERSION, 0x0409);
    std::vector<int> ids;  // each entry of the group is seven words long, its id the last
    for (std::size_t i = 0; group.size() > 2 && i < group[2]; ++i) ids.push_back(group[9 + 7 * i]);
    EXPECT_EQ(ids, (std::vector<int>{30001, 30002, 30003, 30004}));
    EXPECT_TRUE(::LoadImageW(self, MAKEINTRESOURCEW(1), IMAGE_ICON, 16, 16, 0) &&
                ::LoadImageW(self, MAKEINTRESOURCEW(1), IMAGE_ICON, 32, 32, 0));
    EXPECT_TRUE(version.find(L"MORVANTE Vellork") != version.npos &&
                version.find(L"2.00") != version.npos);
}

TEST(OpenAnswer, OnePathOrAFolderAndItsNames) {
    const std::pair<std::wstring, std::vector<std::wstring>> cases[] = {
        {L"", {}},
        {L"C:\\web\\a.html", {L"C:\\web\\a.html"}},
        {std::wstring(L"C:\\web\0a.html\0b.htm\0", 20), {L"C:\\web\\a.html", L"C:\\web\\b.htm"}},
        {std::wstring(L"C:\\\0a.html\0b.htm", 16), {L"C:\\\\a.html", L"C:\\\\b.htm"}},
    };
    for (const auto& [answer, paths] : cases) EXPECT_EQ(splitOpenAnswer(answer), paths);
}

// Every message the window shows, in the system's own box answered as soon as it is up, and every
// file it opens, through the system's shell call, in turn; the Open dialog's answers.
struct Scripted : win32::Dialogs {
    static inline std::vector<std::wstring> log;
    std::vector<std::wstring> answers;
    std::size_t asked = 0;
    Answer message(HWND owner, MessageIcon icon, const std::wstring& text, bool asks) override {
        log.push_back((icon == MessageIcon::Information ? L"i: " : L"!: ") + text);
        ::SetTimer(nullptr, 0, 0, [](HWND, UINT, UINT_PTR timer, DWORD) {
            HWND box = ::FindWindowW(L"#32770", L"Vellork");
            if (!box || !::IsWindowVisible(box)) return;
            ::KillTimer(nullptr, timer);
            ::PostMessageW(box, WM_COMMAND, ::GetDlgItem(box, IDNO) ? IDNO : IDOK, 0);
        });
        return SystemDialogs().message(owner, icon, text, asks);
    }
    std::wstring openAnswer(HWND, const std::wstring& title, const std::wstring& filter) override {
        EXPECT_EQ(title + filter,
                  std::wstring(L"Select Web PagesHTML File(s)\0*.html\0HTM File(s)\0*.htm\0", 54));
        return asked < answers.size() ? answers[asked++] : L"";
    }
    static HINSTANCE WINAPI shell(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                  LPCWSTR folder, INT show) {
        log.push_back(std::wstring(verb) + L": " + file +
                      (owner || parameters || folder ? L" +" : L"") + L" " + std::to_wstring(show));
        return nullptr;
    }
};

using Form1Win32 = TempFolderTest;

TEST_F(Form1Win32, StandsAsDesignedAddsCompressesOpensAndTurnsAwayWhatComesDuringABatch) {
    Scripted script;
    SystemShell shell(Scripted::shell);
    Form1 form{::GetModuleHandleW(nullptr), script, shell};
    ASSERT_TRUE(form.create()) << "no window could be made";
    const std::wstring question = L"!: " + wide(design::kOptionQuestion);
    const HWND list = form.control(kListView1);
    const auto click = [&](ControlId id) { ::SendMessageW(form.control(id), BM_CLICK, 0, 0); };
    const auto shown = [&] {  // the rows as the list view shows them, then Label2's count
        std::vector<std::string> out;
        for (wchar_t text[MAX_PATH]; out.size() < std::size_t(ListView_GetItemCount(list));) {
            ListView_GetItemText(list, out.size(), 0, text, MAX_PATH);
            out.push_back(utf8(text));
        }
        out.push_back(std::to_string(::GetDlgItemInt(form.window(), kLabel2, nullptr, FALSE)));
        return out;
    };
    // A drop as the shell makes one: DROPFILES followed by the NUL-separated wide paths.
    const auto drop = [&](const std::vector<std::string>& paths) {
        std::wstring names;
        for (const std::string& path : paths) names += wide(path) + L'\0';
        auto* header = static_cast<DROPFILES*>(
            ::GlobalAlloc(GPTR, sizeof(DROPFILES) + (names.size() + 1) * sizeof(wchar_t)));
        *header = {sizeof(DROPFILES), {}, FALSE, TRUE};
        names.copy(reinterpret_cast<wchar_t*>(header + 1), names.size());
        ::PostMessageW(list, WM_DROPFILES, reinterpret_cast<WPARAM>(header), 0);
    };

    EXPECT_EQ(Form1::setUpsBeforeFirstControl(), 1);  // the process's first control came after it
    wchar_t comctl[MAX_PATH];                         // the common controls 6 the manifest asks for
    ::GetModuleFileNameW(::GetModuleHandleW(L"comctl32.dll"), comctl, MAX_PATH);
    EXPECT_TRUE(std::wcsstr(::CharLowerW(comctl), L"controls_6595b64144ccf1df_6.0.")) << comctl;
    RECT client;
    ::GetClientRect(form.window(), &client);
    EXPECT_EQ(std::pair(client.right, client.bottom), std::pair(694L, 431L));
    // The keyboard as a user meets it, through the window's own loop: Tab walks from the list
    // through the commands to the option box, Enter and Escape press nothing, and Space presses
    // what has the focus, which comes back to it after each question's box.
    ::ShowWindow(form.window(), SW_SHOW);
    const auto press = [&](WPARAM key) {  // posted to the focus, for the loop below
        for (const UINT message : {WM_KEYDOWN, WM_KEYUP})
            ::PostMessageW(::GetFocus(), message, key, 0);
    };
    const auto dispatch = [&] {
        for (MSG m; ::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) form.dispatch(m);
        return ::GetDlgCtrlID(::GetFocus());
    };
    std::vector<int> walked{::GetDlgCtrlID(::GetFocus())};
    for (const WPARAM key :
         {VK_TAB, VK_TAB, VK_RETURN, VK_ESCAPE, VK_TAB, VK_TAB, VK_SPACE, VK_SPACE, VK_TAB}) {
        press(key);
        if (const int focus = dispatch(); key == VK_TAB) walked.push_back(focus);
    }
    EXPECT_EQ(walked,
              (std::vector<int>{kListView1, kCommand1, kCommand3, kCommand4, kCheck1, kListView1}));

    const std::string a = page("a.html", "a  a"), b = page("b.HTM", "b  b");
    // The last answer is for an Open dialog that must not come up during the batch.
    script.answers = {L"", wide(folder_) + std::wstring(L"\0a.html\0b.HTM", 13), wide(a)};
    click(kCommand1);  // cancelled
    click(kCommand1);
    // Space on "Start Compression >": commands and drops that arrive while the batch runs are
    // turned away, whole, and the button has the focus again once it is done.
    ::SetFocus(form.control(kCommand3));
    press(VK_SPACE);
    drop({page("late.html", "x")});
    ::PostMessageW(form.window(), WM_COMMAND, MAKEWPARAM(kCommand4, BN_CLICKED), 0);
    ::PostMessageW(form.window(), WM_COMMAND, MAKEWPARAM(kCommand1, BN_CLICKED), 0);
    const int focus = dispatch();
    EXPECT_EQ(std::tuple(focus, shown(), readFile(a) + readFile(b)),
              std::tuple(int(kCommand3), std::vector<std::string>{b, a, "2"}, "a a\r\nb b\r\n"));

    ListView_SetItemState(list, 1, LVIS_SELECTED, LVIS_SELECTED);
    NMHDR doubleClick{list, kListView1, static_cast<UINT>(NM_DBLCLK)};
    ::SendMessageW(form.window(), WM_NOTIFY, kListView1, reinterpret_cast<LPARAM>(&doubleClick));

    // A file gone by its turn: the figures say so, the row's tip says why, the message lists it.
    ::DeleteFileW(wide(a).c_str());
    click(kCommand3);
    wchar_t tip[512] = L"";
    NMLVGETINFOTIPW info{
        {list, kListView1, static_cast<UINT>(LVN_GETINFOTIPW)}, 0, tip, 512, 1, 0, 0};
    ::SendMessageW(form.window(), WM_NOTIFY, kListView1, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(std::tuple(form.fileList().row(2)->ratio, std::wstring(tip)),
              std::tuple("Failed", L"the file does not exist"));
    click(kCommand4);
    EXPECT_EQ(shown(), std::vector<std::string>{"2"});  // the count stays

    // Closing while a batch runs stops it and leaves the rest of the pages alone.
    const std::string site = folder_ + "\\site\\", one = page("one.html", "x  x");
    for (const char* name : {"sub\\z.HTML", "b.htm", "notes.txt"}) writeFile(site + name, "x  x");
    drop({one, page("two.css", "x  x"), folder_ + "\\site"});
    dispatch();
    EXPECT_EQ(shown(), (std::vector{site + "sub\\z.HTML", site + "b.htm", one, std::string("3")}));
    ::PostMessageW(form.window(), WM_CLOSE, 0, 0);
    click(kCommand3);
    EXPECT_EQ(
        std::tuple(form.window(), readFile(one), script.log),
        std::tuple(nullptr, "x  x",
                   std::vector<std::wstring>{
                       question, question, L"i: All HTML files are compressed successfully.",
                       L"open: " + wide(a) + L" 10",
                       L"!: 1 of 2 files could not be compressed and were left unchanged:\n\n" +
                           wide(a) + L": the file does not exist"}));
}

TEST(Form1Win32Scales, EveryTextFitsInTahomaAndThePicturesAreDrawnForTheScale) {
    Scripted script;
    SystemShell shell;
    // Whether a banner was drawn for the scale; if not, the nearest larger one is resampled.
    for (const auto& [dpi, drawn] : {std::pair(96, true), {120, false}, {144, true}, {192, true}}) {
        Form1 form{::GetModuleHandleW(nullptr), script, shell};
        ASSERT_TRUE(form.create(dpi));
        const auto px = [&](int twips) { return ::MulDiv(twips, dpi, 1440); };
        RECT check;  // below the client area, out of sight as designed
        ::GetWindowRect(form.control(kCheck1), &check);
        ::MapWindowPoints(nullptr, form.window(), reinterpret_cast<POINT*>(&check), 1);
        EXPECT_EQ(std::pair(int(check.left), int(check.top)), std::pair(px(9360), px(6960)));

        // Every text fits its box in the font the window really got: Tahoma, in which the design
        // was measured (another face cuts the counter's colon and the column headers).
        HDC dc = ::GetDC(form.window());
        const auto fits = [&](HWND control, const std::wstring& text, int margin, int room) {
            ::SelectObject(dc,
                           reinterpret_cast<HGDIOBJ>(::SendMessageW(control, WM_GETFONT, 0, 0)));
            SIZE size{};
            ::GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &size);
            EXPECT_LE(size.cx + margin, room) << utf8(text) << " at " << dpi;
        };
        const std::pair<ControlId, int> boxes[] = {{kLabel1, 0},   {kLabel2, 0},   {kLabel3, 0},
                                                   {kCommand1, 8}, {kCommand3, 8}, {kCommand4, 8}};
        for (const auto& [id, margin] : boxes) {
            wchar_t text[128];
            RECT box;
            ::GetWindowTextW(form.control(id), text, 128);
            ::GetClientRect(form.control(id), &box);
            fits(form.control(id), text, margin, box.right);
        }
        const HWND list = form.control(kListView1), header = ListView_GetHeader(list);
        for (int column = 0; column < 4; ++column)  // inside its etched edge and margins
            fits(header, wide(design::kColumns[column].header),
                 2 + 2 * Header_GetBitmapMargin(header), ListView_GetColumnWidth(list, column));
        wchar_t face[32];
        ::GetTextFaceW(dc, 32, face);
        EXPECT_STREQ(face, L"Tahoma") << "the Wine prefix needs Wine's fonts (fonts-wine)";
        ::ReleaseDC(form.window(), dc);

        // The pictures fill their boxes: the banner drawn for the scale where there is one, in its
        // 64 colours at most, otherwise resampled smoothly, with blends of them; the row picture.
        DIBSECTION banner{};
        ::GetObjectW(reinterpret_cast<HGDIOBJ>(
                         ::SendMessageW(form.control(kImage1), STM_GETIMAGE, IMAGE_BITMAP, 0)),
                     sizeof banner, &banner);
        const auto* bits = static_cast<const std::uint32_t*>(banner.dsBm.bmBits);
        int side = 0;
        ::ImageList_GetIconSize(ListView_GetImageList(list, LVSIL_SMALL), &side, &side);
        EXPECT_EQ(std::vector({int(banner.dsBm.bmWidth), int(banner.dsBm.bmHeight), side}),
                  std::vector({px(9105), px(1260), ::MulDiv(16, dpi, 96)}));
        ASSERT_TRUE(bits);
        EXPECT_NE(std::set(bits, bits + px(9105) * px(1260)).size() > 64, drawn) << dpi;
    }
}
