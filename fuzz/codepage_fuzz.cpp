// Bytes as Shift-JIS text and as UTF-16 text: converted both ways, the path
// helpers run over the narrow form, and the wide-text scanner tokenises it.
#include <vector>

#include "file/memory_file.h"
#include "fuzz_target.h"
#include "platform/codepage.h"
#include "text/path_scan.h"
#include "text/string.h"
#include "xml/stream_wide_string.h"

namespace {

std::vector<WideChar> AsWide(const uint8_t* data, size_t size) {
    std::vector<WideChar> wide(size / 2 + 1, 0);
    for (size_t i = 0; i + 1 < size; i += 2) wide[i / 2] = static_cast<WideChar>(data[i] | data[i + 1] << 8);
    return wide;
}

void Scan(HVBFileObject& file, int mode) {
    EStreamWideString text;
    ResultCode loaded = mode == 0 ? text.LoadText(&file) : mode == 1 ? text.LoadAnsiText(&file) : text.LoadWideText(&file);
    if (loaded != ResultSuccess) return;
    for (int steps = 0; steps < 4096 && !text.AtEnd(); ++steps) {
        const uint32_t before = text.GetPosition();
        int token_class = 0;
        switch (steps % 6) {
            case 0: text.GetToken(&token_class); break;
            case 1: text.ReadInteger(text.DetectRadix()); break;
            case 2: text.ReadReal(10); break;
            case 3: text.GetWord(); break;
            case 4: text.GetUntil(';'); break;
            default: text.SkipLine(); break;
        }
        // Every step that reads nothing is followed by one that does.
        if (text.GetPosition() == before) text.SetPosition(before + 1);
    }
}

}  // namespace

HVB_FUZZ_TARGET(codepage) {
    hvb_fuzz::Reader in(data, size);
    const int mode = in.Byte() % 3;
    const auto* narrow = reinterpret_cast<const char*>(in.data());
    const int length = static_cast<int>(in.size());

    // Shift-JIS to UTF-16 and back, measured first as callers do.
    const int units = plat::AnsiToWide(narrow, length, nullptr, 0);
    std::vector<WideChar> wide(static_cast<size_t>(units) + 1);
    const int converted = plat::AnsiToWide(narrow, length, wide.data(), units);
    const int bytes = plat::WideToAnsi(wide.data(), converted, nullptr, 0);
    std::vector<char> back(static_cast<size_t>(bytes) + 1);
    plat::WideToAnsi(wide.data(), converted, back.data(), bytes);

    // The library's strings over the same bytes, zero-terminated.
    std::vector<char> terminated(narrow, narrow + length);
    terminated.push_back('\0');
    EString text(terminated.data());
    EWideString as_wide(terminated.data());
    EString again(as_wide.GetString() != nullptr ? as_wide.GetString() : HVB_WTEXT(""));
    text.GetFileNamePart();
    text.GetFileExtension();
    text.GetDirectoryPart();
    text.GetFileTitle();
    text.MakeUpper();
    text.Reverse();
    // Each call finds character boundaries from the start again, as it must:
    // a few dozen steps cover every case a path holds.
    for (int32_t at = 0, steps = 0; steps < 64; ++steps) {
        at = FindNextSeparator(terminated.data(), at, "\\/:");
        if (terminated[static_cast<size_t>(at)] == '\0') break;
        ++at;
    }
    FindLastSeparator(terminated.data(), "\\/");

    // UTF-16 the other way.
    const std::vector<WideChar> units16 = AsWide(in.data(), in.size());
    EString from_wide(units16.data());

    EMemoryFile file;
    if (file.Open(in.data(), static_cast<uint32_t>(in.size())) != ResultSuccess) return;
    Scan(file, mode);
}
