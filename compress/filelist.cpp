#include "filelist.h"

namespace vellork {

namespace {
// A path as the list shows it: control characters (a TAB or a line feed in a name) would
// break the row's line, so they appear as escapes; the row keeps the path itself.
QString readableName(const QString& path) {
    QString shown;
    for (const QChar c : path) {
        if (c == u'\t')
            shown += QStringLiteral("\\t");
        else if (c == u'\n')
            shown += QStringLiteral("\\n");
        else if (c == u'\r')
            shown += QStringLiteral("\\r");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QChar(u'0'));
        else
            shown += c;
    }
    return shown;
}
}  // namespace

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent), selection_(this) {}

int FileListModel::columnWidthTwips(int column) {
    static constexpr int widths[ColumnCount] = {5901, 800, 1800, 1510};
    return column >= 0 && column < ColumnCount ? widths[column] : 0;
}

void FileListModel::setRowDecoration(const QVariant& decoration) {
    decoration_ = decoration;
    if (!rows_.empty()) emit dataChanged(index(0, FileName), index(count() - 1, FileName));
}

void FileListModel::insertAtTop(const QString& path) {
    beginInsertRows({}, 0, 0);
    rows_.push_back(FileRow{path, {}, {}, {}, {}});
    endInsertRows();
}

bool FileListModel::setColumn(int row, int column, const QString& text) {
    if (!inRange(row)) return false;
    FileRow& r = at(row);
    switch (column) {
        case Size:
            r.size = text;
            break;
        case Ratio:
            r.ratio = text;
            break;
        case CompressedSize:
            r.compressedSize = text;
            break;
        default:
            return false;  // the path is never changed
    }
    const QModelIndex changed = index(row - 1, column);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
    return true;
}

bool FileListModel::setTip(int row, const QString& tip) {
    if (!inRange(row)) return false;
    at(row).tip = tip;
    emit dataChanged(index(row - 1, 0), index(row - 1, ColumnCount - 1), {Qt::ToolTipRole});
    return true;
}

std::optional<QString> FileListModel::rowText(int row) const {
    if (!inRange(row)) return std::nullopt;
    return at(row).path;
}

void FileListModel::clear() {
    if (rows_.empty()) return;
    beginResetModel();
    rows_.clear();
    endResetModel();
}

std::optional<QString> FileListModel::selectedRowText() const {
    const QModelIndex current = selection_.currentIndex();
    if (!current.isValid() || !selection_.isRowSelected(current.row())) return std::nullopt;
    return rowText(current.row() + 1);
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !inRange(index.row() + 1)) return {};
    const FileRow& r = at(index.row() + 1);
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case FileName:
                    return readableName(r.path);
                case Size:
                    return r.size;
                case Ratio:
                    return r.ratio;
                case CompressedSize:
                    return r.compressedSize;
            }
            return {};
        case Qt::DecorationRole:
            return index.column() == FileName ? decoration_ : QVariant();
        case Qt::ToolTipRole:
            return r.tip.isEmpty() ? QVariant() : QVariant(r.tip);
        case Qt::TextAlignmentRole:
            return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
            case FileName:
                return tr("File Name");
            case Size:
                return tr("Size");
            case Ratio:
                return tr("Compression Ratio %");
            case CompressedSize:
                return tr("Compressed Size");
        }
    }
    if (role == Qt::TextAlignmentRole) return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

}  // namespace vellork
