// Each Windows program's version block, read back as Explorer reads it, against the project's
// version in CMakeLists.txt (file version MAJOR.MINOR.PATCH.0, and "2.00" for 2.0.0).

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

TEST(VersionBlock, BothProgramsCarryTheProjectsVersionInEnglish) {
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(VELLORK_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    wchar_t text[32];
    std::swprintf(text, 32, patch ? L"%u.%02u.%u" : L"%u.%02u", major, minor, patch);
    const std::wstring programs[][3] = {
        // path, internal name, description
        {L"" VELLORK_GUI_FROM_TESTS, L"Vellork", L"Compress HTML Pages"},
        {L"" VELLORK_CLI_FROM_TESTS, L"vellork-cli", L"Compress HTML Pages from the command line"}};
    for (const auto& [path, name, description] : programs) {
        SCOPED_TRACE(name);
        const HMODULE image = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        EXPECT_TRUE(image && ::FindResourceExW(image, RT_VERSION, MAKEINTRESOURCEW(1), 0x0409));
        if (image) ::FreeLibrary(image);
        DWORD unused = 0;
        std::vector<char> block(::GetFileVersionInfoSizeW(path.c_str(), &unused));
        ASSERT_TRUE(!block.empty() &&
                    ::GetFileVersionInfoW(path.c_str(), 0, DWORD(block.size()), block.data()));
        auto value = [&](const std::wstring& key) {
            void* at = nullptr;
            UINT size = 0;
            return ::VerQueryValueW(block.data(), key.c_str(), &at, &size) ? at : nullptr;
        };
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value(L"\\"));
        const auto* translation = static_cast<const WORD*>(value(L"\\VarFileInfo\\Translation"));
        ASSERT_TRUE(fixed && translation);
        const DWORD high = MAKELONG(minor, major), low = MAKELONG(0, patch);
        EXPECT_EQ(std::vector<DWORD>({fixed->dwFileVersionMS, fixed->dwFileVersionLS,
                                      fixed->dwProductVersionMS, fixed->dwProductVersionLS,
                                      fixed->dwFileFlags, fixed->dwFileOS, fixed->dwFileType,
                                      fixed->dwFileSubtype, translation[0], translation[1]}),
                  std::vector<DWORD>(
                      {high, low, high, low, 0, VOS__WINDOWS32, VFT_APP, 0, 0x0409, 1200}));
        const std::wstring filename = name + L".exe";
        for (const auto& [key, expected] : {std::pair{L"CompanyName", L"MORVANTE"},
                                            {L"FileDescription", description.c_str()},
                                            {L"FileVersion", text},
                                            {L"InternalName", name.c_str()},
                                            {L"OriginalFilename", filename.c_str()},
                                            {L"ProductName", L"MORVANTE Vellork"},
                                            {L"ProductVersion", text}}) {
            const auto* got = static_cast<const wchar_t*>(
                value(std::wstring(L"\\StringFileInfo\\040904B0\\") + key));
            EXPECT_EQ(std::wstring(got ? got : L"(none)"), expected) << key;
        }
    }
}
