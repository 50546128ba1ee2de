#pragma once

// What vellork-cli asks of the system it runs on: cli_posix.cpp and cli_win32.cpp answer.

#include "filepass.h"
#include "pool.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vellork::cli {

// One file to compress: named on the command line, or found below a folder named there.
struct Job {
    std::string shown;     // the path as the user knows it
    int rootFolder = -1;   // the open top folder of the walk that found it, held for the whole
                           // run (POSIX: its descriptor; Windows: its number among the
                           // folders held); -1 when named itself
    std::string relative;  // its path below that folder
    std::string refusal;   // set when it is refused before any pass
    std::string output;    // with --output: its path below the output folder
};

struct WalkMessage {
    std::string path, text;
    bool failed;  // counts towards the exit status
};

// Shared by both systems, in cli.cpp.
bool isPageName(const std::string& name);
std::string lowercase(std::string text);

// The command line in UTF-8, whatever the console's code page.
std::vector<std::string> arguments(int argc, char** argv);
// Standard output and error take the bytes as they are written (no line-end translation), and
// no file can take the place of a closed one. Called before anything is opened.
void prepareOutput();
// An argument that asks for the help wherever it stands, as the system's own programs do.
bool asksForHelp(const std::string& arg);
// Whether a backslash in a path is written doubled in a result line: where it is the
// folder separator (Windows), it is written as it is, so that the path can be pasted.
bool escapesBackslash();

bool isFolder(const std::string& path);
bool pathExists(const std::string& path);
std::string fileNameOf(const std::string& path);
// Collects every page below `folder`, in sorted order, never following a link; what cannot
// be read or is skipped is reported.
void walkFolder(const std::string& folder, std::vector<Job>& jobs,
                std::vector<WalkMessage>& messages);
PassResult runJob(const Job& job, const PassOptions& options);

// The folder squeezed pages go to with --output, made where missing, opened once for the run:
// -1 with the reason when it cannot be, -2 when it would lie inside one of the walks' top
// folders `tops`. Whether the open folder `folder` lies inside `top`.
int openOutputFolder(const std::string& path, const std::vector<int>& tops, std::string& error);
bool liesInside(int folder, int top);
// The folder `relative` below the output folder, made where missing, reached without following
// any link; -1 with errno set when it cannot be.
int outputFolderBelow(int output, const std::string& relative);
void closeFolder(int folder);

// How many passes may be under way at once within the system's limits on open files, for
// `jobs` of them at work (PassPool::kPassesPerWorker each at most); `writingElsewhere` when each
// holds an output folder too.
unsigned passesWithinSystemLimit(unsigned jobs, bool writingElsewhere);
// The same for every name of one file (hard links, links, a name given twice).
std::optional<FileIdentity> identityOf(const Job& job);

}  // namespace vellork::cli
