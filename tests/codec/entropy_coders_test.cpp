#include <gtest/gtest.h>

#include "codec_test_support.h"
#include "core/hvb.h"

namespace {

// What a codec gives back: Order1Words codes whole words only.
Bytes Expected(Codec codec, const Bytes& plain) {
    return codec == Codec::Order1Words ? Bytes(plain.begin(), plain.begin() + (plain.size() & ~size_t(1))) : plain;
}

}  // namespace

TEST(EntropyCoders, EveryCodecRoundTripsTheCorpus) {
    for (Codec codec : kAllCodecs) {
        for (const CorpusItem& item : MakeCorpus()) {
            Bytes expected = Expected(codec, item.data);
            Bytes coded = EncodeWith(codec, item.data);
            EXPECT_EQ(DecodeWith(codec, coded, expected.size()), expected)
                << item.name << " codec " << static_cast<int>(codec);
        }
    }
}

TEST(EntropyCoders, PiecewiseCallsRoundTrip) {
    Bytes data = LoadMachineFile("/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll", 30000);
    if (data.empty()) data = RandomBytes(30000, 6);
    for (Codec codec : kAllCodecs) {
        size_t read_chunk = codec == Codec::GammaRun ? 778 : 14;
        Bytes coded = EncodeWith(codec, data, 778, 100);
        EXPECT_EQ(DecodeWith(codec, coded, data.size(), read_chunk), data) << static_cast<int>(codec);
    }
}

// Words leave the buffer whole, whatever its size: a buffer of one word is
// handed on after every word, in the middle of a symbol's bits.
TEST(EntropyCoders, TheBufferSizeChangesNoByte) {
    Bytes data = LoadMachineFile("/usr/share/common-licenses/GPL-3", 20000);
    if (data.empty()) data = RandomBytes(20000, 8);
    for (Codec codec : kAllCodecs) {
        const Bytes reference = EncodeWith(codec, data);
        for (uint32_t buffer : {4u, 12u, 100u}) {
            EXPECT_EQ(EncodeWith(codec, data, 0, buffer), reference) << static_cast<int>(codec) << " " << buffer;
        }
    }
}

TEST(EntropyCoders, Order1WordsEscapeWideValues) {
    Bytes data;
    for (int w : {-128, 127, 128, -129, -32768, 32767, 0, 0, 0, 5, -5}) {
        data.push_back(static_cast<uint8_t>(w));
        data.push_back(static_cast<uint8_t>(w >> 8));
    }
    data.insert(data.end(), 1000, 0);
    EXPECT_EQ(DecodeWith(Codec::Order1Words, EncodeWith(Codec::Order1Words, data), data.size(), 6), data);
}

TEST(EntropyCoders, HuffmanTreesRebuildAndFreeze) {
    // Long skewed input drives per-byte trees past their rebuild weight and
    // the shared tree to its frozen weight, where new symbols still arrive.
    Bytes data;
    uint32_t seed = 17;
    for (int i = 0; i < 60000; ++i) data.push_back(static_cast<uint8_t>(1 + (NextRandom(seed) % 97) % 5));
    for (int i = 0; i < 256; ++i) data.push_back(static_cast<uint8_t>(i));
    data.insert(data.end(), 5000, 0);
    for (Codec codec : {Codec::HuffmanShared, Codec::HuffmanPerByte}) {
        Bytes coded = EncodeWith(codec, data);
        EXPECT_LT(coded.size(), data.size() / 2) << static_cast<int>(codec);
        EXPECT_EQ(DecodeWith(codec, coded, data.size()), data) << static_cast<int>(codec);
    }
}

TEST(EntropyCoders, GammaRunWideStoresMatchThePlainPath) {
    Bytes data;
    uint32_t seed = 21;
    while (data.size() < 64 * 1024) {
        data.insert(data.end(), NextRandom(seed) % 300, 0);
        for (uint32_t n = NextRandom(seed) % 40; n > 0; --n) data.push_back(static_cast<uint8_t>(NextRandom(seed)));
    }
    data.resize(64 * 1024);
    Bytes coded = EncodeWith(Codec::GammaRun, data);
    // Aligned whole blocks take the wide stores when SSE is enabled.
    uint32_t types = zmrGetEnabledProcessorType();
    alignas(16) static uint8_t wide[64 * 1024];
    for (bool sse : {true, false}) {
        if (sse && !(types & ZMR_PROCESSOR_SSE)) continue;  // a processor without it
        if (sse) {
            zmrEnableProcessorType(ZMR_PROCESSOR_SSE);
        } else {
            zmrDisableProcessorType(ZMR_PROCESSOR_SSE);
        }
        MemoryStream in(coded);
        TOLMADecodeContext decoder(4096);
        decoder.AttachSourceFile(&in);
        decoder.PrepareGammaRunDecoding();
        decoder.StartGammaRuns();
        for (size_t done = 0; done < data.size(); done += 1024) {
            ASSERT_EQ(decoder.DecodeGammaRunBytes(wide + done, 1024), 1024u);
        }
        EXPECT_EQ(Bytes(wide, wide + sizeof wide), data) << "sse " << sse;
    }
    zmrDisableProcessorType(ZMR_PROCESSOR_SSE);
    zmrEnableProcessorType(types);
}
