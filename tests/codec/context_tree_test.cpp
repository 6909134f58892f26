#include <gtest/gtest.h>

#include "codec/symbol_model.h"
#include "codec_test_support.h"

TEST(ContextTree, StreamsInPiecesOfAnySize) {
    Bytes text = LoadMachineFile("/usr/share/common-licenses/GPL-3", 30000);
    if (text.empty()) text = RandomBytes(30000, 1);
    // Commands never reach past the bytes of one call, so smaller calls give
    // another stream, which still decodes in pieces of any size.
    Bytes whole = EncodeWith(Codec::ContextTree, text);
    Bytes pieces = EncodeWith(Codec::ContextTree, text, 1000);
    EXPECT_NE(whole, pieces);
    for (size_t chunk : {1u, 7u, 4096u}) {
        EXPECT_EQ(DecodeWith(Codec::ContextTree, whole, text.size(), chunk), text) << chunk;
        EXPECT_EQ(DecodeWith(Codec::ContextTree, pieces, text.size(), chunk), text) << chunk;
    }
}

TEST(ContextTree, FillsTheModelPoolAndGoesOn) {
    Bytes data = LoadMachineFile("/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll", 400000);
    if (data.size() < 400000) data = RandomBytes(400000, 11);
    for (size_t i = 0; i < data.size(); i += 3) data[i] ^= static_cast<uint8_t>(i >> 7);
    MemoryStream out;
    TOLMAEncodeContext encoder(16384);
    encoder.AttachDestinationFile(&out);
    encoder.PrepareContextTreeEncoding(ContextTreeCopies);
    EXPECT_EQ(encoder.EncodeContextTreeBytes(data.data(), static_cast<uint32_t>(data.size())), data.size());
    EXPECT_EQ(encoder.GetContextTree()->models_used, kPoolModels);
    encoder.FinishArithmeticEncoding();
    EXPECT_EQ(DecodeWith(Codec::ContextTreeCopies, out.data, data.size()), data);
}

TEST(ContextTree, EndCodeStopsDecodingForGood) {
    Bytes data = RandomBytes(300, 2);
    data.insert(data.end(), 300, 'x');
    MemoryStream out;
    TOLMAEncodeContext encoder(64);
    encoder.AttachDestinationFile(&out);
    encoder.PrepareContextTreeEncoding(ContextTreeCopies | ContextTreeRepeats);
    encoder.EncodeContextTreeBytes(data.data(), static_cast<uint32_t>(data.size()));
    EXPECT_EQ(encoder.WriteEndCode(), 0);
    EXPECT_EQ(encoder.FinishArithmeticEncoding(), 0);
    out.data.insert(out.data.end(), 64, 0xA5);

    MemoryStream in(out.data);
    TOLMADecodeContext decoder(16);
    decoder.AttachSourceFile(&in);
    decoder.PrepareContextTreeDecoding();
    Bytes plain(data.size() + 10);
    EXPECT_EQ(decoder.DecodeContextTreeBytes(plain.data(), static_cast<uint32_t>(plain.size())), data.size());
    plain.resize(data.size());
    EXPECT_EQ(plain, data);
    EXPECT_TRUE(decoder.IsEndOfStream());
    uint32_t reads = in.reads;
    EXPECT_EQ(decoder.DecodeContextTreeBytes(plain.data(), 1), 0u);
    EXPECT_EQ(in.reads, reads) << "nothing more is read";
}

TEST(ContextTree, ThroughTheCipherAndBack) {
    for (const CorpusItem& item : MakeCorpus()) {
        for (const char* password : {static_cast<const char*>(nullptr), "\x83\x70\x83\x58", "a much longer password, 40 bytes long!!"}) {
            if (password != nullptr && item.data.size() > 40000) continue;
            MemoryStream file;
            TOLMAEncodeContext cipher(16384), code(16384);
            cipher.AttachDestinationFile(&file);
            ASSERT_EQ(cipher.PrepareShuffleEncryption(password), ResultSuccess);
            code.AttachDestinationContext(&cipher);
            ASSERT_EQ(code.PrepareContextTreeEncoding(ContextTreeCopies), ResultSuccess);
            EXPECT_EQ(code.Encode(item.data.data(), static_cast<uint32_t>(item.data.size())), item.data.size());
            EXPECT_EQ(code.Finish(), 0);
            EXPECT_EQ(cipher.Finish(), 0);
            EXPECT_EQ(file.data.size() % 32, 0u);

            MemoryStream in(file.data);
            TOLMADecodeContext decipher(65536), decode(65536);
            decipher.AttachSourceFile(&in);
            decipher.PrepareShuffleDecryption(password);
            decode.AttachSourceContext(&decipher);
            decode.PrepareContextTreeDecoding();
            Bytes plain(item.data.size());
            EXPECT_EQ(decode.Decode(plain.data(), static_cast<uint32_t>(plain.size())), plain.size());
            EXPECT_EQ(plain, item.data) << item.name;
        }
    }
}

namespace {

// Words, zero runs, a long run of one byte, noise, and phrases repeated more
// than 64 KiB apart: every kind of copy candidate, over several wraps of the
// history.
Bytes CandidateMix() {
    uint32_t seed = 17;
    std::vector<Bytes> words;
    for (int i = 0; i < 48; ++i) {
        Bytes w(2 + NextRandom(seed) % 11);
        for (uint8_t& b : w) b = static_cast<uint8_t>(i < 32 ? 'a' + NextRandom(seed) % 12 : NextRandom(seed));
        words.push_back(w);
    }
    Bytes far = RandomBytes(400, 23);
    Bytes out;
    while (out.size() < 300000) {
        uint32_t pick = NextRandom(seed) % 100;
        if (pick < 80) {
            const Bytes& w = words[(NextRandom(seed) % 48) * (NextRandom(seed) % 48) / 48];
            out.insert(out.end(), w.begin(), w.end());
        } else if (pick < 90) {
            out.insert(out.end(), 1 + NextRandom(seed) % 40, 0);
        } else if (pick < 97) {
            Bytes noise = RandomBytes(1 + NextRandom(seed) % 30, seed);
            out.insert(out.end(), noise.begin(), noise.end());
        } else if (pick < 98) {
            out.insert(out.end(), 300 + NextRandom(seed) % 300, ' ');
        } else if (pick < 99 && out.size() % 3 == 0) {
            out.insert(out.end(), far.begin(), far.end());
        }
    }
    return out;
}

uint64_t Fnv1a(const Bytes& bytes) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001B3ull;
    return h;
}

}  // namespace

// The coder's choices are part of the format as others reproduce it: a faster
// search must make the same ones. The hashes pin today's streams.
TEST(ContextTree, CodedBytesStayAsTheyWere) {
    const Bytes data = CandidateMix();
    const struct {
        Codec codec;
        size_t chunk;
        uint64_t hash;
    } cases[] = {
        {Codec::ContextTreeCopies, 0, 0xca848ecf80b28818ull},
        {Codec::ContextTree, 777, 0x8ce659fa2ee8efb1ull},
        {Codec::ContextTreeLiterals, 5000, 0x791f6a27c7f2bc58ull},
    };
    for (const auto& c : cases) {
        Bytes coded = EncodeWith(c.codec, data, c.chunk);
        EXPECT_EQ(Fnv1a(coded), c.hash) << std::hex << Fnv1a(coded);
        EXPECT_EQ(DecodeWith(c.codec, coded, data.size()), data);
    }
}
