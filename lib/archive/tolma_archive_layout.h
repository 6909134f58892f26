// What the archive's reader and writer agree on: the identifiers of its records
// and the directory node each keeps for the directory it is in. Included only
// by the archive's own sources.
#pragma once

#include <cstdint>

#include "archive/tolma_archive.h"
#include "archive/tolma_entry.h"

struct TOLMAArchive::DirectoryNode {
    TOLMAEntryList entries;
    DirectoryNode* parent = nullptr;
    // Set on a node being written: its directory record is written again,
    // with the offsets and lengths its files got, when the node is left.
    uint32_t modified = 0;
};

// A directory's listing of entries.
inline constexpr char kDirEntry[8] = {'D', 'i', 'r', 'E', 'n', 't', 'r', 'y'};
// A stored file's bytes, or a subdirectory's records.
inline constexpr char kFileData[8] = {'f', 'i', 'l', 'e', 'd', 'a', 't', 'a'};

// Folds plain bytes into a 4-byte checksum, byte i of the stream into byte
// i mod 4; index is where the next byte goes.
void FoldChecksum(uint8_t checksum[4], uint32_t* index, const uint8_t* bytes, uint32_t count);

// The encoders of one entry's stages: plain bytes go to the code, whose
// output passes through the cipher into destination; a stage the encoding
// lacks stays null. Whatever was made is left in *code and *cipher, also on
// failure, for the caller to delete.
ResultCode PrepareEncoders(uint32_t encoding, const char* password, HVBFileObject* destination,
                           TOLMAEncodeContext** code, TOLMAEncodeContext** cipher);
// The last bytes out, the code's still through the cipher; false when either
// failed.
bool FinishEncoders(TOLMAEncodeContext* code, TOLMAEncodeContext* cipher);
