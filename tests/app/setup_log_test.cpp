#include "setup_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void Record(void* context, const char* bytes, uint32_t count) {
    static_cast<std::vector<std::string>*>(context)->emplace_back(bytes, count);
}

}  // namespace

TEST(SetupLog, RewritesTheTemplateUpToItsLastLineFeed) {
    const std::string long_line = "Long=" + std::string(1100, 'L');
    struct Case {
        const char* what;
        std::string text;
        const char* directory;
        std::string expected;
    } cases[] = {
        {"only the directory's backslashes doubled", "a=@INSTDIR\\x\n", "C:\\Game", "a=C:\\\\Game\\x\n"},
        {"seven bytes of the placeholder", "p=@INSTDI\n@INSTDIR\n", "D:", "p=@INSTDI\nD:\n"},
        {"CR LF and empty lines", "[S]\r\n\r\n\n\nd=@INSTDIR@INSTDIR\r\n", "C:\\G",
         "[S]\r\n\r\n\n\nd=C:\\\\GC:\\\\G\r\n"},
        {"ends in empty lines", "a\n\n", "C:", "a\n\n"},
        {"unterminated last line dropped", "a\nb=@INSTDIR", "C:", "a\n"},
        {"no line feed at all", "@INSTDIR", "C:", ""},
        {"empty", "", "C:", ""},
        // "表" is 0x95 0x5C: the trail byte is doubled as well.
        {"double-byte directory", "@INSTDIR\n", "C:\\表", "C:\\\\表\\\n"},
        {"long line written whole", long_line + "@INSTDIR\r\nx\n", "C:\\G", long_line + "C:\\\\G\r\nx\n"},
        {"long unterminated line dropped", "ok\n" + long_line + long_line, "C:", "ok\n"},
        {"long line ending at the template's end", "ok\n" + std::string(2 * kSetupLogLineSize, 'L'), "C:", "ok\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> writes;
        RewriteSetupTemplate(c.text.data(), static_cast<uint32_t>(c.text.size()), c.directory, Record, &writes);
        std::string written;
        for (const std::string& piece : writes) {
            // One line per write, or a full buffer of a longer line.
            EXPECT_TRUE(piece.size() == kSetupLogLineSize ||
                        (piece.size() <= kSetupLogLineSize && piece.back() == '\n'))
                << piece.size();
            written += piece;
        }
        EXPECT_EQ(written, c.expected);
    }
}
