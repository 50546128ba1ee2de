// Vellork.exe's window, made in the test's own process under Wine, with scripted dialogs, and
// the resources built into it: the icon group, the version block, and the manifest that brings
// version 6 of the common controls into the process.

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
        return at ? std::wstring(
                        static_cast<const wchar_t*>(::LockResource(::LoadResource(self, at))),
                        ::SizeofResource(self, at) / 2)
                  : L"";
    };
    const WORD neutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
    const std::wstring group = resource(RT_GROUP_ICON, 1, neutral);
    std::vector<int> ids;  // each entry of the group is seven words long, its id the last
    for (std::size_t i = 0; group.size() > 2 && i < group[2]; ++i) ids.push_back(group[9 + 7 * i]);
    EXPECT_EQ(ids, (std::vector<int>{30001, 30002, 30003, 30004}));
    for (int id : ids) EXPECT_NE(resource(RT_ICON, id, neutral), L"") << id;
    for (int size : {16, 32})
        EXPECT_NE(::LoadImageW(self, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0), nullptr);
    const std::wstring version =
        resource(RT_VERSION, 1, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    EXPECT_NE(version.find(L"MORVANTE Vellork"), std::wstring::npos);
    EXPECT_NE(version.find(L"2.00"), std::wstring::npos);
}

TEST(OpenAnswer, OnePathOrAFolderAndItsNames) {
    const struct {
        std::wstring answer;
        std::vector<std::wstring> paths;
    } cases[] = {
        {L"", {}},
        {L"C:\\web\\a.html", {L"C:\\web\\a.html"}},
        {std::wstring(L"C:\\web\0a.html\0b.htm\0", 20), {L"C:\\web\\a.html", L"C:\\web\\b.htm"}},
        {std::wstring(L"C:\\\0a.html\0b.htm", 16), {L"C:\\\\a.html", L"C:\\\\b.htm"}},
    };
    for (const auto& c : cases) EXPECT_EQ(splitOpenAnswer(c.answer), c.paths) << c.paths.size();
}

struct Scripted : win32::Dialogs, win32::Shell {
    std::deque<std::wstring> answers;
    Answer yesNo = Answer::No;
    std::vector<std::pair<MessageIcon, std::wstring>> messages;
    std::vector<std::wstring> opened;
    Answer message(HWND, MessageIcon icon, const std::wstring& text, bool asks) override {
        messages.emplace_back(icon, text);
        return asks ? yesNo : Answer::Ok;
    }
    std::wstring openAnswer(HWND, const std::wstring& title, const std::wstring& filter) override {
        EXPECT_EQ(title, L"Select Web Pages");
        EXPECT_EQ(filter, std::wstring(L"HTML File(s)\0*.html\0HTM File(s)\0*.htm\0", 38));
        std::wstring answer = answers.empty() ? L"" : answers.front();
        if (!answers.empty()) answers.pop_front();
        return answer;
    }
    void open(HWND, const std::wstring& path) override { opened.push_back(path); }
};

class Form1Test : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        ASSERT_TRUE(form.create()) << "no window could be made";
    }
    void click(ControlId id) { ::SendMessageW(form.control(id), BM_CLICK, 0, 0); }
    std::vector<std::string> rows() {
        std::vector<std::string> out;
        for (int i = 1; i <= form.fileList().count(); ++i)
            out.push_back(*form.fileList().rowText(i));
        return out;
    }
    std::wstring text(ControlId id) {
        wchar_t buffer[256];
        return std::wstring(buffer, ::GetWindowTextW(form.control(id), buffer, 256));
    }
    // A drop as the shell makes one: DROPFILES followed by the NUL-separated wide paths.
    void drop(const std::vector<std::string>& paths) {
        std::wstring names;
        for (const std::string& path : paths) names += wide(path) + L'\0';
        names += L'\0';
        HGLOBAL memory = ::GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
        auto* header = static_cast<DROPFILES*>(::GlobalLock(memory));
        header->pFiles = sizeof(DROPFILES);
        header->fWide = TRUE;
        std::copy(names.begin(), names.end(), reinterpret_cast<wchar_t*>(header + 1));
        ::GlobalUnlock(memory);
        ::PostMessageW(form.control(kListView1), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
    }
    void pump() {
        MSG m;
        while (::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&m);
    }
    Scripted script;
    Form1 form{::GetModuleHandleW(nullptr), script, script};
};

TEST_F(Form1Test, TheWindowStandsAsDesignedOnVersion6OfTheCommonControls) {
    EXPECT_EQ(Form1::setUpsBeforeFirstControl(), 1);  // the process's first control came after it
    wchar_t path[MAX_PATH];
    std::wstring loaded(path,
                        ::GetModuleFileNameW(::GetModuleHandleW(L"comctl32.dll"), path, MAX_PATH));
    for (wchar_t& c : loaded) c = static_cast<wchar_t>(std::towlower(c));
    EXPECT_NE(loaded.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."),
              std::wstring::npos);
    RECT client, check;
    ::GetClientRect(form.window(), &client);
    EXPECT_EQ(std::pair(client.right, client.bottom), std::pair(694L, 431L));
    ::GetWindowRect(form.control(kCheck1), &check);
    ::MapWindowPoints(nullptr, form.window(), reinterpret_cast<POINT*>(&check), 2);
    EXPECT_EQ(std::pair(check.left, check.top), std::pair(624L, 464L));  // outside the client area
    std::vector<int> order;  // Tab walks the children in the order they stand
    for (HWND c = ::GetWindow(form.window(), GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT))
        order.push_back(::GetDlgCtrlID(c));
    EXPECT_EQ(order, (std::vector<int>{kListView1, kCommand1, kCommand3, kProgressBar1, kCommand4,
                                       kLabel1, kLabel2, kCheck1, kLabel3, kImage1}));
    for (auto [answer, checked] :
         {std::pair(Dialogs::Answer::Yes, BST_CHECKED), {Dialogs::Answer::No, BST_UNCHECKED}}) {
        script.yesNo = answer;
        click(kCheck1);
        EXPECT_EQ(::SendMessageW(form.control(kCheck1), BM_GETCHECK, 0, 0), checked);
    }
}

TEST_F(Form1Test, AddCompressOpenAndTheGuardsOfABusyWindow) {
    const std::string a = page("a.html", "a  a"), b = page("b.HTM", "b  b");
    script.answers = {L"", wide(folder_) + std::wstring(L"\0a.html\0b.HTM", 13)};
    click(kCommand1);  // cancelled
    EXPECT_TRUE(rows().empty());
    click(kCommand1);
    EXPECT_EQ(rows(), (std::vector<std::string>{folder_ + "\\b.HTM", folder_ + "\\a.html"}));
    EXPECT_EQ(text(kLabel2), L"2");
    wchar_t shown[64] = L"";  // the list view shows the rows too
    ListView_GetItemText(form.control(kListView1), 1, 0, shown, 64);
    EXPECT_EQ(std::wstring(shown), wide(folder_ + "\\a.html"));

    // Commands and drops that arrive while the batch runs are turned away, whole.
    page("late.html", "x");
    drop({folder_ + "\\late.html"});
    ::PostMessageW(form.window(), WM_COMMAND, MAKEWPARAM(kCommand4, BN_CLICKED), 0);
    ::PostMessageW(form.window(), WM_COMMAND, MAKEWPARAM(kCommand1, BN_CLICKED), 0);
    click(kCommand3);
    ASSERT_EQ(rows().size(), 2u);
    EXPECT_EQ(readFile(a), "a a\r\n");
    EXPECT_EQ(readFile(b), "b b\r\n");
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0],
              std::pair(MessageIcon::Information,
                        std::wstring(L"All HTML files are compressed successfully.")));
    EXPECT_TRUE(::IsWindowEnabled(form.control(kCommand1)));

    ListView_SetItemState(form.control(kListView1), 1, LVIS_SELECTED, LVIS_SELECTED);
    NMHDR dbl{form.control(kListView1), kListView1, static_cast<UINT>(NM_DBLCLK)};
    ::SendMessageW(form.window(), WM_NOTIFY, kListView1, reinterpret_cast<LPARAM>(&dbl));
    EXPECT_EQ(script.opened, (std::vector<std::wstring>{wide(a)}));

    // A file gone by its turn: the figures say so, the row's tip says why, the message lists it.
    ::DeleteFileW(wide(a).c_str());
    click(kCommand3);
    ASSERT_EQ(rows().size(), 2u);
    EXPECT_EQ(form.fileList().row(2)->ratio, "Failed");
    wchar_t tip[512] = L"";
    NMLVGETINFOTIPW info{};
    info.hdr = {form.control(kListView1), kListView1, static_cast<UINT>(LVN_GETINFOTIPW)};
    info.pszText = tip, info.cchTextMax = 512, info.iItem = 1;
    ::SendMessageW(form.window(), WM_NOTIFY, kListView1, reinterpret_cast<LPARAM>(&info));
    EXPECT_NE(std::wstring(tip).find(L"does not exist"), std::wstring::npos) << tip;
    EXPECT_EQ(script.messages.back().first, MessageIcon::Warning);
    EXPECT_EQ(script.messages.back().second.find(L"1 of 2 files could not be compressed"), 0u);

    click(kCommand4);
    EXPECT_TRUE(rows().empty());
    EXPECT_EQ(text(kLabel2), L"2");  // the count changes only when files are added
}

TEST_F(Form1Test, ADropAddsPagesAndEveryPageUnderAFolderInOrder) {
    page("site\\sub\\z.HTML", "z");
    page("site\\b.htm", "b");
    page("site\\notes.txt", "n");
    page("one.html", "o");
    page("two.css", "c");
    drop({folder_ + "\\one.html", folder_ + "\\two.css", folder_ + "\\site"});
    pump();
    EXPECT_EQ(rows(),
              (std::vector<std::string>{folder_ + "\\site\\sub\\z.HTML", folder_ + "\\site\\b.htm",
                                        folder_ + "\\one.html"}));
    EXPECT_EQ(text(kLabel2), L"3");
}

TEST_F(Form1Test, ClosingDuringABatchStopsItAndClosesTheWindow) {
    const std::string a = page("a.html", "a  a");
    script.answers = {wide(a)};
    click(kCommand1);
    ::PostMessageW(form.window(), WM_CLOSE, 0, 0);
    click(kCommand3);
    EXPECT_EQ(form.window(), nullptr);
    EXPECT_TRUE(script.messages.empty());
    EXPECT_EQ(readFile(a), "a  a");
}
