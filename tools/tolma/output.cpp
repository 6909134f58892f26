#include "output.h"

#include <cstdio>

#include "platform/platform.h"
#include "tool_system.h"
#include "unicode.h"

namespace tolma {
namespace {

// The progress line on the terminal, if one is shown.
Progress* active_progress = nullptr;

void AboveProgress(void (*print)(const std::string&), const std::string& text) {
    if (active_progress != nullptr) active_progress->Clear();
    print(text);
    if (active_progress != nullptr) active_progress->Redraw();
}

}  // namespace

void Error(const std::string& text) { AboveProgress(tool::PrintError, "tolma: " + text + "\n"); }

void Report(const std::string& text) { AboveProgress(tool::PrintOut, text); }

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

Progress::Progress(uint64_t total_bytes, uint32_t total_files, bool verbose)
    : total_(total_bytes),
      files_total_(total_files),
      verbose_(verbose),
      shown_(tool::ErrorIsTerminal()),
      start_ms_(plat::TimeGetTime()) {
    if (shown_) active_progress = this;
}

Progress::~Progress() { Finish(); }

void Progress::BeginFile(const std::string& shown_name) {
    ++files_;
    if (verbose_) {
        Clear();
        tool::PrintError(shown_name + "\n");
    }
    Draw(verbose_);
}

void Progress::Add(uint64_t bytes) {
    done_ += bytes;
    Draw(false);
}

// At most ten times a second, unless the line was just cleared.
void Progress::Draw(bool now) {
    if (!shown_) return;
    const uint32_t ms = plat::TimeGetTime();
    if (!now && drawn_width_ != 0 && ms - drawn_ms_ < 100) return;
    drawn_ms_ = ms;
    const double seconds = (ms - start_ms_) / 1000.0;
    char line[128];
    int n = std::snprintf(line, sizeof line, "%u/%u files  %.1f/%.1f MiB", files_, files_total_, done_ / 1048576.0,
                          total_ / 1048576.0);
    if (seconds >= 0.5 && n > 0) {
        std::snprintf(line + n, sizeof line - n, "  %.1f MiB/s", done_ / 1048576.0 / seconds);
    }
    const std::string text = line;
    const size_t width = text.size();
    tool::PrintError("\r" + text + (width < drawn_width_ ? std::string(drawn_width_ - width, ' ') : ""));
    drawn_width_ = width;
}

void Progress::Clear() {
    if (drawn_width_ != 0) tool::PrintError("\r" + std::string(drawn_width_, ' ') + "\r");
    drawn_width_ = 0;
}

void Progress::Redraw() {
    if (files_ != 0) Draw(true);
}

void Progress::Finish() {
    Clear();
    shown_ = false;
    if (active_progress == this) active_progress = nullptr;
}

}  // namespace tolma
