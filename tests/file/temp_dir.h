// A fresh directory under the system's temporary directory for one test,
// removed with everything the test left in it (files only, one level deep,
// plus the subdirectories the test registers).
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "platform/file.h"

class TempDir {
public:
    TempDir() {
        char buffer[512];
        const uint32_t n = plat::GetTempDirectory(sizeof buffer, buffer);
        std::string base =
            n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string(".") + plat::PathSeparator();
        static int counter = 0;
        // Time and a stack address make a name, and a name taken already is
        // passed over: under qemu's emulation the stack is at the same address
        // in every process, and two runs of one test program started in the
        // same second (its processor-model variants) named the same
        // directory and deleted each other's files.
        const auto stamp = static_cast<unsigned long long>(std::time(nullptr)) ^
                           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(&base));
        for (int tries = 0; tries < 1000; ++tries) {
            path_ = base + "hvb-test-" + std::to_string(stamp) + "-" + std::to_string(++counter);
            if (plat::CreateDirectoryPath(path_.c_str())) break;
        }
    }
    ~TempDir() {
        for (const auto& file : files_) plat::DeleteFilePath(file.c_str());
        for (auto it = dirs_.rbegin(); it != dirs_.rend(); ++it) plat::RemoveDirectoryPath(it->c_str());
        plat::RemoveDirectoryPath(path_.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // A path inside the directory, deleted at the end.
    std::string File(const std::string& name) {
        files_.push_back(path_ + plat::PathSeparator() + name);
        return files_.back();
    }
    std::string Dir(const std::string& name) {
        dirs_.push_back(path_ + plat::PathSeparator() + name);
        plat::CreateDirectoryPath(dirs_.back().c_str());
        return dirs_.back();
    }
    std::string FileIn(const std::string& dir, const std::string& name) {
        files_.push_back(dir + plat::PathSeparator() + name);
        return files_.back();
    }

private:
    std::string path_;
    std::vector<std::string> files_;
    std::vector<std::string> dirs_;
};
