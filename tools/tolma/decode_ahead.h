// Stored files decoded ahead on other threads, each through an archive
// opened on its own, for a walk that takes them in its own order: extract
// and verify then write, report and count exactly as they do alone.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive_source.h"

namespace tolma {

class JobPipeline;

struct FileToDecode {
    std::string path;                      // as the walk names it
    std::vector<std::string> directories;  // stored names on the way
    std::string name;
    uint64_t length;  // as the serial path reads it (the low 32 bits)
    uint64_t stated;  // the directory's whole value
};

// What a worker decoded of one file: the chunks Drain would have read.
struct Decoded {
    bool opened = false;
    std::vector<uint32_t> chunks;
    std::vector<uint8_t> bytes;  // kept only when asked for
    std::string problem;         // as Drain says it
    // The worker could not reach the file: the walk's own archive does it.
    bool here = false;
};

// The files below the archive's current directory that want(path, entry)
// picks, in the order a Walker visits them; a directory is entered when
// want picks it. Says nothing: the walk that follows reports.
std::vector<FileToDecode> CollectFiles(TOLMAArchive& archive,
                                       const std::function<bool(const std::string&, const TOLMADirectoryEntry&)>& want);

class DecodeAhead {
public:
    // keep: the bytes are wanted (extract); else only checked (verify), and
    // every file is decoded ahead whatever its size.
    DecodeAhead(std::string archive_path, bool pe, const char* password, int jobs, bool keep,
                std::vector<FileToDecode> files);
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // The file at path, which the walk is at; what was decoded of it, valid
    // until the next call, or null when the walk decodes it itself. Files
    // passed over on the way are not wanted.
    Decoded* Take(const std::string& path);

private:
    struct Worker;
    void Decode(size_t job, int worker);
    void ReleaseTaken();

    std::string archive_path_;
    bool pe_;
    const char* password_;
    bool keep_;
    std::vector<FileToDecode> files_;
    std::vector<long> job_of_;
    std::vector<size_t> file_of_job_;
    std::vector<std::unique_ptr<Decoded>> decoded_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::unique_ptr<JobPipeline> pipeline_;
    size_t next_ = 0;
    long taken_ = -1;
};

// Hands what a worker decoded to sink as Drain would, with the same answer.
std::string Replay(const Decoded& decoded, Progress* progress,
                   const std::function<bool(const uint8_t*, uint32_t)>& sink);

}  // namespace tolma
