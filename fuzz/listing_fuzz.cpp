// Bytes as an archive listing: read, walked by path, written again.
#include "archive/tolma_listing.h"
#include "file/memory_file.h"
#include "fuzz_target.h"

HVB_FUZZ_TARGET(listing) {
    hvb_fuzz::Reader in(data, size);
    EMemoryFile source;
    if (source.Open(in.data(), static_cast<uint32_t>(in.size())) != ResultSuccess) return;
    TOLMAArchiveListing listing;
    if (listing.ReadListing(&source) != ResultSuccess) return;
    listing.ChangeDirectory("a\\b");
    listing.GetCurrentPath();
    listing.ChangeDirectory("\\");
    EMemoryFile out;
    if (out.Create(0) == ResultSuccess) listing.WriteListing(&out);
}
