#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using vellork::testing::readFile;
using vellork::testing::TempDir;

struct CliRun {
    int status;
    std::string out, err;
};

std::string quoted(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Runs vellork-cli in `dir`; `before` is shell put in front of it (limits, another user).
CliRun runCli(const TempDir& dir, const std::vector<std::string>& args,
              const std::string& before = "", const std::string& output = "") {
    std::string command =
        "cd " + quoted(dir.path()) + " && " + before + " env LC_ALL=C " VELLORK_CLI;
    for (const auto& arg : args) command += " " + quoted(arg);
    command += " >" + (output.empty() ? quoted(dir.file(".out")) : output) + " 2>" +
               quoted(dir.file(".err"));
    const int raw = std::system(command.c_str());
    CliRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(dir.file(".out")),
               readFile(dir.file(".err"))};
    std::filesystem::remove(dir.file(".out"));
    std::filesystem::remove(dir.file(".err"));
    return run;
}

TEST(Cli, CompressesEachFileInOrderAndReportsItsFigures) {
    TempDir dir;
    dir.write("a.html", std::string(1000, 'x').replace(0, 200, std::string(200, ' ')) + "\r\n");
    dir.write("-x.htm", "a\r\n\r\nb");
    dir.write("good.HTML", "a  b");
    CliRun run = runCli(dir, {"a.html", "missing.html", "--", "-x.htm", "good.HTML"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "a.html\t1002\t19.96 %\t802\n-x.htm\t6\t33.33 %\t4\ngood.HTML\t4\t-25 %\t5\n");
    EXPECT_EQ(run.err, "missing.html\tthe file does not exist\n");
    EXPECT_EQ(readFile(dir.file("-x.htm")), "ab\r\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.html")));

    // Many files at once still report in file order; -jN and -j N alike.
    std::vector<std::string> args = {"-j4"};
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        const std::string name = "p" + std::to_string(i) + ".html";
        dir.write(name, "a  b\r\n\r\n");
        args.push_back(name);
        expected += name + "\t8\t37.5 %\t5\n";
    }
    run = runCli(dir, args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(readFile(dir.file("p19.html")), "a b\r\n");

    // More jobs than file descriptors allow: fewer run at once, none fails for lack of them.
    args[0] = "-j1024";
    for (int i = 20; i < 200; ++i) {
        args.push_back("p" + std::to_string(i) + ".html");
        dir.write(args.back(), "x");
    }
    run = runCli(dir, args, "ulimit -n 40 &&");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
}

TEST(Cli, OneFileUnderManyNamesIsNeverWorkedOnTwiceAtOnce) {
    // One large page under many names: hard links, a symbolic link, and a name given twice.
    // Side by side, two passes over one file would find it changing under them.
    TempDir dir;
    std::string page, squeezed;
    for (int i = 0; i < 100000; ++i) {
        page += "  <td>\tcell  " + std::to_string(i) + "</td>\r\n";
        squeezed += "<td>cell " + std::to_string(i) + "</td>";
    }
    dir.write("a.html", page);
    std::vector<std::string> args = {"-j", "8", "a.html", "a.html", "link.html"};
    for (int i = 0; i < 5; ++i) {
        const std::string name = "h" + std::to_string(i) + ".html";
        ASSERT_EQ(::link(dir.file("a.html").c_str(), dir.file(name).c_str()), 0);
        args.push_back(name);
    }
    std::filesystem::create_symlink("a.html", dir.file("link.html"));
    const CliRun run = runCli(dir, args);
    EXPECT_EQ(run.status, 0) << run.err;
    // Each hard link is told that the other names keep the original, until the last one.
    EXPECT_NE(run.err.find("a.html\tnote: the file had 5 other name(s) (hard links), which keep"),
              std::string::npos)
        << run.err;
    for (const char* name : {"a.html", "h0.html", "h4.html"})
        EXPECT_EQ(readFile(dir.file(name)), squeezed + "\r\n");
}

TEST(Cli, RecursiveWalkStaysInsideTheTreeAndReportsWhatItSkips) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("site/sub"));
    std::filesystem::create_directories(dir.file("site/locked"));
    std::filesystem::create_directories(dir.file("outside"));
    dir.write("site/b.html", "b");
    dir.write("site/a.HTM", "a");
    dir.write("site/sub/c.htm", "c");
    dir.write("site/locked/d.html", "d");
    dir.write("site/notes.txt", "  keep  ");
    dir.write("outside/passwd.html", "root:x:0:0  ");
    std::filesystem::create_symlink("../outside/passwd.html", dir.file("site/planted.html"));
    std::filesystem::create_directory_symlink("../outside", dir.file("site/linked"));
    ::chmod(dir.file("site/locked").c_str(), 0);
    // Root reads any folder: the walk then runs as another user, who owns the tree.
    const std::string asOther = ::geteuid() == 0
                                    ? "chown -R 65534:65534 site && chmod 0755 . && setpriv "
                                      "--reuid=65534 --regid=65534 --clear-groups"
                                    : "";
    CliRun run = runCli(dir, {"-r", "site"}, asOther);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(
        run.out,
        "site/a.HTM\t1\t-200 %\t3\nsite/b.html\t1\t-200 %\t3\nsite/sub/c.htm\t1\t-200 %\t3\n");
    EXPECT_EQ(run.err,
              "site/linked\tskipped: a symbolic link inside a folder is not followed\n"
              "site/locked\tthe folder could not be read: permission denied\n"
              "site/planted.html\tskipped: a symbolic link inside a folder is not followed\n");
    EXPECT_EQ(readFile(dir.file("site/notes.txt")), "  keep  ");
    EXPECT_EQ(readFile(dir.file("outside/passwd.html")), "root:x:0:0  ");
    ::chmod(dir.file("site/locked").c_str(), 0755);

    // Without -r a folder is refused like any other non-file.
    run = runCli(dir, {"site"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "site\tit is a folder, not a file\n");
}

TEST(Cli, AwkwardPathsAndNamesKeepOneRecordPerFile) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe.html").c_str(), 0644), 0);
    std::filesystem::create_symlink("nowhere.html", dir.file("broken.html"));
    const std::string odd =
        "tab\there\nnew\\line\xe9.html";  // a TAB, a line feed, a backslash, Latin-1
    const std::string utf8 = "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html";
    for (const std::string& name : {odd, utf8, std::string("with space.html")})
        dir.write(name, "a  b");
    dir.write("logo.png", "\x89PNG\r\n\x1a\n");
    dir.write("logo.html", std::string("\x89PNG\r\n\x1a\n\0\0", 10));
    std::string deep = dir.path();
    for (int i = 0; i < 14; ++i) deep += "/" + std::string(200, 'd');
    std::filesystem::create_directories(deep);
    const std::string longPath = deep + "/long.html";
    std::ofstream(longPath) << "a  b";
    std::string tooLong = deep;  // past the system's limit on a path's length
    while (tooLong.size() < 5000) tooLong += "/" + std::string(200, 'e');
    tooLong += "/x.html";

    CliRun run = runCli(dir, {"pipe.html", "/dev/zero", "broken.html", odd, utf8, "with space.html",
                              "logo.png", "logo.html", longPath, tooLong});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(
        run.err,
        "pipe.html\tit is a pipe, not a file\n"
        "/dev/zero\tnot an .html or .htm page; --any-name compresses it anyway\n"
        "broken.html\tthe symbolic link points to a file that does not exist\n"
        "logo.png\tnot an .html or .htm page; --any-name compresses it anyway\n"
        "logo.html\tit is not a text page (it holds a NUL byte or starts with a UTF-16 or UTF-32 "
        "byte-order mark)\n" +
            tooLong + "\tits folder cannot be opened: the path is too long\n");
    EXPECT_EQ(run.out, "tab\\there\\nnew\\\\line\\xe9.html\t4\t-25 %\t5\n" + utf8 +
                           "\t4\t-25 %\t5\nwith space.html\t4\t-25 %\t5\n" + longPath +
                           "\t4\t-25 %\t5\n");
    EXPECT_EQ(readFile(dir.file("logo.png")), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(readFile(longPath), "a b\r\n");

    // For scripts: NUL-ended records with the path as it is; any name when asked for.
    run = runCli(dir, {"-z", "--any-name", odd, "logo.png"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, odd + "\t5\t0 %\t5" + std::string(1, '\0') + "logo.png\t8\t12.5 %\t7" +
                           std::string(1, '\0'));
}

TEST(Cli, AnswersUsageQuestionsAndFailsLoudly) {
    TempDir dir;
    dir.write("p.html", "a");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out, err;  // the start of each
    } cases[] = {
        {{}, 2, "", "vellork-cli: no file given"},
        {{"--frobnicate", "p.html"}, 2, "", "vellork-cli: unknown option '--frobnicate'"},
        {{"-j", "0", "p.html"}, 2, "", "vellork-cli: -j takes a number of files from 1 to 1024"},
        {{"-j0", "p.html"}, 2, "", "vellork-cli: -j takes"},
        {{"--jobs=x", "p.html"}, 2, "", "vellork-cli: -j takes"},
        {{"-j", "-1", "p.html"}, 2, "", "vellork-cli: -j takes"},
        {{"--help"}, 0, "Usage: vellork-cli", ""},
        {{"--version"}, 0, "vellork-cli ", ""},
        {{"--jobs=2", "p.html"}, 0, "p.html\t1\t-200 %\t3\n", ""},
    };
    for (const auto& c : cases) {
        const CliRun run = runCli(dir, c.args);
        EXPECT_EQ(run.status, c.status) << c.args.size();
        EXPECT_EQ(run.out.rfind(c.out, 0), 0u) << run.out;
        EXPECT_EQ(run.err.rfind(c.err, 0), 0u) << run.err;
    }
    // Results that cannot be written are a failure, though the page was compressed.
    const CliRun full = runCli(dir, {"p.html"}, "", "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "vellork-cli: the results could not be written: no space left on device\n");
}

}  // namespace
