// A damaged setup program: opened both ways, every resource enumerated and
// touched, the archive resource read through the window.
#include <cstring>

#include "file/exe_image_file.h"
#include "file/memory_file.h"
#include "fuzz_target.h"

namespace {

class TouchingImage : public EXEImageFileObject {
public:
    ResultCode OnEnumResource(const char* type, const char* name, uint16_t, const uint8_t* data,
                              uint32_t size) override {
        if (!IsIntResource(type)) sum += static_cast<uint8_t>(type[std::strlen(type)]);
        if (!IsIntResource(name)) sum += static_cast<uint8_t>(name[std::strlen(name)]);
        // The first and last byte are enough for the sanitizer to see a
        // pointer outside the image.
        if (touch && size != 0) sum += data[0] + data[size - 1];
        return ResultSuccess;
    }
    bool touch = false;
    uint32_t sum = 0;
};

const char* const kArchiveName = "IDR_ARCHIVE";

void ReadWindow(EXEImageFileObject& image) {
    if (image.OpenResource(MakeIntResource(RT_RCDATA_ID), kArchiveName, 0) != ResultSuccess) return;
    uint8_t buffer[4096];
    image.Seek(static_cast<int32_t>(image.GetLength() / 2), FromBegin);
    while (image.Read(buffer, sizeof buffer) == sizeof buffer) {
    }
    if (HVBFileObject* copy = image.Duplicate()) {
        copy->Read(buffer, sizeof buffer);
        delete copy;
    }
    image.CloseResource();
}

}  // namespace

HVB_FUZZ_TARGET(pe_reader) {
    hvb_fuzz::Reader in(data, size);
    EMemoryFile file;
    if (file.Open(in.data(), static_cast<uint32_t>(in.size())) != ResultSuccess) return;
    {
        TouchingImage image;
        if (image.OpenPEImageFile(&file) == ResultSuccess) {
            image.EnumResources(nullptr, nullptr, 0);
            ReadWindow(image);
        }
    }
    file.Seek(0, FromBegin);
    TouchingImage image;
    if (image.LoadPEImage(&file, false) != ResultSuccess) return;
    image.touch = true;
    image.EnumResources(nullptr, nullptr, 0);
    ResourceData found;
    image.FindResourceData(&found, MakeIntResource(RT_RCDATA_ID), kArchiveName, 0);
    image.FindResourceData(&found, MakeIntResource(16), MakeIntResource(1), 0);
    ReadWindow(image);
    hvb_fuzz::Keep(image.sum);
}
