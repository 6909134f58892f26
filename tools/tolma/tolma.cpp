// tolma: create, list, extract, print and verify archives, plain or held in
// a PE image as its "IDR_ARCHIVE" resource. This file reads the command line
// and hands it to the command, which lives in a file of its own.
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "core/hvb.h"
#include "jobs.h"
#include "output.h"
#include "tool_system.h"

namespace tolma {

// Each defined in its own file. A new command is one more file and one more
// row; the general help lists them in this order.
extern const Command kCreateCommand, kListCommand, kExtractCommand, kCatCommand, kVerifyCommand, kEmbedCommand;
const Command* const kCommands[] = {&kCreateCommand, &kListCommand,   &kExtractCommand,
                                    &kCatCommand,    &kVerifyCommand, &kEmbedCommand};

namespace {

struct OptionRow {
    const char* name;
    const char* short_name;  // or null
    bool Options::*given;
    std::string Options::*value;  // null for a switch
    // The commands that read the option, separated by spaces; the others
    // ignore it, with a warning. Null when it is accepted everywhere.
    const char* only_for;
};

// Every option is accepted anywhere after the command, in any order.
const OptionRow kOptionRows[] = {
    {"--help", "-h", &Options::help, nullptr, nullptr},
    {"--pe", nullptr, &Options::pe, nullptr, nullptr},
    {"--force", "-f", &Options::force, nullptr, nullptr},
    {"--verbose", "-v", &Options::verbose, nullptr, nullptr},
    {"--encoding", "-e", &Options::has_encoding, &Options::encoding, "create"},
    {"--password", "-p", &Options::has_password, &Options::password, nullptr},
    {"--output", "-o", &Options::has_output, &Options::output, "embed"},
    {"--xml", nullptr, &Options::xml, nullptr, "list"},
    {"--listing", nullptr, &Options::has_listing, &Options::listing, "create"},
    {"--jobs", "-j", &Options::has_jobs, &Options::jobs_text, "create extract verify"},
};

const char kGeneralHelpHead[] =
    "usage: tolma COMMAND [OPTIONS] ARGS...\n"
    "       tolma --help [COMMAND] | --version\n"
    "\n"
    "commands:\n";

const char kGeneralHelpTail[] =
    "\n"
    "ARCHIVE may also be a PE image holding the archive as its \"IDR_ARCHIVE\"\n"
    "resource; it is recognised by its \"MZ\" header, or named with --pe.\n"
    "Paths inside archives use backslashes; a slash typed on the command line\n"
    "is taken as a backslash.\n"
    "\n"
    "create, extract and verify show their progress on one line of standard\n"
    "error when it is a terminal; -v (--verbose) names each file as it goes.\n"
    "They code or decode several files at once, one per processor unless\n"
    "-j N (--jobs N, 1 to 64) says how many; the archive, the files and every\n"
    "message are the same whatever the number.\n"
    "\n"
    "Nothing a command writes is left half-written under its name: archives,\n"
    "images and extracted files are written beside their place and take their\n"
    "name only once complete, so a failure keeps what was there before.\n"
    "\n"
    "'tolma COMMAND --help' describes each command; 'tolma --version' (-V)\n"
    "prints the version.\n"
    "\n"
    "exit status:\n"
    "  0  success\n"
    "  1  the command ran, but something failed (a file that could not be\n"
    "     stored, extracted or decoded, a checksum mismatch, a refused name,\n"
    "     standard output that could not be written)\n"
    "  2  wrong usage\n"
    "  3  the archive could not be opened or is not an archive\n";

// Where the commands' summaries start; a longer synopsis has a line of its own.
constexpr size_t kSummaryColumn = 26;

std::string GeneralHelp() {
    std::string text = kGeneralHelpHead;
    const std::string indent(kSummaryColumn, ' ');
    for (const Command* c : kCommands) {
        const std::string synopsis = c->synopsis;
        text += "  " + synopsis;
        if (synopsis.size() + 4 <= kSummaryColumn)
            text += std::string(kSummaryColumn - 2 - synopsis.size(), ' ');
        else
            text += "\n" + indent;
        for (const char* p = c->summary; *p != '\0'; ++p) text += *p == '\n' ? "\n" + indent : std::string(1, *p);
        text += '\n';
    }
    return text + kGeneralHelpTail;
}

const Command* FindCommand(const std::string& name) {
    for (const Command* c : kCommands)
        if (name == c->name) return c;
    return nullptr;
}

// Whether command is one of the space-separated names of list.
bool Listed(const char* list, const std::string& command) {
    const std::string names = std::string(" ") + list + " ";
    return names.find(" " + command + " ") != std::string::npos;
}

// "a", "a and b", "a, b and c".
std::string Enumerated(const char* list) {
    std::vector<std::string> names;
    std::string name;
    for (const char* p = list;; ++p) {
        if (*p == ' ' || *p == '\0') {
            if (!name.empty()) names.push_back(name);
            name.clear();
            if (*p == '\0') break;
        } else {
            name += *p;
        }
    }
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

const OptionRow* FindOption(const std::string& name) {
    for (const OptionRow& row : kOptionRows)
        if (name == row.name || (row.short_name != nullptr && name == row.short_name)) return &row;
    return nullptr;
}

// Everything after the command; false after reporting a usage error.
bool Parse(int argc, char** argv, Options* o) {
    bool options_end = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (options_end || a.size() < 2 || a[0] != '-') {
            o->arguments.push_back(a);
            continue;
        }
        if (a == "--") {
            options_end = true;
            continue;
        }
        // "--name=value"; a switch ignores the value.
        std::string value;
        const size_t eq = a.find('=');
        bool inline_value = a.compare(0, 2, "--") == 0 && eq != std::string::npos;
        if (inline_value) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        }
        const OptionRow* row = FindOption(a);
        // "-j4": a short option's value may follow it at once.
        if (row == nullptr && !inline_value && a[1] != '-' && a.size() > 2) {
            row = FindOption(a.substr(0, 2));
            if (row != nullptr && row->value != nullptr) {
                value = a.substr(2);
                a = a.substr(0, 2);
                inline_value = true;
            } else {
                row = nullptr;
            }
        }
        if (row == nullptr) {
            Error("unknown option " + a);
            return false;
        }
        if (row->value != nullptr) {
            if (!inline_value) {
                if (i + 1 >= argc) {
                    Error(a + " needs a value");
                    return false;
                }
                value = argv[++i];
            }
            o->*row->value = value;
        }
        o->*row->given = true;
    }
    return true;
}

int Run(int argc, char** argv) {
    if (argc < 2) {
        tool::PrintError(GeneralHelp());
        return kExitUsage;
    }
    const std::string first = argv[1];
    if (first == "--version" || first == "-V") {
        tool::PrintOut("tolma " HVB_VERSION "\n");
        return kExitOk;
    }
    if (first == "--help" || first == "-h" || first == "help") {
        const Command* c = argc >= 3 ? FindCommand(argv[2]) : nullptr;
        tool::PrintOut(c != nullptr ? c->help : GeneralHelp());
        return kExitOk;
    }
    const Command* c = FindCommand(first);
    if (c == nullptr) {
        Error("unknown command '" + first + "'; see 'tolma --help'");
        return kExitUsage;
    }
    Options o;
    if (!Parse(argc, argv, &o)) return kExitUsage;
    if (o.help) {
        tool::PrintOut(c->help);
        return kExitOk;
    }
    for (const OptionRow& row : kOptionRows)
        if (o.*row.given && row.only_for != nullptr && !Listed(row.only_for, first))
            Error(std::string(row.name) + " applies to " + Enumerated(row.only_for) + " only; ignored");
    if (Listed("create extract verify", first)) {
        if (!o.has_jobs) o.jobs = DefaultJobs();
        else if (ParseJobs(o.jobs_text, &o.jobs) != kExitOk) {
            tool::PrintError(c->help);
            return kExitUsage;
        }
    }
    const size_t count = o.arguments.size();
    const int code = count < c->min_arguments || count > c->max_arguments ? kExitUsage : c->run(o);
    if (code == kExitUsage) tool::PrintError(c->help);
    return code;
}

}  // namespace
}  // namespace tolma

int main(int argc, char** argv) {
    zmrInitializeLibrary();
    // Everything the command made, its arguments too, is gone before the
    // library closes.
    int code;
    {
        std::vector<std::string> arguments = tool::CommandLineArguments(argc, argv);
        std::vector<char*> pointers;
        for (std::string& a : arguments) pointers.push_back(a.data());
        pointers.push_back(nullptr);
        code = tolma::Run(static_cast<int>(arguments.size()), pointers.data());
    }
    // Output buffered until now may still fail to reach its file (a full
    // disk); a listing that did not arrive is no success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const std::string why = tool::LastErrorText();
        tolma::Error("cannot write to standard output (" + why + ")");
        if (code == tolma::kExitOk) code = tolma::kExitFailed;
    }
    zmrCloseLibrary();
    return code;
}
