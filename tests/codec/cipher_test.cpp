#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "codec/bshf_buffer.h"
#include "codec_test_support.h"

namespace {

Bytes Decipher(const Bytes& coded, const char* password, size_t count, uint32_t read_limit = 0xFFFFFFFFu) {
    MemoryStream in(coded);
    in.read_limit = read_limit;
    TOLMADecodeContext decoder(65536);
    decoder.AttachSourceFile(&in);
    decoder.PrepareShuffleDecryption(password);
    Bytes plain(count);
    plain.resize(decoder.DecryptShuffleBytes(plain.data(), static_cast<uint32_t>(count)));
    return plain;
}

// The permutation rule done the slow, obvious way, one bit at a time: output
// bit i of a block is input bit P(i).
Bytes ReferenceShuffle(const Bytes& block, const uint8_t* key, uint32_t length, uint32_t offset) {
    auto bit = [](const uint8_t* b, uint32_t p) { return (b[p / 8] >> (7 - p % 8)) & 1; };
    uint8_t taken[32] = {};
    Bytes out(32, 0);
    uint32_t s = 0, j = offset;
    for (uint32_t i = 0; i < 256; ++i) {
        s = (s + key[j]) % 256;
        j = (j + 1) % length;
        while (taken[s / 8] == 0xFF) s = (s + 8) % 256;
        while (bit(taken, s)) s = s % 8 != 7 ? s + 1 : (s + 9) % 256;
        taken[s / 8] |= static_cast<uint8_t>(0x80 >> (s % 8));
        if (bit(block.data(), s)) out[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    }
    return out;
}

}  // namespace

TEST(ShuffleBlock, FollowsTheRuleForShortLongAndVeryLongKeys) {
    // The last key is too long for the table of permutations and takes the
    // block-by-block path.
    for (uint32_t length : {1u, 40u, 5000u}) {
        Bytes password = RandomBytes(length, length);
        TLMBshfBuffer cipher;
        ASSERT_TRUE(cipher.SetPassword(reinterpret_cast<const char*>(password.data()), length));
        for (uint32_t block = 0; block < 70; ++block) {
            Bytes input = RandomBytes(32, block + 100);
            Bytes expected =
                ReferenceShuffle(input, cipher.GetKey(), cipher.GetKeyLength(), block % cipher.GetKeyLength());
            std::memcpy(cipher.input_block, input.data(), 32);
            cipher.ShuffleBlock();
            ASSERT_EQ(Bytes(cipher.output_block, cipher.output_block + 32), expected) << length << " " << block;
        }
    }
}

TEST(ShuffleKey, OneBytePasswordIsExpandedTo32) {
    TLMBshfBuffer cipher;
    ASSERT_TRUE(cipher.SetPassword("p", 1));
    ASSERT_EQ(cipher.GetKeyLength(), 32u);
    const uint8_t* key = cipher.GetKey();
    EXPECT_EQ(key[0], 'p');
    EXPECT_EQ(key[1], 0x1B);
    for (uint32_t i = 2; i < 32; ++i) EXPECT_EQ(key[i], uint8_t(key[i - 1] + key[i % 2])) << i;
    EXPECT_EQ(key[2], uint8_t(0x1B + 'p'));
}

TEST(ShuffleKey, LongPasswordsAreUsedWhole) {
    const char* p32 = "0123456789abcdefghijklmnopqrstuv";
    const char* p40 = "0123456789abcdefghijklmnopqrstuvwxyz!#$%";
    TLMBshfBuffer a, b;
    a.SetPassword(p32, 32);
    b.SetPassword(p40, 40);
    EXPECT_EQ(a.GetKeyLength(), 32u);
    EXPECT_EQ(std::memcmp(a.GetKey(), p32, 32), 0);
    EXPECT_EQ(b.GetKeyLength(), 40u);
    for (int32_t n = 1; n <= 80; ++n) {
        a.ShuffleBlock();
        b.ShuffleBlock();
        EXPECT_EQ(a.GetKeyOffset(), n % 32);
        EXPECT_EQ(b.GetKeyOffset(), n % 40);
    }
}

TEST(ShuffleKey, AbsentAndEmptyPasswordsShareTheDefault) {
    TLMBshfBuffer none, empty;
    none.SetPassword(nullptr, 0);
    empty.SetPassword("", 0);
    ASSERT_EQ(none.GetKeyLength(), 32u);
    EXPECT_EQ(std::memcmp(none.GetKey(), empty.GetKey(), 32), 0);
    Bytes plain = RandomBytes(100, 4);
    EXPECT_EQ(EncodeWith(Codec::Cipher, plain, 0, 64, nullptr), EncodeWith(Codec::Cipher, plain, 0, 64, ""));
    EXPECT_NE(EncodeWith(Codec::Cipher, plain, 0, 64, nullptr), EncodeWith(Codec::Cipher, plain, 0, 64, "other"));
}

TEST(ShuffleBlock, IsABitPermutationThatUnshuffleInverts) {
    const char kKey[] = "\x82\xa0\x82\xa2";  // non-ASCII bytes are key bytes too
    std::set<int> targets;
    for (int bit = 0; bit < 256; ++bit) {
        TLMBshfBuffer single;
        single.SetPassword(kKey, 4);
        std::memset(single.input_block, 0, 32);
        single.input_block[bit >> 3] = static_cast<uint8_t>(0x80 >> (bit & 7));
        single.UnshuffleBlock();
        for (int i = 0; i < 256; ++i) {
            if (single.output_block[i >> 3] & (0x80 >> (i & 7))) targets.insert(i);
        }
    }
    EXPECT_EQ(targets.size(), 256u);

    TLMBshfBuffer shuffle, unshuffle;
    shuffle.SetPassword(kKey, 4);
    unshuffle.SetPassword(kKey, 4);
    for (uint32_t block = 0; block < 40; ++block) {
        Bytes input = RandomBytes(32, block);
        std::memcpy(shuffle.input_block, input.data(), 32);
        shuffle.ShuffleBlock();
        EXPECT_NE(Bytes(shuffle.output_block, shuffle.output_block + 32), input);
        std::memcpy(unshuffle.input_block, shuffle.output_block, 32);
        unshuffle.UnshuffleBlock();
        ASSERT_EQ(Bytes(unshuffle.output_block, unshuffle.output_block + 32), input) << block;
    }
}

TEST(ShuffleBlock, UniformBlocksStayUniformAndOffsetsRepeat) {
    TLMBshfBuffer cipher;
    cipher.SetPassword("key", 3);
    for (uint8_t fill : {0x00, 0xFF}) {
        std::memset(cipher.input_block, fill, 32);
        cipher.ShuffleBlock();
        for (uint8_t byte : cipher.output_block) EXPECT_EQ(byte, fill);
    }
    // Block n uses key offset n mod 32: the 33rd repeats the first.
    TLMBshfBuffer walk;
    walk.SetPassword("key", 3);
    Bytes input = RandomBytes(32, 8);
    std::vector<Bytes> outputs;
    for (int n = 0; n < 33; ++n) {
        std::memcpy(walk.input_block, input.data(), 32);
        walk.ShuffleBlock();
        outputs.emplace_back(walk.output_block, walk.output_block + 32);
    }
    EXPECT_EQ(outputs[32], outputs[0]);
    EXPECT_NE(outputs[1], outputs[0]);
}

TEST(ShuffleStream, RoundTripsWholeAndPartialBlocks) {
    for (size_t n : {0u, 1u, 31u, 32u, 33u, 1000u, 20000u}) {
        Bytes plain = RandomBytes(n, static_cast<uint32_t>(n));
        Bytes coded = EncodeWith(Codec::Cipher, plain, 0, 100, "secret");
        EXPECT_EQ(coded.size(), (n + 31) / 32 * 32);
        EXPECT_EQ(Decipher(coded, "secret", n, 7), plain) << n;
        // The padding of the last block deciphers to zeros.
        Bytes padded = Decipher(coded, "secret", coded.size());
        EXPECT_TRUE(std::all_of(padded.begin() + n, padded.end(), [](uint8_t b) { return b == 0; }));
    }
}

TEST(ShuffleStream, IncompleteBlocksYieldNothing) {
    Bytes coded = EncodeWith(Codec::Cipher, RandomBytes(64, 2));
    EXPECT_TRUE(Decipher(Bytes(coded.begin(), coded.begin() + 31), "pw", 10).empty());
    EXPECT_EQ(Decipher(Bytes(coded.begin(), coded.begin() + 63), "pw", 64).size(), 32u);
}

TEST(ShuffleStream, ShortWritesReportTheBytesTaken) {
    MemoryStream out;
    out.write_limit = 40;
    TOLMAEncodeContext encoder(32);
    encoder.AttachDestinationFile(&out);
    encoder.PrepareShuffleEncryption("pw");
    Bytes plain = RandomBytes(200, 1);
    uint32_t taken = encoder.EncryptShuffleBytes(plain.data(), 200);
    EXPECT_LT(taken, 200u);
    EXPECT_GE(taken, 32u);
    EXPECT_EQ(encoder.EncryptShuffleBytes(plain.data(), 10), 0u);
}
