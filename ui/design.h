#pragma once

// Form1's fixed design, the one both windows (Qt and Win32) are built from.

#include <cstdint>
#include <iterator>
#include <string_view>

namespace vellork::design {

// Where each control stands, in twips from the top-left corner of the client area, front to
// back: among overlapping pictures, shapes and labels the earlier one is drawn over the later one.
struct Placement {
    const char* name;
    int left, top, width, height;
};
inline constexpr Placement kPlacements[] = {
    {"Check1", 9360, 6960, 3495, 255},  // below and right of the client area, as designed
    {"Command4", 1560, 5640, 1575, 375},   {"ProgressBar1", 120, 6120, 10095, 255},
    {"Command3", 8280, 5640, 1935, 375},   {"Command1", 120, 5640, 1335, 375},
    {"ListView1", 120, 2160, 10095, 3375}, {"Label3", 240, 1680, 9855, 255},
    {"Image1", 120, 120, 9105, 1260},      {"Label2", 4920, 5745, 735, 255},
    {"Label1", 3360, 5745, 1575, 255},     {"Shape1", 0, 0, 10455, 1455},
    {"Shape2", 120, 1560, 10095, 495},
};
inline constexpr int kClientWidthTwips = 10410;
inline constexpr int kClientHeightTwips = 6465;

constexpr const Placement& placement(std::string_view name) {
    for (const Placement& p : kPlacements)
        if (name == p.name) return p;
    return kPlacements[0];
}

// Tab index 0 upwards; labels and the progress bar hold an index but never take the focus.
inline constexpr const char* kTabOrder[] = {"ListView1",    "Command1", "Command3",
                                            "ProgressBar1", "Command4", "Label1",
                                            "Label2",       "Check1",   "Label3"};

// 15 twips to a pixel at 96 dots per inch.
constexpr int pixels(int twips) {
    return (twips * 2 + 15) / 30;
}

// The list's columns: header and width in twips.
struct ListColumn {
    const char* header;
    int widthTwips;
};
inline constexpr ListColumn kColumns[] = {
    {"File Name", 5901}, {"Size", 800}, {"Compression Ratio %", 1800}, {"Compressed Size", 1510}};

struct Rgb {
    std::uint8_t r, g, b;
};
inline constexpr Rgb kLightYellow{255, 255, 128};
inline constexpr Rgb kDarkRed{192, 0, 0};
inline constexpr Rgb kSilver{192, 192, 192};

// Controls that name no font take Tahoma 8.25 pt, the dialog font of the system the window
// was designed on; the warning is a little larger.
inline constexpr const char* kFontFace = "Tahoma";
inline constexpr double kFontPoints = 8.25;
inline constexpr double kWarningPoints = 9;

inline constexpr const char* kTitle = "Vellork";
inline constexpr const char* kAddFile = "Add File";
inline constexpr const char* kStart = "Start Compression >";
inline constexpr const char* kClearList = "Clear List";
inline constexpr const char* kOption = "Use Enchanced Compression (NOT SAFE)";
inline constexpr const char* kCountCaption = "Total HTML File(s) :";
inline constexpr const char* kWarning =
    "Please Take Backup of Your HTML File(s) in Another Folder, Before Compressing...";
inline constexpr const char* kListTip = "Double Click the list to open HTML file";
inline constexpr const char* kOpenTitle = "Select Web Pages";
inline constexpr const char* kOptionQuestion =
    "Enhanced Compression removes unecessary tags in the HTML file. This is not recommended if "
    "you are using Scripts (Like ASP, JAVA, PHP). Only use this compression for only HTML Files. "
    "Are you sure you want to continue?";

}  // namespace vellork::design
