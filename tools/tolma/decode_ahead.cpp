#include "decode_ahead.h"

#include "jobs.h"
#include "tool_system.h"

namespace tolma {
namespace {

void Collect(TOLMAArchive& archive, const std::string& prefix, std::vector<std::string>& directories, int depth,
             const std::function<bool(const std::string&, const TOLMADirectoryEntry&)>& want,
             std::vector<FileToDecode>* files) {
    TOLMAEntryList entries;
    archive.GetDirectoryEntries(&entries);
    for (uint32_t i = 0; i < entries.GetCount(); ++i) {
        const TOLMADirectoryEntry& entry = *entries.GetAt(i);
        const std::string path = prefix + entry.GetName();
        if (!want(path, entry)) continue;
        if (!entry.IsDirectory()) {
            files->push_back({path, directories, entry.GetName(), static_cast<uint32_t>(entry.length), entry.length});
            continue;
        }
        // As Walker goes, quietly.
        if (entry.offset == 0 || depth + 1 >= kMaxDepth) continue;
        if (archive.DescendDirectory(entry.GetName()) != ResultSuccess) continue;
        directories.push_back(entry.GetName());
        Collect(archive, path + "\\", directories, depth + 1, want, files);
        directories.pop_back();
        archive.AscendDirectory();
    }
}

}  // namespace

std::vector<FileToDecode> CollectFiles(TOLMAArchive& archive,
                                       const std::function<bool(const std::string&, const TOLMADirectoryEntry&)>& want) {
    std::vector<FileToDecode> files;
    std::vector<std::string> directories;
    Collect(archive, "", directories, 0, want, &files);
    return files;
}

// Each worker's own view of the archive, opened at its first file and kept
// in the directory it last read from.
struct DecodeAhead::Worker {
    ArchiveSource source;
    bool tried = false;
    bool opened = false;
    // Whether the archive stands in directories (at first, the root).
    bool placed = true;
    std::vector<std::string> directories;
    std::vector<uint8_t> buffer;
};

DecodeAhead::DecodeAhead(std::string archive_path, bool pe, const char* password, int jobs, bool keep,
                         std::vector<FileToDecode> files)
    : archive_path_(std::move(archive_path)), pe_(pe), password_(password), keep_(keep), files_(std::move(files)) {
    if (jobs <= 1) return;
    std::vector<uint64_t> costs;
    job_of_.assign(files_.size(), -1);
    for (size_t i = 0; i < files_.size(); ++i) {
        // Judged by the whole stated length: its low 32 bits could make a
        // damaged length of 4 GiB or more pass for a small file, and every
        // such file held ahead would then cost up to kJobBytes unbudgeted.
        if (keep_ && files_[i].stated > kJobBytes) continue;
        job_of_[i] = static_cast<long>(costs.size());
        file_of_job_.push_back(i);
        costs.push_back(keep_ ? files_[i].length : 0);
        decoded_.push_back(std::make_unique<Decoded>());
    }
    if (costs.empty()) return;
    for (int i = 0; i < jobs; ++i) workers_.push_back(std::make_unique<Worker>());
    pipeline_ = std::make_unique<JobPipeline>(jobs, std::move(costs), kJobsAhead * static_cast<size_t>(jobs),
                                              kBytesAhead, [this](size_t job, int worker) { Decode(job, worker); });
}

DecodeAhead::~DecodeAhead() {
    // The pipeline ends, and its threads with it, before what they use.
    pipeline_.reset();
}

// On a worker: what Drain would read of one file, into memory.
void DecodeAhead::Decode(size_t job, int worker) {
    const FileToDecode& f = files_[file_of_job_[job]];
    Decoded& d = *decoded_[job];
    Worker& w = *workers_[static_cast<size_t>(worker)];
    if (!w.tried) {
        w.tried = true;
        w.opened = w.source.Open(archive_path_, pe_, true) == kExitOk;
        w.buffer.resize(kChunk);
    }
    if (!w.opened) {
        d.here = true;
        return;
    }
    TOLMAArchive& archive = w.source.Archive();
    if (!w.placed || w.directories != f.directories) {
        w.placed = archive.ChangeDirectory("") == ResultSuccess;
        w.directories.clear();
        for (const std::string& name : f.directories) {
            if (!w.placed || archive.DescendDirectory(name.c_str()) != ResultSuccess) {
                w.placed = false;
                break;
            }
            w.directories.push_back(name);
        }
        if (!w.placed) {
            d.here = true;
            return;
        }
    }
    if (archive.OpenEntry(f.name.c_str(), password_, 1) != ResultSuccess) return;
    d.opened = true;
    if (keep_) d.bytes.reserve(static_cast<size_t>(f.length));
    uint64_t done = 0;
    for (;;) {
        const uint32_t n = archive.Read(w.buffer.data(), kChunk);
        if (n == 0) break;
        d.chunks.push_back(n);
        done += n;
        if (keep_) {
            if (done > kJobBytes) {
                // More than the directory promised: not held here.
                archive.CloseFile();
                d = Decoded();
                d.here = true;
                return;
            }
            d.bytes.insert(d.bytes.end(), w.buffer.begin(), w.buffer.begin() + n);
        }
    }
    d.problem = DrainOutcome(done, f.length, archive.CloseFile());
}

void DecodeAhead::ReleaseTaken() {
    if (taken_ < 0) return;
    decoded_[static_cast<size_t>(taken_)].reset();
    pipeline_->Release(static_cast<size_t>(taken_));
    taken_ = -1;
}

Decoded* DecodeAhead::Take(const std::string& path) {
    if (pipeline_ == nullptr) return nullptr;
    ReleaseTaken();
    while (next_ < files_.size() && files_[next_].path != path) {
        if (job_of_[next_] >= 0) pipeline_->Skip(static_cast<size_t>(job_of_[next_]));
        ++next_;
    }
    if (next_ >= files_.size()) return nullptr;
    const long job = job_of_[next_++];
    if (job < 0) return nullptr;
    pipeline_->Take(static_cast<size_t>(job));
    taken_ = job;
    Decoded* d = decoded_[static_cast<size_t>(job)].get();
    if (d->here) {
        ReleaseTaken();
        return nullptr;
    }
    return d;
}

std::string Replay(const Decoded& decoded, Progress* progress,
                   const std::function<bool(const uint8_t*, uint32_t)>& sink) {
    size_t at = 0;
    for (uint32_t n : decoded.chunks) {
        const uint8_t* data = decoded.bytes.empty() ? nullptr : decoded.bytes.data() + at;
        if (!sink(data, n)) return "cannot be written (" + tool::LastErrorText() + ")";
        at += n;
        if (progress != nullptr) progress->Add(n);
    }
    return decoded.problem;
}

}  // namespace tolma
