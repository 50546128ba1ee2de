#include "form1.h"
#include "design.h"
#include "reference.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <clocale>
#include <random>

#include <sys/stat.h>
#include <sys/xattr.h>

// Failures show the texts themselves.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace {

using namespace vellork;
using vellork::testing::readFile;

// The window with its modal questions answered from a script, and what it asked recorded.
class WindowTest : public ::testing::Test, public Dialogs, public Shell {
protected:
    Answer message(QWidget*, MessageIcon icon, const QString& text, bool yesNo) override {
        messages << QStringLiteral("CWI")[int(icon)] + QStringLiteral(": ") + text;
        return !yesNo ? Answer::Ok : answers.isEmpty() ? Answer::No : answers.takeFirst();
    }
    QStringList openFiles(QWidget*, const QString& title, const QStringList& filters) override {
        EXPECT_EQ(
            QStringList{title} + filters,
            QStringList({design::kOpenTitle, "HTML File(s) (*.html)", "HTM File(s) (*.htm)"}));
        if (realDialog) return QtDialogs().openFiles(&window, title, filters);
        return files.isEmpty() ? QStringList() : files.takeFirst();
    }
    void open(const QString& path) override { opened << path; }

    QWidget* control(const char* name) { return window.findChild<QWidget*>(name); }
    void click(const char* name) { QTest::mouseClick(control(name), Qt::LeftButton); }
    QString cell(int row, int column, int role = Qt::DisplayRole) {
        return window.fileList().data(window.fileList().index(row - 1, column), role).toString();
    }
    // What rows show, a line each: size, ratio, compressed size, and the row's tip.
    QString rows(int first, int last) {
        QStringList shown;
        for (int r = first; r <= last; ++r)
            shown << cell(r, 1) + " | " + cell(r, 2) + " | " + cell(r, 3) + " | " +
                         cell(r, 0, Qt::ToolTipRole);
        return shown.join("\n");
    }
    QString progress() { return QString("%1/%2").arg(bar->value()).arg(bar->maximum()); }
    QString count() { return control("Label2")->property("text").toString(); }
    QString path(const std::string& name) { return QFile::decodeName(dir.file(name).c_str()); }
    // "Add File" in the test's window (or `in`), the dialog answering with these names in the
    // test's folder.
    void add(const std::vector<std::string>& names, Form1* in = nullptr) {
        files << QStringList();
        for (const std::string& name : names) files.last() << path(name);
        QTest::mouseClick((in ? in : &window)->findChild<QWidget*>("Command1"), Qt::LeftButton);
    }

    QStringList messages;      // each as its icon's initial (C, W, I) and its text
    QList<Answer> answers;     // to Yes/No questions; No once the script runs out
    QList<QStringList> files;  // to the open dialog; cancelled once the script runs out
    QStringList opened;        // by the shell
    bool realDialog = false;   // the open dialog itself instead of the script
    vellork::testing::TempDir dir;
    Form1 window{*this, *this};
    QTreeView* list = window.findChild<QTreeView*>();
    QProgressBar* bar = window.findChild<QProgressBar*>();
};

TEST_F(WindowTest, TabReachesEveryCommandAndTheOptionBoxAsksOncePerChangeByTheUser) {
    // The option box lies outside the fixed client area, as designed: the keyboard reaches it.
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.rect().intersects(control("Check1")->geometry()));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    // Enter and Escape on "Start Compression >" press nothing; Space on the option box asks.
    answers = {Answer::Yes};
    QString visited = QApplication::focusWidget()->objectName();
    for (const char key : std::string("\t\t\r\x1b\t\t \t")) {
        QTest::keyClick(QApplication::focusWidget(), key);
        if (key == '\t') visited += " " + QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(visited, "ListView1 Command1 Command3 Command4 Check1 ListView1");
    auto* box = window.findChild<QCheckBox*>();
    // The answer decides, whichever way the click went; a change from code asks nothing.
    for (const bool before : {false, true})
        for (const Answer answer : {Answer::Yes, Answer::No}) {
            box->setChecked(before);
            answers = {answer};
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
            EXPECT_EQ(box->isChecked(), answer == Answer::Yes) << before;
        }
    // One question for each change by the user, none for Enter or Escape.
    EXPECT_EQ(messages.filter(QString("W: ") + design::kOptionQuestion).size(), 5);
    EXPECT_EQ(messages.size(), 5);
}

TEST_F(WindowTest, ThePicturesShownAtOneAndAHalfAndTwiceTheScaleAreTheOnesDrawnForIt) {
    const auto pixels = [](const QImage& image) {
        const QImage p = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const auto* first = reinterpret_cast<const QRgb*>(p.constBits());
        return std::vector<QRgb>(first, first + p.width() * p.height());
    };
    for (const auto& [scale, banner, page] :
         {std::tuple(1.5, "banner@1.5x", "page24"), std::tuple(2.0, "banner@2x", "page32")}) {
        QPixmap shown(control("Image1")->size() * scale);
        shown.setDevicePixelRatio(scale);
        control("Image1")->render(&shown);
        EXPECT_EQ(pixels(shown.toImage()), pixels(QImage(":/vellork/" + QString(banner) + ".png")));
        EXPECT_EQ(pixels(Form1::rowPicture().pixmap({16, 16}, scale).toImage()),
                  pixels(QImage(":/vellork/" + QString(page) + ".png")));
    }
}

TEST_F(WindowTest, AddFilePutsReadableRowsOnTopAndClearListEmptiesTheList) {
    dir.write("a.html", "aaaa");
    // Names only typed, so not there; a TAB in a name; a name in Latin-1, which is no text in
    // this UTF-8 system and would name another file once turned back: refused.
    add({"a.html", "b.html", "typed.html", "tab\there.html", "caf\xe9.html"});
    EXPECT_TRUE(messages.size() == 1 && messages[0].startsWith("W: These files were not added"));
    EXPECT_EQ(window.fileList().rowText(1), path("tab\there.html"));
    EXPECT_EQ(cell(1, 0) + cell(2, 0) + cell(3, 0) + cell(4, 0),
              path("tab\\there.html") + path("typed.html") + path("b.html") + path("a.html"));
    EXPECT_EQ(cell(2, 1) + "|" + cell(3, 1) + "|" + cell(4, 1), "||4");
    EXPECT_EQ(count(), "4");
    click("Command4");
    click("Command1");  // cancelled: the list stays empty, the count shown until rows are added
    EXPECT_EQ(QString::number(window.fileList().count()) + " " + count(), "0 4");
    add({"b.html"});
    EXPECT_EQ(count(), "1");
    // A long selection leaves the window its turns while the rows go in. Past the 32,767 rows a
    // 16-bit counter would reach, the batch runs to the last row and counts what it does not list.
    int rowsAtATurn = 0;
    QTimer::singleShot(0, [&] { rowsAtATurn = window.fileList().count(); });
    add(std::vector<std::string>(40000, "gone.html"));
    EXPECT_GT(rowsAtATurn, 1);
    click("Command3");
    EXPECT_EQ(progress() + rows(40000, 40000),
              "40001/40001 | Failed | Failed | the file does not exist");
    EXPECT_EQ(messages.last(),
              "W: 40001 of 40001 files could not be compressed and were left "
              "unchanged:\n" +
                  QString("\n" + path("gone.html") + ": the file does not exist").repeated(15) +
                  "\n... and 39986 more.");
}

TEST_F(WindowTest, TheRealDialogGivesEveryNameTypedWithItsOwnPath) {
    // Answered as a user would: three names typed, one in a subfolder, one that the chosen
    // "HTML File(s)" filter hides.
    std::filesystem::create_directory(dir.file("sub"));
    dir.write("a.html", "aaaa");
    dir.write("b.htm", "bb");
    dir.write("sub/one.html", "1");
    dir.write("one.html", "a different file of that name");
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), design::kOpenTitle);
        dialog->setDirectory(QString::fromStdString(dir.path()));
        // Once the folder is listed, a typed name the view shows gets selected there.
        auto* view = dialog->findChild<QAbstractItemView*>("listView");
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return view->model()->rowCount(view->rootIndex()) == 3; }));
        QWidget* name = dialog->findChild<QWidget*>("fileNameEdit");
        QApplication::setActiveWindow(dialog);
        name->setFocus();
        QTest::keyClicks(name, R"("a.html" "b.htm" "sub/one.html")");
        QMetaObject::invokeMethod(dialog, "accept");
    });
    realDialog = true;
    click("Command1");
    EXPECT_EQ(rows(1, 3) + cell(1, 0) + cell(2, 0) + cell(3, 0) + cell(4, 0),
              "1 |  |  | \n2 |  |  | \n4 |  |  | " + path("sub/one.html") + path("b.htm") +
                  path("a.html"));
}

TEST_F(WindowTest, DoubleClickOpensTheSelectedRowOnly) {
    add({"a.html", "b.html"});  // not there: the program says nothing of its own either
    window.show();
    QWidget* view = list->viewport();
    const QPoint below(50, view->height() - 5),
        second = list->visualRect(list->model()->index(1, 0)).center();
    QTest::mouseDClick(view, Qt::LeftButton, {}, below);  // nothing selected yet
    QTest::mouseClick(view, Qt::LeftButton, {}, second);
    QTest::mouseDClick(view, Qt::LeftButton, {}, second);
    QTest::mouseDClick(view, Qt::LeftButton, {}, below);  // the row selected, wherever clicked
    // Ctrl+click takes the selection away; the row stays current, and is not opened.
    QTest::mouseClick(view, Qt::LeftButton, Qt::ControlModifier, second);
    QTest::mouseDClick(view, Qt::LeftButton, {}, below);
    EXPECT_EQ(opened + messages, QStringList({path("a.html"), path("a.html")}));
}

TEST_F(WindowTest, AWholeUseFromAddFileToTheFinalMessage) {
    click("Command3");  // nothing to compress: said so, and nothing started
    EXPECT_EQ(messages, QStringList("C: No files selected to Compress."));
    EXPECT_TRUE(progress() == "0/100" && control("Command1")->isEnabled());
    dir.write("a.html", std::string(798, 'x') + std::string(200, ' ') + "\r\n");
    const std::string b = "<p>\r\n\t  hello   world  \r\n</p>\r\n";
    dir.write("b.html", b);
    add({"a.html", "b.html"});
    // An editor saves b.html anew after it was added; an interrupted run left a file behind.
    dir.write("b.new", b);
    std::filesystem::rename(dir.file("b.new"), dir.file("b.html"));
    ::setxattr(dir.write(".vellork-0123456789.tmp", "<p>").c_str(), "user.vellork.temp", "1", 1, 0);
    click("Command3");
    EXPECT_EQ(readFile(dir.file("a.html")) + readFile(dir.file("b.html")),
              std::string(798, 'x') + "\r\n<p> hello world</p>\r\n");
    EXPECT_EQ(rows(2, 2) + progress(), "1000 | 20 % | 800 | 2/2");
    EXPECT_EQ(messages.last(),
              "I: All HTML files are compressed successfully.\n\nLeft over by an interrupted "
              "earlier run, and removed:\n\n" +
                  path(".vellork-0123456789.tmp"));

    // Above them: a missing file, a page with a second name, an empty page, and awkward paths
    // that fail their rows promptly, the reason in the row's tip (asking the size of a device or
    // a pipe blocks nothing either). The finished pages are taken as they are now and save
    // nothing more; the sizes shown stay the ones when added.
    dir.write("linked.html", "x\r\n\r\n");
    std::filesystem::create_hard_link(dir.file("linked.html"), dir.file("other-name.html"));
    dir.write("empty.html", "");
    ASSERT_EQ(::mkfifo(dir.file("pipe.html").c_str(), 0644), 0);
    std::filesystem::create_directory(dir.file("folder.html"));
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.html"));
    dir.write("-caf\xc3\xa9 \xe6\x97\xa5.html", "a  b");
    std::filesystem::create_directories(dir.file("site/sub"));
    std::filesystem::create_directories(dir.file("far"));
    dir.write("site/sub/p.html", "p  q");  // its folder becomes a link once added
    dir.write("far/p.html", "f  f");
    add({"missing.html", "linked.html", "empty.html", "pipe.html", "folder.html",
         "-caf\xc3\xa9 \xe6\x97\xa5.html", "zero.html", "site/sub/p.html"});
    vellork::testing::shell("cd '" + dir.path() + "/site' && mv sub gone && ln -s ../far sub");
    QString filled;  // the rows whose figures and tips were written, in order, each once
    QSet<QPair<int, int>> cells;
    const auto watch =
        QObject::connect(&window.fileList(), &FileListModel::dataChanged, [&](QModelIndex at) {
            if (!filled.endsWith(QString::number(at.row() + 1) + " "))
                filled += QString::number(at.row() + 1) + " ";
            EXPECT_FALSE(cells.contains({at.row(), at.column()})) << at.row() << " " << at.column();
            cells.insert({at.row(), at.column()});
        });
    click("Command3");
    QObject::disconnect(watch);
    EXPECT_EQ(filled, "1 2 3 4 5 6 7 8 9 10 ");
    EXPECT_EQ(QString::fromStdString(readFile(dir.file("other-name.html")) +
                                     readFile(dir.file("far/p.html")) +
                                     readFile(dir.file("site/gone/p.html"))) +
                  cell(1, 0),
              "x\r\n\r\nf  fp  q" + path("site/sub/p.html"));
    const QString failed = " | Failed | Failed | ";
    EXPECT_EQ(rows(1, 10) + "\n" + progress(),
              "4" + failed + "a folder on its path was replaced by a link after it was added\n" +
                  failed + "it is a device, not a file\n4 | -25 % | 5 | \n" + failed +
                  "it is a folder, not a file\n" + failed +
                  "it is a pipe, not a file\n0 | n/a | 2 | \n5 | 40 % | 3 | the file had 1 other "
                  "name(s) (hard links), which keep the original content\n" +
                  failed + "the file does not exist\n31 | 0 % | 21 | \n1000 | 0 % | 800 | \n10/10");
    EXPECT_EQ(messages.last(),
              "W: 5 of 10 files could not be compressed and were left unchanged:\n\n" +
                  path("site/sub/p.html") +
                  ": a folder on its path was replaced by a link after it was added\n" +
                  path("zero.html") + ": it is a device, not a file\n" + path("folder.html") +
                  ": it is a folder, not a file\n" + path("pipe.html") +
                  ": it is a pipe, not a file\n" + path("missing.html") +
                  ": the file does not exist");
    // The reason as the user sees it over the row; the list's own tip and columns as designed.
    const QPoint at = list->visualRect(list->model()->index(1, 2)).center();
    QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &help);
    EXPECT_EQ(QToolTip::text(), "it is a device, not a file");
    EXPECT_EQ(list->toolTip(), design::kListTip);
    for (int c = 0; c < FileListModel::ColumnCount; ++c)
        EXPECT_EQ(list->model()->headerData(c, Qt::Horizontal).toString() + " " +
                      QString::number(list->header()->sectionSize(c)),
                  design::kColumns[c].header +
                      QString(" %1").arg(design::pixels(design::kColumns[c].widthTwips)));
    // Once the file is there, the next run clears its mark, with the figures in the user's
    // locale. The window runs under the user's C library locale (QApplication sets it) and takes
    // the separator from Qt's; in some the two disagree (es_PE: ',' and '.'; ar_EG: '.' and
    // U+066B).
    int tried = 0;
    for (const char* name : {"es_PE.UTF-8", "oc_FR.UTF-8", "ar_EG.UTF-8", "ps_AF.UTF-8",
                             "fr_CH.UTF-8", "de_DE.UTF-8", "en_US.UTF-8"}) {
        if (!std::setlocale(LC_ALL, name)) continue;  // not installed here
        const QLocale locale(QString::fromLatin1(name));
        QLocale::setDefault(locale);
        dir.write("missing.html", std::string(234, ' ') + std::string(1000, 'x'));
        click("Command3");  // 1234 bytes become 1002
        EXPECT_EQ(rows(8, 8), " | 18" + locale.decimalPoint() + "8 % | 1002 | ") << name;
        ++tried;
    }
    std::setlocale(LC_ALL, "C");
    QLocale::setDefault(QLocale::c());
    EXPECT_GE(tried, 3) << "install locales-all";
    EXPECT_TRUE(messages.last().startsWith("W: 4 of 10 files"));
}

TEST_F(WindowTest, DroppedPagesAndFoldersJoinTheListLikeAddedFiles) {
    vellork::testing::shell(
        "cd '" + dir.path() +
        "' && mkdir -p site/sub far && printf x >one.html"
        " && printf xx >two.HTM && printf xxx >notes.txt && printf xxxx >site/z.html && printf "
        "xxxxx >site/A.HTML && printf xxxxxx >site/b.htm && printf 7777777 >site/sub/c.html && "
        "printf 8 >site/read.me && printf 9 >far/out.html && ln -s ../far/out.html site/l.html "
        "&& ln -s ../far site/linked");
    add({"one.html"});
    // One event of a drag from a file manager, where the platform sends it; true when the
    // list takes it, as a copy (a move would tell the file manager to delete the files).
    auto send = [&](QEvent::Type type, const std::vector<std::string>& names,
                    Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const std::string& name : names) urls << QUrl::fromLocalFile(path(name));
        if (!urls.isEmpty()) mime.setUrls(urls);
        mime.setText("text");
        const QPoint at = list->viewport()->rect().center();
        QDragEnterEvent enter(at, actions, &mime, Qt::LeftButton, {});
        QDragMoveEvent moveOrDrop(at, actions, &mime, Qt::LeftButton, {}, type);
        QDropEvent* event = type == QEvent::DragEnter ? &enter : &moveOrDrop;
        QCoreApplication::sendEvent(list->viewport(), event);
        return event->isAccepted() && event->dropAction() == Qt::CopyAction;
    };
    EXPECT_FALSE(send(QEvent::DragEnter, {}));                            // text, no files
    EXPECT_FALSE(send(QEvent::DragEnter, {"one.html"}, Qt::MoveAction));  // a move only
    for (QEvent::Type type : {QEvent::DragEnter, QEvent::DragMove, QEvent::Drop})
        EXPECT_TRUE(send(type, {"site", "notes.txt", "two.HTM"}));
    QCoreApplication::processEvents();
    QStringList rows;
    for (int r = 1; r <= window.fileList().count(); ++r)
        rows << cell(r, 0).mid(int(dir.path().size()) + 1) + " " + cell(r, 1);
    EXPECT_EQ(
        rows.join(", ") + " = " + count(),
        "two.HTM 2, site/z.html 4, site/sub/c.html 7, site/b.htm 6, site/A.HTML 5, one.html 1 "
        "= 6");
    // During a batch a drag is refused, and a drop taken just before it is refused when its
    // turn comes: nothing is added either way.
    bool takenDuringBatch = true;
    QTimer::singleShot(0, [&] { takenDuringBatch = send(QEvent::DragEnter, {"one.html"}); });
    click("Command3");
    EXPECT_FALSE(takenDuringBatch);
    for (QEvent::Type type : {QEvent::DragEnter, QEvent::DragMove, QEvent::Drop})
        EXPECT_TRUE(send(type, {"site"}));
    click("Command3");
    QCoreApplication::processEvents();
    EXPECT_EQ(window.fileList().count(), 6);
}

TEST_F(WindowTest, AClickMeanwhileStartsNothingAndACloseEndsTheBatchWithEveryPageWhole) {
    // When the close comes: at the batch's first turn for events (-1), with the figures of the
    // first row or of the last, or never (0). Once asked to close, the batch says nothing more
    // and starts no further page; pages already under way end whole. "?" is either.
    const std::pair<int, std::string> cases[] = {{-1, "a  a|b  b|0 closed"},
                                                 {1, "a a\r\n|?|0 closed"},
                                                 {2, "a a\r\n|b b\r\n|0 closed"},
                                                 {0, "a a\r\n|b b\r\n|1 open"}};
    for (const auto& [closeIn, expected] : cases) {
        Form1 form{*this, *this};
        for (const char* name : {"a.html", "b.html"})
            dir.write(name, name[0] + std::string("  ") + name[0]);
        add({"b.html", "a.html"}, &form);
        auto* start = form.findChild<QPushButton*>("Command3");
        QObject::connect(&form.fileList(), &FileListModel::dataChanged, [&](QModelIndex at) {
            if (at.row() + 1 == closeIn) form.close();
            emit start->clicked();  // a click already on its way
        });
        if (closeIn < 0) QTimer::singleShot(0, &form, [&] { form.close(); });
        messages.clear();
        form.show();
        QTest::mouseClick(start, Qt::LeftButton);
        const std::string b = readFile(dir.file("b.html"));
        EXPECT_EQ(
            readFile(dir.file("a.html")) + "|" +
                (expected.find('?') != std::string::npos && (b == "b  b" || b == "b b\r\n") ? "?"
                                                                                            : b) +
                "|" + std::to_string(messages.size()) + (form.isVisible() ? " open" : " closed"),
            expected);
    }
}

TEST_F(WindowTest, TheWindowKeepsItsTurnsDuringOneLargePage) {
    // 300 MB in one page: a short timer fires all along its pass, not only between rows.
    std::string block;
    while (block.size() < (1u << 20)) block += "   <td>\tcell   </td>  \r\n";
    std::ofstream page(dir.file("big.html"), std::ios::binary);
    for (int i = 0; i < 300; ++i) page << block;
    page.close();
    add({"big.html"});
    int turns = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { turns += window.batchRunning(); });
    timer.start(1);
    click("Command3");
    EXPECT_EQ(messages.last(), "I: All HTML files are compressed successfully.");
    EXPECT_GE(turns, 10);
}

TEST_F(WindowTest, RandomInputDuringABatchNeverBreaksIt) {
    // Clicks, keys, double-clicks and then close requests at random while a batch runs: every
    // command stays off, no crash, no second batch, every page untouched or wholly compressed.
    std::string page;
    for (int i = 0; i < 300000; ++i) page += "  <td>\t" + std::to_string(i) + "  </td>\r\n";
    const std::string squeezed = reference::squeeze(page);
    std::mt19937 rng(99);
    int actions = 0, enabled = 0, closing = false;
    const char* commands[] = {"Command1", "Command3", "Command4", "Check1"};
    QTimer monkey;
    QObject::connect(&monkey, &QTimer::timeout, [&] {  // a hurried user's burst at each turn
        for (int burst = 0; burst < 10 && window.batchRunning(); ++burst, ++actions) {
            const unsigned pick = rng() % 8;
            const QPoint at(rng() % list->viewport()->width(), rng() % list->viewport()->height());
            QWidget* focus = QApplication::focusWidget();
            enabled += control(commands[pick % 4])->isEnabled();
            if (pick < 4) click(commands[pick]);
            if (pick == 4) QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
            if (pick == 5) QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            if (pick == 6) QTest::keyClick(focus ? focus : &window, "\t \r\x1b"[rng() % 4]);
            if (pick == 7 && closing && rng() % 3 == 0) window.close();
        }
    });
    window.show();
    monkey.start(1);
    for (closing = 0; closing <= 1; ++closing) {  // without close requests, then with
        for (int f = 0; f < 6; ++f) dir.write(std::to_string(f) + ".html", page);
        click("Command4");
        add({"0.html", "1.html", "2.html", "3.html", "4.html", "5.html"});
        click("Command3");
        EXPECT_LE(messages.size(), 1 + closing);  // a final message from each batch at most
        std::string pages;                        // per file: C wholly compressed, U untouched
        for (const auto& [name, text] : vellork::testing::contents(dir.path()))
            pages += text == squeezed ? 'C' : text == page ? 'U' : '?';
        EXPECT_TRUE(pages.size() == 6 &&
                    pages.find_first_not_of(closing ? "CU" : "C") == std::string::npos)
            << pages;
    }
    EXPECT_TRUE(actions >= 20 && enabled == 0) << actions << " actions, " << enabled << " enabled";
}

}  // namespace

int main(int argc, char** argv) {
    // The window tests need no display, also when CTest lists them.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
