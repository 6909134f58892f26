// The description parser: a private scanner over the decoded text whose words
// may hold '-', '.' and ':', and which in escape mode 1 steps over escaped
// characters while looking for a closing quote. Nesting is followed with the
// nodes' parent links instead of the call stack, so that no input can
// exhaust the stack.
#include <cstring>

#include "platform/platform.h"
#include "text/escapes.h"
#include "xml/description.h"
#include "xml/stream_wide_string.h"

namespace {

const char kNoClosingBracket[] = "XML 構文エラー : </%s> の閉じ括弧がありません。\n";
const char kNoMatchingTag[] = "XML 構文エラー : </%s> に対応するタグがありません。\n";
const char kStraySlash[] = "XML 構文エラー : 書式中に不正な / 記号を見つけました。\n";
const char kBadAttribute[] = "XML 構文エラー : <%s> タグの属性の書式が不正です。\n";
const char kBadCharacterCode[] = "XML 構文エラー : &#xxx; 構文で文字コードの指定が不正です。\n";
const char kNumericNoSemicolon[] = "XML 構文エラー : &#xxx; 構文がセミコロンで閉じられていません。\n";
const char kEntityNoSemicolon[] = "XML 構文エラー : 特殊文字の終端はセミコロンで終わらなければなりません。\n";
const char kBareAmpersand[] = "XML 構文エラー : & 記号は &amp; と記述しなければなりません。\n";
const char kTooDeep[] = "XML 構文エラー : 要素の入れ子が深すぎます。<%s> から内側を読み捨てました。\n";

const WideChar* const kEntityNames[] = {HVB_WTEXT("lt"), HVB_WTEXT("gt"), HVB_WTEXT("quot"), HVB_WTEXT("amp"),
                                        HVB_WTEXT("nbsp")};
const WideChar kEntityChars[] = {'<', '>', '"', '&', ' '};

WideChar FoldAscii(WideChar c) { return c >= 'a' && c <= 'z' ? static_cast<WideChar>(c - 'a' + 'A') : c; }

bool Equals(const EWideString& a, const WideChar* b) {
    for (uint32_t i = 0; i < a.GetLength(); ++i) {
        if (a.GetString()[i] != b[i] || b[i] == 0) return false;
    }
    return b[a.GetLength()] == 0;
}

}  // namespace

class EDescriptionParser : public EStreamWideString {
public:
    EDescriptionParser(EDescription* top, int32_t escape_mode) : top_(top), escapes_(escape_mode == 1) {}

    void Parse();

    // Hyphen, full stop and colon continue a word.
    int SkipToken() override {
        if (AtEnd()) return TokenEnd;
        uint32_t p = GetPosition();
        const WideChar c = text_[p++];
        if (IsSingleToken(c)) {
            SetPosition(p);
            return TokenSingle;
        }
        if (IsDelimiter(c)) {
            while (p < length_ && text_[p] > 32 && IsDelimiter(text_[p]) && !IsSingleToken(text_[p])) ++p;
            SetPosition(p);
            return TokenDelimiter;
        }
        while (p < length_ && (!IsDelimiter(text_[p]) || text_[p] == '-' || text_[p] == '.' || text_[p] == ':')) ++p;
        SetPosition(p);
        return TokenWord;
    }

    // In escape mode 1 a quote after a backslash is not the one looked for.
    int SkipUntil(WideChar c) override {
        uint32_t p = GetPosition();
        const bool escaped = escapes_ && c == '"';
        while (p < length_ && text_[p] != c) p += escaped && text_[p] == '\\' ? 2 : 1;
        SetPosition(p);
        return AtEnd() ? 1 : 0;
    }

private:
    // Only where !AtEnd().
    WideChar Current() const { return text_[GetPosition()]; }
    bool At(WideChar c) const { return !AtEnd() && Current() == c; }
    void Advance() { SetPosition(GetPosition() + 1); }
    EWideString Slice(uint32_t from, uint32_t to) const {
        EWideString out(HVB_WTEXT(""));
        if (to > from) out.Append(text_ + from, static_cast<int32_t>(to - from));
        return out;
    }

    // GetToken's name, appended to `into` without a string of its own.
    void ReadName(EWideString* into) {
        if (SkipSpaces()) return;
        const uint32_t start = GetPosition();
        SkipToken();
        into->Append(text_ + start, static_cast<int32_t>(GetPosition() - start));
    }
    bool NameIs(uint32_t start, uint32_t end, const EWideString& tag) const {
        if (end - start != tag.GetLength()) return false;
        for (uint32_t i = 0; i < end - start; ++i) {
            if (FoldAscii(text_[start + i]) != FoldAscii(tag.GetString()[i])) return false;
        }
        return true;
    }

    void Report(const char* format, const EWideString* name) const;
    void FlushText(EDescription* node);
    void ReadCharacterData();
    void ReadReference();
    void SkipComment();
    // Reads the attributes of a start tag into element. True when content
    // follows (the tag ended with '>', or an attribute error moved to one).
    bool ReadAttributes(EDescription* element);

    EDescription* top_;
    bool escapes_;
    EWideString text_buffer_;
    // Per level: whether a word has been seen since the last line break, so
    // that a line's indentation is dropped.
    bool word_seen_[EDescription::kMaxDepth + 1] = {};
    uint32_t depth_ = 0;
    // Open elements below the depth limit, dropped with their contents.
    uint32_t cut_ = 0;
};

void EDescriptionParser::Report(const char* format, const EWideString* name) const {
    const char* mark = std::strstr(format, "%s");
    if (mark == nullptr || name == nullptr) {
        plat::DebugTrace(format);
        return;
    }
    EString text;
    text.Append(format, static_cast<int32_t>(mark - format));
    const EString shown(name->GetString(), static_cast<int32_t>(name->GetLength()));
    text.Append(shown.GetString(), static_cast<int32_t>(shown.GetLength()));
    text.Append(mark + 2);
    plat::DebugTrace(text.GetString());
}

void EDescriptionParser::FlushText(EDescription* node) {
    if (text_buffer_.IsEmpty()) return;
    if (cut_ == 0) {
        auto* text = new EDescription;
        text->contents_ = text_buffer_;
        node->AddChild(text);
    }
    // Emptied, or mixed content would repeat earlier text in later nodes.
    text_buffer_.Empty();
}

void EDescriptionParser::ReadCharacterData() {
    const WideChar* t = text_;
    uint32_t p = GetPosition();
    bool seen = word_seen_[depth_];
    while (p < length_) {
        const WideChar c = t[p];
        if (c == '<' || c == '&') break;
        if (static_cast<uint16_t>(c) > 32) {
            // A run of visible characters goes in at once.
            uint32_t end = p + 1;
            while (end < length_ && static_cast<uint16_t>(t[end]) > 32 && t[end] != '<' && t[end] != '&') ++end;
            if (cut_ == 0) text_buffer_.Append(t + p, static_cast<int32_t>(end - p));
            seen = true;
            p = end;
            continue;
        }
        if (c == ' ' || c == '\t') {
            if (seen && cut_ == 0) text_buffer_.AppendChar(c);
        } else {
            seen = false;
        }
        ++p;
    }
    word_seen_[depth_] = seen;
    SetPosition(p);
}

void EDescriptionParser::ReadReference() {
    Advance();  // '&'
    word_seen_[depth_] = true;
    if (At('#')) {
        Advance();
        const int radix = DetectRadix();
        if (radix < 0) {
            Report(kBadCharacterCode, nullptr);
            text_buffer_.Append(HVB_WTEXT("&#"));
            return;
        }
        const int64_t code = ReadInteger(radix == 0 ? 10 : radix);
        text_buffer_.AppendChar(static_cast<WideChar>(code));
        if (At(';'))
            Advance();
        else
            Report(kNumericNoSemicolon, nullptr);
        return;
    }
    // Only a name right after the ampersand is its name: "a & <b>" must not
    // lose the element to it.
    EWideString name(HVB_WTEXT(""));
    if (!AtEnd() && Current() > 32 && !IsDelimiter(Current())) name = GetToken(nullptr);
    for (int k = 0; k < 5; ++k) {
        if (Equals(name, kEntityNames[k])) {
            text_buffer_.AppendChar(kEntityChars[k]);
            if (At(';'))
                Advance();
            else
                Report(kEntityNoSemicolon, nullptr);
            return;
        }
    }
    Report(kBareAmpersand, nullptr);
    text_buffer_.AppendChar('&');
    text_buffer_.Append(name.GetString(), static_cast<int32_t>(name.GetLength()));
}

void EDescriptionParser::SkipComment() {
    uint32_t p = GetPosition();
    uint32_t dashes = 0;
    while (p < length_) {
        const WideChar c = text_[p++];
        if (c == '>' && dashes >= 2) break;
        dashes = c == '-' ? dashes + 1 : 0;
    }
    SetPosition(p);
}

bool EDescriptionParser::ReadAttributes(EDescription* element) {
    for (;;) {
        if (SkipSpaces()) return false;
        const WideChar c = Current();
        if (c == '>') {
            Advance();
            return true;
        }
        if (c == '/') {
            Advance();
            SkipSpaces();
            if (At('>'))
                Advance();
            else
                Report(kStraySlash, nullptr);
            return false;
        }
        auto* attribute = new EDescriptionAttribute;
        ReadName(&attribute->name);
        SkipSpaces();
        if (!At('=')) {
            delete attribute;
            Report(kBadAttribute, &element->tag_);
            EStreamWideString::SkipUntil('>');
            return true;
        }
        Advance();
        SkipSpaces();
        uint32_t start = GetPosition();
        if (At('"')) {
            Advance();
            start = GetPosition();
            SkipUntil('"');
            attribute->value.Append(text_ + start, static_cast<int32_t>(GetPosition() - start));
            if (!AtEnd()) Advance();
        } else {
            SkipWord();
            attribute->value.Append(text_ + start, static_cast<int32_t>(GetPosition() - start));
        }
        if (attribute->value.GetString() == nullptr) attribute->value = HVB_WTEXT("");
        if (escapes_)
            UnescapeBackslashes(&attribute->value);
        else
            DecodeXmlEntities(&attribute->value);
        element->AdoptAttribute(attribute);
    }
}

void EDescriptionParser::Parse() {
    EDescription* node = top_;
    depth_ = 0;
    word_seen_[0] = false;
    bool reported_depth = false;
    while (!AtEnd()) {
        const WideChar c = Current();
        if (c == '&') {
            if (cut_ == 0) {
                ReadReference();
            } else {
                Advance();
            }
            continue;
        }
        if (c != '<') {
            ReadCharacterData();
            continue;
        }
        Advance();
        FlushText(node);
        if (SkipSpaces()) break;
        const WideChar d = Current();
        if (d == '/') {
            Advance();
            uint32_t start = GetPosition();
            if (!SkipSpaces()) {
                start = GetPosition();
                SkipToken();
            }
            const uint32_t end = GetPosition();
            if (cut_ > 0) {
                // Dropped levels close in order, whatever their names.
                EStreamWideString::SkipUntil('>');
                if (!AtEnd()) Advance();
                --cut_;
                continue;
            }
            if (!NameIs(start, end, node->tag_)) {
                const EWideString name = Slice(start, end);
                Report(kNoMatchingTag, &name);
                EStreamWideString::SkipUntil('>');
                continue;
            }
            SkipSpaces();
            if (At('>')) {
                Advance();
            } else {
                const EWideString name = Slice(start, end);
                Report(kNoClosingBracket, &name);
            }
            if (node == top_) return;
            node = node->parent_;
            --depth_;
            continue;
        }
        if (d == '!' && GetAt(static_cast<int32_t>(GetPosition()) + 1) == '-' &&
            GetAt(static_cast<int32_t>(GetPosition()) + 2) == '-') {
            SetPosition(GetPosition() + 3);
            SkipComment();
            continue;
        }
        if (d == '?' || d == '!') {
            EStreamWideString::SkipUntil('>');
            if (!AtEnd()) Advance();
            continue;
        }
        auto* element = new EDescription;
        ReadName(&element->tag_);
        // "<>" and a bare "<" at the end of the text make no element.
        if (element->tag_.IsEmpty() || Equals(element->tag_, HVB_WTEXT(">"))) {
            delete element;
            continue;
        }
        const bool open = ReadAttributes(element);
        if (cut_ > 0 || depth_ >= EDescription::kMaxDepth) {
            if (!reported_depth) Report(kTooDeep, &element->tag_);
            reported_depth = true;
            if (open) ++cut_;
            delete element;
            continue;
        }
        node->AddChild(element);
        if (open) {
            node = element;
            word_seen_[++depth_] = false;
        }
    }
    FlushText(node);
}

ResultCode EDescription::ReadDescription(EStreamBuffer* stream, int32_t escape_mode, int32_t encoding) {
    if (!IsKnownEncoding(encoding)) return InvalidEncodingResult();
    if (stream == nullptr) return ResultGeneralError;
    EDescriptionParser parser(this, escape_mode);
    uint32_t size = 0;
    const void* bytes = stream->GetLength() > 0 ? stream->Peek(0, &size) : nullptr;
    const ResultCode decoded = DecodeDescriptionText(bytes, size, encoding, &parser);
    stream->Skip(size);
    if (decoded != ResultSuccess) return decoded;
    parser.SetPosition(0);
    RemoveAllAttributes();
    RemoveAllChildren();
    parser.Parse();
    return ResultSuccess;
}
