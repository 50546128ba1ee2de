#pragma once

#include <QAbstractTableModel>
#include <QItemSelectionModel>
#include <QString>

#include <optional>
#include <vector>

namespace vellork {

// One file of the list: its path (the row's own text) and the three figures shown beside it.
struct FileRow {
    QString path;
    QString size;            // length when the row was added
    QString ratio;           // space saved by the last pass
    QString compressedSize;  // length after the last pass
    QString tip;             // why the last pass left the file alone, or what else it did
};

// The list of files to compress, newest on top. It is the only copy of the list: the window
// shows it, the commands and the batch work on it. Rows are numbered from 1, top to bottom.
class FileListModel : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { FileName = 0, Size = 1, Ratio = 2, CompressedSize = 3, ColumnCount = 4 };

    explicit FileListModel(QObject* parent = nullptr);

    // The header's widths, in twips (15 to a pixel at 96 dots per inch).
    static int columnWidthTwips(int column);

    // The picture every row shows beside its path; the window supplies it.
    void setRowDecoration(const QVariant& decoration);

    // The list's operations. Those taking a row number fail on a number outside 1..count()
    // and then change nothing.
    void insertAtTop(const QString& path);
    bool setColumn(int row, int column, const QString& text);
    bool setTip(int row, const QString& tip);
    std::optional<QString> rowText(int row) const;
    int count() const { return static_cast<int>(rows_.size()); }
    void clear();

    // Shared with the view that shows the list, so the commands can ask what the user selected.
    QItemSelectionModel* selection() { return &selection_; }
    std::optional<QString> selectedRowText() const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    // Kept oldest first, so adding on top is an append.
    FileRow& at(int row) { return rows_[rows_.size() - static_cast<std::size_t>(row)]; }
    const FileRow& at(int row) const { return rows_[rows_.size() - static_cast<std::size_t>(row)]; }
    bool inRange(int row) const { return row >= 1 && row <= count(); }

    std::vector<FileRow> rows_;
    QVariant decoration_;
    QItemSelectionModel selection_;
};

}  // namespace vellork
