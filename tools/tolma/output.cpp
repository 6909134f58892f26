#include "output.h"

#include <cstdio>

#include "tool_system.h"
#include "unicode.h"

namespace tolma {

void Error(const std::string& text) { tool::PrintError("tolma: " + text + "\n"); }

std::string Shown(const std::string& archive_text) {
    std::string out;
    for (unsigned char c : tool::AnsiToUtf8(archive_text)) {
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Quoted(const std::string& archive_text) { return "'" + Shown(archive_text) + "'"; }

std::string NativeShown(const std::string& native) {
    std::string archive;
    return tool::NativeToArchive(native, &archive) ? Quoted(archive) : "'" + native + "'";
}

Progress::Progress(uint64_t total) : total_(total), shown_(total >= (8u << 20) && tool::ErrorIsTerminal()) {}

void Progress::Add(uint64_t bytes) {
    done_ += bytes;
    if (!shown_) return;
    const int percent = total_ == 0 ? 100 : static_cast<int>(done_ * 100 / total_);
    if (percent == last_) return;
    last_ = percent;
    char line[96];
    const int filled = percent * 30 / 100;
    std::snprintf(line, sizeof line, "\r[%-30s] %3d%%  %.1f / %.1f MiB", std::string(filled, '#').c_str(), percent,
                  done_ / 1048576.0, total_ / 1048576.0);
    tool::PrintError(line);
}

void Progress::Finish() {
    if (shown_ && last_ >= 0) tool::PrintError("\r" + std::string(60, ' ') + "\r");
    shown_ = false;
}

}  // namespace tolma
