#include "batch.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocale>

#include <functional>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using vellork::CompressionBatch;
using vellork::FileListModel;
using vellork::MessageIcon;
using vellork::testing::readFile;
using vellork::testing::TempDir;

// Records what the batch asks of the window, and answers as a test scripts it.
class ScriptedHost : public vellork::BatchHost {
public:
    struct Message {
        MessageIcon icon;
        QString text;
    };
    std::vector<Message> messages;
    std::vector<int> progressValues;
    int maximum = 100;
    int yields = 0, started = 0, finished = 0;
    bool stop = false;
    std::function<void()> onYield;

    void showMessage(MessageIcon icon, const QString& text) override {
        messages.push_back({icon, text});
    }
    void setProgressMaximum(int value) override { maximum = value; }
    int progressMaximum() const override { return maximum; }
    void setProgressValue(int value) override { progressValues.push_back(value); }
    void yield() override {
        ++yields;
        if (onYield) onYield();
    }
    void batchStarted() override { ++started; }
    void batchFinished() override { ++finished; }
    bool stopRequested() const override { return stop; }
};

// A 1000-byte page that squeezes to 800 bytes (20 % saved).
std::string pageSaving20() {
    return std::string(798, 'x') + std::string(200, ' ') + "\r\n";
}

struct Row {
    QString path, size, ratio, compressed, tip;
};
Row row(const FileListModel& list, int r) {
    auto text = [&](int column, int role = Qt::DisplayRole) {
        return list.data(list.index(r - 1, column), role).toString();
    };
    return {text(0), text(1), text(2), text(3), text(0, Qt::ToolTipRole)};
}

class BatchTest : public ::testing::Test {
protected:
    void add(const std::string& path, const QString& size = {}) {
        list.insertAtTop(QString::fromStdString(path));
        list.setColumn(1, FileListModel::Size, size);
    }
    TempDir dir;
    FileListModel list;
    ScriptedHost host;
    CompressionBatch batch{list, host};
};

TEST_F(BatchTest, RefusesAnEmptyListAndTouchesNothing) {
    host.maximum = 7;
    batch.start();
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(host.messages[0].text, "No files selected to Compress.");
    EXPECT_EQ(host.maximum, 7);
    EXPECT_TRUE(host.progressValues.empty());
    EXPECT_EQ(host.started, 0);
}

TEST_F(BatchTest, OneRowFillsTheBarAndShowsItsFigures) {
    add(dir.write("a.html", pageSaving20()), "1000");
    host.progressValues.clear();
    batch.start();
    EXPECT_EQ(host.maximum, 1);
    EXPECT_EQ(host.progressValues, std::vector<int>{1});
    const Row r = row(list, 1);
    EXPECT_EQ(r.size, "1000");
    EXPECT_EQ(r.compressed, "800");
    EXPECT_EQ(r.ratio, "20 %");
    EXPECT_EQ(r.tip, "");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Information);
    EXPECT_EQ(host.messages[0].text, "All HTML files are compressed successfully.");
    EXPECT_EQ(host.started, 1);
    EXPECT_EQ(host.finished, 1);
    EXPECT_GE(host.yields, 1);
}

TEST_F(BatchTest, ThreeRowsRunTopToBottomWritingColumnThreeThenTwo) {
    add(dir.write("c.html", "c  c"));
    add(dir.write("b.html", "b  b"));
    add(dir.write("a.html", "a  a"));
    std::vector<std::pair<int, int>> writes;  // (row, column)
    QObject::connect(&list, &FileListModel::dataChanged,
                     [&](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
                         if (roles == QList<int>{Qt::DisplayRole} && from == to)
                             writes.emplace_back(from.row() + 1, from.column());
                     });
    batch.start();
    EXPECT_EQ(host.maximum, 3);
    EXPECT_EQ(host.progressValues, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(writes,
              (std::vector<std::pair<int, int>>{{1, 3}, {1, 2}, {2, 3}, {2, 2}, {3, 3}, {3, 2}}));
    EXPECT_EQ(readFile(dir.file("a.html")), "a a\r\n");
    EXPECT_EQ(host.messages.back().icon, MessageIcon::Information);
}

TEST_F(BatchTest, ASecondRunLeavesCompressedFilesAsTheyAre) {
    add(dir.write("a.html", pageSaving20()), "1000");
    batch.start();
    batch.start();
    EXPECT_EQ(readFile(dir.file("a.html")), std::string(798, 'x') + "\r\n");
    EXPECT_EQ(row(list, 1).compressed, "800");
    EXPECT_EQ(row(list, 1).ratio, "0 %");
    EXPECT_EQ(row(list, 1).size, "1000");  // the size when added stays
}

TEST_F(BatchTest, AFailedRowIsMarkedAndNamedWhileTheOthersSucceed) {
    add(dir.write("c.html", pageSaving20()));
    add(dir.file("missing.html"), "55");
    add(dir.write("a.html", "x\r\n\r\n"));
    batch.start();
    EXPECT_EQ(row(list, 1).ratio, "40 %");
    const Row failed = row(list, 2);
    EXPECT_EQ(failed.size, "55");
    EXPECT_EQ(failed.compressed, "Failed");
    EXPECT_EQ(failed.ratio, "Failed");
    EXPECT_EQ(failed.tip, "the file does not exist");
    EXPECT_EQ(row(list, 3).compressed, "800");
    EXPECT_EQ(row(list, 3).ratio, "20 %");  // not the failed row's stale figures either
    EXPECT_EQ(host.progressValues, (std::vector<int>{1, 2, 3}));
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(host.messages[0].text.startsWith("1 of 3 files could not be compressed"));
    EXPECT_TRUE(host.messages[0].text.contains(QString::fromStdString(dir.file("missing.html")) +
                                               ": the file does not exist"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.html")));

    // Once the file is there, the next run clears the mark.
    dir.write("missing.html", "ok");
    batch.start();
    EXPECT_EQ(row(list, 2).tip, "");
    EXPECT_EQ(row(list, 2).compressed, "4");
}

TEST_F(BatchTest, AnEmptyPageHasNoRatioAndAChangedPageIsTakenAsItIsNow) {
    add(dir.write("empty.html", ""), "0");
    add(dir.write("grown.html", "a"), "1");
    dir.write("grown.html", pageSaving20());
    batch.start();
    EXPECT_EQ(row(list, 1).size, "1");
    EXPECT_EQ(row(list, 1).ratio, "20 %");
    EXPECT_EQ(row(list, 2).compressed, "2");
    EXPECT_EQ(row(list, 2).ratio, "n/a");
    EXPECT_EQ(host.messages.back().icon, MessageIcon::Information);
}

TEST_F(BatchTest, TheRatioUsesTheLocaleDecimalSeparator) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    add(dir.write("a.html", std::string(1234, 'x').replace(0, 234, std::string(234, ' '))));
    batch.start();
    QLocale::setDefault(QLocale::c());
    // 1234 bytes became 1002 (1000 letters and CR LF).
    EXPECT_EQ(row(list, 1).ratio, "18,8 %");
}

TEST_F(BatchTest, NoSecondBatchStartsWhileOneRuns) {
    for (int i = 0; i < 3; ++i) add(dir.write("p" + std::to_string(i) + ".html", "a  b"));
    int nested = 0;
    host.onYield = [&] {
        ++nested;
        batch.start();  // a click on the button while the batch yields
    };
    batch.start();
    EXPECT_GT(nested, 0);
    EXPECT_EQ(host.started, 1);
    EXPECT_EQ(host.messages.size(), 1u);
    EXPECT_FALSE(batch.running());
}

TEST_F(BatchTest, AStopRequestEndsTheBatchAfterTheFileInHand) {
    add(dir.write("b.html", "b  b"));
    add(dir.write("a.html", "a  a"));
    QObject::connect(&list, &FileListModel::dataChanged, [&] { host.stop = true; });
    batch.start();
    EXPECT_EQ(readFile(dir.file("a.html")), "a a\r\n");
    EXPECT_EQ(readFile(dir.file("b.html")), "b  b");
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(host.finished, 1);
}

TEST_F(BatchTest, FilesChangedAfterAddingFailClearlyOrComeOutRight) {
    const std::string page = "<p>  a  </p>\r\n";
    for (const char* name : {"deleted", "folder", "readonly", "linked", "target", "hard"})
        add(dir.write(std::string(name) + ".html", page));
    std::filesystem::remove(dir.file("deleted.html"));
    std::filesystem::remove(dir.file("folder.html"));
    std::filesystem::create_directory(dir.file("folder.html"));
    ::chmod(dir.file("readonly.html").c_str(), 0464);  // writable by its group, not by its owner
    ::chmod(dir.file("target.html").c_str(), 0444);
    std::filesystem::remove(dir.file("linked.html"));
    std::filesystem::create_symlink("hard.html", dir.file("linked.html"));
    std::filesystem::create_hard_link(dir.file("hard.html"), dir.file("other-name.html"));
    batch.start();

    // Rows, top first: hard, target, linked, readonly, folder, deleted.
    EXPECT_EQ(row(list, 1).compressed, "12");
    EXPECT_EQ(row(list, 1).tip,
              "the file had 1 other name(s) (hard links), which keep the original content");
    EXPECT_EQ(readFile(dir.file("other-name.html")), page);
    EXPECT_EQ(row(list, 2).tip, "the file is read-only");
    EXPECT_EQ(row(list, 3).compressed, "12");  // the link's target, already squeezed: unchanged
    EXPECT_EQ(row(list, 3).tip, "");
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("linked.html")));
    EXPECT_EQ(row(list, 4).ratio, "14.29 %");
    EXPECT_EQ(row(list, 5).tip, "it is a folder, not a file");
    EXPECT_EQ(row(list, 6).tip, "the file does not exist");
    EXPECT_EQ(readFile(dir.file("target.html")), page);
    EXPECT_EQ(readFile(dir.file("hard.html")), "<p> a </p>\r\n");
    const QString message = host.messages.back().text;
    EXPECT_TRUE(message.startsWith("3 of 6 files")) << message.toStdString();
    for (const char* name : {"deleted.html", "folder.html", "target.html"})
        EXPECT_TRUE(message.contains(QString::fromStdString(dir.file(name)))) << name;
}

TEST_F(BatchTest, AFullDiskFailsItsRowAndNamesTheFile) {
    // The second page outgrows the file size limit that stands in for a full disk.
    add(dir.write("small.html", "a  b"));
    add(dir.write("large.html", std::string(300000, 'x')));
    add(dir.write("last.html", "c  d"));
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{200000, 200000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        batch.start();
        const bool named = row(list, 2).tip.contains("allowed file size") &&
                           host.messages.back().text.contains(
                               QString::fromStdString(dir.file("large.html")) + ": ");
        const bool others = row(list, 1).ratio == "-25 %" && row(list, 3).ratio == "-25 %";
        ::_exit(named && others ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readFile(dir.file("large.html")), std::string(300000, 'x'));
    EXPECT_EQ(readFile(dir.file("last.html")), "c d\r\n");
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"large.html", "last.html", "small.html"}));
}

TEST_F(BatchTest, ALongListRunsToItsLastRow) {
    // Past the 32,767 rows a 16-bit counter would reach; missing files keep it fast.
    const int rows = 40000;
    for (int i = 0; i < rows; ++i) add(dir.file("gone.html"));
    batch.start();
    EXPECT_EQ(host.maximum, rows);
    EXPECT_EQ(host.progressValues.back(), rows);
    EXPECT_EQ(row(list, rows).compressed, "Failed");
    const QString text = host.messages.back().text;
    EXPECT_TRUE(text.startsWith("40000 of 40000 files")) << text.toStdString();
    EXPECT_EQ(text.count("gone.html"), CompressionBatch::kListedFailures);
    EXPECT_TRUE(text.endsWith("... and 39985 more."));
}

TEST(FileList, KeepsNewestOnTopWithDuplicatesAndRefusesRowsOutOfRange) {
    FileListModel list;
    list.insertAtTop("/a.html");
    list.insertAtTop("/b.html");
    list.insertAtTop("/a.html");
    EXPECT_EQ(list.count(), 3);
    EXPECT_EQ(*list.rowText(1), "/a.html");
    EXPECT_EQ(*list.rowText(2), "/b.html");
    EXPECT_EQ(*list.rowText(3), "/a.html");
    EXPECT_EQ(row(list, 1).size, "");
    EXPECT_EQ(row(list, 1).ratio, "");

    EXPECT_TRUE(list.setColumn(3, FileListModel::Size, "12"));
    EXPECT_EQ(row(list, 3).size, "12");
    EXPECT_FALSE(list.rowText(0));
    EXPECT_FALSE(list.rowText(4));
    EXPECT_FALSE(list.setColumn(4, FileListModel::Size, "x"));
    EXPECT_FALSE(list.setColumn(0, FileListModel::Ratio, "x"));
    EXPECT_FALSE(list.setColumn(1, FileListModel::FileName, "/other"));
    EXPECT_EQ(*list.rowText(1), "/a.html");

    EXPECT_FALSE(list.selectedRowText());
    list.selection()->setCurrentIndex(
        list.index(1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(*list.selectedRowText(), "/b.html");

    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_FALSE(list.selectedRowText());
    list.insertAtTop("/c.html");
    EXPECT_EQ(*list.rowText(1), "/c.html");

    EXPECT_EQ(list.headerData(2, Qt::Horizontal).toString(), "Compression Ratio %");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
