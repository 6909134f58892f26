#include "text/path_scan.h"

#include <gtest/gtest.h>

TEST(PathScan, SeparatorsOutsideDoubleByteCharacters) {
    // "表" is 0x95 0x5C in the ANSI code page: its trail byte is a backslash.
    struct Case {
        const char* path;
        const char* separators;
        int32_t first;
        int32_t last;
    } cases[] = {
        {"", "\\", 0, -1},
        {"abc", "\\", 3, -1},
        {"a\\b\\c", "\\", 1, 3},
        {"a/b\\c", "\\/", 1, 3},
        {"a/b\\c", "\\", 3, 3},
        {"C:file", "\\/:", 1, 1},
        {"表", "\\", 2, -1},
        {"表\\x", "\\", 2, 2},
        {"d\\表示", "\\", 1, 1},
        {"\x95", "\\", 1, -1},        // a lead byte with no trail
        {"a\\\x95", "\\", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(FindNextSeparator(c.path, 0, c.separators), c.first);
        EXPECT_EQ(FindLastSeparator(c.path, c.separators), c.last);
    }
    // A start inside a double-byte character moves to the character's end.
    EXPECT_EQ(FindNextSeparator("表\\", 1, "\\"), 2);
    EXPECT_EQ(FindNextSeparator("a\\b\\", 2, "\\"), 3);
}
