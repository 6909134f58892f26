// Directory entries of an archive and the owning lists that carry them between
// the archive and its callers.
#pragma once

#include <cstdint>

#include "text/ptr_array.h"

enum : uint32_t {
    TOLMA_ENCODING_RAW = 0x00000000,
    TOLMA_ENCODING_CODE = 0x80000010,
    TOLMA_ENCODING_BSHF_CRYPT = 0x40000000,
    TOLMA_ENCODING_CRYPT = 0xC0000010,
};

enum : uint32_t { TOLMA_ATTRIBUTE_DIRECTORY = 0x10 };

// "raw", "tolma_code", "bshf_crypt", "tolma_crypt"; null for a code not in
// the table.
const char* GetEncodingKeyword(uint32_t encoding);
// a-z and A-Z compare alike. False when the keyword names no encoding.
bool FindEncodingCode(const char* keyword, uint32_t* encoding);
// The stages a file's bytes pass through when stored with the encoding: the
// context-tree code, then the bit-shuffle cipher; raw uses neither. False for
// a code not in the table.
bool GetEncodingStages(uint32_t encoding, bool* code, bool* cipher);

struct TOLMADirectoryEntry {
    TOLMADirectoryEntry() = default;
    TOLMADirectoryEntry(const TOLMADirectoryEntry& other);
    TOLMADirectoryEntry& operator=(const TOLMADirectoryEntry&) = delete;
    ~TOLMADirectoryEntry();

    // A copy of the text; a null name leaves the entry without one.
    void SetName(const char* text);
    // A copy of count bytes; 0 leaves the entry without extra information.
    void SetExtra(const uint8_t* bytes, uint32_t count);
    // Never null: a nameless entry answers "".
    const char* GetName() const { return name != nullptr ? name : ""; }
    bool IsDirectory() const { return (attributes & TOLMA_ATTRIBUTE_DIRECTORY) != 0; }

    uint64_t length = 0;
    uint32_t attributes = 0;
    uint32_t encoding = 0;
    uint64_t offset = 0;
    uint8_t time_stamp[8] = {};
    uint32_t extra_length = 0;
    uint8_t* extra = nullptr;
    // String length plus the terminator; 0 when there is no name.
    uint32_t name_length = 0;
    char* name = nullptr;
};

// Owns its entries: destroying the list, or DeleteAll, deletes them.
class TOLMAEntryList : public ETypedPtrArray<TOLMADirectoryEntry> {
public:
    // The time stamp, when given, is 8 bytes. Attribute 0x10 makes the entry a
    // subdirectory; length and offset are the writer's to fill in.
    TOLMADirectoryEntry* AddEntry(const char* name, uint32_t attributes, uint32_t encoding,
                                  const uint8_t* time_stamp);
    // Takes ownership.
    void Add(TOLMADirectoryEntry* entry) { EPtrArray::Add(entry); }
    // Appends copies of every entry of the other list.
    void AppendCopies(const TOLMAEntryList& other);
    void DeleteAll();
};

// Byte-wise name comparison with only a-z folded onto A-Z; no double-byte
// awareness. A null name equals only the empty one.
bool EntryNameEquals(const char* stored, const char* name);
