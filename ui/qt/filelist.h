#pragma once

#include "rows.h"

#include <QAbstractTableModel>
#include <QItemSelectionModel>
#include <QString>

#include <optional>

namespace vellork {

// The list of files to compress as the Qt window shows it: a table model over the one FileList
// the commands and the batch work on. Rows are numbered from 1, top to bottom.
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
    int count() const { return rows_.count(); }
    void clear();

    // Shared with the view that shows the list, so the commands can ask what the user selected.
    QItemSelectionModel* selection() { return &selection_; }
    std::optional<QString> selectedRowText() const;

    // The list itself, for the batch.
    FileList& rows() { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    bool inRange(int row) const { return row >= 1 && row <= count(); }

    FileList rows_;
    QVariant decoration_;
    QItemSelectionModel selection_;
};

}  // namespace vellork
