// Growable, always zero-terminated strings: EString holds bytes in the ANSI
// code page (double-byte aware wherever a trail byte could be mistaken for a
// separator or a letter), EWideString holds UTF-16 code units. Buffers come
// from the library heap; the two convert into each other through the
// platform's code-page conversion.
#pragma once

#include <cstdint>

#include "core/object.h"
#include "platform/codepage.h"

// The generic base of each width. It has no class name of its own and
// answers "HVBObject".
template <typename CharT>
class EGenericString : public HVBObject {
public:
    EGenericString() = default;
    EGenericString(const EGenericString& other);
    ~EGenericString() override;

    // With no buffer, allocates capacity characters and terminates at 0;
    // otherwise reallocates, keeping the contents. False when the heap has
    // nothing to give; the string is then unchanged.
    virtual bool AllocString(uint32_t capacity);
    virtual void FreeString();

    // Null only for a string that never had a buffer.
    const CharT* GetString() const { return text_; }
    operator const CharT*() const { return text_; }
    uint32_t GetLength() const { return length_; }
    uint32_t GetCapacity() const { return capacity_; }
    bool IsEmpty() const { return length_ == 0; }

    // Room for writing in place; ReleaseBuffer then takes the length up to
    // the first terminator (never past the capacity).
    CharT* GetBuffer() { return text_; }
    void ReleaseBuffer();

    // 0 when the index is out of range or there is no buffer.
    CharT GetAt(int32_t index) const;
    // Index of the next occurrence at or after start, or -1.
    int32_t FindChar(CharT c, int32_t start = 0) const;

    void AppendChar(CharT c);
    // length -1: up to the terminator. A null text appends nothing.
    void Append(const CharT* text, int32_t length = -1);
    void Empty();

protected:
    // The growth rule: room for a length of n (plus the terminator).
    bool Grow(uint32_t n);
    // AllocString (length + length / 2 + 1) and copy, safe when text lies in
    // this string's own buffer.
    void AssignText(const CharT* text, uint32_t length);
    static uint32_t TextLength(const CharT* text);
    // Replaces the contents with text of the other width, converted by
    // convert(source, source length, destination, capacity) in the manner of
    // the code-page conversions (length -1: up to the terminator).
    template <typename From, typename Convert>
    void AssignConverted(const From* text, int32_t length, Convert convert);

    CharT* text_ = nullptr;
    uint32_t length_ = 0;
    uint32_t capacity_ = 0;
};

template <typename CharT>
template <typename From, typename Convert>
void EGenericString<CharT>::AssignConverted(const From* text, int32_t length, Convert convert) {
    if (text == nullptr || length == 0) {
        if (AllocString(1)) Empty();
        return;
    }
    int n = convert(text, length, nullptr, 0);
    if (length < 0 && n > 0) --n;
    if (n < 0) n = 0;
    const uint32_t u = static_cast<uint32_t>(n);
    if (!AllocString(u + u / 2 + 1)) return;
    if (u > 0) convert(text, length, text_, length < 0 ? n + 1 : n);
    text_[u] = 0;
    length_ = u;
}

class EString : public EGenericString<char> {
    HVB_DECLARE_CLASS(EString, HVBObject)

public:
    struct HexTag {};
    static constexpr HexTag Hex{};

    EString() = default;
    EString(const EString& other) = default;
    EString(const char* text);
    // Converted from the ANSI code page's counterpart; length -1 means
    // zero-terminated. A null text gives the empty string.
    EString(const WideChar* text, int32_t length = -1);
    // Decimal, with width digits (a sign included) when width > 0: leading
    // zeros for a larger width, only the low digits for a smaller one.
    EString(int32_t value, int32_t width);
    // Hexadecimal in capitals, width digits when width > 0.
    EString(uint32_t value, int32_t width, HexTag);
    // decimals > 0: exactly that many; otherwise up to 9, dropping trailing
    // zeros (an integral value ends with the point).
    EString(double value, int32_t decimals);

    EString& operator=(const EString& other);
    EString& operator=(const char* text);
    EString& operator=(const WideChar* text);

    // Signed bytes; after the string's own length, minus the text's next byte.
    int Compare(const char* text) const;
    // The same walk with 'a'..'z' folded and unsigned differences.
    int CompareNoCase(const char* text) const;

    // Index of a single-byte character at or after start, or -1; the bytes
    // of double-byte characters never match.
    int32_t Find(char c, int32_t start = 0) const;
    // Plain byte search; -1 when start is at or past the length.
    int32_t FindText(const char* text, int32_t start = 0) const;

    void TrimLeft();
    void TrimRight();
    void MakeUpper();
    void MakeLower();
    void Reverse();

    // '\\' and '/' separate directories. The two pointers point into this
    // string's buffer (a string without one first gets 16 bytes).
    char* GetFileNamePart();
    char* GetFileExtension();
    EString GetFileTitle() const;
    EString GetDirectoryPart() const;

private:
    void AssignWide(const WideChar* text, int32_t length);
    // Offset of the file-name part: one past the last separator.
    uint32_t FileNameOffset() const;
};

class EWideString : public EGenericString<WideChar> {
    HVB_DECLARE_CLASS(EWideString, HVBObject)

public:
    EWideString() = default;
    EWideString(const EWideString& other) = default;
    EWideString(const WideChar* text);
    explicit EWideString(WideChar c);
    // Converted from the ANSI code page; length -1 means zero-terminated. A
    // null text gives the empty string.
    EWideString(const char* text, int32_t length = -1);
    EWideString(int32_t value, int32_t width);
    EWideString(uint32_t value, int32_t width, EString::HexTag);
    EWideString(double value, int32_t decimals);

    EWideString& operator=(const EWideString& other);
    EWideString& operator=(const WideChar* text);
    EWideString& operator=(const char* text);

    // Code units compared unsigned; null compares like the empty text.
    int Compare(const WideChar* text) const;

protected:
    void AssignAnsi(const char* text, int32_t length);
};

EWideString operator+(const WideChar* left, const EWideString& right);
EWideString operator+(const EWideString& left, const EWideString& right);
EWideString operator+(const EWideString& left, const WideChar* right);
