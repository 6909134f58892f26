#include "text/stream_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

int ChunkCount(const EStreamBuffer& b) {
    int n = 0;
    for (const EStreamChunk* c = b.GetFirstChunk(); c != nullptr; c = c->next) ++n;
    return n;
}

}  // namespace

TEST(StreamBuffer, ChunksAndBlocks) {
    EStreamBuffer b;
    EXPECT_STREQ(b.GetClassName(), "EStreamBuffer");
    std::string data(5000, 'x');
    EXPECT_EQ(b.Write(data.data(), 5000), 5000u);
    ASSERT_EQ(ChunkCount(b), 1);
    EXPECT_EQ(b.GetFirstChunk()->block_size, 8192u);
    EXPECT_EQ(b.Write("abc", 3), 3u);
    EXPECT_EQ(ChunkCount(b), 1) << "room left in the last block";
    EXPECT_EQ(b.Write(data.data(), 4000), 4000u);
    EXPECT_EQ(ChunkCount(b), 2);
    EXPECT_EQ(b.GetLength(), 9003u);

    std::string out(9003, '\0');
    EXPECT_EQ(b.Read(&out[0], 4999), 4999u);
    EXPECT_EQ(b.Read(&out[0], 4), 4u);
    EXPECT_EQ(out.substr(0, 4), "xabc");
    EXPECT_EQ(ChunkCount(b), 1) << "an emptied chunk is released";
    EXPECT_EQ(b.Read(&out[0], 10000), 4000u);
    EXPECT_EQ(b.Read(&out[0], 1), 0u) << "reads past the end transfer nothing";
    EXPECT_EQ(b.GetFirstChunk(), nullptr);

    EStreamBuffer copy("hello", 5);
    EXPECT_EQ(copy.GetLength(), 5u);
    copy.Clear();
    EXPECT_EQ(copy.GetLength(), 0u);
    uint32_t length = 99;
    EXPECT_EQ(copy.Peek(0, &length), nullptr);
    EXPECT_EQ(length, 0u);
}

TEST(StreamBuffer, WriteBufferAndCommit) {
    EStreamBuffer b;
    auto* room = static_cast<char*>(b.GetWriteBuffer(100));
    ASSERT_NE(room, nullptr);
    room[0] = 'q';
    b.CommitWrite(1);
    EXPECT_EQ(b.GetLength(), 1u);
    b.CommitWrite(1u << 20);  // never past the block
    EXPECT_EQ(b.GetLength(), 4096u);
    EStreamBuffer none;
    none.CommitWrite(10);
    EXPECT_EQ(none.GetLength(), 0u);
}

TEST(StreamBuffer, PeekGathersAcrossChunks) {
    // Now two chunks hold 6 and 6 queued bytes.
    EStreamBuffer two;
    two.Write("abcdef", 6);
    void* room = two.GetWriteBuffer(4096);
    ASSERT_NE(room, nullptr);
    std::memcpy(room, "ghijkl", 6);
    two.CommitWrite(6);
    ASSERT_EQ(ChunkCount(two), 2);
    uint32_t length = 0;
    const char* view = static_cast<const char*>(two.Peek(10, &length));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(std::string(view, 10), "abcdefghij");
    EXPECT_EQ(two.GetLength(), 12u);
    view = static_cast<const char*>(two.Peek(0, &length));
    EXPECT_EQ(length, 12u);
    EXPECT_EQ(std::string(view, 12), "abcdefghijkl");
    EXPECT_EQ(two.Skip(3), 3u);
    view = static_cast<const char*>(two.Peek(100, &length));
    EXPECT_EQ(std::string(view, length), "defghijkl");

    // PeekAt gathers into the chunk holding the offset.
    EStreamBuffer three;
    three.Write("0123", 4);
    std::memcpy(three.GetWriteBuffer(4096), "4567", 4);
    three.CommitWrite(4);
    std::memcpy(three.GetWriteBuffer(4096), "89", 2);
    three.CommitWrite(2);
    ASSERT_EQ(ChunkCount(three), 3);
    const char* at = static_cast<const char*>(three.PeekAt(2, 7));
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(std::string(at, 7), "2345678");
    EXPECT_EQ(three.GetLength(), 10u);
    EXPECT_EQ(three.PeekAt(5, 6), nullptr) << "fewer follow";
    EXPECT_EQ(three.PeekAt(10, 0), nullptr);
    at = static_cast<const char*>(three.PeekAt(9, 1));
    ASSERT_NE(at, nullptr);
    EXPECT_EQ(*at, '9');
    char out[16];
    EXPECT_EQ(three.Read(out, sizeof out), 10u);
    EXPECT_EQ(std::string(out, 10), "0123456789");
}
