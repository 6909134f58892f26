// Shared by the PE tests: the payload pattern of the linked images, CRC-32 as
// zlib computes it, and an image object that records what it enumerates.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "core/result.h"
#include "file/exe_image_file.h"
#include "support/test_files.h"

inline uint8_t PayloadByte(uint32_t i, uint32_t seed) {
    return static_cast<uint8_t>(i * 131 + (i >> 8) * 7 + seed);
}

inline uint32_t Crc32(const uint8_t* data, uint32_t size) {
    static uint32_t table[256];
    if (table[1] == 0) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

// "#id" for an identifier, "=text" for a name.
inline std::string KeyText(const char* value) {
    return IsIntResource(value) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(value)) : "=" + std::string(value);
}

struct EnumeratedResource {
    std::string type, name;
    uint16_t language;
    uint32_t offset, size, crc;
};

class RecordingImage : public EXEImageFileObject {
public:
    ResultCode OnEnumResource(const char* type, const char* name, uint16_t language, const uint8_t* data,
                              uint32_t size) override {
        uint32_t offset = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data) - reinterpret_cast<uintptr_t>(GetImage()));
        // Data is touched only where it lies in memory (a loaded image).
        uint32_t crc = offset + static_cast<uint64_t>(size) <= GetImageMemoryLength() ? Crc32(data, size) : 0;
        seen.push_back({KeyText(type), KeyText(name), language, offset, size, crc});
        return seen.size() == stop_after ? stop_result : ResultSuccess;
    }
    std::vector<EnumeratedResource> seen;
    size_t stop_after = 0;
    ResultCode stop_result = ResultSuccess;
};

// The outcomes the image object may report.
inline bool IsImageResult(ResultCode r) {
    static const char* const kTexts[] = {
        "有効な PE イメージファイルではありません。",  "セクションヘッダが不正です。",
        "ファイルマッピングオブジェクトの生成に失敗しました。", "ファイルマッピングに失敗しました。",
        "リソースセクションがありません。",          "リソースタイプが見つかりません。",
        "リソース識別子が見つかりません。",          "言語識別子が見つかりません。",
        "データエントリが不正です。",                "リソースデータが見つかりませんでした。",
        "OpenPEImageFile 関数でイメージファイルが開かれていません。",
    };
    if (r == ResultSuccess) return true;
    for (const char* text : kTexts)
        if (std::strcmp(GetResultText(r), text) == 0) return true;
    return false;
}

#define EXPECT_RESULT(result, text) EXPECT_STREQ(GetResultText(result), text)
