#pragma once

#include "batch.h"
#include "filelist.h"
#include "toolkit.h"

#include <QTreeView>
#include <QWidget>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace vellork {

// The file list in report view. A double-click anywhere on it counts, not only on a row.
// Files dragged from a file manager may be dropped on it while it takes drops.
class ListView : public QTreeView {
    Q_OBJECT

public:
    explicit ListView(QWidget* parent = nullptr);

    void setTakesDrops(bool takes) { takesDrops_ = takes; }

signals:
    void listDoubleClicked();
    void pathsDropped(const QStringList& paths);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool takeDrag(QDropEvent* event);

    bool takesDrops_ = true;
};

// A filled rectangle with a one-pixel border, drawn behind the labels and pictures on it.
class Shape : public QWidget {
public:
    Shape(QColor fill, QColor border, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fill_, border_;
};

// A picture at its designed size, drawn for the screen's scale: the version made for that scale
// where there is one, else the nearest larger one scaled down smoothly, or the largest scaled up.
class Picture : public QWidget {
public:
    Picture(QIcon versions, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon versions_;
};

// The program's one window: the banner, the backup warning, the file list and its commands.
class Form1 : public QWidget, private CompressHost {
    Q_OBJECT

public:
    Form1(Dialogs& dialogs, Shell& shell, QWidget* parent = nullptr);

    FileListModel& fileList() { return list_; }
    bool batchRunning() const { return batch_.running(); }

    // The same picture every row of the list shows, and the banner, each in the versions drawn
    // for the scales of screens.
    static QIcon rowPicture();
    static QIcon banner();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void placeControls();
    void connectCommands();

    // The commands.
    void addFiles();                            // "Add File"
    void addDropped(const QStringList& paths);  // files and folders dropped on the list
    void addPaths(const QStringList& paths);    // what both add: one row on top per path
    void startCompression();                    // "Start Compression >"
    void clearList();                           // "Clear List"
    void confirmOption(bool checked);
    void openSelectedFile();  // double-click on the list

    // While a command works through the list, nothing else may change it.
    void setBusy(bool busy);
    void closeIfAsked();

    // CompressHost
    void showMessage(MessageIcon icon, const std::string& text) override;
    void setProgressMaximum(int maximum) override;
    int progressMaximum() const override;
    void setProgressValue(int value) override;
    void yield() override;
    void batchStarted() override { setBusy(true); }
    void batchFinished() override { setBusy(false); }
    bool stopRequested() const override { return closeRequested_; }

    Dialogs& dialogs_;
    Shell& shell_;
    FileListModel list_;
    CompressionBatch batch_{list_, *this};
    bool busy_ = false;
    bool closeRequested_ = false;

    QCheckBox* check1_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command3_ = nullptr;
    QPushButton* command4_ = nullptr;
    QProgressBar* progressBar1_ = nullptr;
    ListView* listView1_ = nullptr;
    QLabel* label1_ = nullptr;
    QLabel* label2_ = nullptr;
    QLabel* label3_ = nullptr;
    Picture* image1_ = nullptr;
    Shape* shape1_ = nullptr;
    Shape* shape2_ = nullptr;
};

}  // namespace vellork
