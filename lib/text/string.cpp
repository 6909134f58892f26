#include "text/string.h"

#include <cstring>

#include "core/hvb.h"
#include "core/memory.h"

// ---- generic base ----------------------------------------------------------

template <typename CharT>
EGenericString<CharT>::EGenericString(const EGenericString& other) : HVBObject() {
    if (other.text_ == nullptr) return;
    if (!AllocString(other.capacity_)) return;
    const uint32_t n = other.length_ < capacity_ ? other.length_ : capacity_ - 1;
    MemoryMove(text_, other.text_, n * sizeof(CharT));
    text_[n] = 0;
    length_ = n;
}

template <typename CharT>
EGenericString<CharT>::~EGenericString() {
    EGenericString::FreeString();
}

template <typename CharT>
bool EGenericString<CharT>::AllocString(uint32_t capacity) {
    if (capacity == 0) capacity = 1;  // always room for the terminator
    if (capacity > 0x7FFFFFFFu / sizeof(CharT)) return false;
    const uint32_t bytes = capacity * static_cast<uint32_t>(sizeof(CharT));
    if (text_ == nullptr) {
        auto* p = static_cast<CharT*>(hvbHeapAllocate(nullptr, bytes, 0));
        if (p == nullptr) return false;
        p[0] = 0;
        text_ = p;
        length_ = 0;
    } else {
        auto* p = static_cast<CharT*>(hvbHeapReallocate(nullptr, text_, bytes, 0));
        if (p == nullptr) return false;
        text_ = p;
        if (length_ >= capacity) {
            length_ = capacity - 1;
            text_[length_] = 0;
        }
    }
    capacity_ = capacity;
    return true;
}

template <typename CharT>
void EGenericString<CharT>::FreeString() {
    if (text_ != nullptr) hvbHeapFree(nullptr, text_, 0);
    text_ = nullptr;
    length_ = 0;
    capacity_ = 0;
}

template <typename CharT>
void EGenericString<CharT>::ReleaseBuffer() {
    if (text_ == nullptr) return;
    uint32_t n = 0;
    while (n + 1 < capacity_ && text_[n] != 0) ++n;
    text_[n] = 0;
    length_ = n;
}

template <typename CharT>
CharT EGenericString<CharT>::GetAt(int32_t index) const {
    if (text_ == nullptr || index < 0 || static_cast<uint32_t>(index) >= length_) return 0;
    return text_[index];
}

template <typename CharT>
int32_t EGenericString<CharT>::FindChar(CharT c, int32_t start) const {
    if (text_ == nullptr) return -1;
    for (uint32_t i = start < 0 ? 0 : static_cast<uint32_t>(start); i < length_; ++i) {
        if (text_[i] == c) return static_cast<int32_t>(i);
    }
    return -1;
}

template <typename CharT>
bool EGenericString<CharT>::Grow(uint32_t n) {
    if (n < capacity_) return true;
    if (n > 0x50000000u) return false;
    return AllocString(n + n / 2 + 1);
}

template <typename CharT>
void EGenericString<CharT>::AppendChar(CharT c) {
    if (!Grow(length_ + 1)) return;
    text_[length_++] = c;
    text_[length_] = 0;
}

template <typename CharT>
void EGenericString<CharT>::Append(const CharT* text, int32_t length) {
    if (text == nullptr) return;
    const uint32_t n = length < 0 ? TextLength(text) : static_cast<uint32_t>(length);
    if (n == 0) return;
    // The text may lie in this very buffer, which growing can move.
    const bool own = text_ != nullptr && text >= text_ && text < text_ + capacity_;
    const uint32_t offset = own ? static_cast<uint32_t>(text - text_) : 0;
    if (!Grow(length_ + n)) return;
    MemoryMove(text_ + length_, own ? text_ + offset : text, n * sizeof(CharT));
    length_ += n;
    text_[length_] = 0;
}

template <typename CharT>
void EGenericString<CharT>::Empty() {
    length_ = 0;
    if (text_ != nullptr) text_[0] = 0;
}

template <typename CharT>
void EGenericString<CharT>::AssignText(const CharT* text, uint32_t length) {
    if (text == text_ && text_ != nullptr && length == length_) return;
    const bool own = text_ != nullptr && text >= text_ && text < text_ + capacity_;
    if (own) {
        // Part of our own text: move it to the front before the buffer changes.
        MemoryMove(text_, text, length * sizeof(CharT));
        length_ = length;
        text_[length_] = 0;
    }
    if (!AllocString(length + length / 2 + 1)) return;
    if (!own) MemoryMove(text_, text, length * sizeof(CharT));
    length_ = length;
    text_[length_] = 0;
}

template <typename CharT>
uint32_t EGenericString<CharT>::TextLength(const CharT* text) {
    uint32_t n = 0;
    if (text != nullptr) {
        while (text[n] != 0) ++n;
    }
    return n;
}

template class EGenericString<char>;
template class EGenericString<WideChar>;

// ---- EString -----------------------------------------------------------------

namespace {

using Byte = unsigned char;

bool IsLead(char c) { return plat::IsDBCSLeadByte(static_cast<Byte>(c)); }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }
char FoldUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Length of the character at i: 2 for a lead byte with a trail before the end.
uint32_t CharSize(const char* text, uint32_t i, uint32_t length) { return IsLead(text[i]) && i + 1 < length ? 2 : 1; }

}  // namespace

EString::EString(const char* text) {
    if (text == nullptr) return;
    AssignText(text, TextLength(text));
}

EString::EString(const WideChar* text, int32_t length) { AssignWide(text, length); }

// Every buffer here has room for the width and the terminator: a width of 16
// or more would otherwise write its terminator one past the end.
EString::EString(int32_t value, int32_t width) {
    const uint32_t w = width > 0 ? static_cast<uint32_t>(width) : 0;
    if (!AllocString(w + 1 > 16 ? w + 1 : 16)) return;
    const uint32_t sign = value < 0 ? 1 : 0;
    uint32_t v = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    uint32_t digits;
    if (w > 0) {
        digits = w - sign;
    } else {
        digits = 1;
        for (uint32_t x = v; x >= 10; x /= 10) ++digits;
    }
    if (sign) text_[0] = '-';
    length_ = sign + digits;
    for (uint32_t i = length_; i > sign; --i) {
        text_[i - 1] = static_cast<char>('0' + v % 10);
        v /= 10;
    }
    text_[length_] = 0;
}

EString::EString(uint32_t value, int32_t width, HexTag) {
    const uint32_t w = width > 0 ? static_cast<uint32_t>(width) : 0;
    if (!AllocString(w + 1 > 16 ? w + 1 : 16)) return;
    uint32_t digits = w;
    if (digits == 0) {
        digits = 1;
        for (uint32_t x = value; x >= 16; x >>= 4) ++digits;
    }
    length_ = digits;
    for (uint32_t i = digits; i > 0; --i) {
        text_[i - 1] = "0123456789ABCDEF"[value & 15];
        value >>= 4;
    }
    text_[length_] = 0;
}

// Decimals beyond 18 would overflow the 64-bit scale; they are limited to it.
EString::EString(double value, int32_t decimals) {
    if (!AllocString(32)) return;
    uint32_t n = 0;
    if (value < 0) {
        text_[n++] = '-';
        value = -value;
    }
    const bool automatic = decimals <= 0;
    const uint32_t d = automatic ? 9 : (decimals > 18 ? 18 : static_cast<uint32_t>(decimals));
    int64_t scale = 1;
    for (uint32_t i = 0; i < d; ++i) scale *= 10;
    const double scaled = value * static_cast<double>(scale) + 0.5;
    // Beyond the 64-bit range (and NaN) the result is "0.0".
    if (!(scaled < 9223372036854775807.0)) {
        text_[n++] = '0';
        text_[n++] = '.';
        text_[n++] = '0';
        text_[n] = 0;
        length_ = n;
        return;
    }
    const int64_t integral = static_cast<int64_t>(scaled) / scale;
    char digits[20];
    uint32_t count = 0;
    for (uint64_t x = static_cast<uint64_t>(integral); count == 0 || x > 0; x /= 10) {
        digits[count++] = static_cast<char>('0' + x % 10);
    }
    while (count > 0) text_[n++] = digits[--count];
    text_[n++] = '.';
    const double rest = (value - static_cast<double>(integral)) * static_cast<double>(scale) + 0.5;
    int64_t fraction = rest < 0 ? 0 : static_cast<int64_t>(rest);
    if (fraction >= scale) fraction = scale - 1;
    if (n + d + 2 > capacity_ && !AllocString(n + d + 2)) {
        text_[n] = 0;
        length_ = n;
        return;
    }
    int64_t place = scale / 10;
    for (uint32_t i = 0; i < d; ++i, place /= 10) {
        if (automatic && fraction == 0) break;
        text_[n++] = static_cast<char>('0' + fraction / place);
        fraction %= place;
    }
    text_[n] = 0;
    length_ = n;
}

EString& EString::operator=(const EString& other) {
    if (this == &other) return *this;
    if (other.text_ == nullptr) {
        AssignText("", 0);
    } else {
        AssignText(other.text_, other.length_);
    }
    return *this;
}

EString& EString::operator=(const char* text) {
    if (text != nullptr && text == text_) return *this;
    AssignText(text == nullptr ? "" : text, TextLength(text));
    return *this;
}

EString& EString::operator=(const WideChar* text) {
    AssignWide(text, -1);
    return *this;
}

void EString::AssignWide(const WideChar* text, int32_t length) {
    AssignConverted(text, length, [](const WideChar* source, int count, char* destination, int capacity) {
        return plat::WideToAnsi(source, count, destination, capacity);
    });
}

int EString::Compare(const char* text) const {
    if (text == nullptr) text = "";
    for (uint32_t i = 0; i < length_; ++i) {
        const int a = static_cast<signed char>(text_[i]);
        const int b = static_cast<signed char>(text[i]);
        if (a != b) return a - b;
        // Our text holds a zero byte where the other text ends: ours is longer.
        if (b == 0) return 1;
    }
    return -static_cast<signed char>(text[length_]);
}

int EString::CompareNoCase(const char* text) const {
    if (text == nullptr) text = "";
    for (uint32_t i = 0; i < length_; ++i) {
        const int a = static_cast<Byte>(FoldUpper(text_[i]));
        const int b = static_cast<Byte>(FoldUpper(text[i]));
        if (a != b) return a - b;
        if (b == 0) return 1;
    }
    return -static_cast<int>(static_cast<Byte>(FoldUpper(text[length_])));
}

int32_t EString::Find(char c, int32_t start) const {
    if (text_ == nullptr) return -1;
    const uint32_t from = start < 0 ? 0 : static_cast<uint32_t>(start);
    // Walk from the start of the text so that the character boundaries are
    // known even when start falls on a trail byte.
    for (uint32_t i = 0; i < length_;) {
        const uint32_t size = CharSize(text_, i, length_);
        if (size == 1 && i >= from && text_[i] == c) return static_cast<int32_t>(i);
        i += size;
    }
    return -1;
}

int32_t EString::FindText(const char* text, int32_t start) const {
    if (text_ == nullptr || text == nullptr || start < 0 || static_cast<uint32_t>(start) >= length_) return -1;
    const uint32_t n = TextLength(text);
    if (n > length_) return -1;
    for (uint32_t i = static_cast<uint32_t>(start); i + n <= length_; ++i) {
        if (std::memcmp(text_ + i, text, n) == 0) return static_cast<int32_t>(i);
    }
    return -1;
}

void EString::TrimLeft() {
    if (text_ == nullptr) return;
    uint32_t i = 0;
    while (i < length_ && static_cast<Byte>(text_[i]) <= 32) ++i;
    if (i == 0) return;
    MemoryMove(text_, text_ + i, length_ - i);
    length_ -= i;
    text_[length_] = 0;
}

void EString::TrimRight() {
    if (text_ == nullptr) return;
    while (length_ > 0 && static_cast<Byte>(text_[length_ - 1]) <= 32) --length_;
    text_[length_] = 0;
}

void EString::MakeUpper() {
    for (uint32_t i = 0; i < length_;) {
        const uint32_t size = CharSize(text_, i, length_);
        if (size == 1 && text_[i] >= 'a' && text_[i] <= 'z') text_[i] = static_cast<char>(text_[i] - 'a' + 'A');
        i += size;
    }
}

void EString::MakeLower() {
    for (uint32_t i = 0; i < length_;) {
        const uint32_t size = CharSize(text_, i, length_);
        if (size == 1 && text_[i] >= 'A' && text_[i] <= 'Z') text_[i] = static_cast<char>(text_[i] - 'A' + 'a');
        i += size;
    }
}

void EString::Reverse() {
    if (length_ < 2) return;
    // Swapping each pair first makes the byte reversal put it back in order.
    for (uint32_t i = 0; i < length_;) {
        const uint32_t size = CharSize(text_, i, length_);
        if (size == 2) {
            const char t = text_[i];
            text_[i] = text_[i + 1];
            text_[i + 1] = t;
        }
        i += size;
    }
    for (uint32_t i = 0, j = length_ - 1; i < j; ++i, --j) {
        const char t = text_[i];
        text_[i] = text_[j];
        text_[j] = t;
    }
}

uint32_t EString::FileNameOffset() const {
    uint32_t name = 0;
    for (uint32_t i = 0; i < length_;) {
        const uint32_t size = CharSize(text_, i, length_);
        if (size == 1 && IsSeparator(text_[i])) name = i + 1;
        i += size;
    }
    return name;
}

char* EString::GetFileNamePart() {
    if (text_ == nullptr && !AllocString(16)) return nullptr;
    return text_ + FileNameOffset();
}

char* EString::GetFileExtension() {
    if (text_ == nullptr && !AllocString(16)) return nullptr;
    uint32_t dot = length_;
    for (uint32_t i = FileNameOffset(); i < length_;) {
        const uint32_t size = CharSize(text_, i, length_);
        if (size == 1 && text_[i] == '.') dot = i + 1;
        i += size;
    }
    return text_ + dot;
}

EString EString::GetFileTitle() const {
    EString title;
    const uint32_t name = FileNameOffset();
    uint32_t end = length_;
    for (uint32_t i = name; i < length_;) {
        const uint32_t size = CharSize(text_, i, length_);
        if (size == 1 && text_[i] == '.') end = i;
        i += size;
    }
    title.AssignText(text_ == nullptr ? "" : text_ + name, end - name);
    return title;
}

EString EString::GetDirectoryPart() const {
    EString directory;
    directory.AssignText(text_ == nullptr ? "" : text_, FileNameOffset());
    return directory;
}
