// Bytes as an icon file: read, every image reached, written again.
#include "file/icon_file.h"
#include "file/memory_file.h"
#include "fuzz_target.h"

HVB_FUZZ_TARGET(icon) {
    hvb_fuzz::Reader in(data, size);
    EMemoryFile source;
    if (source.Open(in.data(), static_cast<uint32_t>(in.size())) != ResultSuccess) return;
    EWin32IconFile icon;
    if (icon.ReadIconFile(&source) != ResultSuccess) return;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < icon.GetImageCount(); ++i) {
        const uint8_t* image = icon.GetImageData(i);
        const uint32_t n = icon.GetImageSize(i);
        if (image != nullptr && n != 0) sum += image[0] + image[n - 1];
        icon.GetEntry(i);
    }
    EMemoryFile out;
    if (out.Create(0) == ResultSuccess) icon.WriteIconFile(&out, icon.GetHeader().type);
    hvb_fuzz::Keep(sum);
}
