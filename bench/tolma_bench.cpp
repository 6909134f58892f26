// Archive extraction measured side by side with its references, in one run:
//   1. a raw archive of several hundred MiB extracted to a file, against the
//      system's own copy of a plain file of the same bytes (cp on POSIX,
//      CopyFile on Windows);
//   2. a tolma_code entry read through the archive (streaming and whole-file),
//      against the context-tree decoder run directly on the same coded bytes;
//   3. the same bytes as a tolma_crypt entry (coded, then enciphered) against
//      the tolma_code entry.
// Prints times and ratios; best of several runs each.
//
//   tolma_bench [MiB for the raw test, default 384] [MiB for the coded test, default 24] [directory]
#if defined(_WIN32)
#include <windows.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "archive/tolma_archive.h"
#include "bench_clock.h"
#include "codec/decode_context.h"
#include "codec/encode_context.h"
#include "core/hvb.h"
#include "file/memory_file.h"
#include "file/raw_file.h"
#include "platform/file.h"

namespace {

constexpr uint32_t kChunk = 1u << 20;
constexpr int kRuns = 3;

// Text-like bytes: words, numbers and line breaks, compressible the way
// game scripts and data tables are.
std::vector<uint8_t> TextBytes(uint32_t size) {
    static const char* const kWords[] = {"the", "archive", "entry", "window", "スクリプト", "value", "=", "0x",
                                         "return", "if", "player", "position", "\n", "  ", "設定", ";"};
    std::vector<uint8_t> out;
    out.reserve(size);
    uint32_t x = 12345;
    while (out.size() < size) {
        x = x * 1103515245u + 12345u;
        const char* word = kWords[(x >> 16) % 16];
        if ((x >> 8) % 7 == 0) {
            char number[16];
            std::snprintf(number, sizeof number, "%u ", (x >> 4) % 100000);
            word = number;
            for (const char* p = word; *p && out.size() < size; ++p) out.push_back(static_cast<uint8_t>(*p));
            continue;
        }
        for (const char* p = word; *p && out.size() < size; ++p) out.push_back(static_cast<uint8_t>(*p));
        if (out.size() < size) out.push_back(' ');
    }
    return out;
}

constexpr char kPassword[] = "tolma_bench";

bool WriteArchive(HVBFileObject* file, const char* name, uint32_t encoding, const std::vector<uint8_t>& data,
                  uint32_t repeat) {
    TOLMAEntryList list;
    list.AddEntry(name, 0, encoding, nullptr);
    TOLMAArchive archive;
    const char* password = encoding == TOLMA_ENCODING_CRYPT ? kPassword : nullptr;
    if (archive.Open(file, &list) != ResultSuccess || archive.OpenEntry(name, password, 0) != ResultSuccess) {
        return false;
    }
    for (uint32_t r = 0; r < repeat; ++r) {
        for (size_t done = 0; done < data.size(); done += kChunk) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kChunk, data.size() - done));
            if (archive.Write(data.data() + done, n) != n) return false;
        }
    }
    return archive.CloseFile() == ResultSuccess && archive.Close() == ResultSuccess;
}

bool SystemCopy(const std::string& from, const std::string& to) {
#if defined(_WIN32)
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
#else
    return std::system(("cp '" + from + "' '" + to + "'").c_str()) == 0;
#endif
}

// Extracts the archive's one entry to a file, as the tool does.
bool Extract(const std::string& archive_path, const char* name, const std::string& to) {
    ERawFile in, out;
    TOLMAArchive archive;
    if (in.Open(archive_path.c_str(), modeRead | shareRead) != ResultSuccess) return false;
    if (archive.Open(&in, nullptr) != ResultSuccess || archive.OpenFile(name, nullptr, 1) != ResultSuccess) return false;
    if (out.Open(to.c_str(), modeCreate | modeWrite) != ResultSuccess) return false;
    std::vector<uint8_t> buffer(kChunk);
    for (;;) {
        const uint32_t n = archive.Read(buffer.data(), kChunk);
        if (n == 0) break;
        if (out.Write(buffer.data(), n) != n) return false;
    }
    return archive.CloseFile() == ResultSuccess;
}

template <typename F>
double Best(F&& run) {
    double best = 1e30;
    for (int i = 0; i < kRuns; ++i) {
        const double start = BenchSeconds();
        if (!run()) return -1;
        const double t = BenchSeconds() - start;
        if (t < best) best = t;
    }
    return best;
}

void RawVersusCopy(uint32_t mib, const std::string& dir) {
    const std::string plain = dir + "/tolma_bench_plain.bin";
    const std::string archive = dir + "/tolma_bench_raw.arc";
    const std::string target = dir + "/tolma_bench_out.bin";
    const std::vector<uint8_t> block = TextBytes(1u << 20);
    {
        ERawFile f;
        if (f.Open(plain.c_str(), modeCreate | modeWrite) != ResultSuccess) return;
        for (uint32_t i = 0; i < mib; ++i) f.Write(block.data(), static_cast<uint32_t>(block.size()));
        ERawFile a;
        if (a.Open(archive.c_str(), modeCreate | modeRead | modeWrite) != ResultSuccess ||
            !WriteArchive(&a, "payload.bin", TOLMA_ENCODING_RAW, block, mib)) {
            std::printf("cannot write %s\n", archive.c_str());
            return;
        }
    }
    // Alternated, so that both see the same state of the page cache.
    double copy = 1e30, extract = 1e30;
    for (int i = 0; i < kRuns; ++i) {
        plat::DeleteFilePath(target.c_str());
        double start = BenchSeconds();
        if (!SystemCopy(plain, target)) return;
        copy = std::min(copy, BenchSeconds() - start);
        plat::DeleteFilePath(target.c_str());
        start = BenchSeconds();
        if (!Extract(archive, "payload.bin", target)) {
            std::printf("extraction failed\n");
            return;
        }
        extract = std::min(extract, BenchSeconds() - start);
    }
    plat::DeleteFilePath(target.c_str());
    plat::DeleteFilePath(plain.c_str());
    plat::DeleteFilePath(archive.c_str());
    std::printf("raw archive, %u MiB\n", mib);
    std::printf("  system copy      %8.3f s  %8.1f MiB/s\n", copy, mib / copy);
    std::printf("  tolma extraction %8.3f s  %8.1f MiB/s\n", extract, mib / extract);
    std::printf("  throughput ratio extraction / copy: %.2f\n", copy / extract);
}

void CodedVersusCodec(uint32_t mib) {
    const std::vector<uint8_t> data = TextBytes(mib << 20);

    // The bare coded stream, as the codec makes it.
    EMemoryFile coded;
    coded.Create(static_cast<uint32_t>(data.size() / 2));
    {
        TOLMAEncodeContext encoder(TOLMAArchive::kEncodeBufferSize);
        encoder.AttachDestinationFile(&coded);
        encoder.PrepareContextTreeEncoding(ContextTreeCopies);
        encoder.EncodeContextTreeBytes(data.data(), static_cast<uint32_t>(data.size()));
        encoder.FinishArithmeticEncoding();
    }
    // Each archive is read back through a view: a created memory file carries
    // modeCreate, which would make the archive start a new one.
    EMemoryFile code_bytes, crypt_bytes, code_view, crypt_view;
    for (auto [bytes, view, encoding] : {std::tuple{&code_bytes, &code_view, TOLMA_ENCODING_CODE},
                                         std::tuple{&crypt_bytes, &crypt_view, TOLMA_ENCODING_CRYPT}}) {
        bytes->Create(coded.GetLength() + 4096);
        if (!WriteArchive(bytes, "coded.bin", encoding, data, 1)) {
            std::printf("cannot write the coded archives\n");
            return;
        }
        view->Open(bytes->GetBuffer(), bytes->GetLength());
    }

    std::vector<uint8_t> out(data.size());
    const double codec = Best([&] {
        coded.Seek(0, FromBegin);
        TOLMADecodeContext decoder(TOLMAArchive::kDecodeBufferSize);
        decoder.AttachSourceFile(&coded);
        decoder.PrepareContextTreeDecoding();
        uint32_t done = 0;
        while (done < out.size()) {
            const uint32_t n = std::min<uint32_t>(kChunk, static_cast<uint32_t>(out.size()) - done);
            if (decoder.DecodeContextTreeBytes(out.data() + done, n) != n) return false;
            done += n;
        }
        return out == data;
    });
    auto through_archive = [&](EMemoryFile* view, const char* password, int32_t streaming) {
        return Best([&] {
            view->Seek(0, FromBegin);
            TOLMAArchive archive;
            if (archive.Open(view, nullptr) != ResultSuccess ||
                archive.OpenFile("coded.bin", password, streaming) != ResultSuccess)
                return false;
            uint32_t done = 0;
            while (done < out.size()) {
                const uint32_t n = archive.Read(out.data() + done, kChunk);
                if (n == 0) break;
                done += n;
            }
            return archive.CloseFile() == ResultSuccess && done == data.size() && out == data;
        });
    };
    const double streaming = through_archive(&code_view, nullptr, 1);
    const double whole = through_archive(&code_view, nullptr, 0);
    const double crypt_streaming = through_archive(&crypt_view, kPassword, 1);
    const double crypt_whole = through_archive(&crypt_view, kPassword, 0);
    std::printf("tolma_code entry, %u MiB of text (coded %.1f MiB)\n", mib, coded.GetLength() / 1048576.0);
    std::printf("  codec alone           %8.3f s  %8.1f MiB/s\n", codec, mib / codec);
    std::printf("  archive, streaming    %8.3f s  %8.1f MiB/s  ratio %.3f\n", streaming, mib / streaming,
                codec / streaming);
    std::printf("  archive, whole file   %8.3f s  %8.1f MiB/s  ratio %.3f\n", whole, mib / whole, codec / whole);
    std::printf("tolma_crypt entry of the same bytes, against the tolma_code entry (time ratio)\n");
    std::printf("  archive, streaming    %8.3f s  %8.1f MiB/s  ratio %.3f\n", crypt_streaming, mib / crypt_streaming,
                crypt_streaming / streaming);
    std::printf("  archive, whole file   %8.3f s  %8.1f MiB/s  ratio %.3f\n", crypt_whole, mib / crypt_whole,
                crypt_whole / whole);
}

}  // namespace

int main(int argc, char** argv) {
    zmrInitializeLibrary();
    const uint32_t raw_mib = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 384;
    const uint32_t coded_mib = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 24;
    std::string dir = argc > 3 ? argv[3] : "";
    if (dir.empty()) {
        char buffer[512];
        const uint32_t n = plat::GetTempDirectory(sizeof buffer, buffer);
        dir = n > 0 && n < sizeof buffer ? std::string(buffer, n - 1) : ".";
    }
    RawVersusCopy(raw_mib, dir);
    CodedVersusCodec(coded_mib);
    zmrCloseLibrary();
    return 0;
}
