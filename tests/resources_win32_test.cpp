// The resources of the Windows window program, built into this test from the same script and
// read back through Windows itself: the icon group and its images, the version block, and the
// manifest that brings version 6 of the common controls into the process.

#include <gtest/gtest.h>

#include <windows.h>

#include <cwctype>
#include <string>
#include <vector>

namespace {

const HMODULE kSelf = ::GetModuleHandleW(nullptr);
constexpr WORD kNeutral = MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL);
constexpr WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

const BYTE* resource(const wchar_t* type, WORD id, WORD language, DWORD* size = nullptr) {
    HRSRC found = ::FindResourceExW(kSelf, type, MAKEINTRESOURCEW(id), language);
    if (!found) return nullptr;
    if (size) *size = ::SizeofResource(kSelf, found);
    return static_cast<const BYTE*>(::LockResource(::LoadResource(kSelf, found)));
}

WORD u16(const BYTE* at) {
    return static_cast<WORD>(at[0] | at[1] << 8);
}

TEST(WindowsResources, TheNeutralIconGroupNamesItsFourImages) {
    const BYTE* group = resource(RT_GROUP_ICON, 1, kNeutral);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(u16(group + 4), 4);
    const struct {
        int size, bits;
        DWORD bytes;
        WORD id;
    } images[] = {
        {32, 8, 2216, 30001}, {16, 8, 1384, 30002}, {32, 32, 4264, 30003}, {16, 32, 1128, 30004}};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(images[i].id);
        const BYTE* entry = group + 6 + 14 * i;
        EXPECT_EQ(entry[0], images[i].size);
        EXPECT_EQ(u16(entry + 6), images[i].bits);
        EXPECT_EQ(u16(entry + 8) | u16(entry + 10) << 16, images[i].bytes);
        EXPECT_EQ(u16(entry + 12), images[i].id);
        DWORD bytes = 0;
        const auto* image = reinterpret_cast<const BITMAPINFOHEADER*>(
            resource(RT_ICON, images[i].id, kNeutral, &bytes));
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(bytes, images[i].bytes);
        EXPECT_EQ(image->biWidth, images[i].size);
        EXPECT_EQ(image->biHeight, 2 * images[i].size);  // the colour and the mask
        EXPECT_EQ(image->biBitCount, images[i].bits);
    }
    for (int size : {16, 32}) {
        HANDLE icon = ::LoadImageW(kSelf, MAKEINTRESOURCEW(1), IMAGE_ICON, size, size, 0);
        EXPECT_NE(icon, nullptr) << size;
        if (icon) ::DestroyIcon(static_cast<HICON>(icon));
    }
}

TEST(WindowsResources, TheVersionBlockNamesTheProgram) {
    ASSERT_NE(resource(RT_VERSION, 1, kEnglishUs), nullptr);
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::string block(::GetFileVersionInfoSizeW(self, nullptr), '\0');
    ASSERT_FALSE(block.empty());
    ASSERT_TRUE(::GetFileVersionInfoW(self, 0, static_cast<DWORD>(block.size()), block.data()));
    auto query = [&](const std::wstring& key) {
        void* value = nullptr;
        UINT length = 0;
        return ::VerQueryValueW(block.data(), key.c_str(), &value, &length) ? value : nullptr;
    };
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(query(L"\\"));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(std::vector<DWORD>({fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                                  fixed->dwProductVersionMS, fixed->dwProductVersionLS,
                                  fixed->dwFileOS, fixed->dwFileType}),
              std::vector<DWORD>({0x00020000u, 0, 0x00020000u, 0, VOS__WINDOWS32, VFT_APP}));
    const auto* translation = static_cast<const WORD*>(query(L"\\VarFileInfo\\Translation"));
    ASSERT_NE(translation, nullptr);
    EXPECT_EQ(translation[0] | translation[1] << 16, 0x0409 | 1200 << 16);
    const std::pair<const wchar_t*, const wchar_t*> strings[] = {
        {L"CompanyName", L"MORVANTE"},
        {L"FileDescription", L"Compress HTML Pages"},
        {L"FileVersion", L"2.00"},
        {L"InternalName", L"Vellork"},
        {L"OriginalFilename", L"Vellork.exe"},
        {L"ProductName", L"MORVANTE Vellork"},
        {L"ProductVersion", L"2.00"}};
    for (const auto& [key, value] : strings) {
        const auto* text =
            static_cast<const wchar_t*>(query(L"\\StringFileInfo\\040904B0\\" + std::wstring(key)));
        EXPECT_EQ(text ? std::wstring(text) : L"<none>", value)
            << std::string(key, key + wcslen(key));
    }
}

// On Windows and under Wine alike, version 6 lives in the side-by-side store, and only a manifest
// that fits the program's processor brings it in; without one the process gets version 5.
TEST(WindowsResources, TheManifestBringsInVersion6OfTheCommonControls) {
    ASSERT_NE(resource(RT_MANIFEST, 1, kEnglishUs), nullptr);
    HMODULE controls = ::LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(controls, nullptr);
    wchar_t path[MAX_PATH];
    std::wstring loaded(path, ::GetModuleFileNameW(controls, path, MAX_PATH));
    for (wchar_t& c : loaded) c = static_cast<wchar_t>(std::towlower(c));
    EXPECT_NE(loaded.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.0."),
              std::wstring::npos)
        << std::string(loaded.begin(), loaded.end());
}

}  // namespace
