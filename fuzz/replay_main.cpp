// Replays the regression corpus through every target linked in:
//   fuzz_replay CORPUS_DIR
// CORPUS_DIR holds one folder per target, named as the target; every file in
// it is one input. Prints the number of inputs per target; a fault or a
// sanitizer report ends the run with a failure, a missing folder is an error.
#include <dirent.h>

#include <cerrno>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_target.h"

namespace hvb_fuzz {
namespace {

struct Entry {
    const char* name;
    Target target;
};

std::vector<Entry>& Targets() {
    static std::vector<Entry> targets;
    return targets;
}

std::vector<uint8_t> ReadWhole(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    uint8_t buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

}  // namespace

Registration::Registration(const char* name, Target target) { Targets().push_back({name, target}); }

}  // namespace hvb_fuzz

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_replay CORPUS_DIR\n");
        return 2;
    }
    hvb_fuzz::InitializeOnce();
    int failures = 0;
    for (const hvb_fuzz::Entry& entry : hvb_fuzz::Targets()) {
        const std::string dir = std::string(argv[1]) + "/" + entry.name;
        DIR* d = opendir(dir.c_str());
        if (d == nullptr) {
            std::fprintf(stderr, "fuzz_replay: no corpus folder %s\n", dir.c_str());
            ++failures;
            continue;
        }
        std::vector<std::string> names;
        // The 64-bit form: the 32-bit one fails on file systems whose inode
        // numbers do not fit 32 bits, and would look like an empty folder.
        errno = 0;
        while (const dirent64* e = readdir64(d)) {
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        }
        const bool listed = errno == 0;
        closedir(d);
        if (!listed) {
            std::fprintf(stderr, "fuzz_replay: cannot list %s\n", dir.c_str());
            ++failures;
            continue;
        }
        for (const std::string& name : names) {
            const std::vector<uint8_t> bytes = hvb_fuzz::ReadWhole(dir + "/" + name);
            hvb_fuzz::RunChecked(entry.target, bytes.data(), bytes.size());
        }
        std::printf("%-16s %4zu inputs\n", entry.name, names.size());
    }
    return failures == 0 ? 0 : 1;
}
