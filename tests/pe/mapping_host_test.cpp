#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "platform/mapping.h"
#include "support/test_files.h"

namespace {

plat::NativeFile Native(int fd) { return reinterpret_cast<plat::NativeFile>(static_cast<intptr_t>(fd)); }

}  // namespace

TEST(FileMapping, WholeFileReadOnly) {
    const std::string path = TestDataDir() + "/archive_70001.exe";
    const std::vector<uint8_t> expected = ReadHostFile(path);
    ASSERT_FALSE(expected.empty());
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    plat::FileMapping* mapping = plat::CreateReadOnlyMapping(Native(fd));
    close(fd);  // the mapping keeps what it needs
    ASSERT_NE(mapping, nullptr);
    const void* view = plat::MapWholeView(mapping);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(std::memcmp(view, expected.data(), expected.size()), 0);
    plat::UnmapView(mapping, view);
    plat::CloseMapping(mapping);

    const std::string empty = TestDataDir() + "/empty.bin";
    fd = open(empty.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(plat::CreateReadOnlyMapping(Native(fd)), nullptr);
    close(fd);
    EXPECT_EQ(plat::CreateReadOnlyMapping(Native(-1)), nullptr);
    EXPECT_EQ(plat::MapWholeView(nullptr), nullptr);
    plat::CloseMapping(nullptr);
}
