// A damaged source image into the writer: every resource it has declared
// again and written into a copy, as the archive tool's embed does.
#include <string>
#include <vector>

#include "file/exe_image_file.h"
#include "file/memory_file.h"
#include "fuzz_target.h"

namespace {

struct Declared {
    std::string type, name;
    const char* type_key;
    const char* name_key;
    uint16_t language;
    const uint8_t* data;
    uint32_t size;
};

class GatheringImage : public EXEImageFileObject {
public:
    ResultCode OnEnumResource(const char* type, const char* name, uint16_t language, const uint8_t* data,
                              uint32_t size) override {
        if (found.size() >= 512) return ResultSuccess;
        Declared d{IsIntResource(type) ? "" : type, IsIntResource(name) ? "" : name, type, name, language, data, size};
        found.push_back(d);
        return ResultSuccess;
    }
    std::vector<Declared> found;
};

const char* Key(const std::string& text, const char* key) { return IsIntResource(key) ? key : text.c_str(); }

}  // namespace

HVB_FUZZ_TARGET(pe_writer) {
    hvb_fuzz::Reader in(data, size);
    EMemoryFile source;
    if (source.Open(in.data(), static_cast<uint32_t>(in.size())) != ResultSuccess) return;
    GatheringImage image;
    if (image.LoadPEImage(&source, false) != ResultSuccess) return;
    image.EnumResources(nullptr, nullptr, 0);
    for (const Declared& d : image.found) image.AddResource(Key(d.type, d.type_key), Key(d.name, d.name_key), d.language, d.size);
    static const uint8_t kArchive[] = "an archive";
    image.AddResource(MakeIntResource(RT_RCDATA_ID), "IDR_ARCHIVE", 0, sizeof kArchive);
    EMemoryFile out;
    if (out.Create(0) != ResultSuccess || image.BeginWritingPEImage(&out) != ResultSuccess) return;
    for (const Declared& d : image.found)
        image.WriteResourceData(Key(d.type, d.type_key), Key(d.name, d.name_key), d.language, d.data, d.size);
    image.WriteResourceData(MakeIntResource(RT_RCDATA_ID), "IDR_ARCHIVE", 0, kArchive, sizeof kArchive);

    // What was written must read back.
    out.Seek(0, FromBegin);
    EXEImageFileObject copy;
    if (copy.LoadPEImage(&out, false) == ResultSuccess) copy.EnumResources(nullptr, nullptr, 0);
}
