// Vellork.exe's window, made in the test's own process under Wine with scripted dialogs, and the
// resources built into it: icons, version block, the manifest that brings in common controls 6.

#include "form1.h"
#include "win32_test_util.h"

#include <shlobj.h>

#include <deque>

using namespace vellork;
using namespace vellork::win32;
using namespace vellork::testing;

TEST(WindowsResources, TheNeutralIconGroupAndTheVersionBlock) {
    const HMODULE self = ::GetModuleHandleW(nullptr);
    auto resource = [&](const wchar_t* type, int id, WORD language) {
        HRSRC at = ::FindResourceExW(self, type, MAKEINTRESOURCEW(id), language);
        const auto* data = static_cast<const wchar_t*>(::LockResource(::LoadResource(self, at)));
        return std::wstring(data, data ? ::SizeofResource(self, at) / 2 : 0);
    };
    const std::wstring group =
        resource(RT_GROUP_ICON, 1, MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    std::vector<int> ids;  // each entry of the group is seven words long, its id the last
    for (std::size_t i = 0; group.size() > 2 && i < group[2]; ++i) ids.push_back(group[9 + 7 * i]);
    EXPECT_EQ(ids, (std::vector<int>{30001, 30002, 30003, 30004}));
    for (int size : {16, 32})
        EXPECT_NE(::LoadImageW(self, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0), nullptr);
    const std::wstring version = resource(RT_VERSION, 1, 0x0409);  // English (United States)
    EXPECT_NE(version.find(L"MORVANTE Vellork"), std::wstring::npos);
    EXPECT_NE(version.find(L"2.00"), std::wstring::npos);
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

struct Scripted : win32::Dialogs, win32::Shell {
    std::deque<std::wstring> answers;
    std::vector<std::pair<MessageIcon, std::wstring>> messages;
    std::vector<std::wstring> opened;
    Answer message(HWND, MessageIcon icon, const std::wstring& text, bool asks) override {
        messages.emplace_back(icon, text);
        return asks ? Answer::No : Answer::Ok;
    }
    std::wstring openAnswer(HWND, const std::wstring& title, const std::wstring& filter) override {
        EXPECT_EQ(title + filter,
                  std::wstring(L"Select Web PagesHTML File(s)\0*.html\0HTM File(s)\0*.htm\0", 54));
        const std::wstring answer = answers.empty() ? L"" : answers.front();
        if (!answers.empty()) answers.pop_front();
        return answer;
    }
    void open(HWND, const std::wstring& path) override { opened.push_back(path); }
};

struct Form1Test : TempFolderTest {
    void SetUp() override {
        TempFolderTest::SetUp();
        ASSERT_TRUE(form.create()) << "no window could be made";
    }
    void click(ControlId id) { ::SendMessageW(form.control(id), BM_CLICK, 0, 0); }
    UINT count() { return ::GetDlgItemInt(form.window(), kLabel2, nullptr, FALSE); }
    std::vector<std::string> rows() {  // as the list view shows them
        std::vector<std::string> out(ListView_GetItemCount(form.control(kListView1)));
        for (std::size_t i = 0; i < out.size(); ++i) {
            wchar_t text[MAX_PATH] = L"";
            ListView_GetItemText(form.control(kListView1), i, 0, text, MAX_PATH);
            out[i] = utf8(text);
        }
        return out;
    }
    // A drop as the shell makes one: DROPFILES followed by the NUL-separated wide paths.
    void drop(const std::vector<std::string>& paths) {
        std::wstring names;
        for (const std::string& path : paths) names += wide(path) + L'\0';
        HGLOBAL memory =
            ::GlobalAlloc(GHND, sizeof(DROPFILES) + (names.size() + 1) * sizeof(wchar_t));
        auto* header = static_cast<DROPFILES*>(::GlobalLock(memory));
        *header = {sizeof(DROPFILES), {}, FALSE, TRUE};
        names.copy(reinterpret_cast<wchar_t*>(header + 1), names.size());
        ::GlobalUnlock(memory);
        ::PostMessageW(form.control(kListView1), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
    }
    void notify(UINT code, NMHDR* header) {
        *header = {form.control(kListView1), kListView1, code};
        ::SendMessageW(form.window(), WM_NOTIFY, kListView1, reinterpret_cast<LPARAM>(header));
    }
    Scripted script;
    Form1 form{::GetModuleHandleW(nullptr), script, script};
};

TEST_F(Form1Test, TheWindowStandsAsDesignedOnVersion6OfTheCommonControls) {
    EXPECT_EQ(Form1::setUpsBeforeFirstControl(), 1);  // the process's first control came after it
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(::GetModuleHandleW(L"comctl32.dll"), path, MAX_PATH);
    EXPECT_NE(std::wstring(::CharLowerW(path))
                  .find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."),
              std::wstring::npos);
    RECT client, check;
    ::GetClientRect(form.window(), &client);
    ::GetWindowRect(form.control(kCheck1), &check);
    ::MapWindowPoints(nullptr, form.window(), reinterpret_cast<POINT*>(&check), 2);
    // Check1 stands below the client area, out of sight as designed.
    EXPECT_EQ(std::vector({client.right, client.bottom, check.left, check.top}),
              std::vector<LONG>({694, 431, 624, 464}));
    std::vector<int> order;  // Tab walks the children in the order they stand
    for (HWND c = ::GetWindow(form.window(), GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
        order.push_back(::GetDlgCtrlID(c));
    EXPECT_EQ(order, (std::vector<int>{kListView1, kCommand1, kCommand3, kProgressBar1, kCommand4,
                                       kLabel1, kLabel2, kCheck1, kLabel3, kImage1}));
}

TEST_F(Form1Test, AddCompressOpenAndTheGuardsOfABusyWindow) {
    const std::string a = page("a.html", "a  a"), b = page("b.HTM", "b  b");
    // The last answer is for an Open dialog that must not come up during the batch.
    script.answers = {L"", wide(folder_) + std::wstring(L"\0a.html\0b.HTM", 13), wide(a)};
    click(kCommand1);  // cancelled
    click(kCommand1);
    EXPECT_EQ(std::pair(rows(), count()), std::pair(std::vector<std::string>{b, a}, 2u));

    // Commands and drops that arrive while the batch runs are turned away, whole.
    drop({page("late.html", "x")});
    ::PostMessageW(form.window(), WM_COMMAND, MAKEWPARAM(kCommand4, BN_CLICKED), 0);
    ::PostMessageW(form.window(), WM_COMMAND, MAKEWPARAM(kCommand1, BN_CLICKED), 0);
    click(kCommand3);
    EXPECT_EQ(rows().size(), 2u);
    EXPECT_EQ(readFile(a) + readFile(b), "a a\r\nb b\r\n");
    EXPECT_EQ(
        script.messages,
        (std::vector{std::pair(MessageIcon::Information,
                               std::wstring(L"All HTML files are compressed successfully."))}));

    ListView_SetItemState(form.control(kListView1), 1, LVIS_SELECTED, LVIS_SELECTED);
    NMHDR doubleClick;
    notify(NM_DBLCLK, &doubleClick);
    EXPECT_EQ(script.opened, (std::vector<std::wstring>{wide(a)}));

    // A file gone by its turn: the figures say so, the row's tip says why, the message lists it.
    ::DeleteFileW(wide(a).c_str());
    click(kCommand3);
    EXPECT_EQ(form.fileList().row(2)->ratio, "Failed");
    wchar_t tip[512] = L"";
    NMLVGETINFOTIPW info{};
    info.pszText = tip, info.cchTextMax = 512, info.iItem = 1;
    notify(LVN_GETINFOTIPW, &info.hdr);
    EXPECT_NE(std::wstring(tip).find(L"does not exist"), std::wstring::npos) << tip;
    EXPECT_EQ(std::pair(script.messages.back().first, script.messages.back().second.find(
                                                          L"1 of 2 files could not be compressed")),
              std::pair(MessageIcon::Warning, std::size_t{0}));

    click(kCommand4);
    EXPECT_EQ(std::pair(rows().size(), count()), std::pair(std::size_t{0}, 2u));  // the count stays
}

// Closing while the batch the drop started runs stops it and leaves the rest of the pages alone.
TEST_F(Form1Test, ADropAddsPagesAndEveryPageUnderAFolderInOrderAndCloseStopsTheBatch) {
    for (const char* name :
         {"site\\sub\\z.HTML", "site\\b.htm", "site\\notes.txt", "one.html", "two.css"})
        page(name, "x  x");
    drop({folder_ + "\\one.html", folder_ + "\\two.css", folder_ + "\\site"});
    for (MSG m; ::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE);) ::DispatchMessageW(&m);
    const std::string site = folder_ + "\\site\\";
    EXPECT_EQ(
        std::pair(rows(), count()),
        std::pair(std::vector{site + "sub\\z.HTML", site + "b.htm", folder_ + "\\one.html"}, 3u));
    ::PostMessageW(form.window(), WM_CLOSE, 0, 0);
    click(kCommand3);
    EXPECT_EQ(form.window(), nullptr);
    EXPECT_TRUE(script.messages.empty());
    EXPECT_EQ(readFile(folder_ + "\\one.html"), "x  x");
}
