// Bytes as a raster image file, opened at every depth, every block and text
// it found reached.
#include "archive/tlm_file.h"
#include "file/memory_file.h"
#include "fuzz_target.h"

HVB_FUZZ_TARGET(tlm) {
    hvb_fuzz::Reader in(data, size);
    const uint32_t depth = in.Byte() % 4;
    EMemoryFile source;
    if (source.Open(in.data(), static_cast<uint32_t>(in.size())) != ResultSuccess) return;
    TLMFile file;
    if (file.Open(&source, depth) == ResultSuccess) {
        uint32_t count = 0;
        const uint8_t* table = file.GetSequenceTable(&count);
        uint32_t sum = file.GetVersion() + file.GetFoundFlags() + file.GetCopyright().GetLength() +
                       file.GetDescription().GetLength();
        if (table != nullptr && count != 0) sum += table[count * 8 - 1];
        hvb_fuzz::Keep(sum);
    }
}
