// windows.h comes before the library's headers, which then keep their own
// GetClassName.
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include "file/stream_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "file/memory_file.h"

namespace {

// Processor time the calling thread has used: a waiter that spins shows here
// whatever the machine's load.
double ThreadCpuSeconds() {
#ifdef _WIN32
    FILETIME created, ended, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
    auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
#else
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#endif
}

// Long enough for a thread that would wrongly return to have done so.
void Settle() {
    for (int i = 0; i < 200; ++i) std::this_thread::yield();
}

template <typename Predicate>
void WaitUntil(Predicate done) {
    while (!done()) std::this_thread::yield();
}

}  // namespace

TEST(StreamFileBuffer, ClassChainAndQueue) {
    EStreamFileBuffer queue;
    for (const char* name : {"EStreamFileBuffer", "HVBFileObject", "HVBObject", "EStreamBuffer"}) {
        EXPECT_EQ(queue.IsKindOf(name), 1) << name;
    }
    EXPECT_EQ(queue.IsKindOf("EMemoryFile"), 0);
    EXPECT_EQ(queue.DynamicCast("EStreamBuffer"), static_cast<EStreamBuffer*>(&queue));
    EXPECT_NE(queue.DynamicCast("EStreamBuffer"), static_cast<void*>(static_cast<HVBFileObject*>(&queue)));
    EXPECT_EQ(queue.DynamicCast("HVBFileObject"), static_cast<HVBFileObject*>(&queue));
    EXPECT_EQ(queue.DynamicCast("EMemoryFile"), nullptr);
    EXPECT_EQ(queue.GetOpenFlags(), 6u);
    EXPECT_EQ(queue.SetEndOfFile(), ResultGeneralError);

    EXPECT_EQ(queue.Write("abc", 3), 3u);
    char two[2];
    EXPECT_EQ(queue.Read(two, 2), 2u);
    EXPECT_EQ(std::string(two, 2), "ab");
    EXPECT_EQ(queue.GetLength(), 1u);
    EXPECT_EQ(queue.GetPosition(), 0u);
    std::unique_ptr<HVBFileObject> copy(queue.Duplicate());
    EXPECT_STREQ(copy->GetClassName(), "EStreamFileBuffer");
    EXPECT_EQ(copy->GetLength(), 0u) << "a duplicate starts empty";
    EXPECT_EQ(queue.Seek(1, FromBegin), 0u);
    EXPECT_EQ(queue.GetLength(), 0u);
}

TEST(StreamFileBuffer, SeekDropsFromTheFront) {
    struct Case {
        int32_t distance;
        uint32_t origin;
        const char* left;
    } cases[] = {
        {2, FromBegin, "cde"}, {2, FromCurrent, "cde"}, {10, FromBegin, ""}, {-1, FromBegin, "abcde"},
        {0, FromEnd, ""},      {-3, FromEnd, "cde"},    {-9, FromEnd, "abcde"}, {0, FromBegin, "abcde"},
    };
    for (const Case& c : cases) {
        EStreamFileBuffer queue;
        queue.Write("abcde", 5);
        EXPECT_EQ(queue.Seek(c.distance, c.origin), 0u);
        char buffer[8] = {};
        const uint32_t n = queue.Read(buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer, n), c.left) << c.distance << " from " << c.origin;
    }
}

TEST(SyncStreamFile, BlocksAndLengths) {
    ESyncStreamFile pipe;
    EXPECT_EQ(pipe.GetOpenFlags(), 0u);
    EXPECT_EQ(pipe.GetLength(), 0xFFFFFFFFu);
    pipe.Reset(ESyncStreamFile::kNotAnnounced);
    EXPECT_EQ(pipe.GetOpenFlags(), 7u);
    std::vector<unsigned char> bytes(20000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + (i >> 8));
    EXPECT_EQ(pipe.Write(bytes.data(), 20000), 20000u);
    EXPECT_EQ(pipe.GetBlockCount(), 2u);
    EXPECT_EQ(pipe.GetBlockUsed(0), 16384u);
    EXPECT_EQ(pipe.GetBlockUsed(1), 3616u);
    EXPECT_EQ(pipe.GetLength(), 0xFFFFFFFFu) << "unannounced until finished";
    EXPECT_EQ(pipe.SetEndOfFile(), ResultSuccess);
    EXPECT_EQ(pipe.GetLength(), 20000u);
    EXPECT_EQ(pipe.GetOpenFlags(), 2u);

    // Reads cross the block boundary; a finished stream returns short.
    std::vector<unsigned char> back(30000);
    EXPECT_EQ(pipe.Seek(16000, FromBegin), 16000u);
    EXPECT_EQ(pipe.Read(back.data(), 30000), 4000u);
    EXPECT_EQ(std::memcmp(back.data(), bytes.data() + 16000, 4000), 0);
    EXPECT_EQ(pipe.Seek(-5, FromEnd), 19995u);
    EXPECT_EQ(pipe.Seek(1, FromEnd), 19995u) << "past the final length: unchanged";

    pipe.Seek(2, FromBegin);
    std::unique_ptr<HVBFileObject> copy(pipe.Duplicate());
    ASSERT_STREQ(copy->GetClassName(), "EMemoryFile");
    EXPECT_EQ(copy->GetLength(), 20000u);
    EXPECT_EQ(copy->GetPosition(), 2u);
    copy->Seek(0, FromBegin);
    EXPECT_EQ(copy->Read(back.data(), 30000), 20000u);
    EXPECT_EQ(std::memcmp(back.data(), bytes.data(), 20000), 0);

    pipe.Reset(1000);
    EXPECT_EQ(pipe.GetLength(), 1000u) << "announced at once";
    EXPECT_EQ(pipe.GetBlockCount(), 0u);
    EXPECT_EQ(pipe.GetPosition(), 0u);
}

TEST(SyncStreamFile, ReadersWaitForTheProducer) {
    ESyncStreamFile pipe;
    pipe.Reset(ESyncStreamFile::kNotAnnounced);

    // 100 wanted: 40 arrive and are taken, the reader waits for the rest
    // until the finish makes it return 40.
    std::atomic<bool> done{false};
    uint32_t got = 0;
    char buffer[100];
    std::thread reader([&] {
        got = pipe.Read(buffer, 100);
        done = true;
    });
    Settle();
    EXPECT_FALSE(done);
    pipe.Write(std::string(40, 'x').data(), 40);
    WaitUntil([&] { return pipe.GetPosition() == 40; });
    Settle();
    EXPECT_FALSE(done) << "60 bytes still wanted";
    pipe.SetEndOfFile();
    reader.join();
    EXPECT_EQ(got, 40u);

    // Seek to the announced end waits for the last byte.
    pipe.Reset(1000);
    done = false;
    uint32_t sought = 0;
    std::thread seeker([&] {
        sought = pipe.Seek(0, FromEnd);
        done = true;
    });
    pipe.Write(std::string(999, 'y').data(), 999);
    Settle();
    EXPECT_FALSE(done);
    pipe.Write("z", 1);
    seeker.join();
    EXPECT_EQ(sought, 1000u);

    // A seek beyond what will come gives up at the finish; every waiting
    // reader of an empty stream wakes to nothing.
    pipe.Reset(ESyncStreamFile::kNotAnnounced);
    pipe.Write("0123456789", 10);
    pipe.Read(buffer, 3);
    std::atomic<int> returned{0};
    uint32_t counts[3] = {1, 1, 1};
    std::vector<std::thread> waiters;
    waiters.emplace_back([&] { counts[0] = pipe.Seek(50, FromBegin); ++returned; });
    ESyncStreamFile empty;
    empty.Reset(ESyncStreamFile::kNotAnnounced);
    for (int i = 1; i < 3; ++i) waiters.emplace_back([&, i] { counts[i] = empty.Read(buffer, 1); ++returned; });
    Settle();
    EXPECT_EQ(returned, 0);
    pipe.SetEndOfFile();
    empty.SetEndOfFile();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(counts[0], 3u) << "the read position stays";
    EXPECT_EQ(counts[1], 0u);
    EXPECT_EQ(counts[2], 0u);
}

// A reader that has taken every written byte, and a seek waiting for bytes
// not yet written while others are readable, sleep until the producer acts.
TEST(SyncStreamFile, WaitersUseNoProcessorTime) {
    struct Case {
        const char* name;
        bool seek;
    } cases[] = {{"read", false}, {"seek", true}};
    for (const Case& c : cases) {
        ESyncStreamFile pipe;
        pipe.Reset(c.seek ? 1000 : ESyncStreamFile::kNotAnnounced);
        pipe.Write(std::string(40, 'x').data(), 40);
        double used = 0;
        uint32_t result = 0;
        std::thread waiter([&] {
            const double start = ThreadCpuSeconds();
            char buffer[200];
            result = c.seek ? pipe.Seek(0, FromEnd) : pipe.Read(buffer, 200);
            used = ThreadCpuSeconds() - start;
        });
        std::this_thread::sleep_for(std::chrono::seconds(1));
        if (c.seek) pipe.Write(std::string(960, 'y').data(), 960);
        pipe.SetEndOfFile();
        waiter.join();
        EXPECT_EQ(result, c.seek ? 1000u : 40u) << c.name;
        // A waiter that sleeps wakes a few times at most; one that spins
        // takes a tenth of a second or more even on a loaded machine.
        EXPECT_LT(used, 0.03) << c.name << ": seconds of processor time while waiting a second";
    }
}

// A woken reader counts again: bytes that a seek back made readable are
// still delivered when the finish is what wakes it.
TEST(SyncStreamFile, AWokenReaderCountsAgain) {
    ESyncStreamFile pipe;
    pipe.Reset(ESyncStreamFile::kNotAnnounced);
    pipe.Write("0123456789", 10);
    char buffer[10];
    ASSERT_EQ(pipe.Read(buffer, 10), 10u);
    uint32_t got = 0;
    std::thread reader([&] { got = pipe.Read(buffer, 5); });
    // Time for the reader to start waiting; the result holds either way.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pipe.Seek(0, FromBegin);
    pipe.SetEndOfFile();
    reader.join();
    ASSERT_EQ(got, 5u);
    EXPECT_EQ(std::memcmp(buffer, "01234", 5), 0);
}

// One producer writes 64 MiB of pseudo-random bytes in random pieces while
// three consumers read random pieces. Taking turns through a lock of their
// own, each piece's stream offset is known and its bytes are compared (the
// consumer inside Read still waits on the producer); running freely, pieces
// interleave inside one Read, so what is checked is that the byte values
// delivered are exactly those written, none lost and none twice.
TEST(SyncStreamFile, OneProducerThreeConsumersMoveEveryByte) {
    constexpr uint32_t kSize = 64u << 20;
    std::vector<unsigned char> source(kSize);
    uint32_t state = 0x9E3779B9u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    for (uint32_t i = 0; i < kSize; i += 4) {
        const uint32_t word = next();
        std::memcpy(&source[i], &word, 4);
    }
    std::vector<uint32_t> histogram(256);
    for (unsigned char byte : source) ++histogram[byte];

    for (const bool take_turns : {true, false}) {
        ESyncStreamFile pipe;
        pipe.Reset(ESyncStreamFile::kNotAnnounced);
        std::mutex turn;
        std::atomic<uint32_t> moved{0}, mismatches{0};
        std::vector<std::vector<uint32_t>> seen(3, std::vector<uint32_t>(256));
        auto consumer = [&](uint32_t id) {
            std::vector<unsigned char> buffer(70000);
            uint32_t seed = id + 1;
            for (;;) {
                seed = seed * 1103515245u + 12345u;
                const uint32_t piece = 1 + (seed >> 8) % 70000;
                std::unique_lock<std::mutex> hold(turn, std::defer_lock);
                if (take_turns) hold.lock();
                const uint32_t at = pipe.GetPosition();
                const uint32_t n = pipe.Read(buffer.data(), piece);
                if (take_turns && (n > kSize - at || std::memcmp(buffer.data(), source.data() + at, n) != 0)) {
                    ++mismatches;
                }
                for (uint32_t i = 0; i < n; ++i) ++seen[id][buffer[i]];
                moved += n;
                if (n < piece) return;
            }
        };
        std::vector<std::thread> consumers;
        for (uint32_t i = 0; i < 3; ++i) consumers.emplace_back(consumer, i);
        uint32_t written = 0;
        while (written < kSize) {
            uint32_t piece = 1 + next() % 50000;
            if (piece > kSize - written) piece = kSize - written;
            ASSERT_EQ(pipe.Write(source.data() + written, piece), piece);
            written += piece;
        }
        pipe.SetEndOfFile();
        for (auto& t : consumers) t.join();
        EXPECT_EQ(moved, kSize) << "taking turns: " << take_turns;
        EXPECT_EQ(mismatches, 0u);
        for (uint32_t v = 0; v < 256; ++v) {
            ASSERT_EQ(seen[0][v] + seen[1][v] + seen[2][v], histogram[v]) << "byte value " << v;
        }
        EXPECT_EQ(pipe.GetLength(), kSize);
    }
}
