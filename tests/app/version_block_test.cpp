// Each Windows program's version block, read back as Explorer reads it, against the project's
// version in CMakeLists.txt (file version MAJOR.MINOR.PATCH.0, and "2.00" for 2.0.0).

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring wide(const char* text) {
    return std::wstring(text, text + std::char_traits<char>::length(text));
}

TEST(VersionBlock, BothProgramsCarryTheProjectsVersionInEnglish) {
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(VELLORK_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    wchar_t text[32];
    std::swprintf(text, 32, patch ? L"%u.%02u.%u" : L"%u.%02u", major, minor, patch);
    const struct {
        std::wstring path, internalName, description;
    } programs[] = {
        {wide(VELLORK_GUI_FROM_TESTS), L"Vellork", L"Compress HTML Pages"},
        {wide(VELLORK_CLI_FROM_TESTS), L"vellork-cli",
         L"Compress HTML Pages from the command line"},
    };
    for (const auto& program : programs) {
        SCOPED_TRACE(program.internalName);
        const HMODULE image =
            ::LoadLibraryExW(program.path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(image);
        EXPECT_TRUE(::FindResourceExW(image, RT_VERSION, MAKEINTRESOURCEW(1), 0x0409));
        ::FreeLibrary(image);

        DWORD unused = 0;
        std::vector<char> block(::GetFileVersionInfoSizeW(program.path.c_str(), &unused));
        ASSERT_TRUE(!block.empty() && ::GetFileVersionInfoW(program.path.c_str(), 0,
                                                            DWORD(block.size()), block.data()));
        auto value = [&](const std::wstring& key, UINT* length = nullptr) {
            void* at = nullptr;
            UINT size = 0;
            const bool found = ::VerQueryValueW(block.data(), key.c_str(), &at, &size);
            if (length) *length = size;
            return found ? at : nullptr;
        };
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value(L"\\"));
        ASSERT_TRUE(fixed);
        const DWORD high = MAKELONG(minor, major), low = MAKELONG(0, patch);
        EXPECT_TRUE(fixed->dwFileVersionMS == high && fixed->dwFileVersionLS == low &&
                    fixed->dwProductVersionMS == high && fixed->dwProductVersionLS == low);
        EXPECT_TRUE(fixed->dwFileFlags == 0 && fixed->dwFileOS == VOS__WINDOWS32 &&
                    fixed->dwFileType == VFT_APP && fixed->dwFileSubtype == 0);
        UINT length = 0;
        const auto* translation =
            static_cast<const WORD*>(value(L"\\VarFileInfo\\Translation", &length));
        ASSERT_TRUE(translation && length == 4);
        EXPECT_TRUE(translation[0] == 0x0409 && translation[1] == 1200);
        const std::pair<std::wstring, std::wstring> strings[] = {
            {L"CompanyName", L"MORVANTE"},
            {L"FileDescription", program.description},
            {L"FileVersion", text},
            {L"InternalName", program.internalName},
            {L"OriginalFilename", program.internalName + L".exe"},
            {L"ProductName", L"MORVANTE Vellork"},
            {L"ProductVersion", text},
        };
        for (const auto& [key, expected] : strings) {
            const auto* got =
                static_cast<const wchar_t*>(value(L"\\StringFileInfo\\040904B0\\" + key));
            EXPECT_EQ(std::wstring(got ? got : L"(none)"), expected) << key;
        }
    }
}

}  // namespace
