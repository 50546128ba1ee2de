// vellork-cli: the window's engine for scripts and terminals.

#include "cli_system.h"
#include "figures.h"
#include "filepass.h"
#include "numtext.h"
#include "pool.h"
#include "risks.h"

#include <getopt.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

using vellork::cli::Job;
using vellork::cli::WalkMessage;

namespace vellork::cli {

bool isPageName(const std::string& name) {
    const auto dot = name.find_last_of('.');
    if (dot == std::string::npos) return false;
    std::string extension = name.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".html" || extension == ".htm";
}

std::string lowercase(std::string text) {
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

}  // namespace vellork::cli

namespace {

constexpr const char* kUsage =
    "Usage: vellork-cli [OPTION]... [--] PATH...\n"
    "Squeezes each HTML page into one line, in place: blank lines dropped, lines trimmed and\n"
    "joined, tabs and line feeds removed, runs of spaces collapsed.\n"
    "\n"
    "  -r, --recursive  take every .html and .htm file under each folder, in sorted order;\n"
    "                   symbolic links inside a folder are reported and not followed\n"
    "  -n, --check, --dry-run\n"
    "                   change nothing: print what a real run would, and list on standard\n"
    "                   error what each page would lose beyond whitespace\n"
    "  -j, --jobs=N     compress up to N files at once (default 16: most of the time goes\n"
    "                   into waiting for the disk); each file is still replaced only once\n"
    "                   it is safely on disk, two names of one file are never worked on\n"
    "                   at once, and results are printed in the order of the files\n"
    "  -z, --null       end each result with a NUL instead of a line feed, and write the\n"
    "                   path as it is, unescaped (for scripts, like find -print0)\n"
    "      --any-name   also compress a file named on the command line whose name does not\n"
    "                   end in .html or .htm\n"
    "      --backup[=SUFFIX]\n"
    "                   keep each original under its name and SUFFIX (default .orig), on\n"
    "                   disk before the page is replaced\n"
    "  -o, --output=DIR put the squeezed pages in DIR instead, under their names (the tree\n"
    "                   given with -r mirrored below it), and leave the originals as they are\n"
    "  -q, --quiet      print failures only\n"
    "  -v, --verbose    end with a line of totals: pages, bytes before and after, saved\n"
    "  -h, --help       show this help and exit\n"
    "  -V, --version    show the version and exit\n"
    "  --               treat every following argument as a path\n"
    "\n"
    "For each file one line goes to standard output: the path, the size before, the space\n"
    "saved and the size after, separated by tabs. In paths, a tab, line feed, carriage\n"
    "return and backslash are written as \\t, \\n, \\r and \\\\, and other control bytes and\n"
    "bytes that are not UTF-8 as \\xHH. A file that could not be compressed is left\n"
    "untouched and named on standard error with the reason.\n"
    "Exit status: 0 all files compressed, 1 some failed (or a folder could not be read, or\n"
    "the output could not be written), 2 usage error, 3 (--check only) no failure, but some\n"
    "pages would lose more than whitespace.\n";

enum Status { kAllDone = 0, kSomeFailed = 1, kUsageError = 2, kSomeAtRisk = 3 };
enum class Talk { Quiet, Normal, Verbose };

// What the command line asks for.
struct Settings {
    bool recursive = false, nullEnded = false, anyName = false, check = false;
    std::optional<std::string> backup, output;  // the backup's suffix; the output folder
    Talk talk = Talk::Normal;
    unsigned jobs = 16;
    std::vector<std::string> paths;
};

int usageError(const std::string& message) {
    if (!message.empty()) std::fprintf(stderr, "vellork-cli: %s\n", message.c_str());
    std::fputs("Try 'vellork-cli --help' for more information.\n", stderr);
    return kUsageError;
}

int printAndExit(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? kAllDone : kSomeFailed;
}

std::optional<unsigned> jobCount(const char* text) {
    unsigned n = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9' || (n = n * 10 + unsigned(*c - '0')) > 1024) return std::nullopt;
    }
    return *text && n >= 1 ? std::optional(n) : std::nullopt;
}

enum { kAnyName = 256, kBackup };
const option kLongOptions[] = {{"recursive", no_argument, nullptr, 'r'},
                               {"check", no_argument, nullptr, 'n'},
                               {"dry-run", no_argument, nullptr, 'n'},
                               {"jobs", required_argument, nullptr, 'j'},
                               {"null", no_argument, nullptr, 'z'},
                               {"any-name", no_argument, nullptr, kAnyName},
                               {"backup", optional_argument, nullptr, kBackup},
                               {"output", required_argument, nullptr, 'o'},
                               {"quiet", no_argument, nullptr, 'q'},
                               {"verbose", no_argument, nullptr, 'v'},
                               {"help", no_argument, nullptr, 'h'},
                               {"version", no_argument, nullptr, 'V'},
                               {nullptr, 0, nullptr, 0}};

// What getopt found wrong, said here rather than by getopt, which names the program as it was
// started (a whole path on Windows) and words it differently on each system. `last` is the
// argument getopt took last; a short option's trouble is in `optopt`.
std::string optionError(int code, const std::string& last) {
    const std::string given = last.rfind("--", 0) == 0 ? last.substr(2, last.find('=') - 2) : "";
    std::vector<const option*> matches;  // the long options `last` could stand for
    for (const option* o = kLongOptions; o->name && !given.empty(); ++o)
        if (std::string_view(o->name).substr(0, given.size()) == given) matches.push_back(o);
    // In a bundle (-rx) the last argument taken may be an earlier option: the trouble is the
    // last argument's own only when it names the option getopt complains of.
    const bool inLast = matches.size() == 1 && matches[0]->val == optopt;
    const std::string name = inLast ? std::string("--") + matches[0]->name : "",
                      letter(1, static_cast<char>(optopt));
    // A long option's trouble is told by what it takes (BSD's getopt, in MinGW, calls both
    // kinds a missing argument).
    if (inLast)
        return "option '" + name +
               (matches[0]->has_arg ? "' requires an argument" : "' doesn't allow an argument");
    if (code == ':') return "option requires an argument -- '" + letter + "'";
    if (optopt != 0) return "invalid option -- '" + letter + "'";
    if (matches.size() < 2) return "unrecognized option '" + last + "'";
    std::string message = "option '" + last + "' is ambiguous; possibilities:";
    for (const option* o : matches) message += std::string(" '--") + o->name + "'";
    return message;
}

// What is wrong with the ways of keeping the originals asked for, if anything.
std::string keepingError(const Settings& settings) {
    if (!settings.backup && !settings.output) return {};
#ifdef _WIN32
    return "--backup and --output are not available on Windows";
#endif
    if (settings.backup && settings.output)
        return "--backup and --output cannot be used together: with --output the originals "
               "stay as they are";
    if (settings.check) return "--check writes nothing; it takes neither --backup nor --output";
    if (settings.output && settings.output->empty()) return "--output needs a folder";
    if (!settings.backup) return {};
    const std::string& suffix = *settings.backup;
    if (suffix.empty() || suffix.find('/') != std::string::npos)
        return "--backup takes a suffix for the original's name, such as .orig";
    if (vellork::cli::isPageName("page.html" + suffix))
        return "a backup ending in .html or .htm would be taken for a page by a later run";
    return {};
}

// Reads the command line the way getopt_long does (bundled short options, --jobs=4,
// unambiguous abbreviations) and keeps the paths in their order. An exit status instead when
// the command line ends the program (help, version, a usage error).
std::variant<Settings, int> parse(std::vector<std::string> args) {
    for (const std::string& arg : args) {
        if (arg == "--") break;
        if (vellork::cli::asksForHelp(arg)) return printAndExit(kUsage);
    }
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    Settings settings;
    opterr = 0;
    // The leading '-' hands over every path in place, so a lone "-" is seen before "--" only;
    // the ':' tells a missing argument apart.
    for (int code; (code = ::getopt_long(int(args.size()), argv.data(), "-:rnj:o:zqvhV",
                                         kLongOptions, nullptr)) != -1;) {
        switch (code) {
            case 1:
                if (std::strcmp(optarg, "-") == 0)
                    return usageError(
                        "'-' (standard input) cannot be squeezed in place; name the pages, or "
                        "write ./- for a file called -");
                settings.paths.emplace_back(optarg);
                break;
            case 'r':
                settings.recursive = true;
                break;
            case 'n':
                settings.check = true;
                break;
            case 'z':
                settings.nullEnded = true;
                break;
            case kAnyName:
                settings.anyName = true;
                break;
            case kBackup:
                settings.backup = optarg ? optarg : ".orig";
                break;
            case 'o':
                settings.output = optarg;
                break;
            case 'q':
                settings.talk = Talk::Quiet;
                break;
            case 'v':
                settings.talk = Talk::Verbose;
                break;
            case 'j':
                if (const auto jobs = jobCount(optarg))
                    settings.jobs = *jobs;
                else
                    return usageError("-j takes a number of files from 1 to 1024");
                break;
            case 'h':
                return printAndExit(kUsage);
            case 'V':
                return printAndExit("vellork-cli " VELLORK_VERSION "\n");
            default:
                return usageError(optionError(code, argv[optind - 1]));
        }
    }
    settings.paths.insert(settings.paths.end(), argv.begin() + optind, argv.end() - 1);
    if (settings.paths.empty()) return usageError("no file given");
    if (const std::string wrong = keepingError(settings); !wrong.empty()) return usageError(wrong);
    return settings;
}

// Length of the valid UTF-8 sequence at s[0], or 0 when it is not one.
std::size_t utf8Length(const unsigned char* s, std::size_t left) {
    const unsigned char c = s[0];
    std::size_t n;
    unsigned min;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, min = 0x80;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, min = 0x800;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, min = 0x10000;
    else
        return 0;
    if (left < n) return 0;
    unsigned code = c & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        code = code << 6 | (s[i] & 0x3F);
    }
    return code >= min && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF) ? n : 0;
}

// A path as one field of one line: whatever could split the record or mislead a reader is
// written as an escape.
std::string escaped(const std::string& path) {
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(path.data());
    for (std::size_t i = 0; i < path.size();) {
        const unsigned char c = s[i];
        const std::size_t n = utf8Length(s + i, path.size() - i);
        if (c == '\\' && !vellork::cli::escapesBackslash()) {
            out += path[i++];
            continue;
        }
        const char* named = c == '\\'   ? "\\\\"
                            : c == '\t' ? "\\t"
                            : c == '\n' ? "\\n"
                            : c == '\r' ? "\\r"
                                        : nullptr;
        if (named) {
            out += named;
            ++i;
            continue;
        }
        if (n == 0 || c < 0x20 || c == 0x7F) {
            static const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
            continue;
        }
        out.append(path, i, n);
        i += n;
    }
    return out;
}

// What the command line names, in order: the pages found by walking folders, and the files
// named themselves. What the walks met, and what is refused before any pass, is in `messages`.
void collect(const Settings& settings, std::vector<Job>& files,
             std::vector<WalkMessage>& messages) {
    using namespace vellork::cli;
    for (const std::string& path : settings.paths) {
        const bool folder = isFolder(path);
        if (settings.recursive && folder) {
            walkFolder(path, files, messages);
        } else if (settings.recursive && !isPageName(fileNameOf(path)) && !pathExists(path)) {
            messages.push_back({path, "the folder does not exist", true});
        } else {
            Job job{path, -1, {}, {}, {}};
            if (folder) job.refusal = "it is a folder, not a file; -r compresses the pages in it";
            files.push_back(std::move(job));
        }
    }
}

// What the run did, page by page, summed up.
struct Tally {
    std::uint64_t done = 0, failed = 0, atRisk = 0;
    std::int64_t before = 0, after = 0;
};

// "3 places (lines 4, 9, 12)", the lines cut short with "..." where more were found.
std::string counted(std::uint64_t count, const std::string& what,
                    const std::vector<std::uint64_t>& lines) {
    std::string text = std::to_string(count) + " " + what + (count == 1 ? "" : "s");
    if (lines.empty()) return text;
    text += lines.size() == 1 ? " (line " : " (lines ";
    for (std::size_t i = 0; i < lines.size(); ++i)
        text += (i ? ", " : "") + std::to_string(lines[i]);
    return text + (count > lines.size() ? ", ...)" : ")");
}

// Where the run's words go: one record per page on standard output, everything else on
// standard error, each line a path and a text with a TAB between them.
class Output {
public:
    explicit Output(const Settings& settings) : settings_(settings) {}

    void message(const std::string& path, const std::string& text) {
        std::fprintf(stderr, "%s\t%s\n", escaped(path).c_str(), text.c_str());
    }

    void record(const std::string& path, const vellork::PassResult& pass) {
        const vellork::RowFigures figures =
            vellork::rowFigures(true, pass.sizeBefore, pass.sizeAfter, ratioText_, ".");
        const std::string fields = "\t" + vellork::integerText(pass.sizeBefore) + "\t" +
                                   figures.ratio + "\t" + figures.compressedSize;
        const std::string shown = settings_.nullEnded ? path : escaped(path);
        if (std::fwrite(shown.data(), 1, shown.size(), stdout) != shown.size() ||
            std::fputs(fields.c_str(), stdout) < 0 ||
            std::fputc(settings_.nullEnded ? '\0' : '\n', stdout) < 0 || std::fflush(stdout) != 0)
            outputError_ = outputError_ ? outputError_ : (errno ? errno : EIO);
    }

    // What a check found that the squeeze would change beyond whitespace; with -q only what
    // puts the page at risk.
    void risks(const std::string& path, const vellork::PageRisks& risks) {
        using LineEnd = vellork::PageRisks::LineEnd;
        if (risks.joinedWords)
            message(path, "would glue words together in " +
                              counted(risks.joinedWords, "place", risks.joinedWordLines));
        if (risks.changedBlocks)
            message(path,
                    "would change " + counted(risks.changedBlocks, "<pre> or <textarea> block",
                                              risks.changedBlockLines));
        if (risks.brokenScripts)
            message(path, "would break " + counted(risks.brokenScripts, "inline script",
                                                   risks.brokenScriptLines));
        if (risks.lastLineEnd == LineEnd::CrLf || settings_.talk == Talk::Quiet) return;
        message(path, risks.lastLineEnd == LineEnd::Lf   ? "would end in CR LF instead of LF"
                      : risks.lastLineEnd == LineEnd::Cr ? "would end in CR LF instead of CR"
                                                         : "would gain a CR LF at its end");
    }

    // The line of totals: asked for with -v, and always after a check.
    void totals(const Tally& tally) {
        const vellork::RowFigures figures =
            vellork::rowFigures(true, tally.before, tally.after, ratioText_, ".");
        std::string line = "vellork-cli: pages: " + std::to_string(tally.done) +
                           (settings_.check ? " checked, " : " compressed, ") +
                           std::to_string(tally.failed) + " failed";
        if (settings_.check) line += ", " + std::to_string(tally.atRisk) + " at risk";
        line += "; bytes: " + vellork::integerText(tally.before) + " before, " +
                figures.compressedSize + " after, " +
                vellork::integerText(tally.before - tally.after) +
                (settings_.check ? " to save (" : " saved (") + figures.ratio + ")\n";
        std::fputs(line.c_str(), stderr);
    }

    // The exit status, worse when some of the output could not be written.
    int finish(int status) {
        if (!outputError_ && (std::fflush(stdout) != 0 || std::ferror(stdout)))
            outputError_ = errno ? errno : EIO;
        if (outputError_) {
            std::fprintf(stderr, "vellork-cli: the results could not be written: %s\n",
                         vellork::cli::lowercase(std::strerror(outputError_)).c_str());
            status = kSomeFailed;
        }
        // A reason or a note that could not be told is a failure of its own.
        if ((std::fflush(stderr) != 0 || std::ferror(stderr)) && status == kAllDone)
            status = kSomeFailed;
        return status;
    }

private:
    const Settings& settings_;
    std::string ratioText_;
    int outputError_ = 0;
};

// One page's pass, and with a check what its squeeze would change.
struct Outcome {
    vellork::PassResult pass;
    std::optional<vellork::PageRisks> risks;
};

Outcome runOne(const Job& job, const Settings& settings, int output, vellork::PassOptions options) {
    options.pageNamesOnly = !settings.anyName;
    options.dryRun = settings.check;
    options.backupSuffix = settings.backup.value_or("");
    // The page's folder below the output folder, made for it, held while it is written.
    struct Held {
        int fd = -1;
        ~Held() {
            if (fd >= 0) vellork::cli::closeFolder(fd);
        }
    } folder;
    if (output >= 0 && job.refusal.empty()) {
        const auto slash = job.output.find_last_of('/');
        folder.fd = vellork::cli::outputFolderBelow(
            output, slash == std::string::npos ? "" : job.output.substr(0, slash));
        if (folder.fd < 0) {
            Outcome refused;
            refused.pass.error = "its folder in the output folder cannot be made or opened: " +
                                 vellork::cli::lowercase(std::strerror(errno));
            return refused;
        }
        options.outputFolder = folder.fd;
        options.outputName = job.output.substr(slash == std::string::npos ? 0 : slash + 1);
    }
    Outcome outcome;
    vellork::RiskScanner scanner;
    if (settings.check)
        options.inspect = [&scanner](const char* data, std::size_t n) { scanner.feed(data, n); };
    outcome.pass = vellork::cli::runJob(job, options);
    if (settings.check && outcome.pass.ok) outcome.risks = scanner.finish();
    return outcome;
}

// Runs the files, `jobs` at work and at most `underWay` under way at a time, and hands each
// outcome to `report` in file order.
void compressAll(const std::vector<Job>& files, unsigned jobs, unsigned underWay,
                 const Settings& settings, int output,
                 const std::function<void(std::size_t, const Outcome&)>& report) {
    std::vector<Outcome> outcomes(files.size());
    vellork::PassPool pool(
        files.size(), jobs,
        [&](std::size_t i, const vellork::PassOptions& options) {
            outcomes[i] = runOne(files[i], settings, output, options);
        },
        [&](std::size_t i) { return vellork::cli::identityOf(files[i]); }, underWay);
    for (std::size_t i = 0; i < files.size(); ++i) {
        pool.waitFor(i);
        report(i, outcomes[i]);
    }
}

// Opens the output folder and gives every page its place below it: a walked page the path it
// has below its top folder, a page named itself its name. A place that two pages would share
// is the first one's, and the later ones are refused.
int placeInOutput(const std::string& path, std::vector<Job>& files, std::string& error) {
    std::vector<int> tops;
    for (const Job& job : files)
        if (job.rootFolder >= 0) tops.push_back(job.rootFolder);
    const int output = vellork::cli::openOutputFolder(path, tops, error);
    std::set<std::string> taken;
    for (Job& job : files) {
        job.output = job.rootFolder >= 0 ? job.relative : vellork::cli::fileNameOf(job.shown);
        if (job.refusal.empty() && !taken.insert(job.output).second)
            job.refusal = "another page of this run goes to the same place in the output folder";
    }
    return output;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vellork::cli;
    prepareOutput();  // before anything is opened
    std::setlocale(LC_ALL, "");
    const auto parsed = parse(arguments(argc, argv));
    if (const int* status = std::get_if<int>(&parsed)) return *status;
    const Settings& settings = std::get<Settings>(parsed);
    const bool quiet = settings.talk == Talk::Quiet;

    std::vector<Job> files;
    std::vector<WalkMessage> messages;
    collect(settings, files, messages);
    int outputFolder = -1;
    if (settings.output) {
        std::string error;
        outputFolder = placeInOutput(*settings.output, files, error);
        if (outputFolder < 0) {
            std::fprintf(stderr, "vellork-cli: %s\n", error.c_str());
            return outputFolder == -2 ? kUsageError : kSomeFailed;
        }
    }
    Output output(settings);
    bool anyFailed = false;
    for (const WalkMessage& message : messages) {
        if (message.failed || !quiet) output.message(message.path, message.text);
        anyFailed |= message.failed;
    }

    Tally tally;
    compressAll(files, settings.jobs, passesWithinSystemLimit(settings.jobs, outputFolder >= 0),
                settings, outputFolder, [&](std::size_t i, const Outcome& outcome) {
                    const std::string& shown = files[i].shown;
                    const vellork::PassResult& pass = outcome.pass;
                    if (!quiet) {
                        const std::string& written =
                            outputFolder < 0 ? shown : *settings.output + "/" + files[i].output;
                        const std::string folder =
                            written.substr(0, written.size() - fileNameOf(written).size());
                        for (const std::string& leftover : pass.removed)
                            output.message(
                                folder + leftover,
                                "removed: a temporary file left by an interrupted earlier run");
                    }
                    if (!pass.ok) {
                        ++tally.failed;
                        output.message(shown, pass.error);
                        return;
                    }
                    ++tally.done, tally.before += pass.sizeBefore, tally.after += pass.sizeAfter;
                    if (!quiet && !pass.note.empty()) output.message(shown, "note: " + pass.note);
                    if (!quiet) output.record(shown, pass);
                    if (!outcome.risks) return;
                    tally.atRisk += outcome.risks->atRisk();
                    output.risks(shown, *outcome.risks);
                });
    if (settings.check ? !quiet : settings.talk == Talk::Verbose) output.totals(tally);
    if (anyFailed || tally.failed) return output.finish(kSomeFailed);
    return output.finish(tally.atRisk ? kSomeAtRisk : kAllDone);
}
