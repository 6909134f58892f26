// Shared by the resource writer tests: a small PE image made by hand, an
// image object that gathers the resources it enumerates, and the rewrite of
// an image with every resource it has.
#pragma once

#include <string>
#include <vector>

#include "pe/pe_support.h"

constexpr char kNoResourceSection[] = "リソースセクションがありません。";
constexpr char kNotLastSection[] = "リソースセクションの位置がファイルの末端にありません。";
constexpr char kHeadNotWritten[] = "PE イメージの書き出し中に失敗しました。";
constexpr char kDirectoryNotWritten[] = "リソースデータの書き出しに失敗しました。";
constexpr char kNotBegun[] = "BeginWritingPEImage 関数が呼び出されていません。";
constexpr char kLeafNotFound[] = "リソースデータエントリが見つかりません。";
constexpr char kDataNotWritten[] = "ファイルへの書き出しに失敗しました。";
constexpr char kOverlay[] = "最後のセクションの後ろに追加データがあります。";

inline uint32_t Le32At(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
inline uint16_t Le16At(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
inline void PutLe(std::vector<uint8_t>& b, size_t at, uint32_t v, int width = 4) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Offsets in the hand-made image.
constexpr uint32_t kPEHeader = 0x80;
constexpr uint32_t kOptionalHeader = kPEHeader + 24;
constexpr uint32_t kSectionTable = kOptionalHeader + 0xE0;
constexpr uint32_t kResourceSectionHeader = kSectionTable + 40;

// A PE32 image of two sections: code at 0x400 / 0x1000, and an empty
// resource section of 0x200 bytes at the given file offset and address.
inline std::vector<uint8_t> MakeImage(uint32_t raw_data, uint32_t address) {
    std::vector<uint8_t> b(raw_data + 0x200, 0);
    b[0] = 'M', b[1] = 'Z';
    PutLe(b, 0x3C, kPEHeader);
    PutLe(b, kPEHeader, 0x00004550);
    PutLe(b, kPEHeader + 4, 0x14C, 2);
    PutLe(b, kPEHeader + 6, 2, 2);
    PutLe(b, kPEHeader + 20, 0xE0, 2);
    PutLe(b, kPEHeader + 22, 0x102, 2);
    const uint32_t o = kOptionalHeader;
    PutLe(b, o, 0x10B, 2);
    PutLe(b, o + 16, 0x1000);
    PutLe(b, o + 28, 0x400000);
    PutLe(b, o + 32, 0x1000);
    PutLe(b, o + 36, 0x200);
    PutLe(b, o + 48, 4, 2);
    PutLe(b, o + 56, address + 0x1000);
    PutLe(b, o + 60, 0x400);
    PutLe(b, o + 68, 2, 2);
    PutLe(b, o + 92, 16);
    PutLe(b, o + 96 + 16, address);
    PutLe(b, o + 96 + 20, 0x200);
    const char* names[2] = {".text", ".rsrc"};
    const uint32_t fields[2][4] = {{0x10, 0x1000, 0x200, 0x400}, {0x200, address, 0x200, raw_data}};
    for (int s = 0; s < 2; ++s) {
        std::memcpy(&b[kSectionTable + 40 * s], names[s], std::strlen(names[s]));
        for (int f = 0; f < 4; ++f) PutLe(b, kSectionTable + 40 * s + 8 + 4 * f, fields[s][f]);
    }
    b[0x400] = 0xC3;
    return b;
}

// A key of a resource as the calls take it, kept alive by the string.
struct HeldKey {
    std::string text;
    uint16_t id;
    const char* get() const { return text.empty() ? MakeIntResource(id) : text.c_str(); }
};

struct GatheredResource {
    HeldKey type, name;
    uint16_t language;
    const uint8_t* data;
    uint32_t size;
};

class GatheringImage : public EXEImageFileObject {
public:
    ResultCode OnEnumResource(const char* type, const char* name, uint16_t language, const uint8_t* data,
                              uint32_t size) override {
        auto key = [](const char* v) {
            return IsIntResource(v) ? HeldKey{"", static_cast<uint16_t>(reinterpret_cast<uintptr_t>(v))}
                                    : HeldKey{v, 0};
        };
        found.push_back({key(type), key(name), language, data, size});
        return ResultSuccess;
    }
    std::vector<GatheredResource> found;
};

// Declares every resource the loaded image has, writes the copy, then the
// bytes of each resource. The first failure comes back.
inline ResultCode RewriteWithAllResources(GatheringImage& image, HVBFileObject* destination) {
    image.found.clear();
    ResultCode r = image.EnumResources(nullptr, nullptr, 0);
    if (r != ResultSuccess) return r;
    for (const GatheredResource& g : image.found) {
        r = image.AddResource(g.type.get(), g.name.get(), g.language, g.size);
        if (r != ResultSuccess) return r;
    }
    r = image.BeginWritingPEImage(destination);
    if (r != ResultSuccess) return r;
    for (const GatheredResource& g : image.found) {
        r = image.WriteResourceData(g.type.get(), g.name.get(), g.language, g.data, g.size);
        if (r != ResultSuccess) return r;
    }
    return ResultSuccess;
}
