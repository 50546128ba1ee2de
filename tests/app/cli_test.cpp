#include "pagecheck.h"
#include "reference.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace vellork::testing;
using std::filesystem::exists;
using vellork::reference::replaceAll;

struct CliRun {
    int status;
    std::string out, err;
};

// Runs vellork-cli in `dir`; `before` is put in front of it (a limit, another user).
CliRun runCli(const TempDir& dir, const std::vector<std::string>& args,
              const std::string& before = "", const std::string& output = ".out") {
    std::string command = "cd '" + dir.path() + "' && " + before + " env LC_ALL=C " VELLORK_CLI;
    for (const auto& arg : args) command += " '" + replaceAll(arg, "'", "'\\''") + "'";
    const int raw = std::system((command + " >" + output + " 2>.err").c_str());
    CliRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(dir.file(".out")),
               readFile(dir.file(".err"))};
    std::filesystem::remove(dir.file(".out")), std::filesystem::remove(dir.file(".err"));
    return run;
}

const std::string kAsNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups";

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
    // Many files at once report in file order, -jN like -j N; and more jobs than there are
    // file descriptors for run fewer at once, none failing for lack of them.
    for (const std::string limit : {"", "ulimit -n 40 &&"}) {
        const CliRun run = runCli(dir, args, limit);
        EXPECT_EQ(std::tuple(run.status, run.out, run.err, exists(dir.file("missing.html"))),
                  std::tuple(1, expected, "missing.html\tthe file does not exist\n", false));
        args[0] = "-j1024";
        expected = "a.html\t802\t0 %\t802\n-x.htm\t4\t0 %\t4\n";
        for (int i = 0; i < 200; ++i) expected += "p" + std::to_string(i) + ".HTML\t5\t0 %\t5\n";
    }
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
        {"mkdir folder.html", "folder.html", "it is a folder, not a file"},
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
    shell("cd '" + dir.path() +
          "' && mkdir -p site/sub site/locked out && printf b >site/b.html && printf a "
          ">site/a.HTM && printf c >site/sub/c.htm && printf d >site/locked/d.html && printf "
          "'  keep  ' >site/notes.txt && printf 'root:x:0:0  ' >out/pw.html && ln -s "
          "../out/pw.html site/planted.html && ln -s ../out site/linked && chmod 0 site/locked");
    // Root reads any folder: the walk then runs as another user, who owns the tree.
    const std::string asOther =
        ::geteuid() == 0 ? "chown -R 65534:65534 site && chmod 755 . && " + kAsNobody : "";
    CliRun run = runCli(dir, {"-r", "site"}, asOther);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(
        run.out,
        "site/a.HTM\t1\t-200 %\t3\nsite/b.html\t1\t-200 %\t3\nsite/sub/c.htm\t1\t-200 %\t3\n");
    EXPECT_EQ(run.err,
              "site/linked\tskipped: a symbolic link inside a folder is not followed\n"
              "site/locked\tthe folder could not be read: permission denied\n"
              "site/planted.html\tskipped: a symbolic link inside a folder is not followed\n");
    EXPECT_EQ(readFile(dir.file("site/notes.txt")) + readFile(dir.file("out/pw.html")),
              "  keep  root:x:0:0  ");
    ::chmod(dir.file("site/locked").c_str(), 0755);
    run = runCli(dir, {"site"});  // without -r a folder is refused like any other non-file
    EXPECT_EQ(run.err, "site\tit is a folder, not a file\n");
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

TEST(Cli, NamesUsageAndOutputFailures) {
    TempDir dir;
    const std::string odd = "tab\there\nnew\\line\xe9.html";  // TAB, line feed, backslash, Latin-1
    for (const std::string& name : {odd, std::string("p.html"), std::string("logo.png")})
        dir.write(name, "a  b");
    std::string deep = dir.path(), tooLong;
    for (int i = 0; i < 14; ++i) deep += "/" + std::string(200, 'd');
    std::filesystem::create_directories(deep);
    for (tooLong = deep; tooLong.size() < 5000;) tooLong += "/" + std::string(200, 'e');
    dir.write(deep.substr(dir.path().size() + 1) + "/long.html", "a  b");
    const std::string nul(1, '\0');
    // The arguments, the exit status, and the start of the output and of the errors.
    const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
        {{odd, "logo.png", deep + "/long.html", tooLong + "/x.html"},
         1,
         "tab\\there\\nnew\\\\line\\xe9.html\t4\t-25 %\t5\n" + deep + "/long.html\t4\t-25 %\t5\n",
         "logo.png\tnot an .html or .htm page; --any-name compresses it anyway\n" + tooLong +
             "/x.html\tits folder cannot be opened: the path is too long\n"},
        {{"-z", "--any-name", odd, "logo.png"},
         0,
         odd + "\t5\t0 %\t5" + nul + "logo.png\t4\t-25 %\t5" + nul,
         ""},
        {{}, 2, "", "vellork-cli: no file given"},
        {{"--frobnicate", "p.html"}, 2, "", "vellork-cli: unknown option '--frobnicate'"},
        {{"-j0", "p.html"}, 2, "", "vellork-cli: -j takes a number of files from 1 to 1024"},
        {{"-j", "-1", "p.html"}, 2, "", "vellork-cli: -j takes"},
        {{"--jobs=x", "p.html"}, 2, "", "vellork-cli: -j takes"},
        {{"--help"}, 0, "Usage: vellork-cli", ""},
        {{"--version"}, 0, "vellork-cli ", ""},
        {{"--jobs=2", "p.html"}, 0, "p.html\t4\t-25 %\t5\n", ""},
    };
    for (const auto& [args, status, out, err] : cases) {
        const CliRun run = runCli(dir, args);
        EXPECT_EQ(
            std::tuple(run.status, run.out.substr(0, out.size()), run.err.substr(0, err.size())),
            std::tuple(status, out, err));
    }
    // Results that cannot be written are a failure, though the page was compressed.
    const CliRun full = runCli(dir, {"p.html"}, "", "/dev/full");
    EXPECT_EQ(std::pair(full.status, full.err),
              std::pair(1, std::string("vellork-cli: the results could not be written: no space "
                                       "left on device\n")));
}

}  // namespace
