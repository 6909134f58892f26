#include <gtest/gtest.h>

#include <windows.h>

#include "platform/mapping.h"
#include "support/test_files.h"

TEST(FileMapping, WholeFileReadOnly) {
    const std::string path = HostPath(TestDataDir() + "/archive_70001.exe");
    const std::vector<uint8_t> expected = ReadHostFile(path);
    ASSERT_FALSE(expected.empty());
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    plat::FileMapping* mapping = plat::CreateReadOnlyMapping(file);
    CloseHandle(file);  // the mapping keeps what it needs
    ASSERT_NE(mapping, nullptr);
    const void* view = plat::MapWholeView(mapping);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::memcmp(view, expected.data(), expected.size()), 0);
    plat::UnmapView(mapping, view);
    plat::CloseMapping(mapping);

    const std::string empty = HostPath(TestDataDir() + "/empty.bin");
    file = CreateFileA(empty.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(plat::CreateReadOnlyMapping(file), nullptr);
    CloseHandle(file);
    EXPECT_EQ(plat::CreateReadOnlyMapping(INVALID_HANDLE_VALUE), nullptr);
    EXPECT_EQ(plat::MapWholeView(nullptr), nullptr);
    plat::CloseMapping(nullptr);
}
