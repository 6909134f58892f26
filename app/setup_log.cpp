#include "setup_log.h"

#include <cstring>

namespace {

const char kPlaceholder[] = "@INSTDIR";
constexpr uint32_t kPlaceholderLength = sizeof kPlaceholder - 1;

class LineBuffer {
public:
    LineBuffer(SetupLogSink sink, void* context) : sink_(sink), context_(context) {}
    void Append(char byte) {
        if (length_ == kSetupLogLineSize) Flush();
        line_[length_++] = byte;
    }
    void Flush() {
        if (length_ > 0) sink_(context_, line_, length_);
        length_ = 0;
    }

private:
    SetupLogSink sink_;
    void* context_;
    char line_[kSetupLogLineSize];
    uint32_t length_ = 0;
};

}  // namespace

void RewriteSetupTemplate(const char* text, uint32_t size, const char* directory, SetupLogSink sink, void* context) {
    // Pieces of an over-long line are written before its end is seen, so the
    // unterminated tail is cut off here rather than by never flushing it.
    uint32_t end = size;
    while (end > 0 && text[end - 1] != '\n') --end;

    LineBuffer line(sink, context);
    uint32_t at = 0;
    while (at < end) {
        if (end - at >= kPlaceholderLength && std::memcmp(text + at, kPlaceholder, kPlaceholderLength) == 0) {
            for (const char* p = directory; *p != '\0'; ++p) {
                line.Append(*p);
                if (*p == '\\') line.Append('\\');
            }
            at += kPlaceholderLength;
            continue;
        }
        line.Append(text[at]);
        if (text[at++] == '\n') line.Flush();
    }
}
