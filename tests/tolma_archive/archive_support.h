// Trees of files described in the tests, written with the archive writer and
// compared with what the reader gives back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive/tolma_archive.h"
#include "support/test_files.h"

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kCreateFlags = modeCreate | modeRead | modeWrite;

inline Bytes PatternBytes(size_t n, uint32_t seed) {
    Bytes bytes(n);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        // Runs and repeats mixed with noise, so the context-tree code has
        // something to find and something it cannot.
        if ((i / 4096) % 3 == 0) {
            x = x * 1103515245u + 12345u;
            bytes[i] = static_cast<uint8_t>(x >> 16);
        } else {
            bytes[i] = static_cast<uint8_t>("the quick brown fox "[(i + seed) % 20]);
        }
    }
    return bytes;
}

struct TreeItem {
    std::string name;
    bool directory = false;
    uint32_t encoding = TOLMA_ENCODING_RAW;
    std::string password;
    Bytes data;
    std::vector<TreeItem> children;
    // Declared in the directory but never stored.
    bool skip = false;
};

inline TreeItem File(std::string name, Bytes data, uint32_t encoding = TOLMA_ENCODING_RAW, std::string password = {}) {
    TreeItem item;
    item.name = std::move(name);
    item.data = std::move(data);
    item.encoding = encoding;
    item.password = std::move(password);
    return item;
}

inline TreeItem Dir(std::string name, std::vector<TreeItem> children) {
    TreeItem item;
    item.name = std::move(name);
    item.directory = true;
    item.children = std::move(children);
    return item;
}

inline void ListOf(const std::vector<TreeItem>& items, TOLMAEntryList* list) {
    for (const TreeItem& item : items) {
        const uint8_t stamp[8] = {1, 2, 3, 4, 5, 6, 7, static_cast<uint8_t>(item.name.size())};
        list->AddEntry(item.name.c_str(), item.directory ? uint32_t{TOLMA_ATTRIBUTE_DIRECTORY} : 0x20u, item.encoding, stamp);
    }
}

// Writes in pieces of `chunk` bytes.
inline void WriteItems(TOLMAArchive& archive, const std::vector<TreeItem>& items, uint32_t chunk) {
    for (const TreeItem& item : items) {
        if (item.skip) continue;
        if (item.directory) {
            TOLMAEntryList list;
            ListOf(item.children, &list);
            ASSERT_EQ(archive.DescendDirectory(item.name.c_str(), &list), ResultSuccess) << item.name;
            WriteItems(archive, item.children, chunk);
            ASSERT_EQ(archive.AscendDirectory(), ResultSuccess) << item.name;
            continue;
        }
        ASSERT_EQ(archive.OpenEntry(item.name.c_str(), item.password.empty() ? nullptr : item.password.c_str(), 0),
                  ResultSuccess)
            << item.name;
        for (size_t done = 0; done < item.data.size();) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(chunk, item.data.size() - done));
            ASSERT_EQ(archive.Write(item.data.data() + done, n), n);
            done += n;
        }
        EXPECT_EQ(archive.GetLength(), item.data.size());
        ASSERT_EQ(archive.CloseFile(), ResultSuccess) << item.name;
    }
}

inline Bytes MakeArchive(const std::vector<TreeItem>& root, uint32_t chunk = 10000) {
    VectorFile file(kCreateFlags);
    TOLMAArchive archive;
    TOLMAEntryList list;
    ListOf(root, &list);
    EXPECT_EQ(archive.Open(&file, &list), ResultSuccess);
    WriteItems(archive, root, chunk);
    EXPECT_EQ(archive.Close(), ResultSuccess);
    return file.bytes;
}

// Reads the whole open file in pieces of `chunk` bytes.
inline Bytes ReadAll(HVBFileObject& file, uint32_t chunk = 7000) {
    Bytes out;
    Bytes piece(chunk);
    for (;;) {
        const uint32_t n = file.Read(piece.data(), chunk);
        if (n == 0) break;
        out.insert(out.end(), piece.begin(), piece.begin() + n);
    }
    return out;
}
