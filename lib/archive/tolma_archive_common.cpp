// What the archive's reading and writing both use: the stack of directory
// nodes, retiring the coders, and the checksum both directions fold the plain
// bytes into.
#include <cstring>

#include "archive/tolma_archive.h"
#include "archive/tolma_archive_layout.h"
#include "codec/decode_context.h"
#include "codec/encode_context.h"

void TOLMAArchive::PushNode(uint32_t modified) {
    auto* node = new DirectoryNode;
    node->parent = current_directory_;
    node->modified = modified;
    current_directory_ = node;
}

void TOLMAArchive::PopNode() {
    DirectoryNode* node = current_directory_;
    current_directory_ = node->parent;
    if (node == root_directory_) root_directory_ = nullptr;
    delete node;
}

void TOLMAArchive::DeleteCoders() {
    auto retire = [](TOLMADecodeContext*& decoder, TOLMADecodeContext*& spare) {
        if (spare == nullptr) spare = decoder;
        else delete decoder;
        decoder = nullptr;
    };
    retire(code_decoder_, spare_code_decoder_);
    retire(cipher_decoder_, spare_cipher_decoder_);
    delete code_encoder_;
    delete cipher_encoder_;
    code_encoder_ = cipher_encoder_ = nullptr;
}

void TOLMAArchive::Fold(const uint8_t* bytes, uint32_t count) { FoldChecksum(checksum_, &checksum_index_, bytes, count); }

ResultCode PrepareEncoders(uint32_t encoding, const char* password, HVBFileObject* destination,
                           TOLMAEncodeContext** code, TOLMAEncodeContext** cipher) {
    bool has_code = false;
    bool has_cipher = false;
    ResultCode prepared = GetEncodingStages(encoding, &has_code, &has_cipher) ? ResultSuccess : ResultGeneralError;
    if (has_cipher) {
        *cipher = new TOLMAEncodeContext(TOLMAArchive::kEncodeBufferSize);
        (*cipher)->AttachDestinationFile(destination);
        prepared = (*cipher)->PrepareShuffleEncryption(password);
    }
    if (has_code) {
        *code = new TOLMAEncodeContext(TOLMAArchive::kEncodeBufferSize);
        if (*cipher != nullptr) (*code)->AttachDestinationContext(*cipher);
        else (*code)->AttachDestinationFile(destination);
        if (prepared == ResultSuccess) prepared = (*code)->PrepareContextTreeEncoding(ContextTreeCopies);
    }
    return prepared;
}

bool FinishEncoders(TOLMAEncodeContext* code, TOLMAEncodeContext* cipher) {
    bool ok = true;
    if (code != nullptr && code->FinishArithmeticEncoding() != 0) ok = false;
    if (cipher != nullptr && cipher->FinishShuffleEncryption() != 0) ok = false;
    return ok;
}

void FoldChecksum(uint8_t checksum[4], uint32_t* index, const uint8_t* bytes, uint32_t count) {
    uint32_t i = 0;
    for (; i < count && *index != 0; ++i) {
        checksum[*index] ^= bytes[i];
        *index = (*index + 1) & 3;
    }
    uint32_t word = 0;
    for (; i + 4 <= count; i += 4) {
        uint32_t w;
        std::memcpy(&w, bytes + i, 4);
        word ^= w;
    }
    uint8_t folded[4];
    std::memcpy(folded, &word, 4);
    for (int k = 0; k < 4; ++k) checksum[k] ^= folded[k];
    for (; i < count; ++i) {
        checksum[*index] ^= bytes[i];
        *index = (*index + 1) & 3;
    }
}
