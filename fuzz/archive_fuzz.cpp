// A damaged archive: every directory walked, every file opened and read to its
// end (bounded), in every encoding the directory names. The first input byte
// picks the password and whether files are opened streaming: each file opened
// costs a fresh context of several megabytes, which is nearly all of a run's
// time, and one mode per input doubles the search's speed at no loss.
//
// A few bytes of copy commands can decode to megabytes, and a file opened
// whole is decoded to the length its entry promises. Past a budget of decoded
// bytes an input only does the same decoding again, slower, so what one input
// decodes is bounded: a file whose promise exceeds what is left is read
// streaming, and streaming reads stop when the budget is spent.

#include <algorithm>

#include "archive/tolma_archive.h"
#include "file/memory_file.h"
#include "fuzz_target.h"

namespace {

// Two turns of the decoders' 64 KiB history.
constexpr uint64_t kDecodeBudget = 128u << 10;

void WalkDirectory(TOLMAArchive& archive, const char* password, int32_t streaming, int depth, int& budget,
                   uint64_t& bytes_left) {
    TOLMAEntryList entries;
    if (archive.GetDirectoryEntries(&entries) != ResultSuccess) return;
    uint8_t buffer[4096];
    for (uint32_t i = 0; i < entries.GetCount() && budget > 0; ++i, --budget) {
        const TOLMADirectoryEntry* entry = entries.GetAt(i);
        const char* name = entry->GetName();
        if (entry->IsDirectory()) {
            if (depth > 8 || archive.DescendDirectory(name) != ResultSuccess) continue;
            WalkDirectory(archive, password, streaming, depth + 1, budget, bytes_left);
            archive.AscendDirectory();
            continue;
        }
        const bool whole = streaming == 0 && entry->length <= bytes_left;
        if (archive.OpenEntry(name, password, whole ? 0 : 1) != ResultSuccess) continue;
        if (whole) bytes_left -= entry->length;
        // Bounded: a damaged length may promise far more than is there.
        for (int n = 0; n < 64 && (whole || bytes_left > 0); ++n) {
            const uint32_t got = archive.Read(buffer, sizeof buffer);
            if (got == 0) break;
            if (!whole) bytes_left -= std::min<uint64_t>(got, bytes_left);
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
    uint64_t bytes_left = kDecodeBudget;
    WalkDirectory(archive, password, streaming, 0, budget, bytes_left);
    // A path resolved from the root; streaming, as its promised length is
    // not known before it is opened.
    archive.OpenFile("D\\E\\d.crypt", password, 1);
    archive.Close();
}
