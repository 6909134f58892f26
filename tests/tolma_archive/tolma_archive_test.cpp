#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"
#include "tolma_archive/archive_support.h"

namespace {

uint64_t LeAt(const Bytes& b, size_t at, int n) {
    uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + i];
    return v;
}

const uint32_t kEncodings[] = {TOLMA_ENCODING_RAW, TOLMA_ENCODING_CODE, TOLMA_ENCODING_BSHF_CRYPT,
                               TOLMA_ENCODING_CRYPT};

// Every file of the tree, opened by its path in the given mode, must give
// back its bytes; directories list their entries with lengths and offsets
// filled in.
void CheckTree(TOLMAArchive& archive, const std::vector<TreeItem>& items, const std::string& prefix,
               int32_t streaming) {
    for (const TreeItem& item : items) {
        const std::string path = prefix + item.name;
        if (item.directory) {
            CheckTree(archive, item.children, path + "\\", streaming);
            continue;
        }
        const char* password = item.password.empty() ? nullptr : item.password.c_str();
        ASSERT_EQ(archive.OpenFile(path.c_str(), password, streaming), ResultSuccess) << path;
        EXPECT_EQ(archive.GetLength(), item.skip ? 0u : item.data.size()) << path;
        EXPECT_EQ(ReadAll(archive), item.skip ? Bytes() : item.data) << path;
        EXPECT_EQ(archive.GetPosition(), item.skip ? 0u : item.data.size()) << path;
        EXPECT_EQ(archive.CloseFile(), ResultSuccess) << path;
    }
}

std::vector<TreeItem> SampleTree() {
    return {
        File("empty.bin", {}),
        File("exact.raw", PatternBytes(16384, 1)),
        File("exact.code", PatternBytes(16384, 2), TOLMA_ENCODING_CODE),
        File("over.code", PatternBytes(16385, 3), TOLMA_ENCODING_CODE),
        File("over.bshf", PatternBytes(16385, 4), TOLMA_ENCODING_BSHF_CRYPT, "secret"),
        File("over.crypt", PatternBytes(16385, 5), TOLMA_ENCODING_CRYPT),
        Dir("Data",
            {
                File("empty.code", {}, TOLMA_ENCODING_CODE),
                File("tiny.crypt", {7, 8, 9}, TOLMA_ENCODING_CRYPT, "pw"),
                Dir("Deeper", {File("leaf.bshf", PatternBytes(1000, 6), TOLMA_ENCODING_BSHF_CRYPT)}),
                Dir("Empty", {}),
            }),
    };
}

}  // namespace

TEST(TolmaArchiveWrite, EmptyArchiveIsHeaderAndEmptyDirectory) {
    const Bytes b = MakeArchive({});
    ASSERT_EQ(b.size(), 64u + 16u + 4u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 8), std::string("Orvel\x1A\0\0", 8));
    EXPECT_EQ(LeAt(b, 8, 4), 0x02000400u);
    EXPECT_EQ(std::string(b.begin() + 16, b.begin() + 34), "TOLMA-Archive file");
    EXPECT_EQ(LeAt(b, 48, 8), 0u);
    EXPECT_EQ(LeAt(b, 56, 8), 20u);
    EXPECT_EQ(std::string(b.begin() + 64, b.begin() + 72), "DirEntry");
    EXPECT_EQ(LeAt(b, 72, 8), 4u);
    EXPECT_EQ(LeAt(b, 80, 4), 0u);
}

TEST(TolmaArchiveWrite, StoredLayoutOfRawAndCodedFiles) {
    const Bytes five = {0x11, 0x22, 0x33, 0x44, 0x55};
    const Bytes b = MakeArchive({File("raw", PatternBytes(300, 9)), File("five", five, TOLMA_ENCODING_CODE),
                                 [] {
                                     TreeItem never = File("never", {}, TOLMA_ENCODING_CODE);
                                     never.skip = true;
                                     return never;
                                 }()});
    VectorFile file(modeRead, b);
    TOLMAArchive archive;
    ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
    TOLMAEntryList list;
    ASSERT_EQ(archive.GetDirectoryEntries(&list), ResultSuccess);
    ASSERT_EQ(list.GetCount(), 3u);
    const TOLMADirectoryEntry* raw = list.GetAt(0);
    const TOLMADirectoryEntry* coded = list.GetAt(1);
    EXPECT_STREQ(raw->name, "raw");
    EXPECT_EQ(raw->name_length, 4u);
    EXPECT_EQ(raw->attributes, 0x20u);
    EXPECT_EQ(raw->time_stamp[7], 3);
    EXPECT_EQ(coded->encoding, TOLMA_ENCODING_CODE);
    EXPECT_EQ(coded->length, 5u);
    EXPECT_EQ(list.GetAt(2)->length, 0u);
    EXPECT_EQ(list.GetAt(2)->offset, 0u);

    // Offsets count from the top-level record's data (file offset 64).
    const size_t raw_at = 64 + raw->offset;
    EXPECT_EQ(std::string(b.begin() + raw_at, b.begin() + raw_at + 8), "filedata");
    EXPECT_EQ(LeAt(b, raw_at + 8, 8), 300u) << "a raw file has no checksum";
    EXPECT_EQ(raw->length, 300u);
    const size_t coded_at = 64 + coded->offset;
    const size_t coded_end = coded_at + 16 + LeAt(b, coded_at + 8, 8);
    ASSERT_EQ(coded_end, b.size());
    EXPECT_EQ(b[coded_end - 4], 0x11 ^ 0x55);
    EXPECT_EQ(b[coded_end - 3], 0x22);
    EXPECT_EQ(b[coded_end - 2], 0x33);
    EXPECT_EQ(b[coded_end - 1], 0x44);

    ASSERT_EQ(archive.OpenFile("never", nullptr, 0), ResultSuccess);
    EXPECT_EQ(archive.GetLength(), 0u);
    EXPECT_EQ(ReadAll(archive), Bytes());
    EXPECT_EQ(archive.CloseFile(), ResultSuccess);

    // Changing the copies leaves the archive alone.
    list.GetAt(0)->SetName("other");
    EXPECT_NE(archive.FindEntry("raw"), nullptr);
}

TEST(TolmaArchiveRoundTrip, EveryEncodingBothModes) {
    const std::vector<TreeItem> tree = SampleTree();
    for (uint32_t chunk : {1u, 4093u, 65536u}) {
        const Bytes b = MakeArchive(tree, chunk);
        for (int32_t streaming : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "chunk " << chunk << " streaming " << streaming);
            VectorFile file(modeRead, b);
            TOLMAArchive archive;
            ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
            CheckTree(archive, tree, "", streaming);
            archive.Close();
            archive.Close();
        }
    }
}

TEST(TolmaArchiveRoundTrip, SeveralMebibytesInEachEncoding) {
    std::vector<TreeItem> tree;
    for (uint32_t encoding : kEncodings)
        tree.push_back(File(GetEncodingKeyword(encoding), PatternBytes(2 * 1024 * 1024 + 17, encoding >> 4), encoding,
                            encoding == TOLMA_ENCODING_CRYPT ? "key" : ""));
    const Bytes b = MakeArchive(tree, 1 << 20);
    VectorFile file(modeRead, b);
    TOLMAArchive archive;
    ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
    CheckTree(archive, tree, "", 0);
    CheckTree(archive, tree, "", 1);
}

TEST(TolmaArchiveRoundTrip, WrongPasswordFailsTheChecksum) {
    const Bytes b = MakeArchive({File("f", PatternBytes(5000, 1), TOLMA_ENCODING_BSHF_CRYPT, "right")});
    VectorFile file(modeRead, b);
    TOLMAArchive archive;
    ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
    EXPECT_EQ(archive.OpenFile("f", "wrong", 0), ResultGeneralError);
    EXPECT_EQ(archive.OpenFile("f", nullptr, 0), ResultGeneralError);
    EXPECT_EQ(archive.OpenFile("f", "right", 0), ResultSuccess);
}

TEST(TolmaArchiveRead, PathsAndDirectories) {
    const char kTable[] = "\x95\x5C";  // a double-byte character whose second byte is a backslash
    const std::string dbcs = std::string("表");
    ASSERT_EQ(dbcs, kTable);
    const std::vector<TreeItem> tree = {
        File("top", {1}),
        Dir("Dir", {File("File", {2}), Dir("Sub", {File("leaf", {3})})}),
        Dir("Odd/", {File("File", {4})}),
        Dir(dbcs + "x", {File("in", {5})}),
    };
    VectorFile file(modeRead, MakeArchive(tree));
    TOLMAArchive archive;
    ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
    auto first_byte = [&](const char* path) -> int {
        if (archive.OpenFile(path, nullptr, 0) != ResultSuccess) return -1;
        uint8_t b = 0;
        archive.Read(&b, 1);
        archive.CloseFile();
        return b;
    };
    EXPECT_EQ(first_byte("Dir\\File"), 2);
    EXPECT_EQ(first_byte("dir\\file"), 2);
    EXPECT_EQ(first_byte("top"), 1) << "a bare name is looked up in the root";
    EXPECT_EQ(first_byte("\\Dir\\\\Sub\\leaf"), 3);
    EXPECT_EQ(first_byte("Dir/File"), -1) << "a slash before the name stays part of the directory's name";
    EXPECT_EQ(first_byte("Odd/File"), 4);
    EXPECT_EQ(first_byte((dbcs + "x\\in").c_str()), 5);
    EXPECT_EQ(first_byte("Dir"), -1);
    EXPECT_EQ(first_byte("Dir\\Sub"), -1);
    EXPECT_EQ(first_byte("top\\x"), -1);
    EXPECT_EQ(first_byte(""), -1);
    EXPECT_EQ(first_byte("Dir\\nothing"), -1);
    // Mixed-case ASCII folds, other bytes do not.
    EXPECT_EQ(first_byte("DIR\\SUB\\LEAF"), 3);

    EXPECT_EQ(archive.ChangeDirectory("Dir\\Sub"), ResultSuccess);
    EXPECT_NE(archive.FindEntry("leaf"), nullptr);
    EXPECT_EQ(archive.DescendDirectory("leaf"), ResultGeneralError);
    EXPECT_EQ(archive.AscendDirectory(), ResultSuccess);
    EXPECT_NE(archive.FindEntry("Sub"), nullptr);
    EXPECT_EQ(archive.AscendDirectory(), ResultSuccess);
    EXPECT_EQ(archive.AscendDirectory(), ResultGeneralError) << "the root is never left";
    EXPECT_NE(archive.FindEntry("top"), nullptr);
    EXPECT_EQ(archive.ChangeDirectory("Dir\\Nope"), ResultGeneralError);
    EXPECT_NE(archive.FindEntry("Sub"), nullptr) << "directories entered before a failure stay entered";
    EXPECT_EQ(first_byte("top"), 1);
}

TEST(TolmaArchiveRead, RawEntriesAreReadStraightFromTheFile) {
    const Bytes data = PatternBytes(1 << 20, 4);
    VectorFile file(modeRead, MakeArchive({File("big", data)}));
    TOLMAArchive archive;
    ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
    const uint64_t before = file.bytes_read;
    ASSERT_EQ(archive.OpenFile("big", nullptr, 0), ResultSuccess);
    EXPECT_LT(file.bytes_read - before, 64u) << "only the record header is read at open time";
    EXPECT_EQ(archive.GetLength(), data.size());
    EXPECT_EQ(archive.Seek(1000, FromBegin), 1000u);
    uint8_t b[4];
    ASSERT_EQ(archive.Read(b, 4), 4u);
    EXPECT_EQ(0, std::memcmp(b, data.data() + 1000, 4));
    EXPECT_EQ(archive.Seek(-2, FromEnd), data.size() - 2);
    EXPECT_EQ(archive.Read(b, 4), 2u);
}

TEST(TolmaArchiveRead, WholeFileCopyIsAFileObject) {
    const Bytes data = PatternBytes(50000, 8);
    VectorFile file(modeRead, MakeArchive({File("f", data, TOLMA_ENCODING_CODE)}));
    TOLMAArchive archive;
    ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
    ASSERT_EQ(archive.OpenFile("f", nullptr, 0), ResultSuccess);
    EXPECT_EQ(archive.Seek(40000, FromBegin), 40000u);
    HVBFileObject* copy = archive.Duplicate();
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->GetPosition(), 0u);
    EXPECT_EQ(ReadAll(*copy), data);
    delete copy;
    EXPECT_EQ(ReadAll(archive), Bytes(data.begin() + 40000, data.end()));
}

namespace {

class CountingArchive : public TOLMAArchive {
public:
    ResultCode OnProgress(uint32_t done, uint32_t total) override {
        calls.push_back(done);
        last_total = total;
        return calls.size() == stop_at ? stop_with : 0;
    }
    std::vector<uint32_t> calls;
    uint32_t last_total = 0;
    size_t stop_at = 0;
    ResultCode stop_with = 0;
};

}  // namespace

TEST(TolmaArchiveRead, ProgressIsReportedPerStepAndCanStop) {
    VectorFile file(modeRead, MakeArchive({File("f", PatternBytes(40000, 2), TOLMA_ENCODING_CODE), File("g", {1})}));
    CountingArchive archive;
    ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
    ASSERT_EQ(archive.OpenFile("f", nullptr, 0), ResultSuccess);
    EXPECT_EQ(archive.calls, (std::vector<uint32_t>{16384, 32768, 40000}));
    EXPECT_EQ(archive.last_total, 40000u);
    archive.calls.clear();
    archive.stop_at = 2;
    archive.stop_with = 5;
    EXPECT_EQ(archive.OpenFile("f", nullptr, 0), 5);
    EXPECT_EQ(archive.GetOpenEntry(), nullptr);
    static const char kMessage[] = "stopped";
    archive.stop_at = archive.calls.size() + 1;
    archive.stop_with = MessageResult(kMessage);
    EXPECT_EQ(archive.OpenFile("f", nullptr, 0), MessageResult(kMessage)) << "a message answer arrives whole";
    ASSERT_EQ(archive.OpenFile("g", nullptr, 0), ResultSuccess) << "the archive stays usable";
}

TEST(TolmaArchiveDamage, FlippedCodedByteFailsWholeFileAndStreamingClose) {
    const Bytes data = PatternBytes(30000, 3);
    for (uint32_t encoding : {TOLMA_ENCODING_CODE, TOLMA_ENCODING_BSHF_CRYPT, TOLMA_ENCODING_CRYPT}) {
        SCOPED_TRACE(encoding);
        Bytes b = MakeArchive({File("f", data, encoding), File("g", {1, 2})});
        VectorFile clean(modeRead, b);
        VectorFile damaged(modeRead);
        TOLMAArchive archive;
        ASSERT_EQ(archive.Open(&clean, nullptr), ResultSuccess);
        const uint64_t at = 64 + archive.FindEntry("f")->offset + 16 + 3000;
        archive.Close();
        b[at] ^= 0x04;

        damaged.bytes = b;
        ASSERT_EQ(archive.Open(&damaged, nullptr), ResultSuccess);
        EXPECT_EQ(archive.OpenFile("f", nullptr, 0), ResultGeneralError);
        ASSERT_EQ(archive.OpenFile("g", nullptr, 0), ResultSuccess);
        ASSERT_EQ(archive.OpenFile("f", nullptr, 1), ResultSuccess);
        const Bytes got = ReadAll(archive);
        EXPECT_LE(got.size(), data.size());
        EXPECT_EQ(archive.CloseFile(), ResultGeneralError);
    }
}

TEST(TolmaArchiveDamage, StreamNotReadToItsEndClosesWithFailure) {
    const Bytes data = PatternBytes(3000, 3);
    for (uint32_t encoding : {TOLMA_ENCODING_CODE, TOLMA_ENCODING_CRYPT}) {
        SCOPED_TRACE(encoding);
        VectorFile file(modeRead, MakeArchive({File("f", data, encoding, "pw")}));
        TOLMAArchive archive;
        ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
        ASSERT_EQ(archive.OpenFile("f", "pw", 1), ResultSuccess);
        uint8_t b[100];
        EXPECT_EQ(archive.Read(b, sizeof b), sizeof b);
        EXPECT_EQ(archive.GetPosition(), 100u);
        EXPECT_EQ(archive.Seek(0, FromBegin), 100u) << "a coded stream does not move backwards";
        EXPECT_EQ(archive.CloseFile(), ResultGeneralError);
        // The decoders left mid-stream serve the next entry from its start.
        for (int32_t streaming : {1, 0}) {
            ASSERT_EQ(archive.OpenFile("f", "pw", streaming), ResultSuccess);
            EXPECT_EQ(ReadAll(archive), data);
            EXPECT_EQ(archive.CloseFile(), ResultSuccess);
        }
    }
}

namespace {

// An archive's bytes with a hand-made root directory record.
Bytes WithRootDirectory(const Bytes& directory_data, const Bytes& after = {}) {
    QDXFileHeader header;
    QDXFile::MakeFileHeader(&header, QDX_FILE_TOLMA_ARCHIVE, nullptr);
    Bytes b(reinterpret_cast<const uint8_t*>(&header), reinterpret_cast<const uint8_t*>(&header) + 64);
    for (char c : std::string("DirEntry")) b.push_back(static_cast<uint8_t>(c));
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(uint64_t(directory_data.size()) >> (8 * i)));
    b.insert(b.end(), directory_data.begin(), directory_data.end());
    b.insert(b.end(), after.begin(), after.end());
    return b;
}

void PutLe(Bytes& b, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes EntryBytes(const std::string& name, uint64_t length, uint32_t attributes, uint64_t offset,
                 uint32_t name_length_field) {
    Bytes e;
    PutLe(e, length, 8);
    PutLe(e, attributes, 4);
    PutLe(e, 0, 4);
    PutLe(e, offset, 8);
    PutLe(e, 0, 8);
    PutLe(e, 0, 4);
    PutLe(e, name_length_field, 4);
    e.insert(e.end(), name.begin(), name.end());
    e.push_back(0);
    return e;
}

bool Opens(const Bytes& b) {
    VectorFile file(modeRead, b);
    TOLMAArchive archive;
    return archive.Open(&file, nullptr) == ResultSuccess;
}

}  // namespace

TEST(TolmaArchiveDamage, MalformedDirectoriesAreRejected) {
    Bytes one;
    PutLe(one, 1, 4);
    const Bytes entry = EntryBytes("a", 0, 0, 0, 2);
    one.insert(one.end(), entry.begin(), entry.end());
    EXPECT_TRUE(Opens(WithRootDirectory(one)));

    Bytes two = one;
    two[0] = 2;
    EXPECT_FALSE(Opens(WithRootDirectory(two))) << "an entry count beyond the record";
    Bytes huge = one;
    huge[0] = huge[1] = huge[2] = huge[3] = 0xFF;
    EXPECT_FALSE(Opens(WithRootDirectory(huge)));
    EXPECT_FALSE(Opens(WithRootDirectory(Bytes{1, 0})));
    EXPECT_FALSE(Opens(WithRootDirectory(Bytes{})));
    Bytes long_name;
    PutLe(long_name, 1, 4);
    const Bytes absurd = EntryBytes("a", 0, 0, 0, 0xFFFFFFFFu);
    long_name.insert(long_name.end(), absurd.begin(), absurd.end());
    EXPECT_FALSE(Opens(WithRootDirectory(long_name)));
    for (size_t cut = 1; cut < one.size(); ++cut)
        EXPECT_FALSE(Opens(WithRootDirectory(Bytes(one.begin(), one.begin() + cut)))) << cut;

    // The first record must be the directory.
    Bytes b = WithRootDirectory(one);
    std::memcpy(b.data() + 64, "filedata", 8);
    EXPECT_FALSE(Opens(b));
    EXPECT_FALSE(Opens(Bytes(b.begin(), b.begin() + 70)));

    // A name longer than its terminator is cut at the first zero.
    Bytes inner;
    PutLe(inner, 1, 4);
    Bytes e = EntryBytes("ab", 0, 0, 0, 6);
    e.insert(e.end(), {'c', 'd', 0});
    inner.insert(inner.end(), e.begin(), e.end());
    VectorFile file(modeRead, WithRootDirectory(inner));
    TOLMAArchive archive;
    ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
    ASSERT_NE(archive.FindEntry("ab"), nullptr);
    EXPECT_EQ(archive.FindEntry("ab")->name_length, 3u);
}

TEST(TolmaArchiveDamage, FailedSubdirectoryLeavesTheArchiveUsable) {
    Bytes b = MakeArchive({Dir("Sub", {File("x", {1}), File("y", {2})}), File("top", {9})});
    VectorFile clean(modeRead, b);
    VectorFile file(modeRead);
    TOLMAArchive archive;
    ASSERT_EQ(archive.Open(&clean, nullptr), ResultSuccess);
    const uint64_t sub = 64 + archive.FindEntry("Sub")->offset;
    archive.Close();
    // The subdirectory's entry count, raised beyond its record.
    b[sub + 16 + 16] = 3;
    file.bytes = b;
    ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(archive.DescendDirectory("Sub"), ResultGeneralError);
        EXPECT_NE(archive.FindEntry("top"), nullptr);
        EXPECT_EQ(archive.OpenFile("Sub\\x", nullptr, 0), ResultGeneralError);
        ASSERT_EQ(archive.OpenFile("top", nullptr, 0), ResultSuccess);
        uint8_t v = 0;
        EXPECT_EQ(archive.Read(&v, 1), 1u);
        EXPECT_EQ(v, 9);
    }
}

TEST(TolmaArchiveDamage, OffsetsOutsideTheRecordFail) {
    Bytes b = MakeArchive({File("a", {1, 2, 3}), Dir("D", {File("b", {4})})});
    VectorFile clean(modeRead, b);
    TOLMAArchive archive;
    ASSERT_EQ(archive.Open(&clean, nullptr), ResultSuccess);
    archive.Close();
    // The entries start after the count: name "a" is the first, "D" the second.
    const size_t first_offset = 64 + 16 + 4 + 16;
    for (uint64_t offset : {uint64_t(b.size()), uint64_t(0x7FFFFFF0), uint64_t(0x80000000), ~uint64_t(0)}) {
        Bytes bad = b;
        for (int i = 0; i < 8; ++i) bad[first_offset + i] = static_cast<uint8_t>(offset >> (8 * i));
        VectorFile file(modeRead, bad);
        ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
        EXPECT_EQ(archive.OpenFile("a", nullptr, 0), ResultGeneralError) << offset;
        EXPECT_EQ(archive.OpenFile("D\\b", nullptr, 0), ResultSuccess);
        archive.Close();
    }
}

TEST(TolmaArchiveDamage, ImplausibleLengthDoesNotReserveItsMemory) {
    // A stated length far beyond what the coded record could hold fails when
    // the data runs out, without asking for the memory up front; one of 4 GiB
    // and more fails too, even where its low 32 bits are the true length.
    for (size_t byte : {3, 4}) {
        Bytes b = MakeArchive({File("f", PatternBytes(1000, 1), TOLMA_ENCODING_CODE)});
        const size_t length_field = 64 + 16 + 4;
        b[length_field + byte] = byte == 3 ? 0x70 : 0x01;  // about 1.8 GiB, or 4 GiB and 1000 bytes
        VectorFile file(modeRead, b);
        TOLMAArchive archive;
        ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
        EXPECT_EQ(archive.OpenFile("f", nullptr, 0), ResultGeneralError) << byte;
    }
}

TEST(TolmaArchiveDamage, LengthsBeyondTheFileAskForNoMemory) {
    // Memory is asked for only by what the input can back: any question
    // about exhausted memory is a failure here.
    int prompts = 0;
    plat::SetPromptHandler(
        [](const char*, const char*, void* count) {
            ++*static_cast<int*>(count);
            return plat::Answer::No;
        },
        &prompts);
    // One entry whose extra information or name claims 0xE0000000 bytes, in a
    // "DirEntry" record claiming 0xF0000000.
    auto directory = [](bool in_name) {
        Bytes d;
        PutLe(d, 1, 4);
        d.insert(d.end(), 8 + 4 + 4 + 8 + 8, 0);
        PutLe(d, in_name ? 0 : 0xE0000000u, 4);
        PutLe(d, in_name ? 0xE0000000u : 2, 4);
        return d;
    };
    const size_t kClaim = 64 + 8;
    for (bool in_name : {false, true}) {
        SCOPED_TRACE(in_name ? "name" : "extra");
        Bytes root = WithRootDirectory(directory(in_name));
        ASSERT_EQ(root.size(), 124u);
        root[kClaim + 3] = 0xF0;
        EXPECT_FALSE(Opens(root));

        // The same directory as a subdirectory, inside a "filedata" record
        // that claims as much.
        Bytes top;
        PutLe(top, 1, 4);
        const Bytes entry = EntryBytes("D", 0, TOLMA_ATTRIBUTE_DIRECTORY, 16 + 4 + 40 + 2, 2);
        top.insert(top.end(), entry.begin(), entry.end());
        Bytes sub(root.begin() + 64, root.end());
        const std::string filedata = "filedata";
        Bytes after(filedata.begin(), filedata.end());
        PutLe(after, 0xF0000000u, 8);
        after.insert(after.end(), sub.begin(), sub.end());
        VectorFile file(modeRead, WithRootDirectory(top, after));
        TOLMAArchive archive;
        ASSERT_EQ(archive.Open(&file, nullptr), ResultSuccess);
        EXPECT_EQ(archive.DescendDirectory("D"), ResultGeneralError);
        EXPECT_NE(archive.FindEntry("D"), nullptr) << "still at the root";
    }
    plat::SetPromptHandler(nullptr, nullptr);
    EXPECT_EQ(prompts, 0);
}

TEST(TolmaArchiveWrite, WriteFailuresAreReported) {
    VectorFile file(kCreateFlags);
    TOLMAArchive archive;
    TOLMAEntryList list;
    list.AddEntry("f", 0, TOLMA_ENCODING_CODE, nullptr);
    list.AddEntry("bad", 0, 0x1234, nullptr);
    list.AddEntry("D", TOLMA_ATTRIBUTE_DIRECTORY, 0, nullptr);
    ASSERT_EQ(archive.Open(&file, &list), ResultSuccess);
    EXPECT_EQ(archive.OpenEntry("bad", nullptr, 0), ResultGeneralError);
    EXPECT_EQ(archive.OpenEntry("D", nullptr, 0), ResultGeneralError);
    EXPECT_EQ(archive.OpenEntry("missing", nullptr, 0), ResultGeneralError);
    EXPECT_EQ(archive.DescendDirectory("f", &list), ResultGeneralError);
    ASSERT_EQ(archive.OpenEntry("f", nullptr, 0), ResultSuccess);
    const Bytes data = PatternBytes(100000, 5);
    file.short_writes = true;
    archive.Write(data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(archive.CloseFile(), ResultGeneralError);
    EXPECT_EQ(archive.Close(), ResultGeneralError);
}

TEST(TolmaArchiveWrite, FailedSubdirectoryRecordIsReported) {
    // Refuses the one write it is armed for.
    struct FailOnce : VectorFile {
        using VectorFile::VectorFile;
        uint32_t Write(const void* buffer, uint32_t count) override {
            if (armed) {
                armed = false;
                return 0;
            }
            return VectorFile::Write(buffer, count);
        }
        bool armed = false;
    };
    FailOnce file(kCreateFlags);
    TOLMAArchive archive;
    TOLMAEntryList list;
    list.AddEntry("D", TOLMA_ATTRIBUTE_DIRECTORY, 0, nullptr);
    ASSERT_EQ(archive.Open(&file, &list), ResultSuccess);
    TOLMAEntryList none;
    file.armed = true;
    EXPECT_EQ(archive.DescendDirectory("D", &none), ResultGeneralError);
    EXPECT_EQ(archive.Close(), ResultGeneralError);
}
