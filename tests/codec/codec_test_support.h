// Test-only file object over a byte vector, machine files for corpora, and
// one-call coding helpers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "codec/decode_context.h"
#include "codec/encode_context.h"
#include "file/file_object.h"

using Bytes = std::vector<uint8_t>;

class MemoryStream : public HVBFileObject {
    HVB_DECLARE_CLASS(MemoryStream, HVBFileObject)

public:
    MemoryStream() = default;
    explicit MemoryStream(Bytes data) : data(std::move(data)) {}

    HVBFileObject* Duplicate() override { return nullptr; }
    uint32_t Read(void* buffer, uint32_t count) override {
        ++reads;
        uint32_t n = static_cast<uint32_t>(data.size()) - position;
        if (n > count) n = count;
        if (n > read_limit) n = read_limit;
        std::copy(data.begin() + position, data.begin() + position + n, static_cast<uint8_t*>(buffer));
        position += n;
        return n;
    }
    uint32_t Write(const void* buffer, uint32_t count) override {
        uint32_t n = count;
        if (data.size() + n > write_limit) n = write_limit - static_cast<uint32_t>(data.size());
        const uint8_t* p = static_cast<const uint8_t*>(buffer);
        data.insert(data.end(), p, p + n);
        write_sizes.push_back(count);
        return n;
    }
    uint32_t GetLength() override { return static_cast<uint32_t>(data.size()); }
    uint32_t Seek(int32_t distance, uint32_t origin) override {
        int64_t base = origin == FromBegin ? 0 : origin == FromCurrent ? position : int64_t(data.size());
        position = static_cast<uint32_t>(base + distance);
        return position;
    }
    uint32_t GetPosition() override { return position; }

    Bytes data;
    uint32_t position = 0;
    uint32_t read_limit = 0xFFFFFFFFu;
    uint32_t write_limit = 0xFFFFFFFFu;
    uint32_t reads = 0;
    std::vector<uint32_t> write_sizes;
};

// Up to max_bytes of a file of the machine, or nothing when it is absent.
// Host paths are given in POSIX form; under Wine they are reached through Z:.
inline Bytes LoadMachineFile(const char* path, size_t max_bytes) {
#if defined(_WIN32)
    std::string name = std::string("Z:") + path;
#else
    std::string name = path;
#endif
    Bytes bytes;
    FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) return bytes;
    bytes.resize(max_bytes);
    bytes.resize(std::fread(bytes.data(), 1, max_bytes, file));
    std::fclose(file);
    return bytes;
}

// Deterministic pseudo-random bytes.
inline Bytes RandomBytes(size_t n, uint32_t seed) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>(seed >> 16);
    }
    return bytes;
}

inline uint32_t NextRandom(uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
}

struct CorpusItem {
    std::string name;
    Bytes data;
};

inline Bytes ShiftJisText() {
    // Literals are compiled to CP932, so this is Shift-JIS text.
    static const char* const kLines[] = {
        "ファイルの修復を開始します。しばらくお待ちください。\r\n",
        "インストール先のフォルダが見つかりませんでした。\r\n",
        "体験版のセットアッププログラムを確認しています……\r\n",
        "表示・予定・能力・ソフト・十分（全角の２バイト目が＼になる文字）\r\n",
    };
    std::string text;
    uint32_t seed = 7;
    for (int i = 0; i < 400; ++i) text += kLines[NextRandom(seed) % 4];
    return Bytes(text.begin(), text.end());
}

// Empty, tiny, runs, text in both encodings, machine binaries, noise, and
// more than the 64 KiB history.
inline std::vector<CorpusItem> MakeCorpus() {
    std::vector<CorpusItem> corpus;
    corpus.push_back({"empty", {}});
    for (uint8_t n = 1; n <= 5; ++n) corpus.push_back({"tiny" + std::to_string(n), RandomBytes(n, n)});
    corpus.push_back({"zeros", Bytes(20000, 0)});
    Bytes runs;
    uint32_t seed = 3;
    while (runs.size() < 30000) runs.insert(runs.end(), 1 + NextRandom(seed) % 600, uint8_t(NextRandom(seed) % 4));
    corpus.push_back({"runs", runs});
    corpus.push_back({"sjis", ShiftJisText()});
    Bytes ascii = LoadMachineFile("/usr/share/common-licenses/GPL-3", 40000);
    if (!ascii.empty()) corpus.push_back({"ascii", ascii});
    Bytes dll = LoadMachineFile("/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll", 200000);
    if (!dll.empty()) corpus.push_back({"dll", dll});
    corpus.push_back({"random", RandomBytes(20000, 99)});
    // Text followed by a repeat of itself more than 64 KiB later, so that
    // history positions wrap.
    Bytes wrap = LoadMachineFile("/usr/share/vim/vim90/doc/version7.txt", 70000);
    if (wrap.size() < 70000) wrap = RandomBytes(70000, 5);
    Bytes head(wrap.begin(), wrap.begin() + 3000);
    wrap.insert(wrap.end(), head.begin(), head.end());
    corpus.push_back({"wrap", wrap});
    return corpus;
}

enum class Codec {
    ContextTreeLiterals,
    ContextTreeCopies,
    ContextTree,
    Order1,
    Order1Words,
    GammaRun,
    HuffmanShared,
    HuffmanPerByte,
    Cipher,
};
inline constexpr Codec kAllCodecs[] = {Codec::ContextTreeLiterals, Codec::ContextTreeCopies, Codec::ContextTree,
                                       Codec::Order1,              Codec::Order1Words,       Codec::GammaRun,
                                       Codec::HuffmanShared,       Codec::HuffmanPerByte,    Codec::Cipher};

inline void PrepareEncoder(Codec codec, TOLMAEncodeContext& encoder, const char* password = "pw") {
    switch (codec) {
        case Codec::ContextTreeLiterals: encoder.PrepareContextTreeEncoding(0); break;
        case Codec::ContextTreeCopies: encoder.PrepareContextTreeEncoding(ContextTreeCopies); break;
        case Codec::ContextTree: encoder.PrepareContextTreeEncoding(ContextTreeCopies | ContextTreeRepeats); break;
        case Codec::Order1:
        case Codec::Order1Words: encoder.PrepareOrder1Encoding(); break;
        case Codec::GammaRun: encoder.PrepareGammaRunEncoding(); break;
        case Codec::HuffmanShared: encoder.PrepareHuffmanEncoding(0); break;
        case Codec::HuffmanPerByte: encoder.PrepareHuffmanEncoding(1); break;
        case Codec::Cipher: encoder.PrepareShuffleEncryption(password); break;
    }
}

// A run sequence of the gamma-run coder spans one call, so its streams are
// read back in calls of the size they were written in.
inline void PrepareDecoder(Codec codec, TOLMADecodeContext& decoder, const char* password = "pw") {
    switch (codec) {
        case Codec::ContextTreeLiterals:
        case Codec::ContextTreeCopies:
        case Codec::ContextTree: decoder.PrepareContextTreeDecoding(); break;
        case Codec::Order1:
        case Codec::Order1Words: decoder.PrepareOrder1Decoding(); break;
        case Codec::GammaRun: decoder.PrepareGammaRunDecoding(); break;
        case Codec::HuffmanShared: decoder.PrepareHuffmanDecoding(0); break;
        case Codec::HuffmanPerByte: decoder.PrepareHuffmanDecoding(1); break;
        case Codec::Cipher: decoder.PrepareShuffleDecryption(password); break;
    }
}

// Order1Words codes the bytes as little-endian words and counts in bytes.
inline uint32_t EncodeSome(Codec codec, TOLMAEncodeContext& encoder, const uint8_t* data, uint32_t n) {
    if (codec != Codec::Order1Words) return encoder.Encode(data, n);
    std::vector<int16_t> words(n / 2);
    for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<int16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return 2 * encoder.EncodeOrder1Words(words.data(), static_cast<uint32_t>(words.size()));
}

inline uint32_t DecodeSome(Codec codec, TOLMADecodeContext& decoder, uint8_t* out, uint32_t n) {
    if (codec == Codec::GammaRun) decoder.StartGammaRuns();
    if (codec != Codec::Order1Words) return decoder.Decode(out, n);
    return 2 * decoder.DecodeOrder1Words(reinterpret_cast<int16_t*>(out), n / 2);
}

// In calls of `chunk` bytes (0: one call); words codecs take whole words.
inline Bytes EncodeWith(Codec codec, const Bytes& plain, size_t chunk = 0, uint32_t buffer = 16384,
                        const char* password = "pw") {
    MemoryStream out;
    TOLMAEncodeContext encoder(buffer);
    encoder.AttachDestinationFile(&out);
    PrepareEncoder(codec, encoder, password);
    size_t even = codec == Codec::Order1Words ? 2 : 1;
    for (size_t done = 0; done + even <= plain.size();) {
        size_t n = chunk == 0 ? plain.size() - done : std::min(chunk, plain.size() - done);
        n -= n % even;
        EXPECT_EQ(EncodeSome(codec, encoder, plain.data() + done, static_cast<uint32_t>(n)), n);
        done += n;
    }
    EXPECT_EQ(encoder.Finish(), 0);
    return out.data;
}

inline Bytes DecodeWith(Codec codec, const Bytes& coded, size_t count, size_t chunk = 0, const char* password = "pw") {
    MemoryStream in(coded);
    TOLMADecodeContext decoder(65536);
    decoder.AttachSourceFile(&in);
    PrepareDecoder(codec, decoder, password);
    Bytes plain(count);
    size_t done = 0;
    while (done < count) {
        size_t n = chunk == 0 ? count - done : std::min(chunk, count - done);
        uint32_t got = DecodeSome(codec, decoder, plain.data() + done, static_cast<uint32_t>(n));
        done += got;
        if (got < n || got == 0) break;
    }
    plain.resize(done);
    return plain;
}
