// Storing the files of a tree in the archive being written, in the tree's
// order. With more than one job, files are read and coded ahead on other
// threads and stored here in the same order with the same bytes; what is said
// and what is written are the same either way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/tolma_archive.h"
#include "archive/tolma_entry_coder.h"
#include "output.h"

namespace tolma {

class JobPipeline;

struct FileToStore {
    std::string native;  // full native path
    std::string name;    // archive name in its directory
    uint32_t encoding;
    const char* password;  // or null
    uint64_t size;         // as planned
};

class FileStore {
public:
    // files: every file, in the order Store will be called for them.
    FileStore(TOLMAArchive& archive, HVBFileObject& out, Progress& progress, int jobs,
              std::vector<FileToStore> files);
    ~FileStore();
    FileStore(const FileStore&) = delete;
    FileStore& operator=(const FileStore&) = delete;

    // The next file of the list into the archive's current directory; false
    // after reporting why it failed.
    bool StoreNext();

private:
    // What a worker made of one file.
    struct Coded {
        enum { kNotOpened, kNotCoded, kRead } state = kRead;
        std::string why;      // the system's words when it was not opened
        std::string problem;  // what went wrong reading or coding it
        uint64_t read = 0;
        TOLMAEntryCoder coder;
    };
    void Code(size_t job);
    bool StoreStreamed(const FileToStore& f);
    bool StoreCoded(const FileToStore& f, size_t job);

    TOLMAArchive& archive_;
    HVBFileObject& out_;
    Progress& progress_;
    std::vector<FileToStore> files_;
    size_t next_ = 0;
    // Per file: its job, or -1 when it is streamed here.
    std::vector<long> job_of_;
    std::vector<size_t> file_of_job_;
    std::vector<std::unique_ptr<Coded>> coded_;
    std::unique_ptr<JobPipeline> pipeline_;
};

}  // namespace tolma
