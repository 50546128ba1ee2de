#include "rows.h"

#include "filepass.h"

#include <cstdio>

namespace vellork {

void FileList::insertAtTop(const std::string& path) {
    rows_.push_back(FileRow{path, {}, {}, {}, {}, resolvedPath(path)});
    tell(0);
}

bool FileList::setColumn(int row, int column, const std::string& text) {
    if (!inRange(row)) return false;
    FileRow& r = at(row);
    switch (column) {
        case FileList::kSizeColumn:
            r.size = text;
            break;
        case FileList::kRatioColumn:
            r.ratio = text;
            break;
        case FileList::kCompressedSizeColumn:
            r.compressedSize = text;
            break;
        default:
            return false;  // the path is never changed
    }
    tell(row, column);
    return true;
}

bool FileList::setTip(int row, const std::string& tip) {
    if (!inRange(row)) return false;
    at(row).tip = tip;
    tell(row, kTipColumn);
    return true;
}

std::optional<std::string> FileList::rowText(int row) const {
    if (!inRange(row)) return std::nullopt;
    return at(row).path;
}

void FileList::clear() {
    if (rows_.empty()) return;
    rows_.clear();
    tell(0);
}

std::vector<std::wstring> splitOpenAnswer(const std::wstring& answer) {
    std::vector<std::wstring> parts;
    if (answer.empty()) return parts;
    std::wstring text = answer;
    if (text.back() != L'\0') text.push_back(L'\0');
    std::size_t start = 0;
    for (std::size_t nul = text.find(L'\0'); nul != std::wstring::npos;
         start = nul + 1, nul = text.find(L'\0', start))
        parts.push_back(text.substr(start, nul - start));
    if (parts.size() <= 1) return parts;
    const std::wstring folder = parts.front() + L'\\';
    std::vector<std::wstring> paths;
    for (std::size_t k = 1; k < parts.size(); ++k) paths.push_back(folder + parts[k]);
    return paths;
}

std::string readableName(const std::string& path) {
    std::string shown;
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\t')
            shown += "\\t";
        else if (c == '\n')
            shown += "\\n";
        else if (c == '\r')
            shown += "\\r";
        else if (u < 0x20 || u == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", u);
            shown += escape;
        } else
            shown += c;
    }
    return shown;
}

}  // namespace vellork
