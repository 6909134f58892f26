// What the driver hands a command, and what a command tells the driver about
// itself. Each command lives in a file of its own and defines one Command;
// the driver's table lists them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tolma {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitNoArchive = 3,
};

// The command line after parsing: the arguments in order, and the options
// (a later occurrence of an option wins).
struct Options {
    std::vector<std::string> arguments;
    std::string encoding = "raw";
    bool has_encoding = false;
    std::string password;
    bool has_password = false;
    std::string output;
    bool has_output = false;
    bool pe = false;
    bool force = false;
    bool help = false;
    bool xml = false;
    bool verbose = false;
    std::string listing;
    bool has_listing = false;
    std::string jobs_text;
    bool has_jobs = false;
    // Threads that code or decode files at once: -j, else one per processor.
    int jobs = 1;
};

constexpr size_t kAnyCount = static_cast<size_t>(-1);

struct Command {
    const char* name;
    // The general help's line for the command: how it is called and, wrapped
    // with '\n', what it does.
    const char* synopsis;
    const char* summary;
    // 'tolma COMMAND --help'; also shown after every usage error.
    const char* help;
    // Outside these bounds the command is not run: a usage error.
    size_t min_arguments;
    size_t max_arguments;
    // An exit code; kExitUsage makes the driver show the help.
    int (*run)(const Options& options);
};

}  // namespace tolma
