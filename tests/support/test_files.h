// File objects for tests: one over a byte vector, one over a host file through
// stdio. Both count what is read through them, so that tests can tell how much
// of a source a reader touched.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "file/file_object.h"

class VectorFile : public HVBFileObject {
public:
    explicit VectorFile(uint32_t flags = modeRead | modeWrite, std::vector<uint8_t> bytes = {})
        : bytes(std::move(bytes)) {
        open_flags_ = flags;
    }

    HVBFileObject* Duplicate() override { return new VectorFile(open_flags_, bytes); }
    uint32_t Read(void* buffer, uint32_t count) override {
        if (position >= bytes.size()) return 0;
        if (count > bytes.size() - position) count = static_cast<uint32_t>(bytes.size() - position);
        std::copy(bytes.begin() + position, bytes.begin() + position + count, static_cast<uint8_t*>(buffer));
        position += count;
        bytes_read += count;
        return count;
    }
    uint32_t Write(const void* buffer, uint32_t count) override {
        if (short_writes && count > 1) count /= 2;
        if (position + count > bytes.size()) bytes.resize(position + count);
        const auto* p = static_cast<const uint8_t*>(buffer);
        std::copy(p, p + count, bytes.begin() + position);
        position += count;
        return count;
    }
    uint32_t GetLength() override { return static_cast<uint32_t>(bytes.size()); }
    uint32_t Seek(int32_t distance, uint32_t origin) override {
        int64_t base = origin == FromCurrent ? position : origin == FromEnd ? bytes.size() : 0;
        int64_t target = base + distance;
        if (target < 0) return 0xFFFFFFFFu;
        position = static_cast<uint32_t>(target);
        return position;
    }
    uint32_t GetPosition() override { return position; }
    ResultCode SetEndOfFile() override {
        bytes.resize(position);
        return ResultSuccess;
    }

    std::vector<uint8_t> bytes;
    uint32_t position = 0;
    uint64_t bytes_read = 0;
    bool short_writes = false;
};

// A read-only host file; the position follows the Win32 rules (a seek before
// the start fails and leaves the position, a seek past the end is allowed).
class HostFile : public HVBFileObject {
public:
    explicit HostFile(const std::string& path) {
        file_ = std::fopen(path.c_str(), "rb");
        if (file_ != nullptr) open_flags_ = modeRead | shareRead;
    }
    ~HostFile() override {
        if (file_ != nullptr) std::fclose(file_);
    }
    bool IsOpen() const { return file_ != nullptr; }

    HVBFileObject* Duplicate() override { return nullptr; }
    uint32_t Read(void* buffer, uint32_t count) override {
        if (file_ == nullptr) return 0;
        uint32_t got = static_cast<uint32_t>(std::fread(buffer, 1, count, file_));
        bytes_read += got;
        if (got > largest_read) largest_read = got;
        return got;
    }
    uint32_t Write(const void*, uint32_t) override { return 0; }
    uint32_t GetLength() override {
        if (file_ == nullptr) return 0xFFFFFFFFu;
        long here = std::ftell(file_);
        std::fseek(file_, 0, SEEK_END);
        long end = std::ftell(file_);
        std::fseek(file_, here, SEEK_SET);
        return static_cast<uint32_t>(end);
    }
    uint32_t Seek(int32_t distance, uint32_t origin) override {
        if (file_ == nullptr) return 0xFFFFFFFFu;
        int64_t base = origin == FromCurrent ? std::ftell(file_) : origin == FromEnd ? GetLength() : 0;
        if (base + distance < 0) return 0xFFFFFFFFu;
        std::fseek(file_, static_cast<long>(base + distance), SEEK_SET);
        return static_cast<uint32_t>(std::ftell(file_));
    }
    uint32_t GetPosition() override { return file_ != nullptr ? static_cast<uint32_t>(std::ftell(file_)) : 0xFFFFFFFFu; }

    uint64_t bytes_read = 0;
    uint32_t largest_read = 0;

private:
    std::FILE* file_ = nullptr;
};

// A host path as the program under test sees it: under Wine the host file
// system is drive Z:.
inline std::string HostPath(const std::string& path) {
#ifdef _WIN32
    std::string p = "Z:" + path;
    for (char& c : p) if (c == '/') c = '\\';
    return p;
#else
    return path;
#endif
}

inline std::string TestDataDir() {
    const char* dir = std::getenv("HVB_TEST_DATA");
    return dir != nullptr ? dir : ".";
}

inline std::vector<uint8_t> ReadHostFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return bytes;
}
