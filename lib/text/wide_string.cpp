#include "text/string.h"

EWideString::EWideString(const WideChar* text) {
    if (text == nullptr) return;
    AssignText(text, TextLength(text));
}

EWideString::EWideString(WideChar c) {
    if (!AllocString(15)) return;
    text_[0] = c;
    text_[1] = 0;
    length_ = 1;
}

EWideString::EWideString(const char* text, int32_t length) { AssignAnsi(text, length); }

EWideString::EWideString(int32_t value, int32_t width) {
    const EString narrow(value, width);
    AssignAnsi(narrow.GetString(), static_cast<int32_t>(narrow.GetLength()));
}

EWideString::EWideString(uint32_t value, int32_t width, EString::HexTag) {
    const EString narrow(value, width, EString::Hex);
    AssignAnsi(narrow.GetString(), static_cast<int32_t>(narrow.GetLength()));
}

EWideString::EWideString(double value, int32_t decimals) {
    const EString narrow(value, decimals);
    AssignAnsi(narrow.GetString(), static_cast<int32_t>(narrow.GetLength()));
}

EWideString& EWideString::operator=(const EWideString& other) {
    if (this == &other) return *this;
    if (other.text_ == nullptr) {
        AssignText(HVB_WTEXT(""), 0);
    } else {
        AssignText(other.text_, other.length_);
    }
    return *this;
}

EWideString& EWideString::operator=(const WideChar* text) {
    if (text != nullptr && text == text_) return *this;
    AssignText(text == nullptr ? HVB_WTEXT("") : text, TextLength(text));
    return *this;
}

EWideString& EWideString::operator=(const char* text) {
    AssignAnsi(text, -1);
    return *this;
}

void EWideString::AssignAnsi(const char* text, int32_t length) {
    AssignConverted(text, length, plat::AnsiToWide);
}

int EWideString::Compare(const WideChar* text) const {
    if (text == nullptr) text = HVB_WTEXT("");
    for (uint32_t i = 0; i < length_; ++i) {
        const int a = static_cast<uint16_t>(text_[i]);
        const int b = static_cast<uint16_t>(text[i]);
        if (a != b) return a - b;
        if (b == 0) return 1;
    }
    return -static_cast<int>(static_cast<uint16_t>(text[length_]));
}

EWideString operator+(const WideChar* left, const EWideString& right) {
    EWideString result(left);
    result.Append(right.GetString(), static_cast<int32_t>(right.GetLength()));
    return result;
}

EWideString operator+(const EWideString& left, const EWideString& right) {
    EWideString result(left);
    result.Append(right.GetString(), static_cast<int32_t>(right.GetLength()));
    return result;
}

EWideString operator+(const EWideString& left, const WideChar* right) {
    EWideString result(left);
    result.Append(right);
    return result;
}
