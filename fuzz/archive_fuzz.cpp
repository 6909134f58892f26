// A damaged archive: every directory walked, every file opened and read to its
// end (bounded), in every encoding the directory names. The first input byte
// picks the password and whether files are opened streaming: each file opened
// costs a fresh context of several megabytes, which is nearly all of a run's
// time, and one mode per input doubles the search's speed at no loss.

#include "archive/tolma_archive.h"
#include "file/memory_file.h"
#include "fuzz_target.h"

namespace {

void WalkDirectory(TOLMAArchive& archive, const char* password, int32_t streaming, int depth, int& budget) {
    TOLMAEntryList entries;
    if (archive.GetDirectoryEntries(&entries) != ResultSuccess) return;
    uint8_t buffer[4096];
    for (uint32_t i = 0; i < entries.GetCount() && budget > 0; ++i, --budget) {
        const char* name = entries.GetAt(i)->GetName();
        if (entries.GetAt(i)->IsDirectory()) {
            if (depth > 8 || archive.DescendDirectory(name) != ResultSuccess) continue;
            WalkDirectory(archive, password, streaming, depth + 1, budget);
            archive.AscendDirectory();
            continue;
        }
        if (archive.OpenEntry(name, password, streaming) != ResultSuccess) continue;
        // Bounded: a damaged length may promise far more than is there.
        for (int n = 0; n < 64 && archive.Read(buffer, sizeof buffer) > 0; ++n) {
        }
        archive.GetLength();
        archive.CloseFile();
    }
}

}  // namespace

HVB_FUZZ_TARGET(archive) {
    hvb_fuzz::Reader in(data, size);
    const char* const passwords[] = {nullptr, "pw", "", "a much longer password than any block of the cipher holds"};
    const uint8_t options = in.Byte();
    const char* password = passwords[options & 3];
    const int32_t streaming = (options >> 2) & 1;
    EMemoryFile source;
    if (source.Open(in.data(), static_cast<uint32_t>(in.size())) != ResultSuccess) return;
    TOLMAArchive archive;
    if (archive.Open(&source, nullptr) != ResultSuccess) return;
    int budget = 64;
    WalkDirectory(archive, password, streaming, 0, budget);
    archive.OpenFile("D\\E\\d.crypt", password, 0);
    archive.Close();
}
