// Base64 text decoded and encoded again, and UTF-16 text through the
// backslash and XML escapes both ways.
#include <vector>

#include "fuzz_target.h"
#include "text/escapes.h"
#include "text/stream_buffer.h"
#include "text/string.h"

HVB_FUZZ_TARGET(escapes) {
    hvb_fuzz::Reader in(data, size);
    std::vector<char> text(reinterpret_cast<const char*>(in.data()), reinterpret_cast<const char*>(in.data()) + in.size());
    text.push_back('\0');
    EStreamBuffer decoded;
    if (DecodeBase64(&decoded, text.data()) == ResultSuccess) {
        std::vector<uint8_t> bytes(decoded.GetLength());
        decoded.Read(bytes.data(), static_cast<uint32_t>(bytes.size()));
        EString encoded;
        EncodeBase64(&encoded, bytes.data(), static_cast<uint32_t>(bytes.size()));
    }

    std::vector<WideChar> wide;
    for (size_t i = 0; i + 1 < in.size(); i += 2)
        wide.push_back(static_cast<WideChar>(in.data()[i] | in.data()[i + 1] << 8));
    wide.push_back(0);
    EWideString unescaped(wide.data());
    UnescapeBackslashes(&unescaped);
    EscapeBackslashes(&unescaped);
    EWideString entities(wide.data());
    DecodeXmlEntities(&entities);
    EWideString xml;
    EncodeXmlText(&xml, entities, static_cast<int32_t>(in.size() % 5) - 1);
}
