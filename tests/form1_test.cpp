#include "form1.h"
#include "reference.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <deque>
#include <random>

#include <sys/stat.h>

namespace {

using vellork::Dialogs;
using vellork::Form1;
using vellork::MessageIcon;
using vellork::testing::readFile;
using vellork::testing::TempDir;

// Answers the window's modal questions from a script and records what was asked.
class ScriptedDialogs : public Dialogs {
public:
    struct Asked {
        MessageIcon icon;
        QString text;
        bool yesNo;
    };
    std::vector<Asked> messages;
    std::deque<Answer> answers;           // for Yes/No questions; No when the script runs out
    std::deque<QStringList> fileAnswers;  // for the open dialog; cancelled when it runs out
    QString dialogTitle;
    QStringList dialogFilters;
    std::function<void()> duringMessage;

    Answer message(QWidget*, MessageIcon icon, const QString& text, bool yesNo) override {
        messages.push_back({icon, text, yesNo});
        if (duringMessage) duringMessage();
        if (!yesNo) return Answer::Ok;
        if (answers.empty()) return Answer::No;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    QStringList openFiles(QWidget*, const QString& title, const QStringList& filters) override {
        dialogTitle = title;
        dialogFilters = filters;
        if (fileAnswers.empty()) return {};
        const QStringList answer = fileAnswers.front();
        fileAnswers.pop_front();
        return answer;
    }
};

class ScriptedShell : public vellork::Shell {
public:
    QStringList opened;
    void open(const QString& path) override { opened << path; }
};

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

class WindowTest : public ::testing::Test {
protected:
    template <typename T = QWidget>
    T* control(const char* name) {
        T* widget = window.findChild<T*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString cell(int row, int column) {
        auto& list = window.fileList();
        return list.data(list.index(row - 1, column)).toString();
    }
    void click(const char* name) { QTest::mouseClick(control(name), Qt::LeftButton); }
    // Adds files through the dialog; the answer names them in one folder.
    void addThroughDialog(const TempDir& dir, const QStringList& names) {
        QStringList answer;
        for (const QString& name : names) answer << q(dir.path()) + "/" + name;
        dialogs.fileAnswers.push_back(answer);
        click("Command1");
    }

    ScriptedDialogs dialogs;
    ScriptedShell shell;
    Form1 window{dialogs, shell};
};

TEST_F(WindowTest, MatchesTheDesign) {
    EXPECT_EQ(window.windowTitle(), "Vellork");
    EXPECT_EQ(window.size(), QSize(694, 431));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);

    const struct {
        const char* name;
        QRect geometry;
        QString text;
    } expected[] = {
        {"Check1", {624, 464, 233, 17}, "Use Enchanced Compression (NOT SAFE)"},
        {"Command4", {104, 376, 105, 25}, "Clear List"},
        {"ProgressBar1", {8, 408, 673, 17}, {}},
        {"Command3", {552, 376, 129, 25}, "Start Compression >"},
        {"Command1", {8, 376, 89, 25}, "Add File"},
        {"ListView1", {8, 144, 673, 225}, {}},
        {"Label3",
         {16, 112, 657, 17},
         "Please Take Backup of Your HTML File(s) in Another Folder, Before Compressing..."},
        {"Image1", {8, 8, 607, 84}, {}},
        {"Label2", {328, 383, 49, 17}, "0"},
        {"Label1", {224, 383, 105, 17}, "Total HTML File(s) :"},
        {"Shape1", {0, 0, 697, 97}, {}},
        {"Shape2", {8, 104, 673, 33}, {}},
    };
    for (const auto& e : expected) {
        QWidget* widget = control(e.name);
        ASSERT_TRUE(widget);
        EXPECT_EQ(widget->geometry(), e.geometry) << e.name;
        EXPECT_TRUE(widget->isEnabled()) << e.name;
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            EXPECT_EQ(button->text(), e.text);
        }
        if (auto* label = qobject_cast<QLabel*>(widget); label && !e.text.isNull()) {
            EXPECT_EQ(label->text(), e.text);
        }
    }
    // Check1 lies outside the client area.
    EXPECT_FALSE(window.rect().intersects(control("Check1")->geometry()));
    EXPECT_EQ(control<QLabel>("Image1")->pixmap().size(), QSize(607, 84));
    EXPECT_DOUBLE_EQ(control("Command1")->font().pointSizeF(), 8.25);
    EXPECT_DOUBLE_EQ(control("Label3")->font().pointSizeF(), 9);
    EXPECT_EQ(control("Label3")->palette().color(QPalette::WindowText), QColor(192, 0, 0));
    EXPECT_EQ(control("Label3")->palette().color(QPalette::Window), QColor(255, 255, 128));
    // Drawing order: the banner over its white band, the warning over its yellow strip.
    const QObjectList& children = window.children();
    EXPECT_GT(children.indexOf(control("Image1")), children.indexOf(control("Shape1")));
    EXPECT_GT(children.indexOf(control("Label3")), children.indexOf(control("Shape2")));

    auto* list = control<QTreeView>("ListView1");
    EXPECT_EQ(list->toolTip(), "Double Click the list to open HTML file");
    EXPECT_FALSE(list->rootIsDecorated());
    EXPECT_FALSE(list->isSortingEnabled());
    const int widths[] = {393, 53, 120, 101};
    const char* headers[] = {"File Name", "Size", "Compression Ratio %", "Compressed Size"};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(list->header()->sectionSize(c), widths[c]);
        EXPECT_EQ(list->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
    }
    auto* bar = control<QProgressBar>("ProgressBar1");
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
}

TEST_F(WindowTest, TabMovesThroughTheFocusableControlsInDesignOrder) {
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(QApplication::focusWidget(), control("ListView1"));
    QStringList visited;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(visited, QStringList({"Command1", "Command3", "Command4", "Check1", "ListView1"}));

    // Enter and Escape press no button.
    QTest::keyClick(&window, Qt::Key_Return);
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(window.isVisible());

    // The option box is reached with Tab and switched with Space, which asks once.
    control("Check1")->setFocus();
    dialogs.answers = {Dialogs::Answer::Yes};
    QTest::keyClick(control("Check1"), Qt::Key_Space);
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(control<QCheckBox>("Check1")->isChecked());
}

TEST_F(WindowTest, TheOptionBoxAsksOncePerChangeAndKeepsTheAnswer) {
    auto* box = control<QCheckBox>("Check1");
    const struct {
        bool before;
        Dialogs::Answer answer;
        bool after;
    } cases[] = {{false, Dialogs::Answer::Yes, true},
                 {false, Dialogs::Answer::No, false},
                 {true, Dialogs::Answer::Yes, true},
                 {true, Dialogs::Answer::No, false}};
    for (const auto& c : cases) {
        box->setChecked(c.before);  // from code: no question
        dialogs.messages.clear();
        dialogs.answers = {c.answer};
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(box->isChecked(), c.after);
        EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
        EXPECT_TRUE(dialogs.messages[0].yesNo);
        EXPECT_TRUE(dialogs.messages[0].text.startsWith(
            "Enhanced Compression removes unecessary tags in the HTML file."));
    }
}

TEST_F(WindowTest, AddFileClearListAndTheCountLabel) {
    TempDir dir;
    dir.write("a.html", "aaaa");
    dir.write("b.html", "bb");
    dir.write("c.html", "c");
    addThroughDialog(dir, {"a.html", "b.html", "c.html"});
    EXPECT_EQ(dialogs.dialogTitle, "Select Web Pages");
    EXPECT_EQ(dialogs.dialogFilters, QStringList({"HTML File(s) (*.html)", "HTM File(s) (*.htm)"}));
    const QString folder = q(dir.path()) + QDir::separator();
    EXPECT_EQ(cell(1, 0), folder + "c.html");
    EXPECT_EQ(cell(2, 0), folder + "b.html");
    EXPECT_EQ(cell(3, 0), folder + "a.html");
    EXPECT_EQ(cell(3, 1), "4");
    EXPECT_EQ(cell(1, 2), "");
    EXPECT_FALSE(
        window.fileList().data(window.fileList().index(0, 0), Qt::DecorationRole).isNull());
    EXPECT_EQ(control<QLabel>("Label2")->text(), "3");

    // The same file again, and a name the dialog let through that does not exist.
    addThroughDialog(dir, {"a.html"});
    addThroughDialog(dir, {"typed.html"});
    EXPECT_EQ(cell(2, 0), q(dir.file("a.html")));
    EXPECT_EQ(cell(1, 0), q(dir.file("typed.html")));
    EXPECT_EQ(cell(1, 1), "");
    EXPECT_EQ(control<QLabel>("Label2")->text(), "5");

    // A cancelled dialog changes nothing; clearing keeps the label's number.
    click("Command1");
    EXPECT_EQ(window.fileList().count(), 5);
    click("Command4");
    EXPECT_EQ(window.fileList().count(), 0);
    EXPECT_EQ(control<QLabel>("Label2")->text(), "5");
    click("Command1");  // cancelled again
    EXPECT_EQ(control<QLabel>("Label2")->text(), "5");
    addThroughDialog(dir, {"b.html"});
    EXPECT_EQ(control<QLabel>("Label2")->text(), "1");
    click("Command4");
    click("Command4");  // on an empty list: nothing happens
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST(RealDialog, FilesFromTwoFoldersBecomeRowsWithTheirOwnPaths) {
    // The real open dialog, answered as a user would: two names typed, one in a subfolder.
    TempDir dir;
    std::filesystem::create_directory(dir.file("sub"));
    dir.write("a.html", "aaaa");
    dir.write("sub/one.html", "1");
    dir.write("one.html", "a different file of that name");
    vellork::QtDialogs real;
    ScriptedShell shell;
    Form1 window(real, shell);
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Select Web Pages");
        dialog->setDirectory(QString::fromStdString(dir.path()));
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        QApplication::setActiveWindow(dialog);
        name->setFocus();
        name->clear();
        QTest::keyClicks(name, R"("a.html" "sub/one.html")");
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->click();
    });
    window.findChild<QPushButton*>("Command1")->click();
    auto& list = window.fileList();
    ASSERT_EQ(list.count(), 2);
    EXPECT_EQ(list.rowText(1), QString::fromStdString(dir.file("sub/one.html")));
    EXPECT_EQ(list.rowText(2), QString::fromStdString(dir.file("a.html")));
    EXPECT_EQ(list.data(list.index(0, 1)).toString(), "1");
}

TEST_F(WindowTest, NamesAreShownReadablyOrRefusedNeverMappedToAnotherFile) {
    TempDir dir;
    const std::string odd = dir.write("tab\there.html", "a  b");
    dir.write("caf\xe9.html", "a  b");          // Latin-1: not text in a UTF-8 system
    dir.write("caf\xef\xbf\xbd.html", "x  x");  // what its stand-in character would name
    dialogs.fileAnswers.push_back(
        {QFile::decodeName(odd.c_str()), QFile::decodeName(dir.file("caf\xe9.html").c_str())});
    click("Command1");
    ASSERT_EQ(window.fileList().count(), 1);
    EXPECT_EQ(cell(1, 0), q(dir.path()) + "/tab\\there.html");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Warning);
    EXPECT_TRUE(dialogs.messages[0].text.startsWith("These files were not added"));
    click("Command3");
    EXPECT_EQ(readFile(odd), "a b\r\n");
    EXPECT_EQ(readFile(dir.file("caf\xef\xbf\xbd.html")), "x  x");
    EXPECT_EQ(readFile(dir.file("caf\xe9.html")), "a  b");
}

TEST_F(WindowTest, DoubleClickOpensTheSelectedRowOnly) {
    TempDir dir;
    dir.write("a.html", "a");
    dir.write("b.html", "b");
    addThroughDialog(dir, {"a.html", "b.html"});
    window.show();
    auto* list = control<QTreeView>("ListView1");
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(50, 200));  // below the rows
    EXPECT_TRUE(shell.opened.isEmpty());

    const QRect second = list->visualRect(list->model()->index(1, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second.center());
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_EQ(shell.opened[0], cell(2, 0));
    // A double-click below the rows still opens the row that is selected.
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, QPoint(50, 200));
    EXPECT_EQ(shell.opened.size(), 2);

    // The file gone meanwhile: the program shows nothing of its own.
    std::filesystem::remove(dir.file("a.html"));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(WindowTest, AWholeUseFromAddFileToTheFinalMessage) {
    TempDir dir;
    dir.write("a.html", std::string(798, 'x') + std::string(200, ' ') + "\r\n");
    dir.write("b.html", "<p>\r\n\t  hello   world  \r\n</p>\r\n");
    addThroughDialog(dir, {"a.html", "b.html"});
    click("Command3");
    EXPECT_EQ(readFile(dir.file("a.html")), std::string(798, 'x') + "\r\n");
    EXPECT_EQ(readFile(dir.file("b.html")), "<p> hello world</p>\r\n");
    EXPECT_EQ(cell(2, 1), "1000");
    EXPECT_EQ(cell(2, 2), "20 %");
    EXPECT_EQ(cell(2, 3), "800");
    auto* bar = control<QProgressBar>("ProgressBar1");
    EXPECT_EQ(bar->maximum(), 2);
    EXPECT_EQ(bar->value(), 2);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Information);
    EXPECT_EQ(dialogs.messages[0].text, "All HTML files are compressed successfully.");
    EXPECT_TRUE(control("Command3")->isEnabled());

    // A file that cannot be compressed: its row says so and its tip says why.
    dialogs.messages.clear();
    addThroughDialog(dir, {"gone.html"});
    click("Command3");
    EXPECT_EQ(cell(1, 3), "Failed");
    EXPECT_EQ(dialogs.messages.back().icon, MessageIcon::Warning);
    window.show();
    auto* list = control<QTreeView>("ListView1");
    auto tipAt = [&](QPoint at) {
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        return QToolTip::text();
    };
    EXPECT_EQ(tipAt(list->visualRect(list->model()->index(0, 2)).center()),
              "the file does not exist");
    EXPECT_EQ(tipAt(QPoint(50, 200)), "Double Click the list to open HTML file");

    // An empty list is refused.
    click("Command4");
    dialogs.messages.clear();
    click("Command3");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].icon, MessageIcon::Critical);
    EXPECT_EQ(dialogs.messages[0].text, "No files selected to Compress.");
}

TEST_F(WindowTest, AwkwardPathsFailTheirRowsPromptlyOrComeOutRight) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe.html").c_str(), 0644), 0);
    std::filesystem::create_directory(dir.file("folder.html"));
    std::filesystem::create_symlink("nowhere.html", dir.file("broken.html"));
    for (const char* name : {"with space.html", "caf\xc3\xa9 \xe6\x97\xa5.html", "-dash.html"})
        dir.write(name, "a  b");
    addThroughDialog(dir, {"pipe.html", "folder.html", "broken.html", "with space.html",
                           QString::fromUtf8("caf\xc3\xa9 \xe6\x97\xa5.html"), "-dash.html"});
    dialogs.fileAnswers.push_back({"/dev/zero"});
    click("Command1");
    EXPECT_EQ(cell(1, 1), "");  // a device has no size to show
    EXPECT_EQ(cell(7, 1), "");  // nor has a pipe, and asking did not block
    click("Command3");
    const QString tips[] = {"it is a device, not a file",
                            "",
                            "",
                            "",
                            "the symbolic link points to a file that does not exist",
                            "it is a folder, not a file",
                            "it is a pipe, not a file"};
    for (int r = 1; r <= 7; ++r) {
        const QString tip =
            window.fileList().data(window.fileList().index(r - 1, 0), Qt::ToolTipRole).toString();
        EXPECT_EQ(tip, tips[r - 1]) << r;
        EXPECT_EQ(cell(r, 3), tips[r - 1].isEmpty() ? "5" : "Failed") << r;
    }
    EXPECT_EQ(readFile(dir.file("caf\xc3\xa9 \xe6\x97\xa5.html")), "a b\r\n");
    EXPECT_TRUE(dialogs.messages.back().text.startsWith("4 of 7 files"));
}

TEST(WindowMonkey, RandomInputDuringABatchNeverBreaksIt) {
    // Clicks, keys, double-clicks and close requests at random while a batch runs: no crash,
    // never a second batch, and every page either untouched or completely compressed.
    std::mt19937 rng(99);
    int actions = 0;
    for (int round = 0; round < 6; ++round) {
        TempDir dir;
        ScriptedDialogs dialogs;
        ScriptedShell shell;
        Form1 window(dialogs, shell);
        window.show();
        std::string page;
        for (int i = 0; i < 300000; ++i) page += "  <td>\t" + std::to_string(i) + "  </td>\r\n";
        const std::string squeezed = vellork::reference::squeeze(page);
        QStringList answer;
        for (int f = 0; f < 6; ++f) {
            const std::string name = "p" + std::to_string(f) + ".html";
            answer << QString::fromStdString(dir.write(name, page));
        }
        dialogs.fileAnswers.push_back(answer);
        window.findChild<QPushButton*>("Command1")->click();

        const bool mayClose = round % 2 == 1;
        int batchesSeen = 0;
        QTimer monkey;
        monkey.setInterval(1);
        QObject::connect(&monkey, &QTimer::timeout, [&] {
            // A burst per turn of the event loop, as a hurried user would give.
            for (int burst = 0; burst < 10; ++burst) {
                if (!window.batchRunning() || actions > 20000) return;
                ++actions;
                auto* list = window.findChild<QTreeView*>("ListView1");
                const QPoint somewhere(rng() % list->viewport()->width(),
                                       rng() % list->viewport()->height());
                switch (rng() % 8) {
                    case 0:
                        QTest::mouseClick(window.findChild<QWidget*>("Command1"), Qt::LeftButton);
                        break;
                    case 1:
                        QTest::mouseClick(window.findChild<QWidget*>("Command3"), Qt::LeftButton);
                        break;
                    case 2:
                        QTest::mouseClick(window.findChild<QWidget*>("Command4"), Qt::LeftButton);
                        break;
                    case 3:
                        QTest::mouseClick(window.findChild<QWidget*>("Check1"), Qt::LeftButton);
                        break;
                    case 4:
                        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, somewhere);
                        break;
                    case 5:
                        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, somewhere);
                        break;
                    case 6: {
                        const Qt::Key keys[] = {Qt::Key_Tab, Qt::Key_Space, Qt::Key_Return,
                                                Qt::Key_Escape, Qt::Key_Down};
                        QWidget* target =
                            QApplication::focusWidget() ? QApplication::focusWidget() : &window;
                        QTest::keyClick(target, keys[rng() % 5]);
                        break;
                    }
                    case 7:
                        if (mayClose && rng() % 3 == 0) window.close();
                        break;
                }
            }
        });
        dialogs.duringMessage = [&] { ++batchesSeen; };
        monkey.start();
        window.findChild<QPushButton*>("Command3")->click();
        monkey.stop();

        EXPECT_LE(batchesSeen, 1) << "round " << round;
        EXPECT_FALSE(window.batchRunning());
        EXPECT_EQ(window.fileList().count(), 6) << "round " << round;
        int compressed = 0;
        for (int f = 0; f < 6; ++f) {
            const std::string now = readFile(dir.file("p" + std::to_string(f) + ".html"));
            ASSERT_TRUE(now == page || now == squeezed) << "round " << round << " file " << f;
            compressed += now == squeezed;
        }
        if (!mayClose) {
            EXPECT_EQ(compressed, 6);
        }
        EXPECT_EQ(dir.names().size(), 6u);
    }
    EXPECT_GT(actions, 50);
    ::testing::Test::RecordProperty("monkey_actions", actions);
}

TEST_F(WindowTest, CommandsWaitWhileABatchRuns) {
    TempDir dir;
    for (const char* name : {"a.html", "b.html", "c.html"}) dir.write(name, "a  b");
    addThroughDialog(dir, {"a.html", "b.html", "c.html"});
    QStringList enabledDuringBatch;
    int clicks = 0;
    QTimer::singleShot(0, [&] {
        for (const char* name : {"Command1", "Command3", "Command4", "Check1"}) {
            if (control(name)->isEnabled()) enabledDuringBatch << name;
            click(name);
            ++clicks;
        }
    });
    // The final message is answered while the commands are still off.
    dialogs.duringMessage = [&] { EXPECT_FALSE(control("Command3")->isEnabled()); };
    click("Command3");
    EXPECT_EQ(clicks, 4);
    EXPECT_TRUE(enabledDuringBatch.isEmpty()) << enabledDuringBatch.join(",").toStdString();
    ASSERT_EQ(dialogs.messages.size(), 1u);  // one batch, one final message, no option question
    EXPECT_EQ(window.fileList().count(), 3);
    EXPECT_TRUE(control("Command1")->isEnabled());
}

TEST_F(WindowTest, ClosingDuringABatchStopsItAndClosesTheWindow) {
    TempDir dir;
    for (const char* name : {"a.html", "b.html"}) dir.write(name, "a  b");
    addThroughDialog(dir, {"a.html", "b.html"});
    window.show();
    QTimer::singleShot(0, &window, [&] { window.close(); });  // arrives at the batch's first yield
    click("Command3");
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.batchRunning());
    EXPECT_EQ(readFile(dir.file("a.html")), "a  b");
    EXPECT_TRUE(dialogs.messages.empty());
}

}  // namespace

int main(int argc, char** argv) {
    // The window tests need no display, also when CTest lists them.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
