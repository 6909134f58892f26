#include "paths.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

TEST(RepairPaths, DirectoryOfPathStopsAtTheLastSeparator) {
    // "表" is 0x95 0x5C: its trail byte is no separator.
    struct Case {
        const char* path;
        const char* directory;
    } cases[] = {
        {"C:\\Games\\pro.exe", "C:\\Games\\"}, {"pro.exe", ""},    {"C:pro.exe", "C:"},        {"a/b\\c", "a/b\\"},
        {"D:\\表\\x.exe", "D:\\表\\"},         {"D:\\表", "D:\\"}, {"D:\\dir\\", "D:\\dir\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        char directory[64];
        DirectoryOfPath(c.path, directory, sizeof directory);
        EXPECT_STREQ(directory, c.directory);
    }
    char small[4];
    DirectoryOfPath("C:\\Games\\pro.exe", small, sizeof small);
    EXPECT_STREQ(small, "C:\\");
}

TEST(RepairPaths, JoinPathReportsWhatDoesNotFit) {
    // The shell may report a desktop of up to 259 bytes.
    const std::string desktop240 = "C:\\" + std::string(237, 'd');
    const std::string desktop259 = "C:\\" + std::string(256, 'd');
    struct Case {
        std::string directory;
        const char* name;
        uint32_t size;
    } cases[] = {
        {desktop240, "ぽるてぃ体験版.lnk", 260},            // 259 bytes: fits
        {desktop240, "ぽるてぃキャラクター紹介.lnk", 260},  // 269 bytes
        {desktop259, "ぽるてぃぷりむオリジナル.lnk", 260},
        {desktop259, "", 260},
        {"C:\\Games\\", "pro.exe", 260},  // the separator doubled, not normalised
        {"", "setup.log", 260},
        {"ab", "c", 5},
        {"ab", "c", 4},
        {"ab", "c", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directory.size());
        SCOPED_TRACE(c.name);
        const std::string joined = c.directory + "\\" + c.name;
        const bool fits = joined.size() < c.size;
        // Exactly the buffer's size, so that the sanitizer sees any overrun.
        auto out = std::make_unique<char[]>(c.size);
        if (c.size > 0) out[0] = 'x';
        EXPECT_EQ(JoinPath(out.get(), c.size, c.directory.c_str(), c.name), fits);
        if (fits) {
            EXPECT_EQ(std::string(out.get()), joined);
        } else if (c.size > 0) {
            EXPECT_STREQ(out.get(), "");
        }
    }
}

TEST(RepairPaths, JoinWidePathJoinsInUtf16WithTheNarrowFit) {
    // The tests' system code page is CP932 as well, so both parts convert
    // here as the program's names do everywhere.
    const std::string desktop240 = "C:\\" + std::string(237, 'd');
    const std::u16string wide240 = u"C:\\" + std::u16string(237, u'd');
    struct Case {
        std::string directory;
        const char* name;
        uint32_t size;
        std::u16string joined;  // empty: does not fit
    } cases[] = {
        {"C:\\Users\\me\\Desktop", "ぽるてぃ体験版.lnk", 260, u"C:\\Users\\me\\Desktop\\ぽるてぃ体験版.lnk"},
        {"C:\\Games\\ぽるてぃ体験版", "pro.exe", 260, u"C:\\Games\\ぽるてぃ体験版\\pro.exe"},
        {"", "setup.log", 260, u"\\setup.log"},
        {"ab", "", 4, u"ab\\"},
        {desktop240, "ぽるてぃ体験版.lnk", 260, wide240 + u"\\ぽるてぃ体験版.lnk"},  // 259 bytes
        // 269 bytes, though its 256 units would fit: the same links are made
        // as from the narrow join.
        {desktop240, "ぽるてぃキャラクター紹介.lnk", 260, u""},
        {"ab", "c", 4, u""},
        {"ab", "c", 0, u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.directory.size());
        SCOPED_TRACE(c.name);
        auto out = std::make_unique<WideChar[]>(c.size);
        if (c.size > 0) out[0] = u'x';
        EXPECT_EQ(JoinWidePath(out.get(), c.size, c.directory.c_str(), c.name), !c.joined.empty());
        if (c.size > 0) {
            EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(out.get())), c.joined);
        }
    }
}
