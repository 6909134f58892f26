// Writing a description as indented XML lines: one line per start tag, text
// node and end tag, each line encoded on its own. The subtree is walked with
// an explicit stack, so a tree built by hand may be as deep as it likes.
#include "text/escapes.h"
#include "xml/description.h"

namespace {

// Encoded lines collect here and go to the file in large writes.
class LineWriter {
public:
    LineWriter(HVBFileObject* file, int32_t encoding) : file_(file), encoding_(encoding) {}

    void Line(const EWideString& text) {
        if (EncodeDescriptionText(text.GetString(), text.GetLength(), encoding_, &pending_) != ResultSuccess) {
            failed_ = true;
        }
        if (pending_.GetLength() >= kFlushSize) Flush();
    }
    void Bytes(const char* bytes, uint32_t count) {
        if (pending_.Write(bytes, count) != count) failed_ = true;
    }
    ResultCode Finish() {
        Flush();
        return failed_ ? ResultGeneralError : ResultSuccess;
    }

private:
    static constexpr uint32_t kFlushSize = 65536;

    void Flush() {
        while (pending_.GetLength() > 0) {
            uint32_t size = 0;
            const void* bytes = pending_.Peek(0, &size);
            if (!failed_ && file_->Write(bytes, size) != size) failed_ = true;
            pending_.Skip(size);
        }
    }

    HVBFileObject* file_;
    int32_t encoding_;
    EStreamBuffer pending_;
    bool failed_ = false;
};

bool IsHexDigit(WideChar c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

// Backslash escapes for a value between double quotes: besides what
// EscapeBackslashes does, quotes and other control characters become \xHH,
// with a leading 0 when a hexadecimal digit follows, because a reader takes
// up to three digits.
void AppendEscapedValue(EWideString* line, const EWideString& value) {
    static const char kHex[] = "0123456789ABCDEF";
    const WideChar* text = value.GetString();
    const uint32_t length = value.GetLength();
    for (uint32_t i = 0; i < length; ++i) {
        const WideChar c = text[i];
        const uint16_t u = static_cast<uint16_t>(c);
        WideChar letter = 0;
        if (c == '\n') letter = 'n';
        if (c == '\r') letter = 'r';
        if (c == '\t') letter = 't';
        if (c == '\\') letter = '\\';
        if (letter != 0) {
            line->AppendChar('\\');
            line->AppendChar(letter);
        } else if (u < 0x20 || c == '"' || c == '\'') {
            line->AppendChar('\\');
            line->AppendChar('x');
            if (i + 1 < length && IsHexDigit(text[i + 1])) line->AppendChar('0');
            line->AppendChar(static_cast<WideChar>(kHex[u >> 4]));
            line->AppendChar(static_cast<WideChar>(kHex[u & 15]));
        } else {
            line->AppendChar(c);
        }
    }
}

void AppendIndent(EWideString* line, int32_t level) {
    for (int32_t i = 0; i < level; ++i) line->AppendChar('\t');
}

struct Frame {
    const EDescription* node;
    uint32_t next_child;
    int32_t child_level;
};

}  // namespace

ResultCode EDescription::WriteDescription(HVBFileObject* file, int32_t indent, int32_t escape_mode,
                                          int32_t encoding) const {
    if (!IsKnownEncoding(encoding)) return InvalidEncodingResult();
    if (file == nullptr) return ResultGeneralError;
    LineWriter out(file, encoding);
    ETypedPtrArray<Frame> stack;
    EWideString line;
    EWideString escaped;

    // Writes the node's own line and, for a node with children, opens a frame.
    auto start = [&](const EDescription* node, int32_t level) {
        if (node->tag_.IsEmpty() && node->children_.GetCount() == 0) {
            line = HVB_WTEXT("");
            AppendIndent(&line, level);
            EncodeXmlText(&escaped, node->contents_, level);
            line.Append(escaped.GetString(), static_cast<int32_t>(escaped.GetLength()));
            out.Line(line);
            out.Bytes("\r\n", 2);
            return;
        }
        if (!node->tag_.IsEmpty()) {
            line = HVB_WTEXT("");
            AppendIndent(&line, level);
            line.AppendChar('<');
            line.Append(node->tag_.GetString(), static_cast<int32_t>(node->tag_.GetLength()));
            for (uint32_t i = 0; i < node->attributes_.GetCount(); ++i) {
                const EDescriptionAttribute* attribute = node->attributes_[i];
                line.AppendChar(' ');
                line.Append(attribute->name.GetString(), static_cast<int32_t>(attribute->name.GetLength()));
                line.Append(HVB_WTEXT("=\""));
                if (escape_mode == 1) {
                    AppendEscapedValue(&line, attribute->value);
                } else {
                    EncodeXmlText(&escaped, attribute->value, -1);
                    line.Append(escaped.GetString(), static_cast<int32_t>(escaped.GetLength()));
                }
                line.AppendChar('"');
            }
            line.Append(node->children_.GetCount() > 0 ? HVB_WTEXT(">\r\n") : HVB_WTEXT("/>\r\n"));
            out.Line(line);
        }
        if (node->children_.GetCount() > 0) {
            stack.Add(new Frame{node, 0, node->tag_.IsEmpty() ? level : level + 1});
        }
    };

    start(this, indent < 0 ? 0 : indent);
    while (stack.GetCount() > 0) {
        Frame* frame = stack[stack.GetCount() - 1];
        if (frame->next_child < frame->node->children_.GetCount()) {
            start(frame->node->children_[frame->next_child++], frame->child_level);
            continue;
        }
        const EDescription* node = frame->node;
        if (!node->tag_.IsEmpty()) {
            line = HVB_WTEXT("");
            AppendIndent(&line, frame->child_level - 1);
            line.Append(HVB_WTEXT("</"));
            line.Append(node->tag_.GetString(), static_cast<int32_t>(node->tag_.GetLength()));
            line.Append(HVB_WTEXT(">\r\n"));
            out.Line(line);
        }
        delete frame;
        stack.RemoveAt(stack.GetCount() - 1);
    }
    return out.Finish();
}
