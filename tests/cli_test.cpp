#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

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

CliRun runCli(const TempDir& dir, const std::vector<std::string>& args) {
    std::string command = std::string("cd ") + quoted(dir.path()) + " && LC_ALL=C " VELLORK_CLI;
    for (const auto& arg : args) command += " " + quoted(arg);
    command += " >" + quoted(dir.file(".out")) + " 2>" + quoted(dir.file(".err"));
    const int raw = std::system(command.c_str());
    CliRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(dir.file(".out")),
               readFile(dir.file(".err"))};
    std::filesystem::remove(dir.file(".out"));
    std::filesystem::remove(dir.file(".err"));
    return run;
}

TEST(Cli, CompressesEachFileAndReportsItsFigures) {
    TempDir dir;
    dir.write("a.html", std::string(1000, 'x').replace(0, 200, std::string(200, ' ')) + "\r\n");
    dir.write("-x.htm", "a\r\n\r\nb");
    const CliRun run = runCli(dir, {"a.html", "--", "-x.htm"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "a.html\t1002\t19.96 %\t802\n-x.htm\t6\t33.33 %\t4\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(readFile(dir.file("-x.htm")), "ab\r\n");
}

TEST(Cli, GoesOnAfterAFailureAndSaysWhy) {
    TempDir dir;
    dir.write("good.html", "a  b");
    const CliRun run = runCli(dir, {"missing.html", "good.html"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "missing.html\tthe file does not exist\n");
    EXPECT_EQ(run.out, "good.html\t4\t-25 %\t5\n");  // "a b" plus CR LF grew by one byte
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing.html")));
}

TEST(Cli, RecursiveTakesEveryPageUnderAFolderInSortedOrder) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("site/sub"));
    dir.write("site/b.html", "b");
    dir.write("site/a.HTM", "a");
    dir.write("site/sub/c.htm", "c");
    dir.write("site/notes.txt", "  keep  ");
    const CliRun run = runCli(dir, {"-r", "site"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(
        run.out,
        "site/a.HTM\t1\t-200 %\t3\nsite/b.html\t1\t-200 %\t3\nsite/sub/c.htm\t1\t-200 %\t3\n");
    EXPECT_EQ(readFile(dir.file("site/notes.txt")), "  keep  ");

    // Without -r a folder is refused like any other non-file.
    const CliRun plain = runCli(dir, {"site"});
    EXPECT_EQ(plain.status, 1);
    EXPECT_EQ(plain.err, "site\tit is a folder, not a file\n");
}

TEST(Cli, ParallelJobsReportInFileOrder) {
    TempDir dir;
    std::vector<std::string> args = {"-j", "4"};
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        const std::string name = "p" + std::to_string(i) + ".html";
        if (i == 7) {
            args.push_back("gone.html");
            continue;
        }
        dir.write(name, "a  b\r\n\r\n");
        args.push_back(name);
        expected += name + "\t8\t37.5 %\t5\n";
    }
    const CliRun run = runCli(dir, args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.err, "gone.html\tthe file does not exist\n");
    EXPECT_EQ(readFile(dir.file("p19.html")), "a b\r\n");
    EXPECT_EQ(runCli(dir, {"-j", "0", "p1.html"}).status, 2);
    EXPECT_EQ(runCli(dir, {"--jobs=x", "p1.html"}).status, 2);
}

TEST(Cli, ParallelJobsNeverWorkOnOneFileTwiceAtOnce) {
    // One large page under many names: hard links, a symbolic link, and a name given twice.
    // Side by side, two passes over one file would find it changing under them.
    TempDir dir;
    std::string page;
    for (int i = 0; i < 100000; ++i) page += "  <td>\tcell  " + std::to_string(i) + "</td>\r\n";
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
    EXPECT_EQ(run.err, "");
    std::string squeezed;
    for (int i = 0; i < 100000; ++i) squeezed += "<td>cell " + std::to_string(i) + "</td>";
    EXPECT_EQ(readFile(dir.file("h4.html")), squeezed + "\r\n");
}

TEST(Cli, AwkwardPathsAreRefusedWithAReasonOrHandled) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe.html").c_str(), 0644), 0);
    std::filesystem::create_directory(dir.file("folder.html"));
    std::filesystem::create_symlink("nowhere.html", dir.file("broken.html"));
    dir.write("with space.html", "a  b");
    dir.write("caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html", "a  b");
    dir.write("-dash.html", "a  b");
    std::string deep = dir.path();
    for (int i = 0; i < 14; ++i) deep += "/" + std::string(200, 'd');
    std::filesystem::create_directories(deep);
    const std::string longPath = deep + "/long.html";
    std::ofstream(longPath) << "a  b";
    std::string tooLong = deep;  // past the system's limit on a path's length
    while (tooLong.size() < 5000) tooLong += "/" + std::string(200, 'e');
    tooLong += "/x.html";

    const CliRun run = runCli(
        dir, {"pipe.html", "folder.html", "/dev/zero", "broken.html", "with space.html",
              "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html", "--", "-dash.html", longPath, tooLong});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "pipe.html\tit is not a regular file (a pipe, socket or device)\n"
              "folder.html\tit is a folder, not a file\n"
              "/dev/zero\tit is not a regular file (a pipe, socket or device)\n"
              "broken.html\tthe symbolic link points to a file that does not exist\n" +
                  tooLong + "\tthe file cannot be opened: the path is too long\n");
    EXPECT_EQ(run.out,
              "with space.html\t4\t-25 %\t5\n"
              "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac.html\t4\t-25 %\t5\n"
              "-dash.html\t4\t-25 %\t5\n" +
                  longPath + "\t4\t-25 %\t5\n");
    EXPECT_EQ(readFile(longPath), "a b\r\n");
}

TEST(Cli, AnswersUsageQuestions) {
    TempDir dir;
    EXPECT_EQ(runCli(dir, {}).status, 2);
    const CliRun unknown = runCli(dir, {"--frobnicate"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown option '--frobnicate'"), std::string::npos);
    const CliRun help = runCli(dir, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: vellork-cli"), std::string::npos);
    const CliRun version = runCli(dir, {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("vellork-cli ", 0), 0u);
}

}  // namespace
