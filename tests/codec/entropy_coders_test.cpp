#include <gtest/gtest.h>

#include "codec_test_support.h"
#include "core/hvb.h"

namespace {

enum class Family { Order1, GammaRun, HuffmanShared, HuffmanPerByte };

Bytes EncodeFamily(Family family, const Bytes& plain, size_t chunk = 0) {
    MemoryStream out;
    TOLMAEncodeContext encoder(4096);
    encoder.AttachDestinationFile(&out);
    switch (family) {
        case Family::Order1: encoder.PrepareOrder1Encoding(); break;
        case Family::GammaRun: encoder.PrepareGammaRunEncoding(); break;
        case Family::HuffmanShared: encoder.PrepareHuffmanEncoding(0); break;
        case Family::HuffmanPerByte: encoder.PrepareHuffmanEncoding(1); break;
    }
    size_t done = 0;
    while (done < plain.size()) {
        size_t n = chunk == 0 ? plain.size() - done : std::min(chunk, plain.size() - done);
        EXPECT_EQ(encoder.Encode(plain.data() + done, static_cast<uint32_t>(n)), n);
        done += n;
    }
    EXPECT_EQ(encoder.Finish(), 0);
    return out.data;
}

// Gamma-run streams restart their runs per encode call, so they are read
// back call by call.
Bytes DecodeFamily(Family family, const Bytes& coded, size_t count, size_t chunk = 0) {
    MemoryStream in(coded);
    TOLMADecodeContext decoder(4096);
    decoder.AttachSourceFile(&in);
    switch (family) {
        case Family::Order1: decoder.PrepareOrder1Decoding(); break;
        case Family::GammaRun: decoder.PrepareGammaRunDecoding(); break;
        case Family::HuffmanShared: decoder.PrepareHuffmanDecoding(0); break;
        case Family::HuffmanPerByte: decoder.PrepareHuffmanDecoding(1); break;
    }
    Bytes plain(count);
    size_t done = 0;
    while (done < count) {
        size_t n = chunk == 0 ? count - done : std::min(chunk, count - done);
        if (family == Family::GammaRun) decoder.StartGammaRuns();
        uint32_t got = decoder.Decode(plain.data() + done, static_cast<uint32_t>(n));
        done += got;
        if (got < n) break;
    }
    plain.resize(done);
    return plain;
}

}  // namespace

TEST(EntropyCoders, EveryFamilyRoundTripsTheCorpus) {
    for (Family family : {Family::Order1, Family::GammaRun, Family::HuffmanShared, Family::HuffmanPerByte}) {
        for (const CorpusItem& item : MakeCorpus()) {
            Bytes coded = EncodeFamily(family, item.data);
            EXPECT_EQ(DecodeFamily(family, coded, item.data.size()), item.data)
                << item.name << " family " << static_cast<int>(family);
        }
    }
}

TEST(EntropyCoders, PiecewiseCallsRoundTrip) {
    Bytes data = LoadMachineFile("/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll", 30000);
    if (data.empty()) data = RandomBytes(30000, 6);
    for (Family family : {Family::Order1, Family::HuffmanShared, Family::HuffmanPerByte}) {
        Bytes coded = EncodeFamily(family, data, 777);
        EXPECT_EQ(DecodeFamily(family, coded, data.size(), 13), data) << static_cast<int>(family);
    }
    Bytes coded = EncodeFamily(Family::GammaRun, data, 512);
    EXPECT_EQ(DecodeFamily(Family::GammaRun, coded, data.size(), 512), data);
}

TEST(EntropyCoders, HuffmanTreesRebuildAndFreeze) {
    // Long skewed input drives per-byte trees past their rebuild weight and
    // the shared tree to its frozen weight, where new symbols still arrive.
    Bytes data;
    uint32_t seed = 17;
    for (int i = 0; i < 60000; ++i) data.push_back(static_cast<uint8_t>(1 + (NextRandom(seed) % 97) % 5));
    for (int i = 0; i < 256; ++i) data.push_back(static_cast<uint8_t>(i));
    data.insert(data.end(), 5000, 0);
    for (Family family : {Family::HuffmanShared, Family::HuffmanPerByte}) {
        Bytes coded = EncodeFamily(family, data);
        EXPECT_LT(coded.size(), data.size() / 2) << static_cast<int>(family);
        EXPECT_EQ(DecodeFamily(family, coded, data.size()), data) << static_cast<int>(family);
    }
}

TEST(EntropyCoders, Order1WordsRoundTrip) {
    std::vector<int16_t> words;
    uint32_t seed = 9;
    for (int i = 0; i < 20000; ++i) {
        uint32_t r = NextRandom(seed);
        int16_t w = (r % 4 == 0) ? 0 : (r % 4 == 1) ? static_cast<int16_t>(r >> 16) : static_cast<int16_t>(int8_t(r >> 8));
        words.push_back(w);
        if (r % 50 == 0) words.insert(words.end(), r % 700, 0);
    }
    words.push_back(-128);
    words.push_back(127);
    words.push_back(128);
    words.push_back(-129);
    words.push_back(-32768);
    MemoryStream out;
    TOLMAEncodeContext encoder(4096);
    encoder.AttachDestinationFile(&out);
    encoder.PrepareOrder1Encoding();
    EXPECT_EQ(encoder.EncodeOrder1Words(words.data(), static_cast<uint32_t>(words.size())), words.size());
    encoder.FinishArithmeticEncoding();

    MemoryStream in(out.data);
    TOLMADecodeContext decoder(4096);
    decoder.AttachSourceFile(&in);
    decoder.PrepareOrder1Decoding();
    std::vector<int16_t> back(words.size());
    size_t done = 0;
    while (done < back.size()) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(333, back.size() - done));
        ASSERT_EQ(decoder.DecodeOrder1Words(back.data() + done, n), n);
        done += n;
    }
    EXPECT_EQ(back, words);
}

TEST(EntropyCoders, GammaRunWideStoresMatchThePlainPath) {
    Bytes data;
    uint32_t seed = 21;
    while (data.size() < 64 * 1024) {
        data.insert(data.end(), NextRandom(seed) % 300, 0);
        for (uint32_t n = NextRandom(seed) % 40; n > 0; --n) data.push_back(static_cast<uint8_t>(NextRandom(seed)));
    }
    data.resize(64 * 1024);
    Bytes coded = EncodeFamily(Family::GammaRun, data);
    uint32_t types = zmrGetEnabledProcessorType();
    alignas(16) static uint8_t wide[64 * 1024];
    for (bool sse : {true, false}) {
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
