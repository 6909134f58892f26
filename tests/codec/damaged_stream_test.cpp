// Damaged and truncated streams must end decoding early and cleanly: never
// more units than asked, no out-of-bounds access (ASan on host), no hang.
#include <gtest/gtest.h>

#include <memory>

#include "codec_test_support.h"

namespace {

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

// Decodes into an exactly sized heap block, so that any overrun is caught;
// the decoder is re-prepared in place for every stream.
uint32_t DecodeDamaged(Codec codec, TOLMADecodeContext& decoder, const Bytes& stream, uint32_t count) {
    MemoryStream in(stream);
    decoder.AttachSourceFile(&in);
    decoder.ResetBitInput();
    std::unique_ptr<uint8_t[]> out(new uint8_t[count]);
    PrepareDecoder(codec, decoder);
    uint32_t got = DecodeSome(codec, decoder, out.get(), count);
    EXPECT_LE(got, count);
    if (got < count) {
        uint8_t more[64];
        EXPECT_LE(decoder.Decode(more, sizeof more), sizeof more) << "a later call ends as cleanly";
    }
    return got;
}

}  // namespace

TEST(DamagedStreams, TruncatedStreamsDecodeShort) {
    Bytes plain = Sample();
    for (Codec codec : kAllCodecs) {
        Bytes stream = EncodeWith(codec, plain);
        TOLMADecodeContext decoder(64);
        ASSERT_EQ(DecodeDamaged(codec, decoder, stream, static_cast<uint32_t>(plain.size())), plain.size());
        for (size_t cut = 0; cut < stream.size(); cut += stream.size() / 150 + 1) {
            uint32_t got = DecodeDamaged(codec, decoder, Bytes(stream.begin(), stream.begin() + cut),
                                         static_cast<uint32_t>(plain.size()));
            // The last two words may hold nothing but padding.
            if (cut + 8 < stream.size()) {
                EXPECT_LT(got, plain.size()) << static_cast<int>(codec) << " cut at " << cut;
            }
        }
    }
}

TEST(DamagedStreams, FlippedBitsAndNoiseNeverOverrun) {
    Bytes plain = Sample();
    uint32_t seed = 12345;
    for (Codec codec : kAllCodecs) {
        Bytes stream = EncodeWith(codec, plain);
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
