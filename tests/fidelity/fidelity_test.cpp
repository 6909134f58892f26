// Coded streams and archives made by an independent implementation of the
// format: ours must read each one back to its input and, coding that input the
// same way, write exactly the same bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/tolma_archive.h"
#include "codec/decode_context.h"
#include "codec/encode_context.h"
#include "support/test_files.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char kLongPassword[] = "a password longer than thirty-two bytes!";

Bytes LoadVector(const std::string& name) {
    Bytes bytes = ReadHostFile(HostPath(std::string(HVB_FIDELITY_DIR) + "/" + name));
    // None of the vectors is empty, so an empty answer means a missing file.
    EXPECT_FALSE(bytes.empty()) << name << " not found in " << HVB_FIDELITY_DIR;
    return bytes;
}

// Equality with the offset of the first difference, which is what one needs
// to chase a format change.
testing::AssertionResult SameBytes(const Bytes& actual, const Bytes& expected) {
    size_t n = std::min(actual.size(), expected.size());
    size_t at = std::mismatch(actual.begin(), actual.begin() + n, expected.begin()).first - actual.begin();
    if (at == n && actual.size() == expected.size()) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                       << ", first difference at byte " << at;
}

struct StreamVector {
    const char* coded;
    const char* plain;
    // Context-tree flags, or the cipher's password when non-null.
    uint32_t flags;
    const char* password;
};

const StreamVector kStreams[] = {
    {"text.ct1", "text.txt", 1, nullptr},  {"text.ct2", "text.txt", 2, nullptr},
    {"text.ct3", "text.txt", 3, nullptr},  {"mixed.ct1", "mixed.bin", 1, nullptr},
    {"text.pw.bshf", "text.txt", 0, "pw"}, {"mixed.long.bshf", "mixed.bin", 0, kLongPassword},
};

TEST(Fidelity, StreamsDecodeToTheirInputAndEncodeToTheSameBytes) {
    for (const StreamVector& v : kStreams) {
        SCOPED_TRACE(v.coded);
        const Bytes coded = LoadVector(v.coded);
        const Bytes plain = LoadVector(v.plain);
        const uint32_t count = static_cast<uint32_t>(plain.size());

        VectorFile source(modeRead, coded);
        TOLMADecodeContext decoder(TOLMAArchive::kDecodeBufferSize);
        decoder.AttachSourceFile(&source);
        ASSERT_EQ(v.password ? decoder.PrepareShuffleDecryption(v.password) : decoder.PrepareContextTreeDecoding(),
                  ResultSuccess);
        Bytes decoded(count);
        decoded.resize(decoder.Decode(decoded.data(), count));
        EXPECT_TRUE(SameBytes(decoded, plain));

        VectorFile sink;
        TOLMAEncodeContext encoder(TOLMAArchive::kEncodeBufferSize);
        encoder.AttachDestinationFile(&sink);
        ASSERT_EQ(
            v.password ? encoder.PrepareShuffleEncryption(v.password) : encoder.PrepareContextTreeEncoding(v.flags),
            ResultSuccess);
        EXPECT_EQ(encoder.Encode(plain.data(), count), count);
        EXPECT_EQ(encoder.Finish(), 0);
        EXPECT_TRUE(SameBytes(sink.bytes, coded));
    }
}

struct ExpectedEntry {
    const char* name;
    uint32_t attributes;
    const char* contents;  // vector file, or null for an empty file or a directory
};

void ExpectListing(TOLMAArchive& archive, const std::vector<ExpectedEntry>& expected, uint32_t encoding) {
    TOLMAEntryList list;
    ASSERT_EQ(archive.GetDirectoryEntries(&list), ResultSuccess);
    ASSERT_EQ(static_cast<size_t>(list.GetCount()), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const TOLMADirectoryEntry* entry = list[static_cast<uint32_t>(i)];
        SCOPED_TRACE(expected[i].name);
        EXPECT_STREQ(entry->GetName(), expected[i].name);
        EXPECT_EQ(entry->attributes, expected[i].attributes);
        EXPECT_EQ(std::vector<uint8_t>(entry->time_stamp, entry->time_stamp + 8), Bytes(8, 0));
        if (entry->IsDirectory()) continue;
        EXPECT_EQ(entry->encoding, encoding);
        EXPECT_EQ(entry->length, expected[i].contents ? LoadVector(expected[i].contents).size() : 0u);
    }
}

Bytes ReadOpenFile(TOLMAArchive& archive) {
    Bytes out;
    uint8_t piece[5000];
    while (uint32_t n = archive.Read(piece, sizeof piece)) out.insert(out.end(), piece, piece + n);
    return out;
}

struct ArchiveVector {
    const char* name;
    uint32_t encoding;
    const char* password;
};

TEST(Fidelity, ArchivesListExtractAndVerify) {
    const ArchiveVector archives[] = {
        {"archive.raw.tlm", TOLMA_ENCODING_RAW, nullptr},
        {"archive.tolma_code.tlm", TOLMA_ENCODING_CODE, nullptr},
        {"archive.bshf_crypt.tlm", TOLMA_ENCODING_BSHF_CRYPT, "pw"},
        {"archive.tolma_crypt.tlm", TOLMA_ENCODING_CRYPT, "pw"},
    };
    const ExpectedEntry files[] = {
        {"a.txt", 0, "text.txt"}, {"Sub\\b.bin", 0, "mixed.bin"}, {"Sub\\empty.dat", 0, nullptr}};
    for (const ArchiveVector& v : archives) {
        SCOPED_TRACE(v.name);
        HostFile file(HostPath(std::string(HVB_FIDELITY_DIR) + "/" + v.name));
        ASSERT_TRUE(file.IsOpen());
        TOLMAArchive archive;
        ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);

        ExpectListing(archive, {{"Sub", TOLMA_ATTRIBUTE_DIRECTORY, nullptr}, {"a.txt", 0, "text.txt"}}, v.encoding);
        ASSERT_EQ(archive.DescendDirectory("Sub"), ResultSuccess);
        ExpectListing(archive, {{"b.bin", 0, "mixed.bin"}, {"empty.dat", 0, nullptr}}, v.encoding);
        ASSERT_EQ(archive.ChangeDirectory(""), ResultSuccess);

        // Whole-file decoding checks the checksum at open, streaming at close.
        for (int32_t streaming : {0, 1}) {
            for (const ExpectedEntry& f : files) {
                SCOPED_TRACE(f.name);
                ASSERT_EQ(archive.OpenFile(f.name, v.password, streaming), ResultSuccess);
                EXPECT_TRUE(SameBytes(ReadOpenFile(archive), f.contents ? LoadVector(f.contents) : Bytes()));
                EXPECT_EQ(archive.CloseFile(), ResultSuccess);
            }
        }
        if (v.password != nullptr) {
            EXPECT_NE(archive.OpenFile("a.txt", "wrong", 0), ResultSuccess);
            archive.CloseFile();
        }
        EXPECT_EQ(archive.Close(), ResultSuccess);
    }
}

}  // namespace
