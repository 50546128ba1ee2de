#pragma once

#include "pagecheck.h"  // isPageName, for the windows

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vellork {

// One file of the list: its path (the row's own text) and the three figures shown beside it.
// Texts are UTF-8.
struct FileRow {
    std::string path;
    std::string size;            // length when the row was added
    std::string ratio;           // space saved by the last pass
    std::string compressedSize;  // length after the last pass
    std::string tip;             // why the last pass left the file alone, or what else it did
    std::string resolved;        // where the path led when the row was added (resolvedPath)
};

// The list of files to compress, newest on top, with no window toolkit behind it: each window
// shows it through its own view. Rows are numbered from 1, top to bottom; the operations taking
// a row number fail on a number outside 1..count() and then change nothing.
class FileList {
public:
    // The columns beside the path, numbered as the list shows them.
    static constexpr int kSizeColumn = 1, kRatioColumn = 2, kCompressedSizeColumn = 3;
    static constexpr int kColumnCount = 4;

    // Told after every change: the row and column changed (kTipColumn for the tip), or row 0
    // when rows came or went.
    static constexpr int kTipColumn = -1;
    using Changed = std::function<void(int row, int column)>;
    void onChange(Changed changed) { changed_ = std::move(changed); }

    // The row keeps the path as given and, resolved at once, the page it leads to now: a
    // batch reaches that page again without following any link.
    void insertAtTop(const std::string& path);
    bool setColumn(int row, int column, const std::string& text);
    bool setTip(int row, const std::string& tip);
    std::optional<std::string> rowText(int row) const;
    const FileRow* row(int row) const { return inRange(row) ? &at(row) : nullptr; }
    int count() const { return static_cast<int>(rows_.size()); }
    void clear();

private:
    // Kept oldest first, so adding on top is an append.
    FileRow& at(int row) { return rows_[rows_.size() - static_cast<std::size_t>(row)]; }
    const FileRow& at(int row) const { return rows_[rows_.size() - static_cast<std::size_t>(row)]; }
    bool inRange(int row) const { return row >= 1 && row <= count(); }
    void tell(int row, int column = 0) {
        if (changed_) changed_(row, column);
    }

    std::vector<FileRow> rows_;
    Changed changed_;
};

// The paths a multi-select open dialog answers with: one whole path, or the folder followed by
// each chosen name, separated by NULs, with or without a final NUL. The folder always gets one
// backslash of its own before each name, whatever it ends with.
std::vector<std::wstring> splitOpenAnswer(const std::wstring& answer);

// A path as a list shows it: control characters (a TAB or a line feed in a name) would break
// the row's line, so they appear as escapes.
std::string readableName(const std::string& path);

}  // namespace vellork
