// tolma cat: one stored file to standard output.
#include <cstdio>

#include "archive_source.h"
#include "command.h"
#include "names.h"
#include "output.h"
#include "tool_system.h"

namespace tolma {
namespace {

int Cat(const Options& o) {
    ArchiveSource source;
    if (int r = source.Open(o.arguments[0], o.pe)) return r;
    std::string path, password;
    if (!ArchivePathArgument(o.arguments[1], &path)) {
        Error("the path cannot be expressed in the archive's code page");
        return kExitFailed;
    }
    TOLMAArchive& archive = source.Archive();
    if (archive.OpenFile(path.c_str(), PasswordOf(o, &password), 1) != ResultSuccess) {
        Error(Quoted(path) + ": no such file in the archive, or it cannot be decoded");
        return kExitFailed;
    }
    const std::string problem = Drain(archive, archive.GetLength(), nullptr,
                                      [](const uint8_t* data, uint32_t n) { return tool::WriteOut(data, n); });
    std::fflush(stdout);
    if (!problem.empty()) {
        Error(Quoted(path) + ": " + problem);
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

extern const Command kCatCommand = {
    .name = "cat",
    .synopsis = "cat ARCHIVE PATH",
    .summary = "write one stored file to standard output",
    .help =
        "usage: tolma cat ARCHIVE PATH [--password P] [--pe]\n"
        "\n"
        "Writes the decoded bytes of one stored file to standard output; the exit\n"
        "status is 1 when its checksum does not match.\n",
    .min_arguments = 2,
    .max_arguments = 2,
    .run = Cat,
};

}  // namespace tolma
