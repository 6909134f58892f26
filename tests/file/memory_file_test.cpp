#include "file/memory_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

TEST(MemoryFile, CreatedFileGrowsWithEachWrite) {
    EMemoryFile file;
    EXPECT_STREQ(file.GetClassName(), "EMemoryFile");
    EXPECT_EQ(file.Create(0), ResultSuccess);
    EXPECT_EQ(file.GetOpenFlags(), 7u);
    EXPECT_EQ(file.Write("0123456789", 10), 10u);
    EXPECT_EQ(file.GetLength(), 10u);
    EXPECT_EQ(file.GetCapacity(), 4096u);
    EXPECT_EQ(file.GetPosition(), 10u);
    EXPECT_EQ(file.Seek(0, FromBegin), 0u);
    char buffer[100];
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 10u);
    EXPECT_EQ(std::string(buffer, 10), "0123456789");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);

    // Overwrite inside, then across the end.
    file.Seek(2, FromBegin);
    EXPECT_EQ(file.Write("ab", 2), 2u);
    EXPECT_EQ(file.GetLength(), 10u);
    file.Seek(8, FromBegin);
    EXPECT_EQ(file.Write("XYZ", 3), 3u);
    EXPECT_EQ(file.GetLength(), 11u);
    file.Seek(0, FromBegin);
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 11u);
    EXPECT_EQ(std::string(buffer, 11), "01ab4567XYZ");

    // Growth is the end plus this write again, to the next 4096.
    EMemoryFile fed;
    fed.Create(0);
    std::string piece(0x4000, 'p');
    fed.Write(piece.data(), 0x4000);
    EXPECT_EQ(fed.GetCapacity(), 0x8000u);
    fed.Write(piece.data(), 0x4000);
    EXPECT_EQ(fed.GetCapacity(), 0x8000u);
    fed.Write(piece.data(), 100);
    EXPECT_EQ(fed.GetCapacity(), (0x8000u + 100 + 100 + 0xFFF) & ~0xFFFu);
}

TEST(MemoryFile, SeeksClampAndExtend) {
    EMemoryFile file;
    file.Create(16);
    file.Write("abcdef", 6);
    EXPECT_EQ(file.Seek(-5, FromBegin), 0u);
    EXPECT_EQ(file.Seek(-100, FromCurrent), 0u);
    EXPECT_EQ(file.Seek(-2, FromEnd), 4u);
    EXPECT_EQ(file.Seek(1, 7), 4u) << "unknown origin leaves the position";
    // Past the end of an own buffer: the length follows, and the buffer
    // covers it at once.
    EXPECT_EQ(file.Seek(100, FromEnd), 106u);
    EXPECT_EQ(file.GetLength(), 106u);
    EXPECT_GE(file.GetCapacity(), 106u);
    char buffer[200];
    file.Seek(0, FromBegin);
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 106u);
    EXPECT_EQ(std::string(buffer, 6), "abcdef");
    // A huge seek is negative as a signed position and clamps to 0.
    EXPECT_EQ(file.Seek(static_cast<int32_t>(0x80000000u), FromBegin), 0u);

    file.Seek(3, FromBegin);
    EXPECT_EQ(file.SetEndOfFile(), ResultSuccess);
    EXPECT_EQ(file.GetLength(), 3u);
}

TEST(MemoryFile, ReserveGrowsOnlyTheBuffer) {
    EMemoryFile file;
    file.Create(16);
    file.Write("abcdef", 6);
    file.Seek(2, FromBegin);
    ASSERT_TRUE(file.Reserve(100000));
    EXPECT_GE(file.GetCapacity(), 100000u);
    EXPECT_EQ(file.GetLength(), 6u);
    EXPECT_EQ(file.GetPosition(), 2u);
    EXPECT_TRUE(file.Reserve(10)) << "already held";
    EXPECT_GE(file.GetCapacity(), 100000u);
    file.Seek(99990, FromBegin);
    EXPECT_EQ(file.Write("0123456789", 10), 10u);
    EXPECT_EQ(file.GetCapacity(), 100000u) << "the reserved room is used before growing";

    char text[4] = "abc";
    EMemoryFile view;
    view.Open(text, 3);
    EXPECT_TRUE(view.Reserve(3));
    EXPECT_FALSE(view.Reserve(4)) << "a caller's buffer is never grown";
    EMemoryFile closed;
    EXPECT_FALSE(closed.Reserve(1));
}

TEST(MemoryFile, CallersBufferIsNeverGrownOrOverrun) {
    // Heap copies so that ASan sees any access beyond them.
    std::unique_ptr<char[]> data(new char[8]);
    std::memcpy(data.get(), "abcdefgh", 8);
    EMemoryFile file;
    EXPECT_EQ(file.Open(data.get(), 8), ResultSuccess);
    EXPECT_EQ(file.GetOpenFlags(), 2u);
    EXPECT_EQ(file.Seek(100, FromEnd), 108u);
    EXPECT_EQ(file.GetLength(), 8u);
    char buffer[16];
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u) << "past the end: nothing";
    EXPECT_EQ(file.Write("zz", 2), 0u) << "never beyond a caller's buffer";
    EXPECT_EQ(file.SetEndOfFile(), ResultSuccess);
    EXPECT_EQ(file.GetLength(), 8u) << "the length never passes the buffer";
    file.Seek(6, FromBegin);
    EXPECT_EQ(file.Write("XYZ", 3), 2u) << "only what fits";
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    file.Seek(4, FromBegin);
    EXPECT_EQ(file.Read(buffer, 100), 4u);
    EXPECT_EQ(std::string(buffer, 4), "efXY");
    file.Close();
    EXPECT_EQ(file.GetOpenFlags(), 0u);
    EXPECT_EQ(std::string(data.get(), 8), "abcdefXY");
    file.Close();

    // A closed file transfers nothing.
    EXPECT_EQ(file.Read(buffer, 1), 0u);
    EXPECT_EQ(file.Write("a", 1), 0u);
    EXPECT_EQ(file.GetLength(), 0u);
    EXPECT_EQ(file.Open(nullptr, 10), ResultSuccess);
    EXPECT_EQ(file.GetLength(), 0u);
    EXPECT_EQ(file.Read(buffer, 1), 0u);
}

TEST(MemoryFile, DuplicateCopiesEverything) {
    const char text[] = "duplicate me";
    EMemoryFile view;
    view.Open(text, 12);
    view.Seek(5, FromBegin);
    std::unique_ptr<HVBFileObject> copy(view.Duplicate());
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy->GetClassName(), "EMemoryFile");
    EXPECT_EQ(copy->GetOpenFlags(), 7u);
    EXPECT_EQ(copy->GetPosition(), 0u);
    EXPECT_EQ(copy->GetLength(), 12u);
    char buffer[16];
    EXPECT_EQ(copy->Read(buffer, sizeof buffer), 12u);
    EXPECT_EQ(std::string(buffer, 12), "duplicate me");
    EXPECT_EQ(copy->Write("!", 1), 1u) << "the copy owns its buffer";
    EXPECT_EQ(view.GetPosition(), 5u);

    EMemoryFile closed;
    std::unique_ptr<HVBFileObject> empty(closed.Duplicate());
    EXPECT_EQ(empty->GetLength(), 0u);
}
