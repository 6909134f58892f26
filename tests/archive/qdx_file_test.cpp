#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "archive/qdx_file.h"
#include "file/raw_file.h"
#include "file/temp_dir.h"
#include "support/test_files.h"

namespace {

constexpr uint32_t kWriteFlags = modeCreate | modeRead | modeWrite;

uint64_t Le64At(const std::vector<uint8_t>& b, size_t at) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | b[at + i];
    return v;
}

std::string Text(const std::vector<uint8_t>& b, size_t at, size_t n) {
    return std::string(b.begin() + at, b.begin() + at + n);
}

// A container made by hand: the file header, then raw records.
std::vector<uint8_t> Container() {
    QDXFileHeader header;
    QDXFile::MakeFileHeader(&header, QDX_FILE_TOLMA_ARCHIVE, nullptr);
    const auto* p = reinterpret_cast<const uint8_t*>(&header);
    return std::vector<uint8_t>(p, p + sizeof header);
}
void AddRecord(std::vector<uint8_t>& b, const char* id, uint64_t length, size_t data_bytes) {
    b.insert(b.end(), id, id + 8);
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(length >> (8 * i)));
    for (size_t i = 0; i < data_bytes; ++i) b.push_back(static_cast<uint8_t>(i));
}

}  // namespace

TEST(QDXHeader, MakeFileHeader) {
    QDXFileHeader header;
    QDXFile::MakeFileHeader(&header, QDX_FILE_RASTER_IMAGE, nullptr);
    EXPECT_EQ(std::memcmp(header.signature, "Orvel\x1A\0\0", 8), 0);
    EXPECT_EQ(header.file_id, 0x03000100u);
    EXPECT_EQ(header.reserved, 0u);
    EXPECT_STREQ(header.description, "Orvel Rasterized Image format");
    QDXFile::MakeFileHeader(&header, 7, nullptr);
    EXPECT_STREQ(header.description, "undefined QDX file");

    const std::string fifty(50, 'x');
    std::memset(&header, 0xEE, sizeof header);
    QDXFile::MakeFileHeader(&header, 7, fifty.c_str());
    const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
    EXPECT_EQ(std::string(header.description, 41), fifty.substr(0, 41));
    for (int i = 57; i < 64; ++i) EXPECT_EQ(bytes[i], 0) << i;
    QDXFile::MakeFileHeader(&header, 7, "");
    for (int i = 16; i < 64; ++i) EXPECT_EQ(bytes[i], 0) << i;
}

TEST(QDXWrite, ExactBytesOfSmallContainers) {
    QDXFileHeader header;
    QDXFile::MakeFileHeader(&header, QDX_FILE_TOLMA_ARCHIVE, nullptr);

    VectorFile empty(kWriteFlags);
    QDXFile qdx;
    ASSERT_EQ(qdx.Open(&empty, &header), ResultSuccess);
    EXPECT_TRUE(qdx.IsWriting());
    qdx.Close();
    const std::vector<uint8_t>& b = empty.bytes;
    ASSERT_EQ(b.size(), 64u);
    EXPECT_EQ(Text(b, 0, 8), std::string("Orvel\x1A\0\0", 8));
    EXPECT_EQ(Le64At(b, 8), 0x02000400u);
    EXPECT_EQ(Text(b, 16, 18), "TOLMA-Archive file");
    for (int i = 34; i < 56; ++i) EXPECT_EQ(b[i], 0) << i;
    EXPECT_EQ(Le64At(b, 56), 0u);

    VectorFile one(kWriteFlags);
    ASSERT_EQ(qdx.Open(&one, &header), ResultSuccess);
    ASSERT_EQ(qdx.DescendRecord("filedata"), ResultSuccess);
    EXPECT_EQ(qdx.Write("0123456789", 10), 10u);
    EXPECT_EQ(qdx.GetLength(), 0u);
    ASSERT_EQ(qdx.AscendRecord(), ResultSuccess);
    qdx.Close();
    qdx.Close();
    ASSERT_EQ(one.bytes.size(), 90u);
    EXPECT_EQ(Text(one.bytes, 16, 18), "TOLMA-Archive file");
    EXPECT_EQ(Le64At(one.bytes, 56), 26u);
    EXPECT_EQ(Text(one.bytes, 64, 8), "filedata");
    EXPECT_EQ(Le64At(one.bytes, 72), 10u);
    EXPECT_EQ(Text(one.bytes, 80, 10), "0123456789");
}

TEST(QDXWrite, NestedRoundTrip) {
    QDXFileHeader header;
    QDXFile::MakeFileHeader(&header, QDX_FILE_TOLMA_ARCHIVE, "round trip");
    std::vector<uint8_t> payload(1000);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);

    VectorFile file(kWriteFlags);
    {
        QDXFile writer;
        ASSERT_EQ(writer.Open(&file, &header), ResultSuccess);
        EXPECT_EQ(writer.DescendRecord(nullptr), ResultGeneralError);
        ASSERT_EQ(writer.DescendRecord("Header  "), ResultSuccess);
        writer.Write("hello", 5);
        writer.AscendRecord();
        ASSERT_EQ(writer.DescendRecord("DirEntry"), ResultSuccess);
        ASSERT_EQ(writer.DescendRecord("FileHdr "), ResultSuccess);
        // Written out of order: a seek past what was written extends the record.
        EXPECT_EQ(writer.Seek(2, FromBegin), 2u);
        writer.Write("c", 1);
        EXPECT_EQ(writer.Seek(0, FromBegin), 0u);
        writer.Write("ab", 2);
        writer.AscendRecord();
        ASSERT_EQ(writer.DescendRecord("filedata"), ResultSuccess);
        writer.Write(payload.data(), 100);
        EXPECT_EQ(writer.GetLength(), 0u);
        writer.Write(payload.data() + 100, 900);
        EXPECT_EQ(writer.Seek(0, FromEnd), 1000u);
        EXPECT_EQ(writer.GetLength(), 1000u);
        writer.AscendRecord();
        // The destructor leaves DirEntry and the top level.
    }
    const size_t end_of_dir = 64 + 16 + 5 + 16 + 16 + 3 + 16 + 1000;
    ASSERT_EQ(file.bytes.size(), end_of_dir);
    EXPECT_EQ(Le64At(file.bytes, 56), end_of_dir - 64);
    EXPECT_EQ(Le64At(file.bytes, 64 + 16 + 5 + 8), 16u + 3 + 16 + 1000);


    VectorFile source(modeRead, file.bytes);
    QDXFile reader;
    ASSERT_EQ(reader.Open(&source, nullptr), ResultSuccess);
    EXPECT_FALSE(reader.IsWriting());
    EXPECT_STREQ(reader.GetFileHeader().description, "round trip");
    EXPECT_EQ(reader.GetLength(), end_of_dir - 64);
    ASSERT_EQ(reader.DescendRecord("DirEntry"), ResultSuccess);
    EXPECT_EQ(reader.GetLength(), 16u + 3 + 16 + 1000);
    ASSERT_EQ(reader.DescendRecord("filedata"), ResultSuccess);
    EXPECT_EQ(reader.GetLength(), 1000u);
    std::vector<uint8_t> got(1100);
    EXPECT_EQ(reader.Read(got.data(), 1100), 1000u);
    EXPECT_EQ(std::memcmp(got.data(), payload.data(), 1000), 0);
    EXPECT_EQ(reader.Seek(5000, FromBegin), 1000u);
    EXPECT_EQ(reader.Seek(-10, FromEnd), 990u);
    EXPECT_EQ(reader.Read(got.data(), 100), 10u);
    EXPECT_EQ(reader.Seek(-2000, FromCurrent), 0u);
    reader.AscendRecord();
    EXPECT_EQ(reader.GetPosition(), reader.GetLength());

    // An absent identifier fails at the end of the enclosing record.
    reader.Seek(0, FromBegin);
    EXPECT_EQ(reader.DescendRecord("absent  "), ResultGeneralError);
    EXPECT_EQ(reader.GetPosition(), reader.GetLength());
    reader.Seek(0, FromBegin);
    ASSERT_EQ(reader.DescendRecord(nullptr), ResultSuccess);
    EXPECT_EQ(reader.GetLength(), 3u);
    EXPECT_EQ(reader.Read(got.data(), 10), 3u);
    EXPECT_EQ(std::string(got.begin(), got.begin() + 3), "abc");
    reader.AscendRecord();
    reader.AscendRecord();
    EXPECT_EQ(reader.DescendRecord("DirEntry"), ResultGeneralError);
    reader.Seek(0, FromBegin);
    ASSERT_EQ(reader.DescendRecord(nullptr), ResultSuccess);
    EXPECT_EQ(reader.GetLength(), 5u);
    reader.Close();
    EXPECT_EQ(source.bytes, file.bytes);
}

TEST(QDXRead, HeaderChecks) {
    std::vector<uint8_t> good = Container();
    AddRecord(good, "filedata", 3, 3);
    QDXFile qdx;
    VectorFile ok(modeRead, good);
    EXPECT_EQ(qdx.Open(&ok, nullptr), ResultSuccess);

    std::vector<uint8_t> bad = good;
    bad[12] = 1;
    VectorFile reserved(modeRead, bad);
    EXPECT_EQ(qdx.Open(&reserved, nullptr), ResultGeneralError);
    uint8_t buffer[8];
    EXPECT_EQ(qdx.Read(buffer, 8), 0u);
    EXPECT_EQ(qdx.DescendRecord(nullptr), ResultGeneralError);
    EXPECT_EQ(qdx.GetLength(), 0u);
    bad = good;
    bad[5] = 0x1B;
    VectorFile signature(modeRead, bad);
    EXPECT_EQ(qdx.Open(&signature, nullptr), ResultGeneralError);
    VectorFile short_file(modeRead, std::vector<uint8_t>(good.begin(), good.begin() + 63));
    EXPECT_EQ(qdx.Open(&short_file, nullptr), ResultGeneralError);
    // The file identifier is not this class's business.
    bad = good;
    bad[8] = 0x55;
    VectorFile other_kind(modeRead, bad);
    EXPECT_EQ(qdx.Open(&other_kind, nullptr), ResultSuccess);

    // A replaced signature is what both writing and reading use from then on.
    uint8_t saved[8];
    QDXFile::GetFileSignature(saved);
    const uint8_t custom[8] = {'T', 'e', 's', 't', 0, 1, 2, 3};
    QDXFile::SetFileSignature(custom);
    VectorFile old_signature(modeRead, good);
    EXPECT_EQ(qdx.Open(&old_signature, nullptr), ResultGeneralError);
    QDXFileHeader header;
    QDXFile::MakeFileHeader(&header, 1, nullptr);
    EXPECT_EQ(std::memcmp(header.signature, custom, 8), 0);
    QDXFile::SetFileSignature(saved);

    // A file opened with modeCreate but no header is read.
    VectorFile create_no_header(kWriteFlags, good);
    EXPECT_EQ(qdx.Open(&create_no_header, nullptr), ResultSuccess);
    EXPECT_FALSE(qdx.IsWriting());
    EXPECT_EQ(qdx.GetOpenFlags(), modeRead | modeWrite);
    qdx.Close();
}

TEST(QDXRead, RecordLengthLimits) {
    // All ones: up to the end of the file.
    std::vector<uint8_t> b = Container();
    AddRecord(b, "Sequence", 2, 2);
    AddRecord(b, "Stream  ", QDXFile::kLengthToEnd, 30);
    VectorFile to_end(modeRead, b);
    QDXFile qdx;
    ASSERT_EQ(qdx.Open(&to_end, nullptr), ResultSuccess);
    ASSERT_EQ(qdx.DescendRecord("Stream  "), ResultSuccess);
    EXPECT_EQ(qdx.GetLength(), 30u);
    qdx.AscendRecord();
    // Nothing can follow it: a search ends there instead of seeking backwards.
    qdx.Seek(0, FromBegin);
    EXPECT_EQ(qdx.DescendRecord("Palette "), ResultGeneralError);
    EXPECT_EQ(to_end.position, b.size());

    // 2^32 and more cannot be entered nor searched past.
    for (uint64_t length : {0x100000000ull, 0xFFFFFFFF00000000ull, 0x7FFFFFFFFFFFFFFFull}) {
        b = Container();
        AddRecord(b, "ImageInf", length, 4);
        AddRecord(b, "Palette ", 4, 4);
        VectorFile huge(modeRead, b);
        ASSERT_EQ(qdx.Open(&huge, nullptr), ResultSuccess);
        EXPECT_EQ(qdx.DescendRecord("ImageInf"), ResultGeneralError);
        qdx.Seek(0, FromBegin);
        EXPECT_EQ(qdx.DescendRecord("Palette "), ResultGeneralError);
        qdx.Seek(0, FromBegin);
        EXPECT_EQ(qdx.DescendRecord(nullptr), ResultGeneralError);
        qdx.Close();
    }

    // Lengths of 2^31 and more are skipped forwards, past the enclosing record.
    for (uint64_t length : {0x80000000ull, 0xFFFFFFF0ull, 0xFFFFFFFFull}) {
        b = Container();
        AddRecord(b, "PrevwInf", length, 4);
        AddRecord(b, "Palette ", 4, 4);
        VectorFile big(modeRead, b);
        ASSERT_EQ(qdx.Open(&big, nullptr), ResultSuccess);
        EXPECT_EQ(qdx.DescendRecord("Palette "), ResultGeneralError);
        EXPECT_EQ(qdx.GetPosition(), qdx.GetLength());
        qdx.Seek(0, FromBegin);
        ASSERT_EQ(qdx.DescendRecord("PrevwInf"), ResultSuccess);
        EXPECT_EQ(qdx.GetLength(), 4u + 16 + 4) << "cut to what the file holds";
        uint8_t buffer[64];
        EXPECT_EQ(qdx.Read(buffer, sizeof buffer), 4u + 16 + 4);
        qdx.Close();
    }

    // A search stays inside the enclosing record even when a record claims more.
    b = Container();
    AddRecord(b, "DirEntry", 16 + 4, 0);
    AddRecord(b, "FileHdr ", 1000, 4);
    AddRecord(b, "filedata", 4, 4);
    VectorFile nested(modeRead, b);
    ASSERT_EQ(qdx.Open(&nested, nullptr), ResultSuccess);
    ASSERT_EQ(qdx.DescendRecord("DirEntry"), ResultSuccess);
    EXPECT_EQ(qdx.DescendRecord("filedata"), ResultGeneralError);
    EXPECT_EQ(qdx.GetPosition(), 20u);
    qdx.Seek(0, FromBegin);
    ASSERT_EQ(qdx.DescendRecord("FileHdr "), ResultSuccess);
    EXPECT_EQ(qdx.GetLength(), 4u) << "cut to what the enclosing record holds";
    qdx.AscendRecord();
    qdx.AscendRecord();
    ASSERT_EQ(qdx.DescendRecord("filedata"), ResultSuccess);
    qdx.Close();
}

TEST(QDXRead, WritesInsideAReadRecordAreClamped) {
    std::vector<uint8_t> b = Container();
    AddRecord(b, "filedata", 4, 4);
    AddRecord(b, "cpyright", 2, 2);
    VectorFile file(modeRead | modeWrite, b);
    QDXFile qdx;
    ASSERT_EQ(qdx.Open(&file, nullptr), ResultSuccess);
    ASSERT_EQ(qdx.DescendRecord("filedata"), ResultSuccess);
    EXPECT_EQ(qdx.Seek(2, FromBegin), 2u);
    EXPECT_EQ(qdx.Write("XYZW", 4), 2u);
    EXPECT_EQ(qdx.Write("Q", 1), 0u);
    qdx.Close();
    EXPECT_EQ(file.bytes.size(), b.size());
    EXPECT_EQ(Text(file.bytes, 80, 4), std::string("\0\1XY", 4));
    EXPECT_EQ(Text(file.bytes, 84, 8), "cpyright");
}

TEST(QDXWrite, FailuresAreReported) {
    QDXFileHeader header;
    QDXFile::MakeFileHeader(&header, QDX_FILE_TOLMA_ARCHIVE, nullptr);
    VectorFile broken(kWriteFlags);
    broken.short_writes = true;
    QDXFile qdx;
    EXPECT_EQ(qdx.Open(&broken, &header), ResultGeneralError);
    EXPECT_EQ(qdx.Write("x", 1), 0u);

    VectorFile later(kWriteFlags);
    ASSERT_EQ(qdx.Open(&later, &header), ResultSuccess);
    ASSERT_EQ(qdx.DescendRecord("filedata"), ResultSuccess);
    qdx.Write("0123456789", 10);
    later.short_writes = true;
    EXPECT_EQ(qdx.AscendRecord(), ResultGeneralError);
    EXPECT_EQ(qdx.DescendRecord("filedata"), ResultGeneralError);
    later.short_writes = false;
    qdx.Close();

    VectorFile truncated(kWriteFlags);
    ASSERT_EQ(qdx.Open(&truncated, &header), ResultSuccess);
    ASSERT_EQ(qdx.DescendRecord("filedata"), ResultSuccess);
    qdx.Write("0123456789", 10);
    qdx.Seek(4, FromBegin);
    EXPECT_EQ(qdx.SetEndOfFile(), ResultSuccess);
    EXPECT_EQ(qdx.GetLength(), 4u);
    qdx.Close();
    ASSERT_EQ(truncated.bytes.size(), 64u + 16 + 4);
    EXPECT_EQ(Le64At(truncated.bytes, 72), 4u);
}

TEST(QDXDuplicate, CopiesTheStackOverADuplicateFile) {
    std::vector<uint8_t> b = Container();
    AddRecord(b, "Header  ", 2, 2);
    AddRecord(b, "filedata", 10, 10);
    VectorFile file(modeRead, b);
    QDXFile qdx;
    ASSERT_EQ(qdx.Open(&file, nullptr), ResultSuccess);
    ASSERT_EQ(qdx.DescendRecord("filedata"), ResultSuccess);
    qdx.Seek(3, FromBegin);
    HVBFileObject* copy = qdx.Duplicate();
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(copy->IsKindOf("QDXFile"));
    EXPECT_EQ(copy->GetOpenFlags(), modeRead);
    EXPECT_EQ(copy->GetLength(), 10u);
    EXPECT_EQ(copy->GetPosition(), 3u);
    uint8_t got[16];
    EXPECT_EQ(copy->Read(got, 16), 7u);
    EXPECT_EQ(got[0], 3);
    EXPECT_EQ(qdx.GetPosition(), 3u);
    auto* as_qdx = static_cast<QDXFile*>(copy->DynamicCast("QDXFile"));
    ASSERT_NE(as_qdx, nullptr);
    as_qdx->AscendRecord();
    EXPECT_EQ(as_qdx->GetLength(), b.size() - 64);
    delete copy;

    // Over a file object that cannot duplicate, there is no copy.
    struct Unduplicable : VectorFile {
        using VectorFile::VectorFile;
        HVBFileObject* Duplicate() override { return nullptr; }
    } plain(modeRead, b);
    ASSERT_EQ(qdx.Open(&plain, nullptr), ResultSuccess);
    EXPECT_EQ(qdx.Duplicate(), nullptr);
    qdx.Close();
}

// On a real file, as the archive classes use it: written with flags 7, read with 18.
TEST(QDXRawFile, WriteThenRead) {
    TempDir dir;
    const std::string path = dir.File("container.qdx");
    QDXFileHeader header;
    QDXFile::MakeFileHeader(&header, QDX_FILE_TOLMA_ARCHIVE, nullptr);
    ERawFile file;
    ASSERT_EQ(file.Open(path.c_str(), modeCreate | modeRead | modeWrite), ResultSuccess);
    QDXFile qdx;
    ASSERT_EQ(qdx.Open(&file, &header), ResultSuccess);
    ASSERT_EQ(qdx.DescendRecord("DirEntry"), ResultSuccess);
    ASSERT_EQ(qdx.DescendRecord("filedata"), ResultSuccess);
    EXPECT_EQ(qdx.Write("payload", 7), 7u);
    qdx.Close();
    EXPECT_EQ(file.GetLength(), 64u + 16 + 16 + 7);
    file.Close();

    ASSERT_EQ(file.Open(path.c_str(), modeRead | shareRead), ResultSuccess);
    ASSERT_EQ(qdx.Open(&file, nullptr), ResultSuccess);
    ASSERT_EQ(qdx.DescendRecord("DirEntry"), ResultSuccess);
    ASSERT_EQ(qdx.DescendRecord("filedata"), ResultSuccess);
    char text[16] = {};
    EXPECT_EQ(qdx.Read(text, sizeof text), 7u);
    EXPECT_STREQ(text, "payload");
    qdx.Close();
    file.Close();
}
