// Bytes as an XML description in each encoding and escape mode: read, and
// what was read written out again and read back.
#include "file/memory_file.h"
#include "fuzz_target.h"
#include "text/stream_buffer.h"
#include "xml/description.h"

HVB_FUZZ_TARGET(xml) {
    hvb_fuzz::Reader in(data, size);
    const uint8_t options = in.Byte();
    const int32_t encoding = options % 3;
    const int32_t escape_mode = (options >> 2) & 1;
    EStreamBuffer stream(in.data(), static_cast<uint32_t>(in.size()));
    EDescription root;
    if (root.ReadDescription(&stream, escape_mode, encoding) != ResultSuccess) return;
    EMemoryFile out;
    if (out.Create(0) != ResultSuccess) return;
    if (root.WriteDescription(&out, static_cast<int32_t>(options >> 4) - 1, escape_mode, encoding) != ResultSuccess) return;
    EStreamBuffer again(out.GetBuffer(), out.GetLength());
    EDescription copy;
    copy.ReadDescription(&again, escape_mode, encoding);
}
