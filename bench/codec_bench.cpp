// Context-tree coder and cipher against the usual command-line compressors on
// one corpus of real files, measured side by side in one run.
//
//   codec_bench [--repeat=N] [file...]
//                                  default corpus: text, binaries and Wine
//                                  DLLs; every time is the best of N runs
//                                  (default 3), ours and the tools' alike, so
//                                  that a busy machine skews neither side
//   codec_bench --decode-only[=CODER] [--passes=N] [file...]
//                                  encodes once with CODER (tolma_code,
//                                  bshf_crypt or tolma_crypt; default
//                                  tolma_code), then decodes N times (default
//                                  1) and prints the fastest pass; for
//                                  instruction counts, where the difference
//                                  between N and N + 1 passes is the cost of
//                                  one decode
//   codec_bench --encode-only[=CODER] [--passes=N] [file...]
//                                  encodes N times (default 1), prints the
//                                  fastest pass and checks the last stream by
//                                  decoding it; the encoder's counterpart
//   codec_bench --hash [file...]   per file and coder: size and FNV-1a hash of
//                                  the coded stream, to show that a change to
//                                  the coder keeps its output
//   codec_bench --bzip2=COMMAND    compares with this bzip2 command as well
//                                  (e.g. a 32-bit build run under the same
//                                  emulation as this program); repeatable
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "bench_clock.h"
#include "codec/decode_context.h"
#include "codec/encode_context.h"
#include "core/hvb.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* const kDefaultCorpus[] = {
    "/usr/share/common-licenses/GPL-3",
    "/usr/share/vim/vim90/doc/options.txt",
    "/usr/share/vim/vim90/doc/version7.txt",
    "/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll",
    "/usr/lib/i386-linux-gnu/wine/i386-windows/msvcrt.dll",
    "/usr/bin/bash",
};

class MemorySink : public TOLMAEncodeContext {
public:
    explicit MemorySink(Bytes* out) : TOLMAEncodeContext(16384), out_(out) {}
    uint32_t WriteNextData(const void* data, uint32_t count) override {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        out_->insert(out_->end(), p, p + count);
        return count;
    }

private:
    Bytes* out_;
};

class MemorySource : public TOLMADecodeContext {
public:
    explicit MemorySource(const Bytes& in) : TOLMADecodeContext(65536), in_(in) {}
    uint32_t ReadNextData(void* destination, uint32_t count) override {
        size_t n = in_.size() - position_;
        if (n > count) n = count;
        std::memcpy(destination, in_.data() + position_, n);
        position_ += n;
        return static_cast<uint32_t>(n);
    }

private:
    const Bytes& in_;
    size_t position_ = 0;
};

bool AppendFile(const char* path, Bytes* corpus) {
#if defined(_WIN32)
    std::string name = path[0] == '/' ? std::string("Z:") + path : std::string(path);
#else
    std::string name = path;
#endif
    FILE* file = std::fopen(name.c_str(), "rb");
    if (file == nullptr) return false;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) corpus->insert(corpus->end(), chunk, chunk + n);
    std::fclose(file);
    return true;
}

enum class Coder { Code, Bshf, Crypt };

const struct {
    Coder coder;
    const char* name;
} kCoders[] = {{Coder::Code, "tolma_code"}, {Coder::Bshf, "bshf_crypt"}, {Coder::Crypt, "tolma_crypt"}};

const char kPassword[] = "pw";

// As the archive writer codes an entry: one context, or the context-tree
// coder writing into a cipher context.
Bytes Encode(Coder coder, const Bytes& plain) {
    Bytes coded;
    coded.reserve(plain.size() + 32);
    MemorySink sink(&coded);
    TOLMAEncodeContext code(16384);
    TOLMAEncodeContext* first = &sink;
    if (coder == Coder::Code) {
        sink.PrepareContextTreeEncoding(ContextTreeCopies);
    } else {
        sink.PrepareShuffleEncryption(kPassword);
        if (coder == Coder::Crypt) {
            code.AttachDestinationContext(&sink);
            code.PrepareContextTreeEncoding(ContextTreeCopies);
            first = &code;
        }
    }
    first->Encode(plain.data(), static_cast<uint32_t>(plain.size()));
    first->Finish();
    if (first != &sink) sink.Finish();
    return coded;
}

// Whole-entry decoding as the archive does it: steps of 16 KiB.
bool Decode(Coder coder, const Bytes& coded, Bytes* plain) {
    MemorySource source(coded);
    TOLMADecodeContext code(65536);
    TOLMADecodeContext* last = &source;
    if (coder == Coder::Code) {
        source.PrepareContextTreeDecoding();
    } else {
        source.PrepareShuffleDecryption(kPassword);
        if (coder == Coder::Crypt) {
            code.AttachSourceContext(&source);
            code.PrepareContextTreeDecoding();
            last = &code;
        }
    }
    size_t done = 0;
    while (done < plain->size()) {
        uint32_t n = static_cast<uint32_t>(plain->size() - done < 16384 ? plain->size() - done : 16384);
        if (last->Decode(plain->data() + done, n) != n) return false;
        done += n;
    }
    return true;
}

uint64_t Fnv1a(const Bytes& bytes) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001B3ull;
    return h;
}

#if !defined(_WIN32)
struct ToolResult {
    double ratio, compress_seconds, decompress_seconds;
};

bool RunTool(const std::string& tool, const char* level, const std::string& input, ToolResult* result, size_t size,
             int repeat) {
    std::string packed = input + ".packed";
    std::string compress = tool + " " + level + " -c " + input + " > " + packed;
    std::string decompress = tool + " -d -c " + packed + " > /dev/null";
    double best_compress = 1e9, best = 1e9;
    for (int i = 0; i < repeat; ++i) {
        double s = BenchSeconds();
        if (std::system(compress.c_str()) != 0) return false;
        double e = BenchSeconds() - s;
        if (e < best_compress) best_compress = e;
    }
    for (int i = 0; i < repeat; ++i) {
        double s = BenchSeconds();
        if (std::system(decompress.c_str()) != 0) return false;
        double e = BenchSeconds() - s;
        if (e < best) best = e;
    }
    FILE* f = std::fopen(packed.c_str(), "rb");
    if (f == nullptr) return false;
    std::fseek(f, 0, SEEK_END);
    long packed_size = std::ftell(f);
    std::fclose(f);
    std::remove(packed.c_str());
    result->ratio = static_cast<double>(packed_size) / static_cast<double>(size);
    result->compress_seconds = best_compress;
    result->decompress_seconds = best;
    return true;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    zmrInitializeLibrary();
    bool decode_only = false;
    bool encode_only = false;
    bool hash = false;
    [[maybe_unused]] std::vector<std::string> extra_bzip2;
    Coder only = Coder::Code;
    int passes = 1;
    int repeat = 3;
    int first = 1;
    for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
        const char* arg = argv[first];
        const bool decode = std::strncmp(arg, "--decode-only", 13) == 0;
        const bool encode = std::strncmp(arg, "--encode-only", 13) == 0;
        if ((decode || encode) && (arg[13] == '\0' || arg[13] == '=')) {
            (decode ? decode_only : encode_only) = true;
            if (arg[13] == '=') {
                bool known = false;
                for (const auto& c : kCoders) {
                    if (std::strcmp(arg + 14, c.name) == 0) {
                        only = c.coder;
                        known = true;
                    }
                }
                if (!known) {
                    std::fprintf(stderr, "unknown coder %s\n", arg + 14);
                    return 1;
                }
            }
        } else if (std::strcmp(arg, "--hash") == 0) {
            hash = true;
        } else if (std::strncmp(arg, "--bzip2=", 8) == 0) {
            extra_bzip2.push_back(arg + 8);
        } else if (std::strncmp(arg, "--passes=", 9) == 0) {
            passes = std::atoi(arg + 9);
        } else if (std::strncmp(arg, "--repeat=", 9) == 0) {
            repeat = std::atoi(arg + 9);
            if (repeat < 1) repeat = 1;
        } else {
            std::fprintf(stderr, "unknown option %s\n", arg);
            return 1;
        }
    }
    std::vector<const char*> files(argv + first, argv + argc);
    if (files.empty()) files.assign(std::begin(kDefaultCorpus), std::end(kDefaultCorpus));
    if (hash) {
        for (const char* path : files) {
            Bytes plain_file;
            if (!AppendFile(path, &plain_file)) {
                std::printf("%s: cannot read\n", path);
                continue;
            }
            for (const auto& c : kCoders) {
                Bytes coded = Encode(c.coder, plain_file);
                std::printf("%016llx %9zu %-12s %s\n", static_cast<unsigned long long>(Fnv1a(coded)), coded.size(),
                            c.name, path);
            }
        }
        return 0;
    }
    Bytes corpus;
    for (const char* path : files) {
        if (!AppendFile(path, &corpus)) std::fprintf(stderr, "cannot read %s\n", path);
    }
    if (corpus.empty()) {
        std::fprintf(stderr, "empty corpus\n");
        return 1;
    }
    const double mib = static_cast<double>(corpus.size()) / (1024.0 * 1024.0);
    Bytes plain(corpus.size());

    // The fastest pass in MiB/s as well, for comparing builds.
    if (encode_only) {
        Bytes coded;
        double best = 1e9;
        for (int i = 0; i < passes; ++i) {
            const double s = BenchSeconds();
            coded = Encode(only, corpus);
            const double e = BenchSeconds() - s;
            if (e < best) best = e;
        }
        const bool ok = Decode(only, coded, &plain) && plain == corpus;
        std::printf("encoded %zu bytes to %zu %d times: %s, best %.2f MiB/s\n", corpus.size(), coded.size(), passes,
                    ok ? "ok" : "MISMATCH", mib / best);
        return ok ? 0 : 1;
    }
    if (decode_only) {
        Bytes coded = Encode(only, corpus);
        bool ok = true;
        double best = 1e9;
        for (int i = 0; i < passes && ok; ++i) {
            const double s = BenchSeconds();
            ok = Decode(only, coded, &plain);
            const double e = BenchSeconds() - s;
            if (e < best) best = e;
            ok = ok && plain == corpus;
        }
        std::printf("decoded %zu bytes from %zu %d times: %s, best %.2f MiB/s\n", corpus.size(), coded.size(), passes,
                    ok ? "ok" : "MISMATCH", mib / best);
        return ok ? 0 : 1;
    }

    std::printf("corpus %.2f MiB\n", mib);
    std::printf("%-12s %8s %12s %12s\n", "coder", "ratio", "enc MiB/s", "dec MiB/s");
    // The context-tree row, which the command-line compressors are compared with.
    [[maybe_unused]] double ratio = 0, encode_seconds_code = 0, decode_seconds = 0;
    for (const auto& c : kCoders) {
        Bytes coded;
        double encode_seconds = 1e9;
        for (int i = 0; i < repeat; ++i) {
            double s = BenchSeconds();
            coded = Encode(c.coder, corpus);
            double e = BenchSeconds() - s;
            if (e < encode_seconds) encode_seconds = e;
        }
        double best = 1e9;
        for (int i = 0; i < repeat; ++i) {
            double s = BenchSeconds();
            bool ok = Decode(c.coder, coded, &plain);
            double e = BenchSeconds() - s;
            if (!ok || plain != corpus) {
                std::printf("%s: round trip FAILED\n", c.name);
                return 1;
            }
            if (e < best) best = e;
        }
        double r = static_cast<double>(coded.size()) / static_cast<double>(corpus.size());
        std::printf("%-12s %8.4f %12.2f %12.2f\n", c.name, r, mib / encode_seconds, mib / best);
        std::fflush(stdout);
        if (c.coder == Coder::Code) {
            ratio = r;
            encode_seconds_code = encode_seconds;
            decode_seconds = best;
        }
    }

#if !defined(_WIN32)
    std::string input = "/tmp/codec_bench_corpus." + std::to_string(static_cast<long>(getpid()));
    FILE* f = std::fopen(input.c_str(), "wb");
    if (f == nullptr) return 1;
    std::fwrite(corpus.data(), 1, corpus.size(), f);
    std::fclose(f);
    struct Tool {
        std::string tool;
        const char* level;
    };
    std::vector<Tool> tools = {{"bzip2", "-9"}, {"xz", "-6"}, {"gzip", "-9"}};
    for (const std::string& command : extra_bzip2) tools.push_back({command, "-9"});
    for (auto& t : tools) {
        ToolResult r;
        if (!RunTool(t.tool, t.level, input, &r, corpus.size(), repeat)) {
            std::printf("%-12s unavailable\n", t.tool.c_str());
            continue;
        }
        // Speeds as ours / theirs: above 1 means faster.
        std::printf("%-12s %8.4f %12.2f %12.2f   ours: size x%.3f, encode speed x%.3f, decode speed x%.3f\n",
                    (t.tool + " " + t.level).c_str(), r.ratio, mib / r.compress_seconds, mib / r.decompress_seconds,
                    ratio / r.ratio, r.compress_seconds / encode_seconds_code, r.decompress_seconds / decode_seconds);
    }
    std::remove(input.c_str());
#endif
    return 0;
}
