// Helpers of the description tests: parsing bytes, writing to bytes, reading
// the parser's trace messages, and a one-line picture of a tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/test_files.h"
#include "xml/description.h"

// Collects every debug trace text while it lives.
class TraceCapture {
public:
    TraceCapture() { plat::SetDebugTraceSink(&TraceCapture::Sink, this); }
    ~TraceCapture() { plat::SetDebugTraceSink(nullptr, nullptr); }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    std::vector<std::string> messages;

private:
    static void Sink(const char* text, void* context) { static_cast<TraceCapture*>(context)->messages.push_back(text); }
};

inline ResultCode ParseBytes(EDescription* node, const std::string& bytes, int32_t escape_mode, int32_t encoding) {
    EStreamBuffer stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return node->ReadDescription(&stream, escape_mode, encoding);
}

inline std::string WriteBytes(const EDescription& node, int32_t escape_mode, int32_t encoding, int32_t indent = 0) {
    VectorFile file;
    node.WriteDescription(&file, indent, escape_mode, encoding);
    return std::string(file.bytes.begin(), file.bytes.end());
}

inline std::string Utf8(const WideChar* text, uint32_t length) {
    std::string out;
    for (uint32_t i = 0; i < length; ++i) {
        const uint32_t c = static_cast<uint16_t>(text[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}
inline std::string Utf8(const EWideString& s) { return Utf8(s.GetString(), s.GetLength()); }

// Control characters as \xNN, so that a picture stays on one line.
inline std::string Shown(const EWideString& s) {
    std::string out;
    for (char c : Utf8(s)) {
        if (static_cast<unsigned char>(c) < 0x20) {
            static const char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[c & 15];
        } else {
            out += c;
        }
    }
    return out;
}

// tag[name=value,...]{children} for elements, "text" for text nodes;
// adjacent text nodes are shown as one, as a written tree reads back.
inline std::string Picture(const EDescription& node) {
    std::string out;
    if (node.IsTextNode()) return "\"" + Shown(node.GetContents()) + "\"";
    out += Shown(node.GetTag());
    if (node.GetAttributeCount() > 0) {
        out += "[";
        for (uint32_t i = 0; i < node.GetAttributeCount(); ++i) {
            if (i > 0) out += ",";
            out += Shown(node.GetAttributeName(i)) + "=" + Shown(node.GetAttributeValue(i));
        }
        out += "]";
    }
    if (node.GetChildCount() > 0) {
        out += "{";
        bool after_text = false;
        for (uint32_t i = 0; i < node.GetChildCount(); ++i) {
            const EDescription* child = node.GetChildAt(static_cast<int32_t>(i));
            std::string part = Picture(*child);
            if (child->IsTextNode() && after_text) {
                out.pop_back();  // join with the text before: drop its closing quote
                out += part.substr(1);
            } else {
                if (i > 0) out += " ";
                out += part;
            }
            after_text = child->IsTextNode();
        }
        out += "}";
    }
    return out;
}

inline std::string PictureOf(const std::string& bytes, int32_t escape_mode = 0,
                             int32_t encoding = EDescription::EncodingShiftJIS) {
    EDescription top;
    ParseBytes(&top, bytes, escape_mode, encoding);
    return Picture(top);
}
