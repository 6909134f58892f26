#include "archive/tolma_entry.h"

#include <cstring>

namespace {

struct Encoding {
    uint32_t code;
    const char* keyword;
    bool context_tree;
    bool cipher;
};
constexpr Encoding kEncodings[] = {
    {TOLMA_ENCODING_RAW, "raw", false, false},
    {TOLMA_ENCODING_CODE, "tolma_code", true, false},
    {TOLMA_ENCODING_BSHF_CRYPT, "bshf_crypt", false, true},
    {TOLMA_ENCODING_CRYPT, "tolma_crypt", true, true},
};

const Encoding* FindEncoding(uint32_t code) {
    for (const Encoding& e : kEncodings)
        if (e.code == code) return &e;
    return nullptr;
}

unsigned char FoldAscii(unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 0x20) : c; }

}  // namespace

const char* GetEncodingKeyword(uint32_t encoding) {
    const Encoding* e = FindEncoding(encoding);
    return e != nullptr ? e->keyword : nullptr;
}

bool FindEncodingCode(const char* keyword, uint32_t* encoding) {
    if (keyword == nullptr) return false;
    for (const Encoding& e : kEncodings) {
        if (EntryNameEquals(e.keyword, keyword)) {
            *encoding = e.code;
            return true;
        }
    }
    return false;
}

bool GetEncodingStages(uint32_t encoding, bool* code, bool* cipher) {
    const Encoding* e = FindEncoding(encoding);
    if (e == nullptr) return false;
    *code = e->context_tree;
    *cipher = e->cipher;
    return true;
}

bool EntryNameEquals(const char* stored, const char* name) {
    if (stored == nullptr) stored = "";
    if (name == nullptr) name = "";
    for (;; ++stored, ++name) {
        const unsigned char a = FoldAscii(static_cast<unsigned char>(*stored));
        const unsigned char b = FoldAscii(static_cast<unsigned char>(*name));
        if (a != b) return false;
        if (a == 0) return true;
    }
}

TOLMADirectoryEntry::TOLMADirectoryEntry(const TOLMADirectoryEntry& other)
    : length(other.length), attributes(other.attributes), encoding(other.encoding), offset(other.offset) {
    std::memcpy(time_stamp, other.time_stamp, sizeof time_stamp);
    SetExtra(other.extra, other.extra != nullptr ? other.extra_length : 0);
    SetName(other.name);
}

TOLMADirectoryEntry::~TOLMADirectoryEntry() {
    delete[] extra;
    delete[] name;
}

void TOLMADirectoryEntry::SetName(const char* text) {
    delete[] name;
    name = nullptr;
    name_length = 0;
    if (text == nullptr) return;
    const size_t n = std::strlen(text);
    name = new char[n + 1];
    std::memcpy(name, text, n + 1);
    name_length = static_cast<uint32_t>(n + 1);
}

void TOLMADirectoryEntry::SetExtra(const uint8_t* bytes, uint32_t count) {
    delete[] extra;
    extra = nullptr;
    extra_length = 0;
    if (bytes == nullptr || count == 0) return;
    extra = new uint8_t[count];
    std::memcpy(extra, bytes, count);
    extra_length = count;
}

TOLMADirectoryEntry* TOLMAEntryList::AddEntry(const char* name, uint32_t attributes, uint32_t encoding,
                                              const uint8_t* time_stamp) {
    auto* entry = new TOLMADirectoryEntry;
    entry->attributes = attributes;
    entry->encoding = encoding;
    if (time_stamp != nullptr) std::memcpy(entry->time_stamp, time_stamp, sizeof entry->time_stamp);
    entry->SetName(name != nullptr ? name : "");
    Add(entry);
    return entry;
}

void TOLMAEntryList::AppendCopies(const TOLMAEntryList& other) {
    for (uint32_t i = 0; i < other.GetCount(); ++i) {
        if (const TOLMADirectoryEntry* entry = other.GetAt(i)) Add(new TOLMADirectoryEntry(*entry));
    }
}

void TOLMAEntryList::DeleteAll() {
    for (uint32_t i = 0; i < GetCount(); ++i) delete GetAt(i);
    RemoveAll();
}
