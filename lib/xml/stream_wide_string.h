// A wide string with a read position and a small scanner for configuration
// and description texts: spaces, lines, words, tokens and numbers with radix
// suffixes (B, O, T, H).
#pragma once

#include <cstdint>

#include "file/file_object.h"
#include "text/string.h"

class EStreamWideString : public EWideString {
    HVB_DECLARE_CLASS(EStreamWideString, EWideString)

public:
    enum TokenClass : int { TokenEnd = -1, TokenWord = 0, TokenDelimiter = 1, TokenSingle = 2 };

    EStreamWideString();
    EStreamWideString(const WideChar* text);
    EStreamWideString(const EWideString& text);

    // The text becomes one zero code unit; position 0.
    virtual void Reset();
    // UTF-16 after a little-endian byte-order mark, else ANSI text from the
    // current position. 0 on success, 1 when the file delivers less than its
    // length promises.
    virtual ResultCode LoadText(HVBFileObject* file);
    virtual ResultCode LoadAnsiText(HVBFileObject* file);
    virtual ResultCode LoadWideText(HVBFileObject* file);
    // 1 at the end, 0 on a code unit above 32.
    virtual int SkipSpaces();
    // Past the next CR, LF, CR LF or LF CR; 1 when the end is reached.
    virtual int SkipLine();
    // To the next code unit of 32 or less; 1 at the end.
    virtual int SkipWord();
    // To the next occurrence of c (not past it); 1 when there is none.
    virtual int SkipUntil(WideChar c);
    // Over one token; its class, TokenEnd at the end.
    virtual int SkipToken();
    virtual EWideString GetWord();
    virtual EWideString GetUntil(WideChar c);
    virtual EWideString GetToken(int* token_class);
    // 2, 8, 10 or 16 from a suffix, 0 for plain decimal, -1 for no number;
    // the position does not move.
    virtual int DetectRadix();
    virtual long double ReadReal(int radix);
    virtual int64_t ReadInteger(int radix);
    virtual int32_t ReadInteger32(int radix);

    // The current code unit, consumed, if it is one of set (zero-terminated);
    // else 0.
    WideChar MatchChar(const WideChar* set);

    uint32_t GetPosition() const { return position_; }
    void SetPosition(uint32_t position) { position_ = position < length_ ? position : length_; }
    bool AtEnd() const { return position_ >= length_; }
    void SetDelimiter(WideChar c, bool on) { SetBit(delimiters_, c, on); }
    void SetSingleToken(WideChar c, bool on) { SetBit(single_tokens_, c, on); }
    bool IsDelimiter(WideChar c) const { return TestBit(delimiters_, c); }
    bool IsSingleToken(WideChar c) const { return TestBit(single_tokens_, c); }

private:
    static bool TestBit(const uint32_t* set, WideChar c) {
        const uint32_t u = static_cast<uint16_t>(c);
        return u < 128 && (set[u >> 5] >> (u & 31) & 1) != 0;
    }
    static void SetBit(uint32_t* set, WideChar c, bool on) {
        const uint32_t u = static_cast<uint16_t>(c);
        if (u >= 128) return;
        if (on)
            set[u >> 5] |= 1u << (u & 31);
        else
            set[u >> 5] &= ~(1u << (u & 31));
    }
    void InitSets();
    EWideString Slice(uint32_t from, uint32_t to) const;
    // The digit value of c (0-9, A-F, a-f), or -1.
    static int DigitValue(WideChar c);
    // Sign, digits below radix (and with a fraction, one point), suffix.
    long double ReadNumber(int radix, bool fraction, int64_t* integer);

    uint32_t position_ = 0;
    uint32_t delimiters_[4];
    uint32_t single_tokens_[4];
};
