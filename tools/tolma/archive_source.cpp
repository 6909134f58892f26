#include "archive_source.h"

#include <vector>

#include "output.h"
#include "pending_file.h"
#include "tool_system.h"

namespace tolma {

int ArchiveSource::Open(const std::string& path, bool pe, bool quiet) {
    if (raw_.Open(path.c_str(), modeRead | shareRead) != ResultSuccess) {
        if (!quiet) Error("cannot open " + NativeShown(path) + " (" + tool::LastErrorText() + ")");
        return kExitNoArchive;
    }
    char magic[2] = {};
    const bool mz = raw_.Read(magic, 2) == 2 && magic[0] == 'M' && magic[1] == 'Z';
    raw_.Seek(0, FromBegin);
    HVBFileObject* source = &raw_;
    if (pe || mz) {
        ResultCode r = image_.OpenPEImageFile(&raw_);
        if (r == ResultSuccess) r = image_.OpenResource(MakeIntResource(RT_RCDATA_ID), "IDR_ARCHIVE", 0);
        if (r != ResultSuccess) {
            if (!quiet) Error(NativeShown(path) + " holds no archive resource: " + Shown(GetResultText(r)));
            return kExitNoArchive;
        }
        source = &image_;
    }
    if (archive_.Open(source, nullptr) != ResultSuccess) {
        if (!quiet) Error(NativeShown(path) + " is not an archive, or its root directory is damaged");
        return kExitNoArchive;
    }
    return kExitOk;
}

void Walker::Walk(const std::string& prefix, int depth) {
    TOLMAEntryList entries;
    archive.GetDirectoryEntries(&entries);
    for (uint32_t i = 0; i < entries.GetCount(); ++i) {
        const TOLMADirectoryEntry& entry = *entries.GetAt(i);
        const std::string path = prefix + entry.GetName();
        if (!visit(path, entry, depth) || !entry.IsDirectory()) continue;
        // Declared but never stored: an empty directory.
        if (entry.offset == 0) continue;
        if (depth + 1 >= kMaxDepth) {
            Error("directory " + Quoted(path) + " is nested too deeply; not entered");
            ++failures;
            continue;
        }
        if (archive.DescendDirectory(entry.GetName()) != ResultSuccess) {
            Error("directory " + Quoted(path) + " cannot be read");
            ++failures;
            continue;
        }
        Walk(path + "\\", depth + 1);
        archive.AscendDirectory();
    }
}

std::string Drain(TOLMAArchive& archive, uint64_t length, Progress* progress,
                  const std::function<bool(const uint8_t*, uint32_t)>& sink) {
    std::vector<uint8_t> buffer(kChunk);
    uint64_t done = 0;
    for (;;) {
        const uint32_t n = archive.Read(buffer.data(), kChunk);
        if (n == 0) break;
        if (!sink(buffer.data(), n)) {
            archive.CloseFile();
            return "cannot be written (" + tool::LastErrorText() + ")";
        }
        done += n;
        if (progress != nullptr) progress->Add(n);
    }
    return DrainOutcome(done, length, archive.CloseFile());
}

std::string DrainOutcome(uint64_t done, uint64_t length, ResultCode closed) {
    if (done < length) return "stored data ends early (damaged or wrong password)";
    if (closed != ResultSuccess) return "checksum mismatch (damaged or wrong password)";
    return "";
}

const char kArchiveLimitText[] =
    "an archive holds at most 2 GiB - 1 (2147483647 bytes); store the files in several archives";

std::string Fill(TOLMAArchive& archive, HVBFileObject& source, uint64_t size, HVBFileObject& out, Progress& progress) {
    std::vector<uint8_t> buffer(kChunk);
    std::string problem;
    for (uint64_t done = 0; done < size;) {
        const uint32_t n =
            source.Read(buffer.data(), size - done < kChunk ? static_cast<uint32_t>(size - done) : kChunk);
        if (n == 0) {
            problem = "it could not be read to its end (did it change while it was read?)";
            break;
        }
        if (archive.Write(buffer.data(), n) != n) {
            problem = "writing it into the archive failed";
            break;
        }
        done += n;
        progress.Add(n);
        if (out.GetLength() > kArchiveLimit) {
            problem = std::string("the archive grew too large: ") + kArchiveLimitText;
            break;
        }
    }
    // The entry holds what the listing counted; more would go unchecked.
    if (problem.empty() && source.Read(buffer.data(), 1) != 0) problem = "it grew while it was read";
    const bool closed = archive.CloseFile() == ResultSuccess;
    if (problem.empty() && !closed) problem = "writing it into the archive failed";
    return problem;
}

int FinishArchive(TOLMAArchive& archive, PendingFile& out, bool stored, const std::string& output) {
    bool written = archive.Close() == ResultSuccess && stored;
    if (written && out.File().GetLength() > kArchiveLimit) {
        Error(std::string("the archive grew too large: ") + kArchiveLimitText);
        written = false;
    }
    if (!written) {
        // Half an archive is worse than none: the tree or listing promised all of it.
        Error("writing " + NativeShown(output) + " failed; no archive written");
        return kExitFailed;
    }
    return out.Commit() ? kExitOk : kExitFailed;
}

const char* PasswordOf(const Options& o, std::string* converted) {
    if (!o.has_password) return nullptr;
    if (!tool::ArgumentToArchive(o.password.c_str(), converted)) *converted = o.password;
    return converted->c_str();
}

}  // namespace tolma
