// tolma verify: decode every stored file and check every checksum.
#include <cstdio>

#include "archive_source.h"
#include "command.h"
#include "decode_ahead.h"
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
    std::vector<FileToDecode> wanted;
    if (o.jobs > 1) wanted = CollectFiles(archive, [](const std::string&, const TOLMADirectoryEntry&) { return true; });
    DecodeAhead ahead(o.arguments[0], o.pe, password, o.jobs, false, std::move(wanted));
    const auto check = [](const uint8_t*, uint32_t) { return true; };
    int files = 0, failures = 0;
    Walker walker{archive, nullptr};
    walker.visit = [&](const std::string& path, const TOLMADirectoryEntry& e, int) {
        if (e.IsDirectory()) return true;
        ++files;
        progress.BeginFile(Quoted(path));
        std::string problem;
        const Decoded* decoded = ahead.Take(path);
        if (decoded != nullptr ? !decoded->opened : archive.OpenEntry(e.GetName(), password, 1) != ResultSuccess)
            problem = GetEncodingKeyword(e.encoding) == nullptr ? "unknown encoding" : "cannot be opened";
        else if (decoded != nullptr)
            problem = Replay(*decoded, &progress, check);
        else
            problem = Drain(archive, static_cast<uint32_t>(e.length), &progress, check);
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
        "usage: tolma verify ARCHIVE [--password P] [--pe] [-j N]\n"
        "\n"
        "Decodes every stored file and checks every checksum; lists each failure\n"
        "and exits with 1 when there is any.\n"
        "  -j N, --jobs N  decode N files at once (1 to 64; default: one per\n"
        "                  processor)\n",
    .min_arguments = 1,
    .max_arguments = 1,
    .run = Verify,
};

}  // namespace tolma
