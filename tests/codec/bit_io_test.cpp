#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codec_test_support.h"

namespace {

// Bits written by one WriteGammaCode call, as a string of 0 and 1.
std::string GammaBits(uint32_t value) {
    MemoryStream out;
    TOLMAEncodeContext encoder(64);
    encoder.AttachDestinationFile(&out);
    encoder.WriteGammaCode(value);
    encoder.WriteBits(0x80000000u, 1);  // end marker
    encoder.FlushBits();
    std::string bits;
    for (uint8_t byte : out.data) {
        for (int i = 7; i >= 0; --i) bits += ((byte >> i) & 1) ? '1' : '0';
    }
    return bits.substr(0, bits.find_last_of('1'));
}

Bytes PackBits(const std::string& bits) {
    Bytes bytes((bits.size() + 7) / 8, 0);
    for (size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == '1') bytes[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    }
    return bytes;
}

}  // namespace

TEST(BitInput, GammaCodesOfOneToSeven) {
    const char* expected[] = {"0", "100", "110", "10100", "10110", "11100", "11110"};
    std::string all;
    for (uint32_t v = 1; v <= 7; ++v) {
        EXPECT_EQ(GammaBits(v), expected[v - 1]) << v;
        all += expected[v - 1];
    }
    MemoryStream in(PackBits(all));
    TOLMADecodeContext decoder(16);
    decoder.AttachSourceFile(&in);
    for (int32_t v = 1; v <= 7; ++v) EXPECT_EQ(decoder.ReadGammaCode(), v);
    // The rest of the word is zero padding: gamma 1s, then the end.
    while (decoder.ReadGammaCode() == 1) {
    }
    EXPECT_EQ(decoder.ReadGammaCode(), -1);
}

namespace {

// Feeds the stream from a derived class instead of a source object.
class FiveBytes : public TOLMADecodeContext {
public:
    FiveBytes() : TOLMADecodeContext(64) {}
    uint32_t ReadNextData(void* destination, uint32_t count) override {
        static const uint8_t kData[] = {0x11, 0x22, 0x33, 0x44, 0x55};
        uint32_t n = delivered ? 0 : (count < 5 ? count : 5);
        std::memcpy(destination, kData, n);
        delivered = true;
        return n;
    }
    bool delivered = false;
};

}  // namespace

TEST(BitInput, FiveByteSourceIsPaddedToTwoWords) {
    FiveBytes decoder;
    EXPECT_EQ(decoder.ReadBits(32), 0x11223344u);
    EXPECT_EQ(decoder.ReadBits(32), 0x55000000u);
    EXPECT_EQ(decoder.FillBitBuffer(), 1);
    EXPECT_EQ(decoder.ReadBit(), 1);
    EXPECT_EQ(decoder.ReadGammaCode(), -1);
}

TEST(BitInput, ReadBitsAtTheEndLeavesTheRegister) {
    MemoryStream in(Bytes{0xA5, 0, 0, 0});
    TOLMADecodeContext decoder(16);
    decoder.AttachSourceFile(&in);
    EXPECT_EQ(decoder.ReadBits(4), 0xAu);
    EXPECT_EQ(decoder.ReadBits(32), 0u) << "end of data";
    EXPECT_EQ(decoder.ReadBits(4), 0x5u) << "the bits before the failed read are still there";
}

TEST(BitInput, NothingIsReadWithoutSourceOrCount) {
    TOLMADecodeContext bare(16);
    uint8_t byte;
    EXPECT_EQ(bare.ReadNextData(&byte, 1), 0u);
    EXPECT_EQ(bare.Decode(&byte, 1), 0u) << "nothing prepared";
    EXPECT_EQ(bare.PrepareContextTreeDecoding(), ResultSuccess);
    EXPECT_EQ(bare.DecodeContextTreeBytes(&byte, 1), 0u);

    MemoryStream in(EncodeWith(Codec::ContextTree, Bytes{1, 2, 3}));
    TOLMADecodeContext decoder(16);
    decoder.AttachSourceFile(&in);
    decoder.PrepareContextTreeDecoding();
    uint32_t reads = in.reads;
    EXPECT_EQ(decoder.DecodeContextTreeBytes(&byte, 0), 0u);
    EXPECT_EQ(in.reads, reads);
}

TEST(BitOutput, SingleBitFlushesToOneWord) {
    MemoryStream out;
    TOLMAEncodeContext encoder(16384);
    encoder.AttachDestinationFile(&out);
    EXPECT_EQ(encoder.WriteBits(0x80000000u, 1), 0);
    EXPECT_EQ(encoder.FlushBits(), 0);
    EXPECT_EQ(out.data, (Bytes{0x80, 0, 0, 0}));
    // With nothing pending a flush still stores a word.
    EXPECT_EQ(encoder.FlushBits(), 0);
    EXPECT_EQ(out.data.size(), 8u);
}

TEST(BitOutput, HandsOnWholeBuffers) {
    MemoryStream out;
    TOLMAEncodeContext encoder(16383);
    EXPECT_EQ(encoder.GetBufferCapacity(), 16384u);
    encoder.AttachDestinationFile(&out);
    Bytes expected;
    for (uint32_t i = 0; i < 2 * 16384 + 6; ++i) {
        uint8_t byte = static_cast<uint8_t>(i * 7);
        expected.push_back(byte);
        encoder.WriteBits(uint32_t(byte) << 24, 8);
    }
    EXPECT_EQ(out.write_sizes, (std::vector<uint32_t>{16384, 16384}));
    encoder.FlushBits();
    EXPECT_EQ(out.write_sizes, (std::vector<uint32_t>{16384, 16384, 8}));
    expected.resize(expected.size() + 2, 0);
    EXPECT_EQ(out.data, expected);
}

TEST(BitOutput, WritesOfEveryWidthReadBack) {
    MemoryStream out;
    TOLMAEncodeContext encoder(12);
    encoder.AttachDestinationFile(&out);
    uint32_t seed = 5;
    std::vector<std::pair<uint32_t, uint32_t>> fields;
    for (int i = 0; i < 500; ++i) {
        uint32_t n = 1 + NextRandom(seed) % 32;
        uint32_t value = NextRandom(seed) * 2654435761u;
        fields.push_back({n == 32 ? value : value >> (32 - n), n});
        encoder.WriteBits(n == 32 ? value : value & ~(0xFFFFFFFFu >> n), n);
    }
    encoder.FlushBits();
    MemoryStream in(out.data);
    TOLMADecodeContext decoder(20);
    decoder.AttachSourceFile(&in);
    for (auto [value, n] : fields) ASSERT_EQ(decoder.ReadBits(n), value);
}

TEST(BitOutput, ShortWritesAreReported) {
    MemoryStream out;
    out.write_limit = 10;
    TOLMAEncodeContext encoder(8);
    encoder.AttachDestinationFile(&out);
    EXPECT_EQ(encoder.WriteBits(0, 32), 0);
    EXPECT_EQ(encoder.WriteBits(0, 32), 0) << "first buffer of 8 accepted";
    EXPECT_EQ(encoder.WriteBits(0, 32), 0);
    EXPECT_EQ(encoder.WriteBits(0, 32), 1) << "second buffer only partly";

    TOLMAEncodeContext code(16);
    MemoryStream small;
    small.write_limit = 16;
    code.AttachDestinationFile(&small);
    code.PrepareContextTreeEncoding(ContextTreeCopies);
    Bytes noise = RandomBytes(1000, 3);
    EXPECT_LT(code.EncodeContextTreeBytes(noise.data(), 1000), 1000u);
    EXPECT_EQ(code.FinishArithmeticEncoding(), 1);

    TOLMAEncodeContext nowhere(16);
    EXPECT_EQ(nowhere.WriteNextData(noise.data(), 4), 0u);
    EXPECT_EQ(nowhere.FlushBits(), 1);
}
