// A damaged archive: every directory walked, every file opened and read to its
// end (bounded), in every encoding the directory names. The first input byte
// picks the password, whether files are opened streaming or whole, and
// whether memory runs out while a file is decoded whole: each file opened
// costs a fresh context of several megabytes, which is nearly all of a run's
// time, and one mode per input doubles the search's speed at no loss.
//
// A few bytes of copy commands can decode to megabytes, and a file opened
// whole is decoded to the length its entry promises. Past a budget of decoded
// bytes an input only does the same decoding again, slower, so what one input
// decodes is bounded: a whole file's decoding is stopped through the progress
// it reports, and streaming reads stop when the budget is spent.

#include <algorithm>

#include "archive/tolma_archive.h"
#include "file/memory_file.h"
#include "fuzz_target.h"
#include "platform/platform.h"

namespace {

// Two turns of the decoders' 64 KiB history.
constexpr uint64_t kDecodeBudget = 128u << 10;

// Only the fuzzer's build can make memory run out; a replay decodes on.
void LimitPages(uint32_t largest) {
#if defined(HVB_FUZZING)
    plat::SetLargestPageAllocation(largest);
#else
    (void)largest;
#endif
}

class BudgetedArchive : public TOLMAArchive {
public:
    uint64_t bytes_left = kDecodeBudget;
    bool memory_runs_out = false;

    // Before each file: its progress counts from zero.
    void StartFile() { reported_ = 0; }

    ResultCode OnProgress(uint32_t done, uint32_t) override {
        const uint64_t step = done - reported_;
        reported_ = done;
        // From the first step on the copy can only grow into memory there is
        // no more of.
        if (memory_runs_out) LimitPages(0);
        if (step >= bytes_left) {
            bytes_left = 0;
            return ResultAborted;
        }
        bytes_left -= step;
        return ResultSuccess;
    }

private:
    uint32_t reported_ = 0;
};

// Reads the open file to its end (bounded), then closes it.
void ReadAndClose(BudgetedArchive& archive, bool whole) {
    uint8_t buffer[4096];
    // Bounded: a damaged length may promise far more than is there.
    for (int n = 0; n < 64 && (whole || archive.bytes_left > 0); ++n) {
        const uint32_t got = archive.Read(buffer, sizeof buffer);
        if (got == 0) break;
        if (!whole) archive.bytes_left -= std::min<uint64_t>(got, archive.bytes_left);
    }
    archive.GetLength();
    archive.CloseFile();
}

ResultCode Open(BudgetedArchive& archive, const char* name, const char* password, bool whole) {
    archive.StartFile();
    const ResultCode result = whole ? archive.OpenFile(name, password, 0) : archive.OpenFile(name, password, 1);
    LimitPages(0xFFFFFFFFu);
    return result;
}

void WalkDirectory(BudgetedArchive& archive, const char* password, bool whole, int depth, int& budget) {
    TOLMAEntryList entries;
    if (archive.GetDirectoryEntries(&entries) != ResultSuccess) return;
    for (uint32_t i = 0; i < entries.GetCount() && budget > 0; ++i, --budget) {
        const TOLMADirectoryEntry* entry = entries.GetAt(i);
        const char* name = entry->GetName();
        if (entry->IsDirectory()) {
            if (depth > 8 || archive.DescendDirectory(name) != ResultSuccess) continue;
            WalkDirectory(archive, password, whole, depth + 1, budget);
            archive.AscendDirectory();
            continue;
        }
        if (archive.bytes_left == 0 && entry->length != 0) continue;
        if (Open(archive, name, password, whole) == ResultSuccess) ReadAndClose(archive, whole);
    }
}

}  // namespace

HVB_FUZZ_TARGET(archive) {
    hvb_fuzz::Reader in(data, size);
    const char* const passwords[] = {nullptr, "pw", "", "a much longer password than any block of the cipher holds"};
    const uint8_t options = in.Byte();
    const char* password = passwords[options & 3];
    const bool whole = ((options >> 2) & 1) == 0;
    EMemoryFile source;
    if (source.Open(in.data(), static_cast<uint32_t>(in.size())) != ResultSuccess) return;
    BudgetedArchive archive;
    archive.memory_runs_out = ((options >> 3) & 1) != 0;
    if (archive.Open(&source, nullptr) != ResultSuccess) return;
    int budget = 64;
    WalkDirectory(archive, password, whole, 0, budget);
    // A path resolved from the root, as the repair opens its files.
    if (Open(archive, "D\\E\\d.crypt", password, whole) == ResultSuccess) ReadAndClose(archive, whole);
    archive.Close();
}
