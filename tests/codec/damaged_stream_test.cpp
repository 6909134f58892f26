// Damaged and truncated streams must end decoding early and cleanly: never
// more units than asked, no out-of-bounds access (ASan on host), no hang.
#include <gtest/gtest.h>

#include <functional>

#include "codec_test_support.h"

namespace {

struct Codec {
    const char* name;
    std::function<Bytes(const Bytes&)> encode;
    // Prepares `decoder` on its source and decodes up to `count` bytes.
    std::function<uint32_t(TOLMADecodeContext&, uint8_t*, uint32_t)> decode;
};

Bytes Sample() {
    Bytes data = LoadMachineFile("/usr/share/common-licenses/GPL-3", 1500);
    if (data.empty()) data = RandomBytes(1500, 1);
    data.insert(data.end(), 300, 0);
    Bytes dll = LoadMachineFile("/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll", 1500);
    data.insert(data.end(), dll.begin(), dll.end());
    Bytes noise = RandomBytes(200, 2);
    data.insert(data.end(), noise.begin(), noise.end());
    return data;
}

Bytes EncodeWith(const std::function<void(TOLMAEncodeContext&)>& prepare, const Bytes& plain) {
    MemoryStream out;
    TOLMAEncodeContext encoder(1024);
    encoder.AttachDestinationFile(&out);
    prepare(encoder);
    encoder.Encode(plain.data(), static_cast<uint32_t>(plain.size()));
    encoder.Finish();
    return out.data;
}

std::vector<Codec> Codecs() {
    return {
        {"context tree", [](const Bytes& p) { return EncodeContextTree(p, 3); },
         [](TOLMADecodeContext& d, uint8_t* out, uint32_t n) {
             d.PrepareContextTreeDecoding();
             return d.DecodeContextTreeBytes(out, n);
         }},
        {"order-1", [](const Bytes& p) { return EncodeWith([](TOLMAEncodeContext& e) { e.PrepareOrder1Encoding(); }, p); },
         [](TOLMADecodeContext& d, uint8_t* out, uint32_t n) {
             d.PrepareOrder1Decoding();
             return d.DecodeOrder1Bytes(out, n);
         }},
        {"order-1 words",
         [](const Bytes& p) {
             std::vector<int16_t> words(p.size() / 2);
             for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8));
             MemoryStream out;
             TOLMAEncodeContext encoder(1024);
             encoder.AttachDestinationFile(&out);
             encoder.PrepareOrder1Encoding();
             encoder.EncodeOrder1Words(words.data(), static_cast<uint32_t>(words.size()));
             encoder.FinishArithmeticEncoding();
             return out.data;
         },
         [](TOLMADecodeContext& d, uint8_t* out, uint32_t n) {
             d.PrepareOrder1Decoding();
             return 2 * d.DecodeOrder1Words(reinterpret_cast<int16_t*>(out), n / 2);
         }},
        {"gamma runs", [](const Bytes& p) { return EncodeWith([](TOLMAEncodeContext& e) { e.PrepareGammaRunEncoding(); }, p); },
         [](TOLMADecodeContext& d, uint8_t* out, uint32_t n) {
             d.PrepareGammaRunDecoding();
             d.StartGammaRuns();
             return d.DecodeGammaRunBytes(out, n);
         }},
        {"huffman shared", [](const Bytes& p) { return EncodeWith([](TOLMAEncodeContext& e) { e.PrepareHuffmanEncoding(0); }, p); },
         [](TOLMADecodeContext& d, uint8_t* out, uint32_t n) {
             d.PrepareHuffmanDecoding(0);
             return d.DecodeHuffmanBytes(out, n);
         }},
        {"huffman per byte", [](const Bytes& p) { return EncodeWith([](TOLMAEncodeContext& e) { e.PrepareHuffmanEncoding(1); }, p); },
         [](TOLMADecodeContext& d, uint8_t* out, uint32_t n) {
             d.PrepareHuffmanDecoding(1);
             return d.DecodeHuffmanBytes(out, n);
         }},
        {"cipher", [](const Bytes& p) { return EncodeWith([](TOLMAEncodeContext& e) { e.PrepareShuffleEncryption("pw"); }, p); },
         [](TOLMADecodeContext& d, uint8_t* out, uint32_t n) {
             d.PrepareShuffleDecryption("pw");
             return d.DecryptShuffleBytes(out, n);
         }},
    };
}

// Decodes into an exactly sized heap block, so that any overrun is caught.
uint32_t DecodeDamaged(const Codec& codec, TOLMADecodeContext& decoder, const Bytes& stream, uint32_t count) {
    MemoryStream in(stream);
    decoder.AttachSourceFile(&in);
    decoder.ResetBitInput();
    std::unique_ptr<uint8_t[]> out(new uint8_t[count]);
    uint32_t got = codec.decode(decoder, out.get(), count);
    EXPECT_LE(got, count);
    // A second call on the same state must end as cleanly.
    if (got == count) return got;
    uint8_t more[64];
    EXPECT_LE(decoder.Decode(more, sizeof more), sizeof more);
    return got;
}

}  // namespace

TEST(DamagedStreams, TruncatedStreamsDecodeShort) {
    Bytes plain = Sample();
    for (const Codec& codec : Codecs()) {
        Bytes stream = codec.encode(plain);
        TOLMADecodeContext decoder(64);
        uint32_t whole = DecodeDamaged(codec, decoder, stream, static_cast<uint32_t>(plain.size()));
        ASSERT_EQ(whole, plain.size()) << codec.name;
        size_t step = stream.size() / 150 + 1;
        for (size_t cut = 0; cut < stream.size(); cut += step) {
            Bytes head(stream.begin(), stream.begin() + cut);
            uint32_t got = DecodeDamaged(codec, decoder, head, static_cast<uint32_t>(plain.size()));
            // The last two words may hold nothing but padding.
            if (cut + 8 < stream.size()) {
                EXPECT_LT(got, plain.size()) << codec.name << " cut at " << cut;
            }
        }
    }
}

TEST(DamagedStreams, FlippedBitsAndNoiseNeverOverrun) {
    Bytes plain = Sample();
    uint32_t seed = 12345;
    for (const Codec& codec : Codecs()) {
        Bytes stream = codec.encode(plain);
        TOLMADecodeContext decoder(256);
        for (int trial = 0; trial < 250; ++trial) {
            Bytes damaged = stream;
            for (uint32_t flips = 1 + NextRandom(seed) % 4; flips > 0; --flips) {
                uint32_t bit = NextRandom(seed) % (damaged.size() * 8);
                damaged[bit / 8] ^= static_cast<uint8_t>(1 << (bit % 8));
            }
            DecodeDamaged(codec, decoder, damaged, static_cast<uint32_t>(plain.size()) + 64);
        }
        for (int trial = 0; trial < 60; ++trial) {
            Bytes noise = RandomBytes(NextRandom(seed) % 3000, NextRandom(seed));
            DecodeDamaged(codec, decoder, noise, 1 + NextRandom(seed) % 20000);
        }
    }
}
