// tolma list: every entry with its length, attributes, encoding and offset.
#include <cstdio>

#include "archive_source.h"
#include "command.h"
#include "listing.h"
#include "output.h"
#include "tool_system.h"

namespace tolma {
namespace {

int List(const Options& o) {
    if (o.xml) return ListAsXml(o);
    ArchiveSource source;
    if (int r = source.Open(o.arguments[0], o.pe)) return r;
    tool::PrintOut("      length  attributes  encoding          offset  path\n");
    Walker walker{source.Archive(), nullptr};
    walker.visit = [](const std::string& path, const TOLMADirectoryEntry& e, int) {
        const char* keyword = GetEncodingKeyword(e.encoding);
        char unknown[16];
        std::snprintf(unknown, sizeof unknown, "0x%08X", e.encoding);
        char line[128];
        std::snprintf(line, sizeof line, "%12llu  %08X    %-12s %10llu  ", static_cast<unsigned long long>(e.length),
                      e.attributes, keyword != nullptr ? keyword : unknown, static_cast<unsigned long long>(e.offset));
        tool::PrintOut(line + Shown(path) + (e.IsDirectory() ? "\\" : "") + "\n");
        return true;
    };
    walker.Walk("", 0);
    return walker.failures != 0 ? kExitFailed : kExitOk;
}

}  // namespace

extern const Command kListCommand = {
    .name = "list",
    .synopsis = "list ARCHIVE",
    .summary = "list every entry with its length, attributes,\nencoding and offset",
    .help =
        "usage: tolma list ARCHIVE [--pe] [--xml]\n"
        "\n"
        "Lists every entry: decoded length, attributes (hexadecimal), encoding,\n"
        "offset of its record, and its path (directories end with a backslash).\n"
        "  --xml  print the archive's listing instead: an XML document (UTF-8,\n"
        "         one \"listing\" element) of its files, with their encodings, and\n"
        "         directories, ready for 'tolma create --listing'; archives keep\n"
        "         no passwords, so the listing names none. A name with a control\n"
        "         character XML cannot hold is reported and left out (exit 1)\n",
    .min_arguments = 1,
    .max_arguments = 1,
    .run = List,
};

}  // namespace tolma
