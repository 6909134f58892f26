#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "pe_writer_support.h"

namespace {

const char* const kRcData = MakeIntResource(RT_RCDATA_ID);
constexpr uint32_t kRsrc = 0x6000;
constexpr uint32_t kRsrcAddress = 0x9000;

// Takes at most limit bytes in all, then refuses.
class LimitedFile : public VectorFile {
public:
    explicit LimitedFile(uint32_t limit) : limit_(limit) {}
    uint32_t Write(const void* buffer, uint32_t count) override {
        if (count > limit_) count = limit_;
        limit_ -= count;
        return VectorFile::Write(buffer, count);
    }

private:
    uint32_t limit_;
};

std::vector<std::string> Lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string Listing(const std::vector<EnumeratedResource>& seen) {
    std::string out;
    char crc[16];
    for (const EnumeratedResource& r : seen) {
        std::snprintf(crc, sizeof crc, "%08x", r.crc);
        out += r.type + "\t" + r.name + "\t" + std::to_string(r.language) + "\t" + std::to_string(r.size) + "\t" + crc +
               "\n";
    }
    return out;
}

std::vector<EnumeratedResource> Enumerate(const std::vector<uint8_t>& bytes) {
    VectorFile file(modeRead, bytes);
    RecordingImage image;
    EXPECT_EQ(image.LoadPEImage(&file, false), ResultSuccess);
    EXPECT_EQ(image.EnumResources(nullptr, nullptr, 0), ResultSuccess);
    return image.seen;
}

std::string Wide(const std::vector<uint8_t>& b, uint32_t at) {
    std::string s;
    for (uint32_t i = 0; i < Le16At(b, at); ++i) s += static_cast<char>(Le16At(b, at + 2 + 2 * i));
    return s;
}

// The image checksum as the format documents it: 16-bit words added with
// the carry folded in after each, the checksum field left out, then the
// file's length.
uint32_t ImageChecksum(const std::vector<uint8_t>& b) {
    const uint32_t field = Le32At(b, 0x3C) + 24 + 64;
    uint32_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 2) {
        if (i >= field && i < field + 4) continue;
        sum += b[i] | (i + 1 < b.size() ? b[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(b.size());
}

#ifndef _WIN32
std::string Shell(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        while (size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) out.append(chunk, n);
        pclose(pipe);
    }
    return out;
}

// wrestool's listing without the offsets, which a rewrite moves.
std::string WithoutOffsets(std::string text) {
    for (size_t at; (at = text.find("offset=0x")) != std::string::npos;) text.erase(at, text.find(' ', at) + 1 - at);
    return text;
}
#endif

}  // namespace

// One resource of 5 bytes in a section at file offset 0x6000, address 0x9000:
// every offset and size of the new section.
TEST(PEWriter, OneResourceLayout) {
    VectorFile source(modeRead, MakeImage(kRsrc, kRsrcAddress));
    EXEImageFileObject image;
    ASSERT_EQ(image.LoadPEImage(&source, false), ResultSuccess);
    ASSERT_EQ(image.AddResource(kRcData, "IDR_ARCHIVE", 0, 5), ResultSuccess);
    VectorFile out;
    ASSERT_EQ(image.BeginWritingPEImage(&out), ResultSuccess);
    const std::vector<uint8_t>& b = out.bytes;
    ASSERT_EQ(b.size(), kRsrc + 512u);
    EXPECT_TRUE(std::equal(b.begin(), b.begin() + kOptionalHeader, source.bytes.begin()));
    EXPECT_EQ(Le32At(b, kResourceSectionHeader + 8), 128u);   // VirtualSize: 120 + 5 taken up to 8
    EXPECT_EQ(Le32At(b, kResourceSectionHeader + 16), 512u);  // SizeOfRawData
    EXPECT_EQ(Le32At(b, kResourceSectionHeader + 12), kRsrcAddress);
    EXPECT_EQ(Le32At(b, kResourceSectionHeader + 20), kRsrc);
    EXPECT_EQ(Le32At(b, kOptionalHeader + 56), 0xA000u);  // SizeOfImage
    EXPECT_EQ(Le32At(b, kOptionalHeader + 96 + 16), kRsrcAddress);
    EXPECT_EQ(Le32At(b, kOptionalHeader + 96 + 20), 128u);

    const uint32_t s = kRsrc;
    // Root: one identifier entry, 10, pointing at the type directory at 24.
    EXPECT_EQ(Le16At(b, s + 12), 0);
    EXPECT_EQ(Le16At(b, s + 14), 1);
    EXPECT_EQ(Le32At(b, s + 16), 10u);
    EXPECT_EQ(Le32At(b, s + 20), 0x80000000u | 24);
    // Type 10: one named entry, its string at S = 88, its directory at 48.
    EXPECT_EQ(Le16At(b, s + 24 + 12), 1);
    EXPECT_EQ(Le16At(b, s + 24 + 14), 0);
    EXPECT_EQ(Le32At(b, s + 40), 0x80000000u | 88);
    EXPECT_EQ(Le32At(b, s + 44), 0x80000000u | 48);
    // Name: language 0, data entry at E = 72.
    EXPECT_EQ(Le16At(b, s + 48 + 14), 1);
    EXPECT_EQ(Le32At(b, s + 64), 0u);
    EXPECT_EQ(Le32At(b, s + 68), 72u);
    EXPECT_EQ(Le32At(b, s + 72), kRsrcAddress + 120);
    EXPECT_EQ(Le32At(b, s + 76), 5u);
    EXPECT_EQ(Le32At(b, s + 80), 0u);
    EXPECT_EQ(Le32At(b, s + 84), 0u);
    // The string area: 2 + 22 bytes, taken up to 32; the data at A = 120.
    EXPECT_EQ(Wide(b, s + 88), "IDR_ARCHIVE");
    EXPECT_TRUE(std::all_of(b.begin() + s + 112, b.end(), [](uint8_t c) { return c == 0; }));

    // More bytes than declared: only the declared ones.
    ASSERT_EQ(image.WriteResourceData(kRcData, "IDR_ARCHIVE", 0, "ABCDEFGH", 8), ResultSuccess);
    EXPECT_EQ(std::string(b.begin() + s + 120, b.begin() + s + 128), std::string("ABCDE\0\0\0", 8));
    EXPECT_EQ(b.size(), kRsrc + 512u);

    // The reader finds it both ways.
    VectorFile written(modeRead, b);
    EXEImageFileObject check;
    ASSERT_EQ(check.OpenPEImageFile(&written), ResultSuccess);
    ASSERT_EQ(check.OpenResource(kRcData, "IDR_ARCHIVE", 0), ResultSuccess);
    char got[8] = {};
    EXPECT_EQ(check.Read(got, 8), 5u);
    EXPECT_STREQ(got, "ABCDE");
}

TEST(PEWriter, EntryOrderAndKeys) {
    VectorFile source(modeRead, MakeImage(kRsrc, kRsrcAddress));
    EXEImageFileObject image;
    ASSERT_EQ(image.LoadPEImage(&source, false), ResultSuccess);
    const struct {
        const char* type;
        const char* name;
        uint16_t language;
    } declared[] = {
        {"zeta", "n", 0},
        {kRcData, "b", 0x411},
        {"Alpha", MakeIntResource(2), 0},
        {"#3", "x", 0},
        {"beta", "n", 0},
        {kRcData, "B", 0},
        {"#abc", "n", 0},
        {"#010", "b", 0x409},
        {MakeIntResource(0xFFFF), "A_", 0},
        {MakeIntResource(0xFFFF), "AB", 0},
        {kRcData, MakeIntResource(7), 0},
        {kRcData, "#7", 0},
    };
    uint32_t size = 1;
    for (const auto& d : declared) ASSERT_EQ(image.AddResource(d.type, d.name, d.language, size++), ResultSuccess);
    // "#10" and 10 are one type; declaring again replaces the size.
    ASSERT_EQ(image.AddResource("#10", "B", 0, 99), ResultSuccess);
    VectorFile out;
    ASSERT_EQ(image.BeginWritingPEImage(&out), ResultSuccess);
    std::vector<EnumeratedResource> seen = Enumerate(out.bytes);
    std::string order;
    for (const EnumeratedResource& r : seen)
        order += r.type + " " + r.name + " " + std::to_string(r.language) + " " + std::to_string(r.size) + "\n";
    EXPECT_EQ(order,
              "=#abc =n 0 7\n"
              "=Alpha #2 0 3\n"
              "=beta =n 0 5\n"
              "=zeta =n 0 1\n"
              "#3 =x 0 4\n"
              "#10 =B 0 99\n"
              "#10 =b 1033 8\n"
              "#10 =b 1041 2\n"
              "#10 #7 0 12\n"
              "#65535 =AB 0 10\n"
              "#65535 =A_ 0 9\n");
    // Named entries at the root carry their string's offset in the section.
    const uint32_t first = Le32At(out.bytes, kRsrc + 16);
    ASSERT_NE(first & 0x80000000u, 0u);
    EXPECT_EQ(Wide(out.bytes, kRsrc + (first & 0x7FFFFFFF)), "#abc");
    EXPECT_EQ(Le16At(out.bytes, kRsrc + 12), 4);
    EXPECT_EQ(Le16At(out.bytes, kRsrc + 14), 3);
}

TEST(PEWriter, ResourceBytesFromMemoryAndFiles) {
    VectorFile source(modeRead, MakeImage(kRsrc, kRsrcAddress));
    EXEImageFileObject image;
    ASSERT_EQ(image.LoadPEImage(&source, false), ResultSuccess);
    EXPECT_RESULT(image.WriteResourceData(kRcData, "A", 0, "x", 1), kNotBegun);
    const uint32_t sizes[] = {9000, 12000, 13, 6};
    const char* names[] = {"A", "B", "C", "D"};
    for (int i = 0; i < 4; ++i) ASSERT_EQ(image.AddResource(kRcData, names[i], 0, sizes[i]), ResultSuccess);
    VectorFile out;
    ASSERT_EQ(image.BeginWritingPEImage(&out), ResultSuccess);
    EXPECT_EQ(image.AddResource(kRcData, "late", 0, 4), ResultSuccess);
    EXPECT_RESULT(image.WriteResourceData(kRcData, "late", 0, "late", 4), kLeafNotFound);
    EXPECT_RESULT(image.WriteResourceData(kRcData, "E", 0, "x", 1), kLeafNotFound);
    EXPECT_RESULT(image.WriteResourceData(kRcData, "A", 0x409, "x", 1), kLeafNotFound);

    std::vector<uint8_t> pattern(10000);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 31 + 5);
    // From files: the declared size of a longer source, all of a shorter one.
    VectorFile longer(modeRead, pattern);
    ASSERT_EQ(image.WriteResourceData(kRcData, "A", 0, &longer), ResultSuccess);
    VectorFile shorter(modeRead, pattern);
    ASSERT_EQ(image.WriteResourceData(kRcData, "B", 0, &shorter), ResultSuccess);
    // From memory: fewer bytes than declared, and the declared part of more.
    ASSERT_EQ(image.WriteResourceData(kRcData, "C", 0, pattern.data(), 5), ResultSuccess);
    ASSERT_EQ(image.WriteResourceData(kRcData, "D", 0, "0123456789", 10), ResultSuccess);

    VectorFile written(modeRead, out.bytes);
    EXEImageFileObject check;
    ASSERT_EQ(check.LoadPEImage(&written, false), ResultSuccess);
    ResourceData data{};
    auto bytes_of = [&](const char* name) {
        EXPECT_EQ(check.FindResourceData(&data, kRcData, name, 0), ResultSuccess);
        return std::vector<uint8_t>(data.data, data.data + data.size);
    };
    EXPECT_EQ(bytes_of("A"), std::vector<uint8_t>(pattern.begin(), pattern.begin() + 9000));
    std::vector<uint8_t> want(pattern);
    want.resize(12000, 0);
    EXPECT_EQ(bytes_of("B"), want);
    want.assign(pattern.begin(), pattern.begin() + 5);
    want.resize(13, 0);
    EXPECT_EQ(bytes_of("C"), want);
    EXPECT_EQ(bytes_of("D"), std::vector<uint8_t>({'0', '1', '2', '3', '4', '5'}));

    image.Close();
    EXPECT_RESULT(image.WriteResourceData(kRcData, "A", 0, "x", 1), kNotBegun);
}

TEST(PEWriter, RefusalsAndShortWrites) {
    const std::vector<uint8_t> plain = MakeImage(kRsrc, kRsrcAddress);
    struct Case {
        const char* what;
        std::vector<uint8_t> image;
        uint32_t resource_size;
        uint32_t limit;
        const char* result;
        uint32_t written;  // bytes the destination holds afterwards
    };
    std::vector<uint8_t> no_rsrc = plain;
    std::memcpy(&no_rsrc[kResourceSectionHeader], ".data\0\0", 8);
    std::vector<uint8_t> not_last = plain;
    PutLe(not_last, kSectionTable + 20, kRsrc + 0x100);
    PutLe(not_last, kSectionTable + 16, 0x100);
    // Resources at 0x1000 in memory, code at 0x2000: room for 0x1000 bytes.
    std::vector<uint8_t> below_code = MakeImage(kRsrc, 0x1000);
    PutLe(below_code, kSectionTable + 12, 0x2000);
    PutLe(below_code, kOptionalHeader + 56, 0x3000);
    std::vector<uint8_t> overlay = plain;
    overlay.insert(overlay.end(), {'P', 'K', 3, 4});
    // An optional header that stops before its checksum field, the section
    // table right after it.
    std::vector<uint8_t> short_optional = plain;
    PutLe(short_optional, kPEHeader + 20, 64, 2);
    std::copy(plain.begin() + kSectionTable, plain.begin() + kSectionTable + 80,
              short_optional.begin() + kOptionalHeader + 64);
    std::vector<uint8_t> padded = plain;
    padded.resize(plain.size() + 0x200);
    const Case cases[] = {
        {"bytes after the last section", overlay, 5, 0xFFFFFFFF, kOverlay, 0},
        {"only zeros after it", padded, 5, 0xFFFFFFFF, nullptr, kRsrc + 0x200},
        {"no resource section", no_rsrc, 5, 0xFFFFFFFF, kNoResourceSection, 0},
        {"another section's data after it", not_last, 5, 0xFFFFFFFF, kNotLastSection, 0},
        {"it would run into the next section in memory", below_code, 0x1000, 0xFFFFFFFF, kNotLastSection, 0},
        {"it stays below the next section in memory", below_code, 0x800, 0xFFFFFFFF, nullptr, kRsrc + 0xA00},
        {"head cut short", plain, 5, 100, kHeadNotWritten, 100},
        {"optional header without its fixed part", short_optional, 5, 0xFFFFFFFF, kHeadNotWritten, 0},
        {"directory cut short", plain, 5, kRsrc + 10, kDirectoryNotWritten, kRsrc + 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VectorFile source(modeRead, c.image);
        EXEImageFileObject image;
        ASSERT_EQ(image.LoadPEImage(&source, false), ResultSuccess);
        ASSERT_EQ(image.AddResource(kRcData, "IDR_ARCHIVE", 0, c.resource_size), ResultSuccess);
        LimitedFile out(c.limit);
        const ResultCode r = image.BeginWritingPEImage(&out);
        if (c.result == nullptr) {
            EXPECT_EQ(r, ResultSuccess);
            if (c.resource_size > 5) {
                EXPECT_EQ(Le32At(out.bytes, kOptionalHeader + 56), 0x3000u);  // SizeOfImage as it was
            }
        } else {
            EXPECT_RESULT(r, c.result);
        }
        EXPECT_EQ(out.bytes.size(), c.written);
    }
    EXEImageFileObject closed;
    VectorFile out;
    EXPECT_RESULT(closed.BeginWritingPEImage(&out), kNoResourceSection);

    // The resource bytes themselves cut short.
    VectorFile source(modeRead, plain);
    EXEImageFileObject image;
    ASSERT_EQ(image.LoadPEImage(&source, false), ResultSuccess);
    ASSERT_EQ(image.AddResource(kRcData, "IDR_ARCHIVE", 0, 5), ResultSuccess);
    LimitedFile limited(kRsrc + 120 + 20 + 0xE0 + 40 + 2);
    ASSERT_EQ(image.BeginWritingPEImage(&limited), ResultSuccess);
    EXPECT_RESULT(image.WriteResourceData(kRcData, "IDR_ARCHIVE", 0, "ABCDE", 5), kDataNotWritten);
}

// What may follow the resource section: a symbol table moves behind the new
// section, a certificate table is cut off with the old one; and a checksum
// the image carries is the one of the bytes written, whatever is written last.
TEST(PEWriter, SymbolsCertificatesAndTheChecksum) {
    std::vector<uint8_t> symbols = MakeImage(kRsrc, kRsrcAddress);
    const uint32_t end = static_cast<uint32_t>(symbols.size());
    PutLe(symbols, kPEHeader + 4 + 8, end);
    PutLe(symbols, kPEHeader + 4 + 12, 2);
    for (uint32_t i = 0; i < 36; ++i) symbols.push_back(static_cast<uint8_t>(0xA0 + i));
    const char strings[] = "\x08\0\0\0long";  // the string table: its length, then its text
    symbols.insert(symbols.end(), strings, strings + 8);
    std::vector<uint8_t> certificate = MakeImage(kRsrc, kRsrcAddress);
    PutLe(certificate, kOptionalHeader + 96 + 32, end);
    PutLe(certificate, kOptionalHeader + 96 + 36, 16);
    certificate.resize(end + 16, 0x5A);
    std::vector<uint8_t> summed = MakeImage(kRsrc, kRsrcAddress);
    PutLe(summed, kOptionalHeader + 64, 0x1234);

    const uint32_t kSize = 1000;  // the new section's raw data: 0x600 bytes
    std::vector<uint8_t> data(kSize);
    for (uint32_t i = 0; i < kSize; ++i) data[i] = static_cast<uint8_t>(i * 37 + 11);
    for (const std::vector<uint8_t>* original : {&symbols, &certificate, &summed}) {
        VectorFile source(modeRead, *original);
        EXEImageFileObject image;
        ASSERT_EQ(image.LoadPEImage(&source, false), ResultSuccess);
        ASSERT_EQ(image.AddResource(kRcData, "IDR_ARCHIVE", 0, kSize), ResultSuccess);
        VectorFile out;
        ASSERT_EQ(image.BeginWritingPEImage(&out), ResultSuccess);
        const std::vector<uint8_t>& b = out.bytes;
        if (original == &symbols) {
            ASSERT_EQ(Le32At(b, kPEHeader + 4 + 8), kRsrc + 0x600);
            EXPECT_EQ(Le32At(b, kPEHeader + 4 + 12), 2u);
            EXPECT_EQ(std::vector<uint8_t>(b.begin() + kRsrc + 0x600, b.end()),
                      std::vector<uint8_t>(original->begin() + end, original->end()));
        } else {
            EXPECT_EQ(b.size(), kRsrc + 0x600u);
            EXPECT_EQ(Le32At(b, kOptionalHeader + 96 + 32), 0u);
            EXPECT_EQ(Le32At(b, kOptionalHeader + 96 + 36), 0u);
        }
        // Written whole, then again shorter: what is left is the second.
        ASSERT_EQ(image.WriteResourceData(kRcData, "IDR_ARCHIVE", 0, data.data(), kSize), ResultSuccess);
        ASSERT_EQ(image.WriteResourceData(kRcData, "IDR_ARCHIVE", 0, data.data() + 1, 99), ResultSuccess);
        const uint32_t at = kRsrc + 120;
        EXPECT_EQ(std::vector<uint8_t>(b.begin() + at, b.begin() + at + 99),
                  std::vector<uint8_t>(data.begin() + 1, data.begin() + 100));
        EXPECT_TRUE(std::all_of(b.begin() + at + 99, b.begin() + at + kSize, [](uint8_t c) { return c == 0; }));
        EXPECT_EQ(Le32At(b, kOptionalHeader + 64), original == &summed ? ImageChecksum(b) : 0u);
    }
}

// Real images, each rewritten with every resource it has: objdump and wrestool
// list the same resources as for the original, with equal bytes, and so does
// the reader.
TEST(PEWriterReal, RewrittenImagesListTheSameResources) {
    const std::vector<std::string> lines = Lines(HostPath(TestDataDir() + "/samples.txt"));
    ASSERT_EQ(lines.size(), 1u);
    std::vector<std::string> samples;
    std::stringstream in(lines[0]);
    for (std::string s; in >> s;) samples.push_back(s);
    ASSERT_GE(samples.size(), 30u);
#ifndef _WIN32
    const std::string rewritten = TestDataDir() + "/rewritten";
    Shell("mkdir -p " + rewritten + "/listings");
#endif
    size_t total = 0;
    for (const std::string& sample : samples) {
        SCOPED_TRACE(sample);
        const std::vector<uint8_t> original = ReadHostFile(HostPath(TestDataDir() + "/images/" + sample));
        ASSERT_FALSE(original.empty());
        VectorFile source(modeRead, original);
        GatheringImage image;
        ASSERT_EQ(image.LoadPEImage(&source, false), ResultSuccess);
        VectorFile out;
        ASSERT_EQ(RewriteWithAllResources(image, &out), ResultSuccess);
        // objcopy, which made most of these copies, wrote their checksums
        // (the others carry none): they hold the sum as computed here.
        const uint32_t checksum_at = Le32At(original, 0x3C) + 24 + 64;
        if (Le32At(original, checksum_at) != 0) {
            EXPECT_EQ(Le32At(original, checksum_at), ImageChecksum(original));
            EXPECT_EQ(Le32At(out.bytes, checksum_at), ImageChecksum(out.bytes));
        }

        std::string objdump;
        for (const std::string& line : Lines(HostPath(TestDataDir() + "/listings/" + sample + ".lst")))
            objdump += line + "\n";
        const std::string before = Listing(Enumerate(original));
        ASSERT_EQ(before, objdump);
        const std::vector<EnumeratedResource> after = Enumerate(out.bytes);
        ASSERT_EQ(Listing(after), objdump);
        total += after.size();
#ifndef _WIN32
        const std::string path = rewritten + "/" + sample;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(out.bytes.data(), 1, out.bytes.size(), f);
        std::fclose(f);
        Shell(std::string(std::getenv("HVB_PYTHON")) + " " + std::getenv("HVB_LIST_RESOURCES") + " " +
              std::getenv("HVB_OBJDUMP") + " " + rewritten + "/listings " + path);
        std::string listed;
        for (const std::string& line : Lines(rewritten + "/listings/" + sample + ".lst")) listed += line + "\n";
        EXPECT_EQ(listed, objdump);
        std::string wrestool_before;
        for (const std::string& line : Lines(TestDataDir() + "/wrestool/" + sample + ".txt"))
            wrestool_before += line + "\n";
        ASSERT_FALSE(wrestool_before.empty());
        EXPECT_EQ(WithoutOffsets(Shell(std::string(std::getenv("HVB_WRESTOOL")) + " -l " + path)),
                  WithoutOffsets(wrestool_before));
#endif
    }
    EXPECT_GT(total, 10000u);
}

TEST(PEWriterReal, RefusedWhenTheResourceSectionIsNotLast) {
    const char* dir = std::getenv("HVB_WINE_IMAGES");
    const std::string wine = dir != nullptr ? dir : "/usr/lib/i386-linux-gnu/wine/i386-windows";
    for (const char* name : {"notepad.exe", "comctl32.dll"}) {
        SCOPED_TRACE(name);
        HostFile file(HostPath(wine + "/" + name));
        ASSERT_TRUE(file.IsOpen());
        GatheringImage image;
        ASSERT_EQ(image.LoadPEImage(&file, false), ResultSuccess);
        VectorFile out;
        EXPECT_RESULT(RewriteWithAllResources(image, &out), kNotLastSection);
        EXPECT_TRUE(out.bytes.empty());
        EXPECT_EQ(out.position, 0u);
    }
}
