// A damaged tagged container: every record at every depth entered, part of
// its data read, and left again.
#include "archive/qdx_file.h"
#include "file/memory_file.h"
#include "fuzz_target.h"

namespace {

void Walk(QDXFile& file, int depth, int& budget) {
    uint8_t buffer[64];
    while (budget-- > 0 && file.DescendRecord(nullptr) == ResultSuccess) {
        file.GetLength();
        file.Read(buffer, sizeof buffer);
        file.Seek(-3, FromEnd);
        file.Read(buffer, sizeof buffer);
        file.Seek(0, FromBegin);
        if (depth < 8) Walk(file, depth + 1, budget);
        if (file.AscendRecord() != ResultSuccess) return;
    }
}

}  // namespace

HVB_FUZZ_TARGET(container) {
    hvb_fuzz::Reader in(data, size);
    EMemoryFile source;
    if (source.Open(in.data(), static_cast<uint32_t>(in.size())) != ResultSuccess) return;
    QDXFile file;
    if (file.Open(&source, nullptr) != ResultSuccess) return;
    int budget = 256;
    Walk(file, 0, budget);
    file.Close();

    // A search by identifier skips what does not match.
    source.Seek(0, FromBegin);
    if (file.Open(&source, nullptr) != ResultSuccess) return;
    if (file.DescendRecord("DirEntry") == ResultSuccess) file.DescendRecord("filedata");
}
