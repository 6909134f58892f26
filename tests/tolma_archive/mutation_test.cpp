// Thousands of damaged archives: every outcome must be a result, never a
// crash, an out-of-bounds access (ASan on host) or an endless loop.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "tolma_archive/archive_support.h"

namespace {

struct Walk {
    uint32_t files_opened = 0;
    uint32_t directories_entered = 0;
};

void WalkDirectory(TOLMAArchive& archive, Walk& walk, int depth) {
    TOLMAEntryList entries;
    ASSERT_EQ(archive.GetDirectoryEntries(&entries), ResultSuccess);
    uint8_t buffer[4096];
    for (uint32_t i = 0; i < entries.GetCount(); ++i) {
        const char* name = entries.GetAt(i)->GetName();
        if (entries.GetAt(i)->IsDirectory()) {
            if (depth > 8 || archive.DescendDirectory(name) != ResultSuccess) continue;
            ++walk.directories_entered;
            WalkDirectory(archive, walk, depth + 1);
            archive.AscendDirectory();
            continue;
        }
        for (int32_t streaming : {0, 1}) {
            if (archive.OpenEntry(name, nullptr, streaming) != ResultSuccess) continue;
            ++walk.files_opened;
            // Bounded: a damaged length may promise far more than is there.
            for (int n = 0; n < 64 && archive.Read(buffer, sizeof buffer) > 0; ++n) {
            }
            archive.GetLength();
            archive.CloseFile();
        }
    }
}

plat::Answer AnswerNo(const char*, const char*, void*) { return plat::Answer::No; }

}  // namespace

TEST(TolmaArchiveMutation, DamagedArchivesGiveResults) {
    // Memory that cannot be had is declined, never asked for interactively.
    plat::SetPromptHandler(&AnswerNo, nullptr);
    const std::vector<TreeItem> tree = {
        File("a.raw", PatternBytes(300, 1)),
        File("b.code", PatternBytes(700, 2), TOLMA_ENCODING_CODE),
        Dir("D",
            {
                File("c.bshf", PatternBytes(200, 3), TOLMA_ENCODING_BSHF_CRYPT),
                Dir("E", {File("d.crypt", PatternBytes(150, 4), TOLMA_ENCODING_CRYPT), File("e", {})}),
            }),
        File("f.code", {}, TOLMA_ENCODING_CODE),
    };
    const Bytes clean = MakeArchive(tree);

    uint32_t seed = 20240607;
    auto next = [&seed](uint32_t bound) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<uint32_t>((static_cast<uint64_t>(seed >> 8) * bound) >> 24);
    };
    const uint32_t kInteresting[] = {0, 1, 3, 4, 16, 0x7F, 0xFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFF0, 0xFFFFFFFF};

    Walk total;
    uint32_t opened = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes b = clean;
        const uint32_t kind = next(4);
        const uint32_t edits = 1 + next(3);
        for (uint32_t e = 0; e < edits; ++e) {
            const uint32_t at = 64 + next(static_cast<uint32_t>(b.size() - 64));
            if (kind == 0) {
                b[at] ^= static_cast<uint8_t>(1u << next(8));
            } else if (kind == 1 && at + 4 <= b.size()) {
                const uint32_t v = kInteresting[next(sizeof kInteresting / sizeof kInteresting[0])];
                for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
            } else if (kind == 2) {
                b[at] = static_cast<uint8_t>(next(256));
            } else {
                b.resize(at);
                break;
            }
        }
        SCOPED_TRACE(round);
        VectorFile file(modeRead, b);
        TOLMAArchive archive;
        if (archive.Open(&file, nullptr) != ResultSuccess) continue;
        ++opened;
        WalkDirectory(archive, total, 0);
        archive.OpenFile("D\\E\\d.crypt", nullptr, 0);
        archive.Close();
    }
    plat::SetPromptHandler(nullptr, nullptr);
    // The damage must have left enough intact for the walk to go deep.
    EXPECT_GT(opened, 1000u);
    EXPECT_GT(total.directories_entered, 1000u);
    EXPECT_GT(total.files_opened, 3000u);
}
