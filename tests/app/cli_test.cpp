#include "pagecheck.h"
#include "reference.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

using namespace vellork::testing;
using std::filesystem::exists;
using vellork::reference::replaceAll;
using vellork::reference::squeeze;

struct CliRun {
    int status;
    std::string out, err;
};

// Runs vellork-cli in `dir` with its output caught; `before` is put in front of it (a limit,
// another user, a locale), `streams` says where its standard streams go.
CliRun runCli(const TempDir& dir, const std::vector<std::string>& args,
              const std::string& before = "", const std::string& streams = ">.out 2>.err") {
    std::string command =
        "cd '" + dir.path() + "' && export LC_ALL=C || exit 1; " + before + " " VELLORK_CLI;
    for (const auto& arg : args) command += " '" + replaceAll(arg, "'", "'\\''") + "'";
    const int raw = std::system((command + " " + streams).c_str());
    CliRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(dir.file(".out")),
               readFile(dir.file(".err"))};
    std::filesystem::remove(dir.file(".out")), std::filesystem::remove(dir.file(".err"));
    return run;
}

const std::string kAsNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups",
                  kRemoved = "\tremoved: a temporary file left by an interrupted earlier run\n";

TEST(Cli, CompressesEachFileInOrderAndReportsItsFigures) {
    TempDir dir;
    dir.write("a.html", std::string(200, ' ') + std::string(800, 'x') + "\r\n");
    dir.write("-x.htm", "a\r\n\r\nb");
    std::vector<std::string> args = {"-j4", "a.html", "missing.html", "--", "-x.htm"};
    std::string expected = "a.html\t1002\t19.96 %\t802\n-x.htm\t6\t33.33 %\t4\n";
    for (int i = 0; i < 200; ++i) {
        args.push_back("p" + std::to_string(i) + ".HTML");
        dir.write(args.back(), "a  b\r\n\r\n");
        expected += args.back() + "\t8\t37.5 %\t5\n";
    }
    // Many files at once report in file order, -jN like -j N.
    const CliRun run = runCli(dir, args);
    EXPECT_EQ(std::tuple(run.status, run.out, run.err, exists(dir.file("missing.html"))),
              std::tuple(1, expected, "missing.html\tthe file does not exist\n", false));
    EXPECT_EQ(readFile(dir.file("p199.HTML")), "a b\r\n");
}

TEST(Cli, RefusesWhatItMustNotTouchAndSaysWhy) {
    TempDir dir;
    const struct {
        std::string setup, path, reason;
        bool asNobody = false;
    } cases[] = {
        {"mkfifo pipe.html", "pipe.html", "it is a pipe, not a file"},
        {"perl -MSocket -e 'socket(S,PF_UNIX,SOCK_STREAM,0); bind(S,pack_sockaddr_un(\"s.html\"))'",
         "s.html", "it is a socket, not a file"},
        {"true", "/dev/zero", "it is a device, not a file"},
        {"mkdir folder.html", "folder.html",
         "it is a folder, not a file; -r compresses the pages in it"},
        {"ln -s gone.html broken.html", "broken.html",
         "the symbolic link points to a file that does not exist"},
        {"printf 'a  b' >ro.html && chmod 444 ro.html", "ro.html", "the file is read-only"},
        {"printf '\\211PNG\\r\\n\\032\\n\\0\\0' >png.html", "png.html", vellork::kNotATextPage},
        {"printf '\\376\\377\\116\\055' >utf16.html", "utf16.html", vellork::kNotATextPage},
        {"printf 'a  b' >i.html && chattr +i i.html", "i.html",
         "the file is immutable (chattr +i)"},
        {"printf 'a  b' >a.html && chattr +a a.html", "a.html",
         "the file is append-only (chattr +a)"},
        {"mkdir ao && printf 'a  b' >ao/p.html && chattr +a ao", "ao/p.html",
         "its folder is append-only (chattr +a), so the page cannot be replaced"},
        {"mkdir shut && printf 'a  b' >shut/c.html && chown 65534 shut/c.html", "shut/c.html",
         "its folder may not be written in, so the page cannot be replaced safely", true},
        {"mkdir -m 777 open && printf 'a  b' >open/r.html && chmod 666 open/r.html", "open/r.html",
         "it belongs to another user (user 0), and a new page could not be given that owner", true},
        {"printf 'a  b' >open/g.html && chown 65534:0 open/g.html", "open/g.html",
         "its group (0) cannot be kept by a new page: permission denied", true},
    };
    ::chmod(dir.path().c_str(), 0755);  // another user may come in
    for (const bool asNobody : {false, true}) {
        if (asNobody && ::geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
        std::vector<std::string> args = {"--any-name"};
        std::string expected;
        for (const auto& c : cases) {
            if (c.asNobody != asNobody || shell("cd '" + dir.path() + "' && " + c.setup) != 0)
                continue;  // this file system or user cannot set it up
            args.push_back(c.path);
            expected += c.path + "\t" + c.reason + "\n";
        }
        const auto before = contents(dir.path());
        const CliRun run = runCli(dir, args, asNobody ? kAsNobody : "");
        EXPECT_EQ(std::tuple(run.status, run.out, run.err), std::tuple(1, "", expected));
        EXPECT_EQ(contents(dir.path()), before);  // byte for byte, nothing new
        EXPECT_GE(args.size(), asNobody ? 4u : 10u);
    }
    shell("chattr -R -ia '" + dir.path() + "'");
}

TEST(Cli, RecursiveWalkStaysInsideTheTreeAndReportsWhatItSkips) {
    TempDir dir;
    const std::string leftover = "site/sub/.vellork-aaaaaaaaaa.tmp";
    shell("cd '" + dir.path() +
          "' && mkdir -p site/sub site/locked out && printf b >site/b.html && printf a "
          ">site/a.HTM && printf c >site/sub/c.htm && printf d >site/locked/d.html && for f in "
          "notes.txt page.htmlx page.htm~ page.html5; do printf '  keep  ' >site/$f; done && "
          "printf 'root:x:0:0  ' >out/pw.html && ln -s ../out/pw.html site/planted.html && ln -s "
          "../out site/linked && chmod 0 site/locked && touch " +
          leftover + " && setfattr -n user.vellork.temp -v 1 " + leftover);
    // Root reads any folder: the walk then runs as another user, who owns the tree.
    const std::string asOther =
        ::geteuid() == 0 ? "chown -R 65534:65534 site && chmod 755 . && " + kAsNobody : "";
    const CliRun run = runCli(dir, {"-r", "site"}, asOther);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(
        run.out,
        "site/a.HTM\t1\t-200 %\t3\nsite/b.html\t1\t-200 %\t3\nsite/sub/c.htm\t1\t-200 %\t3\n");
    EXPECT_EQ(run.err,
              "site/linked\tskipped: a symbolic link inside a folder is not followed\n"
              "site/locked\tthe folder could not be read: permission denied\n"
              "site/planted.html\tskipped: a symbolic link inside a folder is not followed\n" +
                  leftover + kRemoved);
    std::string kept = readFile(dir.file("out/pw.html"));
    for (const char* name : {"notes.txt", "page.htmlx", "page.htm~", "page.html5"})
        kept += readFile(dir.file("site/") + name);
    EXPECT_EQ(kept, "root:x:0:0    keep    keep    keep    keep  ");
}

TEST(Cli, WalksReachEveryPageFromTheTopFolderTheyHold) {
    // Two top folders with folders of one name, one swapped for a link to a third while the
    // run is under way, and a page deeper than a path may be long.
    TempDir dir;
    const std::string level(250, 'd');
    std::string deep = "a/sub";
    for (int i = 0; i < 18; ++i) deep += "/" + level;
    shell("cd '" + dir.path() + "' && mkdir -p a/sub b/sub elsewhere/sub && cd a/sub && bash -c " +
          "'for i in $(seq 18); do mkdir " + level + " && cd " + level +
          "; done && printf \"a  b\" >p.html'");
    for (const char* page : {"a/sub/p.html", "b/sub/p.html", "elsewhere/sub/p.html"})
        dir.write(page, "a  b");
    dir.write("big.html", std::string(64 << 20, ' '));
    const CliRun run = runCli(
        dir, {"-j1", "big.html", "-r", "a", "b"}, "",
        ">.out 2>.err & p=$!; until ls -l /proc/$p/fd 2>/dev/null | grep -q big.html || ! kill -0 "
        "$p 2>/dev/null; do :; done; kill -STOP $p; mv b b.old; ln -s elsewhere b; kill -CONT $p; "
        "wait $p");
    const std::string found = deep + "/p.html\t4\t-25 %\t5\na/sub/p.html\t4\t-25 %\t5\n";
    EXPECT_EQ(std::tuple(run.status, run.out, run.err),
              std::tuple(
                  0, "big.html\t67108864\t100 %\t2\n" + found + "b/sub/p.html\t4\t-25 %\t5\n", ""));
    EXPECT_EQ(readFile(dir.file("b.old/sub/p.html")) + readFile(dir.file("elsewhere/sub/p.html")),
              "a b\r\na  b");

    // An open-file limit just above what one pass needs, its sweep for leftovers included:
    // every page is still compressed and every leftover removed, by fewer passes at once.
    std::string expected, removed;
    for (int i = 0; i < 60; ++i) {
        const std::string folder = "many/f" + std::to_string(1000 + i);
        std::filesystem::create_directories(dir.file(folder));
        dir.write(folder + "/p.html", "a  b");
        ::setxattr(dir.write(folder + "/.vellork-0123456789.tmp", "").c_str(), "user.vellork.temp",
                   "1", 1, 0);
        expected += folder + "/p.html\t4\t-25 %\t5\n";
        removed += folder + "/.vellork-0123456789.tmp" + kRemoved;
    }
    const CliRun limited = runCli(dir, {"-j64", "-r", "many"}, "prlimit --nofile=10");
    EXPECT_EQ(std::pair(limited.out, limited.err), std::pair(expected, removed));
}

TEST(Cli, OneFileUnderManyNamesIsNeverWorkedOnTwiceAtOnce) {
    // Side by side, two passes over one file would find it changing under them.
    TempDir dir;
    std::string page;
    for (int i = 0; i < 100000; ++i) page += "  <td>\tcell  " + std::to_string(i) + "</td>\r\n";
    dir.write("a.html", page);
    shell("cd '" + dir.path() +
          "' && ln -s a.html link.html && for i in 0 1 2 3 4; do ln a.html h$i.html; done");
    const CliRun run = runCli(dir, {"-j", "8", "a.html", "a.html", "link.html", "h0.html",
                                    "h1.html", "h2.html", "h3.html", "h4.html"});
    // The other names of a hard-linked page keep the original, and the user is told so.
    EXPECT_EQ(std::pair(run.status, run.err.substr(0, run.err.find('\n') + 1)),
              std::pair(0, std::string("a.html\tnote: the file had 5 other name(s) (hard links), "
                                       "which keep the original content\n")));
    EXPECT_EQ(readFile(dir.file("a.html")) + readFile(dir.file("h4.html")),
              vellork::reference::squeeze(page) + vellork::reference::squeeze(page));
}

TEST(Cli, ClosedStreamsAndTheFileSizeLimitLoseNothing) {
    // A closed stream's number would go to the first file opened, perhaps a worker's temporary
    // file, which then took the records and reasons meant for the terminal and became a page.
    // What the numbers lead to is seen through /proc/self/fd, given as pages themselves.
    TempDir dir;
    const std::string small = "  a  \r\n\r\nb\tc  d\r\n", big(400000, 'x');
    std::vector<std::string> pages = {"big.html"};
    for (int i = 0; i < 64; ++i) pages.push_back("p" + std::to_string(i) + ".html");
    // Put in front, where the streams go, whether they are probed, the exit status, the start of
    // the errors, and whether the large page was compressed.
    // clang-format off
    const std::tuple<std::string, std::string, bool, int, std::string, bool> cases[] = {
        {"", "<&- >&- 2>.err", true, 1,
         "/proc/self/fd/0\tit is a device, not a file\n/proc/self/fd/1\tit is a device, not a file\n", true},
        {"", "<&- >.out 2>&-", false, 1, "", true},  // a note that could not be told
        {"ulimit -f 200 &&", ">.out 2>.err", false, 1,
         "big.html\tcould not write the compressed page: the file would exceed the allowed file size\n", false}};
    // clang-format on
    for (const auto& [before, streams, probe, status, err, bigDone] : cases) {
        dir.write(pages[0], big + "\r\n" + big);
        for (std::size_t i = 1; i < pages.size(); ++i) dir.write(pages[i], small);
        shell("cd '" + dir.path() + "' && ln -f p0.html h.html");
        std::vector<std::string> args = {"-j16", "--any-name"};
        if (probe) args.insert(args.end(), {"/proc/self/fd/0", "/proc/self/fd/1"});
        args.insert(args.end(), pages.begin(), pages.end());
        const CliRun run = runCli(dir, args, before, streams);
        EXPECT_EQ(std::pair(run.status, run.err.substr(0, err.size())), std::pair(status, err));
        std::vector<std::string> wrong;  // the pages that are neither the original nor the result
        for (const std::string& page : pages)
            if (readFile(dir.file(page)) != (page != pages[0] ? squeeze(small)
                                             : bigDone        ? big + big + "\r\n"
                                                              : big + "\r\n" + big))
                wrong.push_back(page);
        EXPECT_EQ(wrong, std::vector<std::string>()) << streams;
    }
#ifdef VELLORK_WINDOW
    // The window takes the same care. Looked at once the shell's child has become the window,
    // holds descriptors 0 to 2 and ignores SIGXFSZ (a sanitizer's runtime opens files of its
    // own before the program starts), and has opened files of its own; or after ten seconds.
    // The last figure is whether SIGXFSZ is ignored.
    shell("cd '" + dir.path() +
          "' || exit; QT_QPA_PLATFORM=offscreen " VELLORK_WINDOW
          " <&- >&- 2>&- "
          "& w=$!; ign() { echo $((0x$(awk '/SigIgn/ {print $2}' /proc/$w/status) >> 24 & 1)); }; "
          "for i in $(seq 100); do [ \"$(readlink /proc/$w/exe)\" = \"$(readlink "
          "-f " VELLORK_WINDOW
          ")\" ] && [ -e /proc/$w/fd/2 ] && [ \"$(ign)\" = 1 ] && "
          "[ $(ls /proc/$w/fd | wc -l) -gt 3 ] && break; sleep 0.1; "
          "done; { readlink /proc/$w/fd/[012]; ign; } >seen; kill $w");
    EXPECT_EQ(readFile(dir.file("seen")), "/dev/null\n/dev/null\n/dev/null\n1\n");
#endif
}

TEST(Cli, CheckTellsWhatWouldChangeAndChangesNothing) {
    TempDir dir;
    // clang-format off
    const std::pair<const char*, const char*> pages[] = {
        {"lf.html", "<p>x</p>\n"}, {"many.html", "a\r\nb\r\nc\r\nd\r\ne\r\nf\r\ng\r\nh"},
        {"pre.html", "<pre>\r\nfoo  bar\r\nbaz\r\n</pre>\r\n"}, {"safe.html", "<p>a</p>\r\n  <p>b</p>\r\n"},
        {"script.html", "<script>\r\nvar a = 1 // one\r\nvar b = 2\r\n</script>\r\n"},
        {"words.html", "<p>a\r\ndocument</p>\r\n"}};
    // clang-format on
    std::filesystem::create_directory(dir.file("site"));
    for (const auto& [name, content] : pages) dir.write("site/" + std::string(name), content);
    dir.write("ro.html", "a  b");
    ::chmod(dir.file("ro.html").c_str(), 0444);
    ::setxattr(dir.write("site/.vellork-0123456789.tmp", "").c_str(), "user.vellork.temp", "1", 1,
               0);
    // Every byte, size, modification and change time, the folder's included.
    const auto state = [&] {
        shell("cd '" + dir.path() + "' && find site ro.html -printf '%p %s %T@ %C@\\n' >.state");
        return std::pair(readFile(dir.file(".state")), contents(dir.file("site")));
    };
    const auto before = state();
    const std::string risks =
        "site/lf.html\twould end in CR LF instead of LF\n"
        "site/many.html\twould glue words together in 7 places (lines 1, 2, 3, 4, 5, ...)\n"
        "site/many.html\twould gain a CR LF at its end\n"
        "site/pre.html\twould change 1 <pre> or <textarea> block (line 1)\n"
        "site/script.html\twould break 1 inline script (line 1)\n"
        "site/words.html\twould glue words together in 1 place (line 1)\n";
    const std::string atRisk = risks.substr(risks.find("site/many"));
    // Put in front, the arguments, where the streams go, the exit status and the errors.
    // clang-format off
    const std::tuple<std::string, std::vector<std::string>, std::string, int, std::string> cases[] = {
        {"", {"--check", "-r", "site"}, ">.out 2>.err", 3, risks +
         "vellork-cli: pages: 6 checked, 0 failed, 4 at risk; bytes: 153 before, 123 after, 30 to save (19.61 %)\n"},
        {"", {"-nqj1", "-r", "site"}, ">.out 2>.err", 3,
         atRisk.substr(0, atRisk.find("site/many.html\twould gain")) + atRisk.substr(atRisk.find("site/pre"))},
        {"", {"--dry", "ro.html", "site/safe.html"}, ">.out 2>.err", 1, "ro.html\tthe file is read-only\n"
         "vellork-cli: pages: 1 checked, 1 failed, 0 at risk; bytes: 22 before, 18 after, 4 to save (18.18 %)\n"},
        {"", {"-n", "site/safe.html"}, ">.out 2>.err", 0, "vellork-cli: pages: 1 checked, 0 failed, 0 at risk; "
         "bytes: 22 before, 18 after, 4 to save (18.18 %)\n"},
        {"prlimit --fsize=0", {"-nr", "site"}, ">/dev/null 2>&1", 3, ""},  // no file may grow
        {"", {"-nr", "site"}, "<&- >&- 2>&-", 1, ""},
    };
    // clang-format on
    std::string report;  // what the check printed for each page
    for (const auto& [limit, args, streams, status, err] : cases) {
        const CliRun run = runCli(dir, args, limit, streams);
        EXPECT_EQ(std::pair(run.status, run.err.substr(0, err.size())), std::pair(status, err))
            << streams;
        EXPECT_EQ(state(), before) << args[0];
        if (report.empty()) report = run.out;
    }
    // Exactly what the real run then prints, which does change the pages.
    const CliRun real = runCli(dir, {"-r", "site"});
    EXPECT_EQ(std::tuple(real.status, real.out, real.err),
              std::tuple(0, report, "site/.vellork-0123456789.tmp" + kRemoved));
}

TEST(Cli, KeepsTheOriginalsUnderABackupNameOrLeavesThemForAnOutputFolder) {
    TempDir dir;
    for (const char* name : {"site/a.html", "site/sub/b.htm", "c.html", "other/a.html"}) {
        std::filesystem::create_directories(std::filesystem::path(dir.file(name)).parent_path());
        dir.write(name, "a  b");
    }
    ::chmod(dir.file("site/a.html").c_str(), 0640);
    // The tree mirrored below the output folder with each page's mode, the originals as they
    // were; a second page for one place, or the page itself as its own place, refused.
    const std::string kept = "a  b", squeezed = "a b\r\n";
    for (int run = 0; run < 2; ++run)
        EXPECT_EQ(runCli(dir, {"-rj1", "-o", "out/new", "site", "c.html"}).status, 0);
    EXPECT_EQ(
        std::tuple(readFile(dir.file("out/new/a.html")), readFile(dir.file("out/new/sub/b.htm")),
                   readFile(dir.file("out/new/c.html")), readFile(dir.file("site/a.html")),
                   unsigned(std::filesystem::status(dir.file("out/new/a.html")).permissions())),
        std::tuple(squeezed, squeezed, squeezed, kept, 0640u));
    EXPECT_EQ(runCli(dir, {"-o", "out", "site/a.html", "other/a.html", "c.html", "-o", "."}).err,
              "other/a.html\tanother page of this run goes to the same place in the output folder\n"
              "c.html\tits place in the output folder is the page itself\n");
    // A backup: the very file read, under a second name, and never over one there already.
    EXPECT_EQ(runCli(dir, {"--backup", "c.html"}).status, 0);
    EXPECT_EQ(std::tuple(readFile(dir.file("c.html")), readFile(dir.file("c.html.orig")),
                         runCli(dir, {"--backup", "c.html"}).err),
              std::tuple(squeezed, kept,
                         std::string("c.html\tits backup c.html.orig already "
                                     "exists; it was left as it is\n")));
    EXPECT_EQ(runCli(dir, {"-r", "--backup=.bak", "site"}).status, 0);
    EXPECT_EQ(
        std::pair(readFile(dir.file("site/sub/b.htm.bak")), readFile(dir.file("site/sub/b.htm"))),
        std::pair(kept, squeezed));
}

TEST(Cli, ReadsItsCommandLineLikeItsNeighboursAndNamesWhatItMeets) {
    TempDir dir;
    // TAB, line feed, backslash, Latin-1; overlong forms of '/' in two, three and four bytes and
    // an encoded surrogate, none of them UTF-8.
    const std::string odd = "tab\there\nnew\\line\xe9.html",
                      overlong = "\xc0\xaf\xe0\x80\xaf\xf0\x80\x80\xaf\xed\xa0\x80.html";
    std::filesystem::create_directory(dir.file("site"));
    for (const std::string& name :
         {odd, overlong, std::string("p.html"), std::string("logo.png"), std::string("-"),
          std::string("q.htm"), std::string("site/s.html"), std::string("site/t.html")})
        dir.write(name, "a  b");
    for (const char* name : {"v.html", "l.html"}) dir.write(name, "a  b\r\n");
    shell("cd '" + dir.path() +
          "' && ln q.htm q2.htm && ln -s s.html site/link.html && printf 'root:x:0:0  ' >pw && ln "
          "-s pw evil.html && ln -s p.html home");
    std::string deep = dir.path(), tooLong;
    for (int i = 0; i < 14; ++i) deep += "/" + std::string(200, 'd');
    std::filesystem::create_directories(deep);
    for (tooLong = deep; tooLong.size() < 5000;) tooLong += "/" + std::string(200, 'e');
    dir.write(deep.substr(dir.path().size() + 1) + "/long.html", "a  b");
    const std::string nul(1, '\0'), tryHelp = "Try 'vellork-cli --help' for more information.\n";
    // Put in front, the arguments, the exit status, and the start of the output and the errors.
    // clang-format off
    const std::tuple<std::string, std::vector<std::string>, int, std::string, std::string> cases[] = {
        {"", {odd, overlong, "logo.png", deep + "/long.html", tooLong + "/x.html"}, 1,
         "tab\\there\\nnew\\\\line\\xe9.html\t4\t-25 %\t5\n"
         "\\xc0\\xaf\\xe0\\x80\\xaf\\xf0\\x80\\x80\\xaf\\xed\\xa0\\x80.html\t4\t-25 %\t5\n" +
             deep + "/long.html\t4\t-25 %\t5\n",
         "logo.png\tnot an .html or .htm page; --any-name compresses it anyway\n" + tooLong +
             "/x.html\tits folder cannot be opened: the path is too long\n"},
        {"", {"-z", "--any-name", odd, "logo.png"}, 0,
         odd + "\t5\t0 %\t5" + nul + "logo.png\t4\t-25 %\t5" + nul, ""},
        {"", {}, 2, "", "vellork-cli: no file given\n" + tryHelp},
        {"", {"--frobnicate", "p.html"}, 2, "",
         "vellork-cli: unrecognized option '--frobnicate'\n" + tryHelp},
        {"", {"-rx", "p.html"}, 2, "", "vellork-cli: invalid option -- 'x'\n" + tryHelp},
        {"", {"--ver"}, 2, "",
         "vellork-cli: option '--ver' is ambiguous; possibilities: '--verbose' '--version'\n" + tryHelp},
        {"", {"--help=x"}, 2, "", "vellork-cli: option '--help' doesn't allow an argument\n" + tryHelp},
        {"", {"p.html", "--jobs"}, 2, "", "vellork-cli: option '--jobs' requires an argument\n" + tryHelp},
        {"", {"-j0", "p.html"}, 2, "",
         "vellork-cli: -j takes a number of files from 1 to 1024\n" + tryHelp},
        {"", {"--jobs=1025", "p.html"}, 2, "", "vellork-cli: -j takes"},
        {"", {"p.html", "-", "q.htm"}, 2, "", "vellork-cli: '-' (standard input) cannot be squeezed"},
        {"", {"-h"}, 0, "Usage: vellork-cli", ""},
        {"", {"--he"}, 0, "Usage: vellork-cli", ""},
        {"", {"--version"}, 0, "vellork-cli ", ""},
        {"", {"--jobs=2", "p.html", "--any", "--", "-"}, 0, "p.html\t4\t-25 %\t5\n-\t4\t-25 %\t5\n", ""},
        {"", {"site"}, 1, "", "site\tit is a folder, not a file; -r compresses the pages in it\n"},
        // The guard judges the file a link leads to, not the link's own name.
        {"", {"evil.html", "home"}, 1, "home\t5\t0 %\t5\n",
         "evil.html\tnot an .html or .htm page; --any-name compresses it anyway\n"},
        {"", {"-rzj1", "missing", "missing.html"}, 1, "",
         "missing\tthe folder does not exist\nmissing.html\tthe file does not exist\n"},
        // Failures only: no records, no notes, no skipped links.
        {"", {"-qr", "site", "q.htm", "missing.html"}, 1, "", "missing.html\tthe file does not exist\n"},
        {"", {"--rec", "--jobs", "4", "--verb", "site"}, 0, "site/s.html\t5\t0 %\t5\nsite/t.html\t5\t0 %\t5\n",
         "site/link.html\tskipped: a symbolic link inside a folder is not followed\n"
         "vellork-cli: pages: 2 compressed, 0 failed; bytes: 10 before, 10 after, 0 saved (0 %)\n"},
        // Keeping the originals: one way at a time, never for a check, never a page name, and
        // no output inside a tree being read (not even made there).
        {"", {"--backup", "-o", "out", "p.html"}, 2, "",
         "vellork-cli: --backup and --output cannot be used together"},
        {"", {"-n", "--backup", "p.html"}, 2, "", "vellork-cli: --check writes nothing"},
        {"", {"--backup=.HTM", "p.html"}, 2, "", "vellork-cli: a backup ending in .html or .htm"},
        {"", {"--backup=", "p.html"}, 2, "", "vellork-cli: --backup takes a suffix"},
        {"", {"-r", "--output=site/new/out", "site"}, 2, "",
         "vellork-cli: the output folder site/new/out lies inside a folder being read\n"},
        // The figures are for scripts: a point whatever the locale.
        {"LC_ALL=de_DE.UTF-8", {"-v", "l.html", "v.html", "missing.html"}, 1,
         "l.html\t6\t16.67 %\t5\nv.html\t6\t16.67 %\t5\n",
         "missing.html\tthe file does not exist\n"
         "vellork-cli: pages: 2 compressed, 1 failed; bytes: 12 before, 10 after, 2 saved (16.67 %)\n"},
    };
    // clang-format on
    for (const auto& [before, args, status, out, err] : cases) {
        const CliRun run = runCli(dir, args, before);
        EXPECT_EQ(
            std::tuple(run.status, run.out.substr(0, out.size()), run.err.substr(0, err.size())),
            std::tuple(status, out, err));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("site/new")));
    // Results that cannot be written are a failure, though the page was compressed.
    const CliRun full = runCli(dir, {"p.html"}, "", ">/dev/full 2>.err");
    EXPECT_EQ(std::pair(full.status, full.err),
              std::pair(1, std::string("vellork-cli: the results could not be written: no space "
                                       "left on device\n")));
}

}  // namespace
