#include "xml/stream_wide_string.h"

#include "core/hvb.h"
#include "text/stream_buffer.h"

namespace {

constexpr uint32_t kDelimiters[4] = {0xFFFFFFFFu, 0x7C00FFFFu, 0x78000000u, 0xF8000001u};
constexpr uint32_t kSingleTokens[4] = {0x00000000u, 0x58001384u, 0x28000000u, 0x28000000u};

bool IsSuffix(WideChar c) {
    return c == 'B' || c == 'b' || c == 'H' || c == 'h' || c == 'O' || c == 'o' || c == 'T' || c == 't';
}

}  // namespace

EStreamWideString::EStreamWideString() { InitSets(); }

EStreamWideString::EStreamWideString(const WideChar* text) : EWideString(text) { InitSets(); }

EStreamWideString::EStreamWideString(const EWideString& text) : EWideString(text) { InitSets(); }

void EStreamWideString::InitSets() {
    for (int i = 0; i < 4; ++i) {
        delimiters_[i] = kDelimiters[i];
        single_tokens_[i] = kSingleTokens[i];
    }
}

void EStreamWideString::Reset() {
    position_ = 0;
    if (!AllocString(15)) return;
    text_[0] = 0;
    text_[1] = 0;
    length_ = 1;
}

ResultCode EStreamWideString::LoadText(HVBFileObject* file) {
    if (file == nullptr) return ResultGeneralError;
    unsigned char mark[2] = {};
    const uint32_t n = file->Read(mark, 2);
    if (n == 2 && mark[0] == 0xFF && mark[1] == 0xFE) return LoadWideText(file);
    if (n > 0) file->Seek(-static_cast<int32_t>(n), FromCurrent);
    return LoadAnsiText(file);
}

ResultCode EStreamWideString::LoadAnsiText(HVBFileObject* file) {
    position_ = 0;
    if (file == nullptr) return ResultGeneralError;
    const uint32_t length = file->GetLength();
    const uint32_t position = file->GetPosition();
    const uint32_t expected = length > position && length != 0xFFFFFFFFu ? length - position : 0;
    EStreamBuffer bytes;
    uint32_t got = 0;
    if (expected > 0) {
        void* room = bytes.GetWriteBuffer(expected);
        if (room == nullptr) return ResultGeneralError;
        got = file->Read(room, expected);
        bytes.CommitWrite(got);
    }
    uint32_t size = 0;
    const void* text = bytes.Peek(0, &size);
    AssignAnsi(static_cast<const char*>(text), static_cast<int32_t>(size));
    if (text_ == nullptr) AllocString(1);
    position_ = 0;
    return got < expected ? ResultGeneralError : ResultSuccess;
}

ResultCode EStreamWideString::LoadWideText(HVBFileObject* file) {
    position_ = 0;
    if (file == nullptr) return ResultGeneralError;
    const uint32_t length = file->GetLength();
    const uint32_t position = file->GetPosition();
    const uint32_t units = length > position && length != 0xFFFFFFFFu ? (length - position) / 2 : 0;
    if (!AllocString(units + 1)) return ResultGeneralError;
    const uint32_t got = units > 0 ? file->Read(text_, units * 2) : 0;
    length_ = got / 2;
    text_[length_] = 0;
    return got < units * 2 ? ResultGeneralError : ResultSuccess;
}

int EStreamWideString::SkipSpaces() {
    while (position_ < length_ && static_cast<uint16_t>(text_[position_]) <= 32) ++position_;
    return position_ >= length_ ? 1 : 0;
}

int EStreamWideString::SkipLine() {
    while (position_ < length_) {
        const WideChar c = text_[position_++];
        if (c == '\r' || c == '\n') {
            if (position_ < length_ && (text_[position_] == '\r' || text_[position_] == '\n') &&
                text_[position_] != c) {
                ++position_;
            }
            break;
        }
    }
    return position_ >= length_ ? 1 : 0;
}

int EStreamWideString::SkipWord() {
    while (position_<length_&& static_cast<uint16_t>(text_[position_])> 32) ++position_;
    return position_ >= length_ ? 1 : 0;
}

int EStreamWideString::SkipUntil(WideChar c) {
    while (position_ < length_ && text_[position_] != c) ++position_;
    return position_ >= length_ ? 1 : 0;
}

int EStreamWideString::SkipToken() {
    if (position_ >= length_) return TokenEnd;
    const WideChar c = text_[position_++];
    if (IsSingleToken(c)) return TokenSingle;
    if (IsDelimiter(c)) {
        while (position_ < length_) {
            const WideChar d = text_[position_];
            if (static_cast<uint16_t>(d) <= 32 || !IsDelimiter(d) || IsSingleToken(d)) break;
            ++position_;
        }
        return TokenDelimiter;
    }
    while (position_ < length_ && !IsDelimiter(text_[position_])) ++position_;
    return TokenWord;
}

EWideString EStreamWideString::Slice(uint32_t from, uint32_t to) const {
    EWideString out(HVB_WTEXT(""));
    if (to > from) out.Append(text_ + from, static_cast<int32_t>(to - from));
    return out;
}

EWideString EStreamWideString::GetWord() {
    if (SkipSpaces()) return EWideString(HVB_WTEXT(""));
    const uint32_t start = position_;
    SkipWord();
    return Slice(start, position_);
}

EWideString EStreamWideString::GetUntil(WideChar c) {
    const uint32_t start = position_;
    SkipUntil(c);
    EWideString out = Slice(start, position_);
    if (position_ < length_) ++position_;
    return out;
}

EWideString EStreamWideString::GetToken(int* token_class) {
    if (token_class != nullptr) *token_class = TokenEnd;
    if (SkipSpaces()) return EWideString(HVB_WTEXT(""));
    const uint32_t start = position_;
    const int found = SkipToken();
    if (token_class != nullptr) *token_class = found;
    return Slice(start, position_);
}

int EStreamWideString::DigitValue(WideChar c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The O, T and H suffixes are checked against every digit, the last one
// included; only a final B may be the suffix itself rather than a digit.
int EStreamWideString::DetectRadix() {
    const uint32_t saved = position_;
    auto give_up = [&] {
        position_ = saved;
        return -1;
    };
    if (SkipSpaces()) return give_up();
    WideChar c = text_[position_++];
    if (c == '+' || c == '-') {
        if (SkipSpaces()) return give_up();
        c = text_[position_++];
    }
    if (!((c >= '0' && c <= '9') || c == '.')) return give_up();
    int before_last = -1;  // M: largest digit value before the last scanned character
    WideChar last = c;     // L
    bool any_digit = c != '.';
    bool point = c == '.';
    while (position_ < length_) {
        const WideChar d = text_[position_];
        if (d == '.') {
            if (point) break;
            point = true;
        } else if (DigitValue(d) < 0) {
            break;
        } else {
            any_digit = true;
        }
        const int v = DigitValue(last);
        if (v > before_last) before_last = v;
        last = d;
        ++position_;
    }
    const WideChar next = position_ < length_ ? text_[position_] : 0;  // N
    position_ = saved;
    if (!any_digit) return -1;
    const int all = DigitValue(last) > before_last ? DigitValue(last) : before_last;
    if (all < 8 && (next == 'O' || next == 'o')) return 8;
    if (all < 10 && (next == 'T' || next == 't')) return 10;
    if (all < 16 && (next == 'H' || next == 'h')) return 16;
    if (before_last < 2 && (last == 'B' || last == 'b')) return 2;
    if (((last >= '0' && last <= '9') || last == '.') && before_last < 10) return 0;
    return -1;
}

long double EStreamWideString::ReadNumber(int radix, bool fraction, int64_t* integer) {
    *integer = 0;
    if (radix == 0) {
        radix = DetectRadix();
        if (radix < 0) return 0;
        if (radix == 0) radix = 10;
    }
    if (radix < 2) return 0;
    if (SkipSpaces()) return 0;
    bool negative = false;
    if (text_[position_] == '+' || text_[position_] == '-') {
        negative = text_[position_] == '-';
        ++position_;
        if (SkipSpaces()) return 0;
    }
    uint64_t value = 0;
    long double real = 0;
    long double scale = 1;
    bool point = false;
    while (position_ < length_) {
        const WideChar c = text_[position_];
        if (fraction && c == '.' && !point) {
            point = true;
            ++position_;
            continue;
        }
        const int d = DigitValue(c);
        if (d < 0 || d >= radix) break;
        if (point) {
            scale /= radix;
            real += d * scale;
        } else {
            value = value * static_cast<uint64_t>(radix) + static_cast<uint64_t>(d);
            real = real * radix + d;
        }
        ++position_;
    }
    if (position_ < length_ && IsSuffix(text_[position_])) ++position_;
    *integer = static_cast<int64_t>(negative ? 0 - value : value);
    return negative ? -real : real;
}

int64_t EStreamWideString::ReadInteger(int radix) {
    int64_t value;
    ReadNumber(radix, false, &value);
    return value;
}

long double EStreamWideString::ReadReal(int radix) {
    int64_t ignored;
    return ReadNumber(radix, true, &ignored);
}

int32_t EStreamWideString::ReadInteger32(int radix) { return static_cast<int32_t>(ReadInteger(radix)); }

WideChar EStreamWideString::MatchChar(const WideChar* set) {
    if (set == nullptr || position_ >= length_) return 0;
    const WideChar c = text_[position_];
    for (; *set != 0; ++set) {
        if (*set == c) {
            ++position_;
            return c;
        }
    }
    return 0;
}
