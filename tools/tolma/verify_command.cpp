// tolma verify: decode every stored file and check every checksum.
#include <cstdio>

#include "archive_source.h"
#include "command.h"
#include "output.h"
#include "tool_system.h"

namespace tolma {
namespace {

int Verify(const Options& o) {
    ArchiveSource source;
    if (int r = source.Open(o.arguments[0], o.pe)) return r;
    TOLMAArchive& archive = source.Archive();
    std::string password_text;
    const char* password = PasswordOf(o, &password_text);

    uint64_t total = 0;
    uint32_t count = 0;
    if (tool::ErrorIsTerminal()) {
        Walker sizes{archive, [&](const std::string&, const TOLMADirectoryEntry& e, int) {
                         if (!e.IsDirectory()) {
                             total += static_cast<uint32_t>(e.length);
                             ++count;
                         }
                         return true;
                     }};
        sizes.Walk("", 0);
    }
    Progress progress(total, count, o.verbose);
    int files = 0, failures = 0;
    Walker walker{archive, nullptr};
    walker.visit = [&](const std::string& path, const TOLMADirectoryEntry& e, int) {
        if (e.IsDirectory()) return true;
        ++files;
        progress.BeginFile(Quoted(path));
        std::string problem;
        if (archive.OpenEntry(e.GetName(), password, 1) != ResultSuccess)
            problem = GetEncodingKeyword(e.encoding) == nullptr ? "unknown encoding" : "cannot be opened";
        else
            problem = Drain(archive, static_cast<uint32_t>(e.length), &progress,
                            [](const uint8_t*, uint32_t) { return true; });
        if (!problem.empty()) {
            Report("FAILED " + Shown(path) + ": " + problem + "\n");
            ++failures;
        }
        return true;
    };
    walker.Walk("", 0);
    progress.Finish();
    failures += walker.failures;
    char summary[96];
    std::snprintf(summary, sizeof summary, "%d files checked, %d failures\n", files, failures);
    tool::PrintOut(summary);
    return failures != 0 ? kExitFailed : kExitOk;
}

}  // namespace

extern const Command kVerifyCommand = {
    .name = "verify",
    .synopsis = "verify ARCHIVE",
    .summary = "decode every file and check every checksum",
    .help =
        "usage: tolma verify ARCHIVE [--password P] [--pe]\n"
        "\n"
        "Decodes every stored file and checks every checksum; lists each failure\n"
        "and exits with 1 when there is any.\n",
    .min_arguments = 1,
    .max_arguments = 1,
    .run = Verify,
};

}  // namespace tolma
