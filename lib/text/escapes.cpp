#include "text/escapes.h"

namespace {

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// 0-63 for the alphabet, 64 for the padding character, 255 for the rest.
struct Base64Values {
    uint8_t value[256];
    constexpr Base64Values() : value() {
        for (int i = 0; i < 256; ++i) value[i] = 255;
        for (int i = 0; i < 64; ++i) value[static_cast<uint8_t>(kBase64Alphabet[i])] = static_cast<uint8_t>(i);
        value[static_cast<uint8_t>('=')] = 64;
    }
};
constexpr Base64Values kBase64Values;

const WideChar kEscapeLetters[] = HVB_WTEXT("nrtvbaf?\\\"'");
const WideChar kEscapedChars[] = {'\n', '\r', '\t', '\v', '\b', '\a', '\f', '?', '\\', '"', '\''};

const WideChar kXmlSpecials[] = HVB_WTEXT("<>\"& ");
const WideChar* const kXmlEntityNames[] = {HVB_WTEXT("lt"), HVB_WTEXT("gt"), HVB_WTEXT("quot"), HVB_WTEXT("amp"),
                                           HVB_WTEXT("nbsp")};
const WideChar* const kXmlEntities[] = {HVB_WTEXT("&lt;"), HVB_WTEXT("&gt;"), HVB_WTEXT("&quot;"),
                                        HVB_WTEXT("&amp;"), HVB_WTEXT("&nbsp;")};

int HexValue(WideChar c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool SameText(const WideChar* a, uint32_t length, const WideChar* b) {
    uint32_t i = 0;
    for (; i < length; ++i) {
        if (b[i] == 0 || a[i] != b[i]) return false;
    }
    return b[i] == 0;
}

void AppendDecimal(EWideString* out, uint32_t value) {
    WideChar digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<WideChar>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) out->AppendChar(digits[--n]);
}

}  // namespace

ResultCode EncodeBase64(EString* destination, const void* bytes, uint32_t count) {
    if (destination == nullptr || (bytes == nullptr && count != 0)) return ResultGeneralError;
    const uint64_t length = (static_cast<uint64_t>(count) + 2) / 3 * 4;
    if (length >= 0x7FFFFFFFu) return ResultGeneralError;
    if (!destination->AllocString(static_cast<uint32_t>(length) + 1)) return ResultGeneralError;
    const auto* in = static_cast<const uint8_t*>(bytes);
    char* out = destination->GetBuffer();
    uint32_t i = 0;
    for (; i + 3 <= count; i += 3) {
        const uint32_t v = static_cast<uint32_t>(in[i]) << 16 | static_cast<uint32_t>(in[i + 1]) << 8 | in[i + 2];
        *out++ = kBase64Alphabet[v >> 18];
        *out++ = kBase64Alphabet[v >> 12 & 63];
        *out++ = kBase64Alphabet[v >> 6 & 63];
        *out++ = kBase64Alphabet[v & 63];
    }
    if (i < count) {
        const bool two = i + 2 == count;
        const uint32_t v = static_cast<uint32_t>(in[i]) << 16 | (two ? static_cast<uint32_t>(in[i + 1]) << 8 : 0);
        *out++ = kBase64Alphabet[v >> 18];
        *out++ = kBase64Alphabet[v >> 12 & 63];
        *out++ = two ? kBase64Alphabet[v >> 6 & 63] : '=';
        *out++ = '=';
    }
    *out = 0;
    destination->ReleaseBuffer();
    return ResultSuccess;
}

ResultCode DecodeBase64(EStreamBuffer* destination, const char* text) {
    if (destination == nullptr) return ResultGeneralError;
    if (text == nullptr) return ResultSuccess;
    const auto* in = reinterpret_cast<const uint8_t*>(text);
    uint32_t length = 0;
    while (in[length] != 0) ++length;
    const uint32_t room = static_cast<uint32_t>(static_cast<uint64_t>(length) * 3 / 4);
    uint8_t* out = nullptr;
    if (room > 0) {
        out = static_cast<uint8_t*>(destination->GetWriteBuffer(room));
        if (out == nullptr) return ResultGeneralError;
    }
    uint32_t written = 0;
    ResultCode result = ResultSuccess;
    uint32_t i = 0;
    for (;;) {
        while (i < length && in[i] <= 32) ++i;
        if (i >= length) break;
        uint32_t v = 0;
        int padding = 0;
        int k = 0;
        for (; k < 4 && i < length; ++k, ++i) {
            const uint8_t d = kBase64Values.value[in[i]];
            if (d == 255) break;
            if (d == 64) ++padding;
            v = v << 6 | (d & 63);
        }
        if (k < 4) {
            result = ResultGeneralError;
            break;
        }
        // Four characters hold at most three bytes, and the room holds three
        // for every four characters of the text.
        out[written++] = static_cast<uint8_t>(v >> 16);
        if (padding < 2) out[written++] = static_cast<uint8_t>(v >> 8);
        if (padding == 0) out[written++] = static_cast<uint8_t>(v);
        if (padding > 0) break;
    }
    if (written > 0) destination->CommitWrite(written);
    return result;
}

ResultCode UnescapeBackslashes(EWideString* text) {
    if (text == nullptr || text->GetString() == nullptr) return ResultSuccess;
    const WideChar* in = text->GetString();
    const uint32_t length = text->GetLength();
    if (text->FindChar('\\') < 0) return ResultSuccess;
    EWideString out(HVB_WTEXT(""));
    out.AllocString(length + 1);
    uint32_t i = 0;
    while (i < length) {
        uint32_t run = i;
        while (run < length && in[run] != '\\') ++run;
        out.Append(in + i, static_cast<int32_t>(run - i));
        i = run;
        if (i >= length) break;
        ++i;  // the backslash
        if (i >= length) break;
        const WideChar c = in[i];
        if (c >= '0' && c <= '7') {
            uint32_t value = 0;
            for (int n = 0; n < 3 && i < length && in[i] >= '0' && in[i] <= '7'; ++n, ++i) value = value * 8 + (in[i] - '0');
            out.AppendChar(static_cast<WideChar>(value));
        } else if (c == 'x' && i + 1 < length && HexValue(in[i + 1]) >= 0) {
            ++i;
            uint32_t value = 0;
            for (int n = 0; n < 3 && i < length && HexValue(in[i]) >= 0; ++n, ++i) value = value * 16 + HexValue(in[i]);
            out.AppendChar(static_cast<WideChar>(value));
        } else {
            // An x without digits is no escape either: it stays as a letter.
            WideChar plain = c;
            for (int k = 0; kEscapeLetters[k] != 0; ++k) {
                if (kEscapeLetters[k] == c) {
                    plain = kEscapedChars[k];
                    break;
                }
            }
            out.AppendChar(plain);
            ++i;
        }
    }
    *text = out;
    return ResultSuccess;
}

ResultCode EscapeBackslashes(EWideString* text) {
    if (text == nullptr || text->GetString() == nullptr) return ResultSuccess;
    const WideChar* in = text->GetString();
    const uint32_t length = text->GetLength();
    EWideString out(HVB_WTEXT(""));
    out.AllocString(length + length / 8 + 2);
    for (uint32_t i = 0; i < length; ++i) {
        const WideChar c = in[i];
        WideChar letter = 0;
        if (c == '\n') letter = 'n';
        if (c == '\r') letter = 'r';
        if (c == '\t') letter = 't';
        if (c == '\\') letter = '\\';
        if (letter != 0) {
            out.AppendChar('\\');
            out.AppendChar(letter);
        } else {
            out.AppendChar(c);
        }
    }
    *text = out;
    return ResultSuccess;
}

ResultCode DecodeXmlEntities(EWideString* text) {
    if (text == nullptr || text->GetString() == nullptr || text->FindChar('&') < 0) return ResultSuccess;
    const WideChar* in = text->GetString();
    const uint32_t length = text->GetLength();
    EWideString out(HVB_WTEXT(""));
    out.AllocString(length + 1);
    // Every `&` before one `;` shares it and the blanks before it, so each is
    // found once: a value of many `&` and few `;` stays linear.
    uint32_t end = 0;
    uint32_t name_end = 0;
    uint32_t i = 0;
    while (i < length) {
        uint32_t run = i;
        while (run < length && in[run] != '&') ++run;
        out.Append(in + i, static_cast<int32_t>(run - i));
        i = run;
        if (i >= length) break;
        if (end <= i) {
            end = i + 1;
            while (end < length && in[end] != ';') ++end;
            name_end = end;
            while (name_end > i + 1 && static_cast<uint16_t>(in[name_end - 1]) <= 32) --name_end;
        }
        bool decoded = false;
        if (end < length) {
            uint32_t first = i + 1;
            while (first < end && static_cast<uint16_t>(in[first]) <= 32) ++first;
            const uint32_t last = name_end > first ? name_end : first;
            WideChar c = 0;
            if (first < last && in[first] == '#' && first + 1 < last && in[first + 1] >= '0' && in[first + 1] <= '9') {
                uint32_t value = 0;
                for (uint32_t k = first + 1; k < last && in[k] >= '0' && in[k] <= '9'; ++k) {
                    value = value * 10 + (in[k] - '0');
                    if (value > 0xFFFFFFu) value = 0xFFFFFFu;  // no overflow; the code unit keeps 16 bits
                }
                c = static_cast<WideChar>(value);
                decoded = true;
            } else {
                for (int k = 0; k < 5 && !decoded; ++k) {
                    if (SameText(in + first, last - first, kXmlEntityNames[k])) {
                        c = kXmlSpecials[k];
                        decoded = true;
                    }
                }
            }
            if (decoded) {
                out.AppendChar(c);
                i = end + 1;
            }
        }
        if (!decoded) {
            out.AppendChar('&');
            ++i;
        }
    }
    *text = out;
    return ResultSuccess;
}

ResultCode EncodeXmlText(EWideString* destination, const EWideString& source, int32_t indent) {
    if (destination == nullptr) return ResultGeneralError;
    const uint32_t length = source.GetLength();
    const WideChar* in = source.GetString();
    destination->Empty();
    destination->AllocString(length + 16);
    for (uint32_t i = 0; i < length; ++i) {
        const WideChar c = in[i];
        const uint16_t u = static_cast<uint16_t>(c);
        if (u > 31) {
            int special = -1;
            for (int k = 0; k < 5; ++k) {
                if (kXmlSpecials[k] == c) special = k;
            }
            if (special >= 0) {
                destination->Append(kXmlEntities[special]);
            } else {
                destination->AppendChar(c);
            }
            continue;
        }
        destination->AppendChar('&');
        destination->AppendChar('#');
        AppendDecimal(destination, u);
        destination->AppendChar(';');
        if (c == '\n' && i + 1 < length && indent >= 0) {
            destination->AppendChar('\r');
            destination->AppendChar('\n');
            for (int32_t t = 0; t < indent; ++t) destination->AppendChar('\t');
        }
    }
    return ResultSuccess;
}
