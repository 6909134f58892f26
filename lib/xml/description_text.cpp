// The three character encodings of descriptions: Shift_JIS through the
// system code page, the library's own UTF-8 (16-bit characters, continuation
// bytes taken as they come; a surrogate pair is one 4-byte sequence) and
// ISO-2022-JP by way of the code page's double-byte pairs.
#include "core/hvb.h"
#include "platform/codepage.h"
#include "xml/description.h"

namespace {

const char kInvalidEncodingText[] = "不正な文字エンコーディングが指定されました。";

const char* const kEncodingNames[] = {"Shift_JIS", "utf-8", "iso-2022-jp"};

constexpr uint8_t kEsc = 0x1B;

// Heap bytes released at the end of a scope.
class ByteBlock {
public:
    explicit ByteBlock(uint32_t size) : data_(static_cast<uint8_t*>(hvbHeapAllocate(nullptr, size ? size : 1, 0))) {}
    ~ByteBlock() {
        if (data_ != nullptr) hvbHeapFree(nullptr, data_, 0);
    }
    ByteBlock(const ByteBlock&) = delete;
    ByteBlock& operator=(const ByteBlock&) = delete;
    uint8_t* data() const { return data_; }

private:
    uint8_t* data_;
};

// The double-byte ranges of Shift_JIS: these start a run of JIS pairs.
bool IsShiftJisLead(uint8_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

ResultCode DecodeUtf8(const uint8_t* in, uint32_t count, EWideString* out) {
    WideChar block[2048];
    uint32_t n = 0;
    uint32_t i = 0;
    while (i < count) {
        const uint8_t b = in[i++];
        uint32_t c = b;
        if (b >= 0x80) {
            int follow = 1;
            for (int bit = 5; bit >= 0 && (b >> bit & 1) != 0; --bit) ++follow;
            c = follow < 6 ? b & ((1u << (6 - follow)) - 1) : 0;
            // A whole 4-byte sequence names a character beyond the 16-bit
            // range: it becomes its surrogate pair. Other lengths keep the
            // low 16 bits, as they always have.
            uint32_t full = c;
            int taken = 0;
            for (; taken < follow && i < count; ++taken) {
                full = full << 6 | (in[i] & 0x3Fu);
                c = (c << 6 | (in[i++] & 0x3Fu)) & 0xFFFFu;
            }
            if (follow == 3 && taken == 3 && full >= 0x10000 && full <= 0x10FFFF) {
                block[n++] = static_cast<WideChar>(0xD800 + ((full - 0x10000) >> 10));
                c = 0xDC00 + ((full - 0x10000) & 0x3FF);
            }
        }
        block[n++] = static_cast<WideChar>(c);
        if (n + 1 >= sizeof block / sizeof block[0]) {
            out->Append(block, static_cast<int32_t>(n));
            n = 0;
        }
    }
    out->Append(block, static_cast<int32_t>(n));
    return ResultSuccess;
}

ResultCode DecodeIso2022Jp(const uint8_t* in, uint32_t count, EWideString* out) {
    ByteBlock sjis(count);
    uint8_t* o = sjis.data();
    if (o == nullptr) return ResultGeneralError;
    uint32_t n = 0;
    bool two_byte = false;
    uint32_t i = 0;
    while (i < count) {
        const uint8_t b = in[i];
        if (b == kEsc && i + 2 < count) {
            const uint8_t b1 = in[i + 1], b2 = in[i + 2];
            if (b1 == '$' && (b2 == 'B' || b2 == '@')) {
                two_byte = true;
                i += 3;
                continue;
            }
            if (b1 == '(' && (b2 == 'J' || b2 == 'B')) {
                two_byte = false;
                i += 3;
                continue;
            }
        }
        // Control characters inside a double-byte run (line breaks in text
        // that never switched back) are kept as they are.
        if (!two_byte || b < 0x21 || i + 1 >= count) {
            o[n++] = b;
            ++i;
            continue;
        }
        const uint32_t c1 = b, c2 = in[i + 1];
        i += 2;
        uint32_t s2 = c2 + ((c1 & 1) != 0 ? 31 : 125);
        if (s2 > 0x7E) ++s2;
        o[n++] = static_cast<uint8_t>((c1 - 33) / 2 + (c1 < 0x5F ? 129 : 193));
        o[n++] = static_cast<uint8_t>(s2);
    }
    *out = EWideString(reinterpret_cast<const char*>(o), static_cast<int32_t>(n));
    return ResultSuccess;
}

// The code page's bytes for text, in a block the caller frees; *size gets
// their count.
uint8_t* ToAnsi(const WideChar* text, uint32_t length, uint32_t* size) {
    *size = 0;
    const int need = plat::WideToAnsi(text, static_cast<int>(length), nullptr, 0);
    if (need <= 0) return nullptr;
    auto* bytes = static_cast<uint8_t*>(hvbHeapAllocate(nullptr, static_cast<uint32_t>(need), 0));
    if (bytes == nullptr) return nullptr;
    *size = static_cast<uint32_t>(
        plat::WideToAnsi(text, static_cast<int>(length), reinterpret_cast<char*>(bytes), need));
    return bytes;
}

ResultCode EncodeAnsi(const WideChar* text, uint32_t length, EStreamBuffer* out) {
    uint32_t size = 0;
    uint8_t* bytes = ToAnsi(text, length, &size);
    if (bytes == nullptr) return ResultGeneralError;
    const uint32_t written = out->Write(bytes, size);
    hvbHeapFree(nullptr, bytes, 0);
    return written == size ? ResultSuccess : ResultGeneralError;
}

ResultCode EncodeUtf8(const WideChar* text, uint32_t length, EStreamBuffer* out) {
    if (length > 0x7FFFFFFFu / 3) return ResultGeneralError;
    auto* o = static_cast<uint8_t*>(out->GetWriteBuffer(length * 3));
    if (o == nullptr) return ResultGeneralError;
    uint32_t n = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const uint32_t c = static_cast<uint16_t>(text[i]);
        const uint32_t low = i + 1 < length ? static_cast<uint16_t>(text[i + 1]) : 0;
        if (c >= 0xD800 && c <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
            const uint32_t full = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            o[n++] = static_cast<uint8_t>(0xF0 | full >> 18);
            o[n++] = static_cast<uint8_t>(0x80 | (full >> 12 & 0x3F));
            o[n++] = static_cast<uint8_t>(0x80 | (full >> 6 & 0x3F));
            o[n++] = static_cast<uint8_t>(0x80 | (full & 0x3F));
            ++i;
        } else if (c < 0x80) {
            o[n++] = static_cast<uint8_t>(c);
        } else if (c < 0x800) {
            o[n++] = static_cast<uint8_t>(0xC0 | c >> 6);
            o[n++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
        } else {
            o[n++] = static_cast<uint8_t>(0xE0 | c >> 12);
            o[n++] = static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F));
            o[n++] = static_cast<uint8_t>(0x80 | (c & 0x3F));
        }
    }
    out->CommitWrite(n);
    return ResultSuccess;
}

ResultCode EncodeIso2022Jp(const WideChar* text, uint32_t length, EStreamBuffer* out) {
    uint32_t size = 0;
    uint8_t* bytes = ToAnsi(text, length, &size);
    if (bytes == nullptr) return ResultGeneralError;
    // At worst every pair stands alone between single bytes: 3 bytes grow to 9.
    auto* o = static_cast<uint8_t*>(out->GetWriteBuffer(size * 3 + 8));
    if (o == nullptr) {
        hvbHeapFree(nullptr, bytes, 0);
        return ResultGeneralError;
    }
    uint32_t n = 0;
    bool two_byte = false;
    for (uint32_t i = 0; i < size;) {
        const uint8_t b = bytes[i];
        const bool pair = IsShiftJisLead(b) && i + 1 < size;
        if (pair != two_byte) {
            o[n++] = kEsc;
            o[n++] = pair ? '$' : '(';
            o[n++] = 'B';
            two_byte = pair;
        }
        if (!pair) {
            o[n++] = b;
            ++i;
            continue;
        }
        const uint32_t s1 = b, s2 = bytes[i + 1];
        i += 2;
        uint32_t c1 = (s1 - (s1 <= 0x9F ? 129 : 193)) * 2 + 33;
        uint32_t c2;
        if (s2 >= 0x9F) {
            ++c1;
            c2 = s2 - 126;
        } else {
            c2 = s2 - 31 - (s2 > 0x7F ? 1 : 0);
        }
        o[n++] = static_cast<uint8_t>(c1);
        o[n++] = static_cast<uint8_t>(c2);
    }
    if (two_byte) {
        o[n++] = kEsc;
        o[n++] = '(';
        o[n++] = 'B';
    }
    out->CommitWrite(n);
    hvbHeapFree(nullptr, bytes, 0);
    return ResultSuccess;
}

}  // namespace

ResultCode InvalidEncodingResult() { return MessageResult(kInvalidEncodingText); }

const char* EDescription::GetEncodingName(int32_t encoding) {
    return IsKnownEncoding(encoding) ? kEncodingNames[encoding] : nullptr;
}

int32_t EDescription::GetEncodingCode(const char* name) {
    if (name == nullptr) return 0;
    for (int32_t code = 0; code < 3; ++code) {
        const char* known = kEncodingNames[code];
        uint32_t i = 0;
        for (;; ++i) {
            char a = name[i], b = known[i];
            if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
            if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
            if (a != b || a == 0) break;
        }
        if (name[i] == 0 && known[i] == 0) return code;
    }
    return 0;
}

ResultCode DecodeDescriptionText(const void* bytes, uint32_t count, int32_t encoding, EWideString* out) {
    if (!EDescription::IsKnownEncoding(encoding)) return InvalidEncodingResult();
    if (out == nullptr || (bytes == nullptr && count != 0)) return ResultGeneralError;
    const auto* in = static_cast<const uint8_t*>(bytes);
    switch (encoding) {
        case EDescription::EncodingShiftJIS: {
            uint32_t n = 0;
            while (n < count && in[n] != 0) ++n;
            *out = EWideString(reinterpret_cast<const char*>(in), static_cast<int32_t>(n));
            return ResultSuccess;
        }
        case EDescription::EncodingUTF8:
            // Never more characters than bytes: one buffer, no regrowth.
            out->Empty();
            if (!out->AllocString(count + 1)) return ResultGeneralError;
            return DecodeUtf8(in, count, out);
        default:
            return DecodeIso2022Jp(in, count, out);
    }
}

ResultCode EncodeDescriptionText(const WideChar* text, uint32_t length, int32_t encoding, EStreamBuffer* out) {
    if (!EDescription::IsKnownEncoding(encoding)) return InvalidEncodingResult();
    if (out == nullptr || (text == nullptr && length != 0)) return ResultGeneralError;
    if (length == 0) return ResultSuccess;
    switch (encoding) {
        case EDescription::EncodingShiftJIS:
            return EncodeAnsi(text, length, out);
        case EDescription::EncodingUTF8:
            return EncodeUtf8(text, length, out);
        default:
            return EncodeIso2022Jp(text, length, out);
    }
}
