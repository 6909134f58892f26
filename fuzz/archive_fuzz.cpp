// A damaged archive: every directory walked, every file opened with and
// without streaming and read to its end (bounded), in every encoding the
// directory names. The first input byte picks the password.
#include <initializer_list>

#include "archive/tolma_archive.h"
#include "file/memory_file.h"
#include "fuzz_target.h"

namespace {

void WalkDirectory(TOLMAArchive& archive, const char* password, int depth, int& budget) {
    TOLMAEntryList entries;
    if (archive.GetDirectoryEntries(&entries) != ResultSuccess) return;
    uint8_t buffer[4096];
    for (uint32_t i = 0; i < entries.GetCount() && budget > 0; ++i, --budget) {
        const char* name = entries.GetAt(i)->GetName();
        if (entries.GetAt(i)->IsDirectory()) {
            if (depth > 8 || archive.DescendDirectory(name) != ResultSuccess) continue;
            WalkDirectory(archive, password, depth + 1, budget);
            archive.AscendDirectory();
            continue;
        }
        for (int32_t streaming : {0, 1}) {
            if (archive.OpenEntry(name, password, streaming) != ResultSuccess) continue;
            // Bounded: a damaged length may promise far more than is there.
            for (int n = 0; n < 64 && archive.Read(buffer, sizeof buffer) > 0; ++n) {
            }
            archive.GetLength();
            archive.CloseFile();
        }
    }
}

}  // namespace

HVB_FUZZ_TARGET(archive) {
    hvb_fuzz::Reader in(data, size);
    const char* const passwords[] = {nullptr, "pw", "", "a much longer password than any block of the cipher holds"};
    const char* password = passwords[in.Byte() & 3];
    EMemoryFile source;
    if (source.Open(in.data(), static_cast<uint32_t>(in.size())) != ResultSuccess) return;
    TOLMAArchive archive;
    if (archive.Open(&source, nullptr) != ResultSuccess) return;
    int budget = 64;
    WalkDirectory(archive, password, 0, budget);
    archive.OpenFile("D\\E\\d.crypt", password, 0);
    archive.Close();
}
