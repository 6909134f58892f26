// Reading archives: opening one, plain or held in a PE image, walking its
// tree, and streaming a stored file out of it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "archive/tolma_archive.h"
#include "command.h"
#include "file/exe_image_file.h"
#include "file/raw_file.h"
#include "output.h"

namespace tolma {

constexpr uint32_t kChunk = 1u << 20;
// Deeper trees are refused: no legitimate archive needs them, and a damaged
// one could otherwise nest until paths and the stack run out.
constexpr int kMaxDepth = 64;
// The largest archive there can be: its container seeks with signed 32-bit
// positions, so nothing may lie at or past 2 GiB.
constexpr uint64_t kArchiveLimit = 0x7FFFFFFF;
// What a message says of that limit, and what to do.
extern const char kArchiveLimitText[];

class ArchiveSource {
public:
    // kExitOk, or kExitNoArchive after saying why. A PE image is recognised
    // by its "MZ" header, or taken as one when pe is set; its archive is its
    // "IDR_ARCHIVE" resource, read through the resource window, never a copy.
    // Quiet, it says nothing.
    int Open(const std::string& path, bool pe, bool quiet = false);
    TOLMAArchive& Archive() { return archive_; }

private:
    // Destroyed in reverse: the archive before the image before the file.
    ERawFile raw_;
    EXEImageFileObject image_;
    TOLMAArchive archive_;
};

struct Walker {
    TOLMAArchive& archive;
    // Called for every entry with its full archive path and depth; for a
    // directory, false skips its contents.
    std::function<bool(const std::string& path, const TOLMADirectoryEntry& entry, int depth)> visit;
    // Directories that could not be entered, each reported.
    int failures = 0;

    // From the archive's current directory.
    void Walk(const std::string& prefix, int depth);
};

// Streams the archive's open file to sink and closes it; "" on success, else
// what went wrong. progress may be null.
std::string Drain(TOLMAArchive& archive, uint64_t length, Progress* progress,
                  const std::function<bool(const uint8_t*, uint32_t)>& sink);

// Copies the size bytes source held when it was listed into the archive's
// open file (opened for writing) and closes it; "" on success, else what went
// wrong: a failed write or close, a source that shrank or grew meanwhile, or
// an archive file (out) that would pass kArchiveLimit.
std::string Fill(TOLMAArchive& archive, HVBFileObject& source, uint64_t size, HVBFileObject& out, Progress& progress);

// Drain's answer for a file of which done bytes of length were read and
// whose closing answered closed.
std::string DrainOutcome(uint64_t done, uint64_t length, ResultCode closed);

class PendingFile;

// Closes the archive written into out and keeps it under its final name
// (output) only when every entry went in (stored) and it stayed within
// kArchiveLimit; else says why and leaves no archive. kExitOk or kExitFailed.
int FinishArchive(TOLMAArchive& archive, PendingFile& out, bool stored, const std::string& output);

// The --password option in the archive's code page, or null without one.
const char* PasswordOf(const Options& o, std::string* converted);

}  // namespace tolma
