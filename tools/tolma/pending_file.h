// A file written under a temporary name beside its target, which takes the
// target's name only once it is complete: a failure at any point leaves the
// target as it was (or absent) and no partial file behind.
#pragma once

#include <string>
#include <utility>

#include "file/raw_file.h"

namespace tolma {

class PendingFile {
public:
    explicit PendingFile(std::string target) : target_(std::move(target)) {}
    ~PendingFile() { Discard(); }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Creates the temporary file, open for reading and writing; false after
    // saying why.
    bool Open();
    ERawFile& File() { return file_; }
    const std::string& TemporaryPath() const { return temporary_; }
    // Closes the file and renames it over the target, with the permissions
    // a replaced target had; false after saying why (the temporary is gone).
    bool Commit();
    // Closes and removes the temporary file, if any.
    void Discard();

private:
    std::string target_;
    std::string temporary_;
    ERawFile file_;
};

}  // namespace tolma
