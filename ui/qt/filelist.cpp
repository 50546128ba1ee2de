#include "filelist.h"

#include "design.h"

namespace vellork {

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent), selection_(this) {
    // Rows that come or go are announced by this model's own operations around the change; a
    // changed row may come from the batch, which works on the list directly.
    rows_.onChange([this](int row, int column) {
        if (row <= 0) return;
        if (column == FileList::kTipColumn)
            emit dataChanged(index(row - 1, 0), index(row - 1, ColumnCount - 1), {Qt::ToolTipRole});
        else
            emit dataChanged(index(row - 1, column), index(row - 1, column), {Qt::DisplayRole});
    });
}

int FileListModel::columnWidthTwips(int column) {
    return column >= 0 && column < ColumnCount ? design::kColumns[column].widthTwips : 0;
}

void FileListModel::setRowDecoration(const QVariant& decoration) {
    decoration_ = decoration;
    if (count() > 0) emit dataChanged(index(0, FileName), index(count() - 1, FileName));
}

void FileListModel::insertAtTop(const QString& path) {
    beginInsertRows({}, 0, 0);
    rows_.insertAtTop(path.toStdString());
    endInsertRows();
}

bool FileListModel::setColumn(int row, int column, const QString& text) {
    return column != FileName && rows_.setColumn(row, column, text.toStdString());
}

bool FileListModel::setTip(int row, const QString& tip) {
    return rows_.setTip(row, tip.toStdString());
}

std::optional<QString> FileListModel::rowText(int row) const {
    const std::optional<std::string> path = rows_.rowText(row);
    if (!path) return std::nullopt;
    return QString::fromStdString(*path);
}

void FileListModel::clear() {
    if (rows_.count() == 0) return;
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
    const FileRow& r = *rows_.row(index.row() + 1);
    const auto text = [](const std::string& t) { return QString::fromStdString(t); };
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case FileName:
                    return text(readableName(r.path));
                case Size:
                    return text(r.size);
                case Ratio:
                    return text(r.ratio);
                case CompressedSize:
                    return text(r.compressedSize);
            }
            return {};
        case Qt::DecorationRole:
            return index.column() == FileName ? decoration_ : QVariant();
        case Qt::ToolTipRole:
            return r.tip.empty() ? QVariant() : QVariant(text(r.tip));
        case Qt::TextAlignmentRole:
            return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) {
        if (section >= 0 && section < ColumnCount)
            return QString::fromUtf8(design::kColumns[section].header);
    }
    if (role == Qt::TextAlignmentRole) return QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

}  // namespace vellork
