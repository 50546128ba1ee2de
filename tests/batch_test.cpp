#include "batch.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocale>

#include <functional>

namespace {

using vellork::FileListModel;
using vellork::MessageIcon;
using vellork::testing::readFile;
using Message = std::pair<MessageIcon, QString>;

// Records what the batch asks of the window, and answers as a test scripts it.
struct ScriptedHost : vellork::CompressHost {
    std::vector<Message> messages;
    std::vector<int> progress;
    int maximum = 100, started = 0, finished = 0;
    bool stop = false;
    std::function<void()> onYield = [] {};

    void showMessage(MessageIcon i, const std::string& t) override {
        messages.emplace_back(i, QString::fromStdString(t));
    }
    void setProgressMaximum(int value) override { maximum = value; }
    int progressMaximum() const override { return maximum; }
    void setProgressValue(int value) override { progress.push_back(value); }
    void yield() override { onYield(); }
    void batchStarted() override { ++started; }
    void batchFinished() override { ++finished; }
    bool stopRequested() const override { return stop; }
};

class BatchTest : public ::testing::Test {
protected:
    // A row on top, as "Add File" makes it.
    void add(const std::string& path, const QString& size = {}) {
        list.insertAtTop(QString::fromStdString(path));
        list.setColumn(1, FileListModel::Size, size);
    }
    // What the row shows: size, ratio, compressed size, tip.
    QString row(int r) const {
        QStringList shown;
        for (int column : {1, 2, 3}) shown << list.data(list.index(r - 1, column)).toString();
        return shown.join(" | ") + " | " +
               list.data(list.index(r - 1, 0), Qt::ToolTipRole).toString();
    }
    vellork::testing::TempDir dir;
    FileListModel list;
    ScriptedHost host;
    vellork::CompressionBatch batch{list, host};
};

TEST_F(BatchTest, RunsTheRowsTopToBottomAndSaysHowItWent) {
    batch.start();
    const Message refused(MessageIcon::Critical, "No files selected to Compress.");
    EXPECT_EQ(host.messages, std::vector{refused});
    EXPECT_TRUE(host.started == 0 && host.progress.empty() && host.maximum == 100);

    add(dir.write("a.html", std::string(798, 'x') + std::string(200, ' ') + "\r\n"), "1000");
    batch.start();
    EXPECT_EQ(row(1), "1000 | 20 % | 800 | ");
    EXPECT_EQ(std::pair(host.maximum, host.progress), std::pair(1, std::vector{1}));
    const Message success(MessageIcon::Information, "All HTML files are compressed successfully.");
    EXPECT_EQ(host.messages.back(), success);

    // Above it: a missing file, a page with a second name, an empty page. The finished page is
    // taken as it is now and saves nothing more; the size shown stays the one when added.
    add(dir.file("missing.html"), "55");
    add(dir.write("linked.html", "x\r\n\r\n"));
    std::filesystem::create_hard_link(dir.file("linked.html"), dir.file("other-name.html"));
    add(dir.write("empty.html", ""), "0");
    QString writes;  // row and column of each figure, in order
    QObject::connect(&list, &FileListModel::dataChanged, [&](QModelIndex at, QModelIndex to) {
        if (at == to) writes += QString("%1%2 ").arg(at.row() + 1).arg(at.column());
    });
    host.messages.clear();
    batch.start();
    EXPECT_EQ(writes, "13 12 23 22 33 32 43 42 ");
    EXPECT_EQ(row(1), "0 | n/a | 2 | ");
    EXPECT_EQ(row(2),
              " | 40 % | 3 | the file had 1 other name(s) (hard links), which keep the "
              "original content");
    EXPECT_EQ(row(3), "55 | Failed | Failed | the file does not exist");
    EXPECT_EQ(row(4), "1000 | 0 % | 800 | ");
    EXPECT_EQ(host.progress, (std::vector{1, 1, 2, 3, 4}));
    const QString failed =
        QString::fromStdString(dir.file("missing.html")) + ": the file does not exist";
    EXPECT_EQ(host.messages,
              std::vector{Message(
                  MessageIcon::Warning,
                  "1 of 4 files could not be compressed and were left unchanged:\n\n" + failed)});

    // Once the file is there, the next run clears its mark, with the locale's separator.
    dir.write("missing.html", std::string(234, ' ') + std::string(1000, 'x'));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    batch.start();
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(row(3), "55 | 18,8 % | 1002 | ");  // 1234 bytes became 1002
    EXPECT_EQ(host.messages.back(), success);
}

TEST_F(BatchTest, AClickMeanwhileStartsNothingAndAStopEndsItAfterTheFileInHand) {
    int stopAtRow = 0;
    QObject::connect(&list, &FileListModel::dataChanged, [&](QModelIndex at) {
        if (at.row() + 1 == stopAtRow) host.stop = true;
    });
    host.onYield = [&] { batch.start(); };  // the button clicked while the batch yields
    for (const int stopIn : {1, 2, 0}) {    // the row whose figures bring the stop; 0: none
        list.clear();
        add(dir.write("b.html", "b  b"));
        add(dir.write("a.html", "a  a"));
        stopAtRow = stopIn;
        host.stop = false;
        batch.start();
        EXPECT_EQ(readFile(dir.file("a.html")), "a a\r\n") << stopIn;
        EXPECT_EQ(readFile(dir.file("b.html")), stopIn == 1 ? "b  b" : "b b\r\n") << stopIn;
        EXPECT_EQ(host.messages.size(), stopIn == 0 ? 1u : 0u) << stopIn;  // none once stopped
    }
    EXPECT_EQ(host.started + host.finished, 6);
    EXPECT_FALSE(batch.running());
}

TEST_F(BatchTest, ALongListRunsToItsLastRowAndCountsWhatItDoesNotList) {
    // Past the 32,767 rows a 16-bit counter would reach; missing files keep it fast.
    for (int i = 0; i < 40000; ++i) add(dir.file("gone.html"));
    batch.start();
    EXPECT_EQ(host.maximum, 40000);
    EXPECT_EQ(host.progress.back(), 40000);
    EXPECT_EQ(row(40000), " | Failed | Failed | the file does not exist");
    const QString text = host.messages.back().second;
    EXPECT_TRUE(text.startsWith("40000 of 40000 files could not be")) << text.toStdString();
    EXPECT_EQ(text.count("gone.html: the file does not exist\n"), 15);
    EXPECT_TRUE(text.endsWith("gone.html: the file does not exist\n... and 39985 more."));
}

TEST(FileList, KeepsNewestOnTopRefusesRowsOutOfRangeAndNamesOnlyASelectedRow) {
    FileListModel list;
    for (const char* path : {"/a.html", "/b.html", "/a.html"}) list.insertAtTop(path);
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(list.rowText(2), "/b.html");
    EXPECT_EQ(list.rowText(3), "/a.html");
    EXPECT_FALSE(list.rowText(0) || list.rowText(4) || list.setTip(0, "x") ||
                 list.setColumn(4, FileListModel::Size, "x") ||
                 list.setColumn(1, FileListModel::FileName, "/other"));
    EXPECT_TRUE(list.setColumn(3, FileListModel::Size, "12"));
    EXPECT_EQ(list.data(list.index(2, 1)).toString(), "12");
    EXPECT_EQ(list.headerData(2, Qt::Horizontal).toString(), "Compression Ratio %");

    // The current row counts only while it is selected: Ctrl+click takes the selection away.
    EXPECT_FALSE(list.selectedRowText());
    const auto rows = QItemSelectionModel::Rows;
    list.selection()->setCurrentIndex(list.index(1, 0), QItemSelectionModel::ClearAndSelect | rows);
    EXPECT_EQ(list.selectedRowText(), "/b.html");
    list.selection()->select(list.index(1, 0), QItemSelectionModel::Deselect | rows);
    EXPECT_FALSE(list.selectedRowText());
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
