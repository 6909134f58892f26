// Raw bytes into every decoder of the family and the cipher: the first byte
// picks the decoder and the size of the output it is asked for.
#include <memory>

#include "codec/decode_context.h"
#include "file/memory_file.h"
#include "fuzz_target.h"

HVB_FUZZ_TARGET(decoder) {
    hvb_fuzz::Reader in(data, size);
    const uint8_t choice = in.Byte();
    // Output up to 64 KiB, in an exactly sized block so an overrun is seen.
    // Noise decodes to output without end, and decoding the output is nearly
    // all of a run's time: more than sixteen bytes per input byte (a few long
    // copies) only slows the search down.
    uint32_t count = 1 + (static_cast<uint32_t>(in.Byte()) << 8 | in.Byte());
    if (count > 64 + 16 * in.size()) count = static_cast<uint32_t>(64 + 16 * in.size());
    EMemoryFile source;
    if (source.Open(in.data(), static_cast<uint32_t>(in.size())) != ResultSuccess) return;
    // A small input buffer makes refills happen inside every symbol. The
    // contexts are prepared again in place for every input, as a reader that
    // opens one file after another does; their tables are made only once.
    static TOLMADecodeContext small(5), large(16384);
    TOLMADecodeContext& decoder = (choice & 0x80) != 0 ? small : large;
    decoder.AttachSourceFile(&source);
    decoder.ResetBitInput();
    ResultCode prepared = ResultGeneralError;
    bool words = false, runs = false;
    switch (choice & 7) {
        case 0: prepared = decoder.PrepareContextTreeDecoding(); break;
        case 1: prepared = decoder.PrepareOrder1Decoding(); break;
        case 2: prepared = decoder.PrepareOrder1Decoding(), words = true; break;
        case 3: prepared = decoder.PrepareGammaRunDecoding(), runs = true; break;
        case 4: prepared = decoder.PrepareHuffmanDecoding(0); break;
        case 5: prepared = decoder.PrepareHuffmanDecoding(1); break;
        case 6: prepared = decoder.PrepareShuffleDecryption("pw"); break;
        default: prepared = decoder.PrepareShuffleDecryption("a key of more than thirty-two bytes in length"); break;
    }
    if (prepared != ResultSuccess) return;
    std::unique_ptr<uint8_t[]> out(new uint8_t[count]);
    if (runs) decoder.StartGammaRuns();
    // In two calls, so that state carried between calls is exercised too.
    const uint32_t first = count / 3;
    if (words) {
        decoder.DecodeOrder1Words(reinterpret_cast<int16_t*>(out.get()), first / 2);
        decoder.DecodeOrder1Words(reinterpret_cast<int16_t*>(out.get()), (count - first) / 2);
    } else {
        decoder.Decode(out.get(), first);
        decoder.Decode(out.get(), count - first);
    }
}
