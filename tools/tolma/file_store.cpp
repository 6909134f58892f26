#include "file_store.h"

#include "archive_source.h"
#include "file/raw_file.h"
#include "jobs.h"
#include "tool_system.h"

namespace tolma {
namespace {

const char kUnreadable[] = "it could not be read to its end (did it change while it was read?)";
const char kGrew[] = "it grew while it was read";
const char kWriteFailed[] = "writing it into the archive failed";

}  // namespace

FileStore::FileStore(TOLMAArchive& archive, HVBFileObject& out, Progress& progress, int jobs,
                     std::vector<FileToStore> files)
    : archive_(archive), out_(out), progress_(progress), files_(std::move(files)) {
    if (jobs <= 1) return;
    std::vector<uint64_t> costs;
    job_of_.assign(files_.size(), -1);
    for (size_t i = 0; i < files_.size(); ++i) {
        if (files_[i].size > kJobBytes) continue;
        job_of_[i] = static_cast<long>(costs.size());
        file_of_job_.push_back(i);
        costs.push_back(files_[i].size);
        coded_.push_back(std::make_unique<Coded>());
    }
    if (costs.empty()) return;
    pipeline_ = std::make_unique<JobPipeline>(jobs, std::move(costs), kJobsAhead * static_cast<size_t>(jobs),
                                              kBytesAhead, [this](size_t job, int) { Code(job); });
}

FileStore::~FileStore() = default;

// On a worker: reads and codes one file as Fill would store it.
void FileStore::Code(size_t job) {
    const FileToStore& f = files_[file_of_job_[job]];
    Coded& c = *coded_[job];
    ERawFile in;
    if (in.Open(f.native.c_str(), modeRead | shareRead) != ResultSuccess) {
        c.state = Coded::kNotOpened;
        c.why = tool::LastErrorText();
        return;
    }
    if (c.coder.Begin(f.encoding, f.password) != ResultSuccess) {
        c.state = Coded::kNotCoded;
        return;
    }
    // Raw bytes stay as they are; coded, even noise grows by less than 5%.
    c.coder.Reserve(static_cast<uint32_t>(f.size + f.size / 16 + 4096));
    std::vector<uint8_t> buffer(f.size < kChunk ? static_cast<size_t>(f.size) + 1 : kChunk);
    while (c.read < f.size) {
        const uint64_t rest = f.size - c.read;
        const uint32_t n = in.Read(buffer.data(), rest < kChunk ? static_cast<uint32_t>(rest) : kChunk);
        if (n == 0) {
            c.problem = kUnreadable;
            break;
        }
        if (c.coder.Write(buffer.data(), n) != n) {
            c.problem = kWriteFailed;
            break;
        }
        c.read += n;
    }
    if (c.problem.empty() && in.Read(buffer.data(), 1) != 0) c.problem = kGrew;
    if (c.coder.Finish() != ResultSuccess && c.problem.empty()) c.problem = kWriteFailed;
    // A file that will not be stored holds no memory while it waits.
    if (!c.problem.empty()) c.coder.Reset();
}

bool FileStore::StoreNext() {
    const size_t i = next_++;
    if (i >= files_.size()) return false;
    const long job = pipeline_ != nullptr ? job_of_[i] : -1;
    if (job < 0) return StoreStreamed(files_[i]);
    pipeline_->Take(static_cast<size_t>(job));
    const bool stored = StoreCoded(files_[i], static_cast<size_t>(job));
    coded_[static_cast<size_t>(job)].reset();
    pipeline_->Release(static_cast<size_t>(job));
    return stored;
}

bool FileStore::StoreStreamed(const FileToStore& f) {
    progress_.BeginFile(NativeShown(f.native));
    ERawFile in;
    if (in.Open(f.native.c_str(), modeRead | shareRead) != ResultSuccess) {
        Error("cannot open " + NativeShown(f.native) + " (" + tool::LastErrorText() + ")");
        return false;
    }
    if (archive_.OpenEntry(f.name.c_str(), f.password, 0) != ResultSuccess) {
        Error("cannot store " + NativeShown(f.native));
        return false;
    }
    const std::string problem = Fill(archive_, in, f.size, out_, progress_);
    if (!problem.empty()) {
        Error(NativeShown(f.native) + ": " + problem);
        return false;
    }
    return true;
}

bool FileStore::StoreCoded(const FileToStore& f, size_t job) {
    Coded& c = *coded_[job];
    progress_.BeginFile(NativeShown(f.native));
    if (c.state == Coded::kNotOpened) {
        Error("cannot open " + NativeShown(f.native) + " (" + c.why + ")");
        return false;
    }
    if (c.state == Coded::kNotCoded) {
        Error("cannot store " + NativeShown(f.native));
        return false;
    }
    for (uint64_t shown = 0; shown < c.read;) {
        const uint64_t n = c.read - shown < kChunk ? c.read - shown : kChunk;
        progress_.Add(n);
        shown += n;
    }
    if (!c.problem.empty()) {
        Error(NativeShown(f.native) + ": " + c.problem);
        return false;
    }
    const ResultCode r = archive_.StoreCodedEntry(f.name.c_str(), c.coder);
    if (r == ResultInvalidParameter) {
        Error("cannot store " + NativeShown(f.native));
        return false;
    }
    std::string problem;
    if (out_.GetLength() > kArchiveLimit) problem = std::string("the archive grew too large: ") + kArchiveLimitText;
    else if (r != ResultSuccess) problem = kWriteFailed;
    if (!problem.empty()) {
        Error(NativeShown(f.native) + ": " + problem);
        return false;
    }
    return true;
}

}  // namespace tolma
