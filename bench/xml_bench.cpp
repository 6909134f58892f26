// Reading a large XML file into a description tree, measured side by side
// with xmllint --noout on the same file, in one run. Prints the best of
// several runs of each and the ratio of speeds (xmllint's time over ours: 1.0
// is as fast as xmllint), by wall time and by processor time (steadier on a
// busy machine). xmllint's time includes starting its process; that start,
// measured on an empty document, is taken out in the ratios.
//
//   xml_bench [FILE, default /usr/share/mime/packages/freedesktop.org.xml] [runs, default 5]
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include "bench_clock.h"
#include "core/hvb.h"
#include "xml/description.h"

namespace {

std::vector<char> ReadAll(const char* path) {
    std::vector<char> bytes;
    std::FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return bytes;
    char chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}

uint32_t CountNodes(const EDescription& node) {
    uint32_t count = 1;
    for (uint32_t i = 0; i < node.GetChildCount(); ++i) count += CountNodes(*node.GetChildAt(static_cast<int32_t>(i)));
    return count;
}

struct Times {
    double wall = -1;
    double cpu = -1;
};

void KeepBest(Times* best, double wall, double cpu) {
    if (best->wall < 0 || wall < best->wall) best->wall = wall;
    if (best->cpu < 0 || cpu < best->cpu) best->cpu = cpu;
}

#if !defined(_WIN32)
double ChildrenCpuSeconds() {
    struct rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Best times of a shell command over runs; wall negative when it fails.
Times TimeCommand(const std::string& command, int runs) {
    Times best;
    for (int r = 0; r < runs; ++r) {
        const double start = BenchSeconds();
        const double cpu = ChildrenCpuSeconds();
        if (std::system(command.c_str()) != 0) return Times();
        KeepBest(&best, BenchSeconds() - start, ChildrenCpuSeconds() - cpu);
    }
    return best;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    zmrInitializeLibrary();
    const char* path = argc > 1 ? argv[1] : "/usr/share/mime/packages/freedesktop.org.xml";
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    const std::vector<char> bytes = ReadAll(path);
    if (bytes.empty()) {
        std::fprintf(stderr, "xml_bench: cannot read %s\n", path);
        return 1;
    }

    Times ours;
    uint32_t nodes = 0;
    for (int r = 0; r < runs; ++r) {
        EStreamBuffer stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
        const double start = BenchSeconds();
        const std::clock_t cpu = std::clock();
        {
            EDescription top;
            top.ReadDescription(&stream, 0, EDescription::EncodingUTF8);
            if (r == 0) nodes = CountNodes(top);
        }  // the tree is freed inside the measurement, as xmllint frees its own
        KeepBest(&ours, BenchSeconds() - start, static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
    }
    std::printf("file: %s (%zu bytes, %u nodes)\n", path, bytes.size(), nodes);
    std::printf("description: %.3f s wall, %.3f s processor (%.1f MB/s)\n", ours.wall, ours.cpu,
                bytes.size() / ours.wall / 1e6);

#if defined(_WIN32)
    std::printf("xmllint: not run on this system\n");
#else
    const std::string quoted = std::string("'") + path + "'";
    const Times lint = TimeCommand("xmllint --noout " + quoted, runs);
    const Times start = TimeCommand("echo '<a/>' | xmllint --noout -", runs);
    if (lint.wall < 0 || start.wall < 0) {
        std::printf("xmllint: failed (is libxml2-utils installed?)\n");
        return 1;
    }
    std::printf("xmllint --noout: %.3f s wall, %.3f s processor; starting it: %.3f s wall, %.3f s processor\n",
                lint.wall, lint.cpu, start.wall, start.cpu);
    const double lint_wall = lint.wall - start.wall > 0 ? lint.wall - start.wall : 0;
    const double lint_cpu = lint.cpu - start.cpu > 0 ? lint.cpu - start.cpu : 0;
    std::printf("speed relative to xmllint --noout: %.2f by wall time, %.2f by processor time\n",
                lint_wall / ours.wall, lint_cpu / ours.cpu);
#endif
    zmrCloseLibrary();
    return 0;
}
