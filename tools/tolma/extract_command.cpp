// tolma extract: stored files below a destination directory, refusing every
// name that would lead outside it.
#include <memory>
#include <utility>
#include <vector>

#include "archive_source.h"
#include "command.h"
#include "decode_ahead.h"
#include "names.h"
#include "output.h"
#include "pending_file.h"
#include "platform/file.h"
#include "tool_system.h"

namespace tolma {
namespace {

class Extractor {
public:
    Extractor(const Options& o, TOLMAArchive& archive, std::string destination)
        : options_(o), archive_(archive), destination_(std::move(destination)) {}

    // Paths typed by the user; none selects everything.
    std::vector<std::string> selections;
    std::vector<bool> matched;
    int failures = 0;

    int Run() {
        std::string password_text;
        password_ = PasswordOf(options_, &password_text);
        matched.assign(selections.size(), false);

        uint64_t total = 0;
        uint32_t files = 0;
        if (tool::ErrorIsTerminal()) {
            Walker sizes{archive_, [&](const std::string& path, const TOLMADirectoryEntry& e, int) {
                             if (!e.IsDirectory() && Selected(path, false)) {
                                 total += static_cast<uint32_t>(e.length);
                                 ++files;
                             }
                             return true;
                         }};
            sizes.Walk("", 0);
        }
        Progress progress(total, files, options_.verbose);
        progress_ = &progress;
        std::vector<FileToDecode> wanted;
        if (options_.jobs > 1)
            wanted = CollectFiles(archive_, [this](const std::string& path, const TOLMADirectoryEntry& e) {
                return Selected(path, false) || (e.IsDirectory() && OnTheWay(path));
            });
        DecodeAhead ahead(options_.arguments[0], options_.pe, password_, options_.jobs, true, std::move(wanted));
        ahead_ = &ahead;

        Walker walker{archive_, nullptr};
        walker.visit = [this](const std::string& path, const TOLMADirectoryEntry& e, int depth) {
            return Visit(path, e, depth);
        };
        walker.Walk("", 0);
        progress.Finish();
        failures += walker.failures;
        for (size_t i = 0; i < selections.size(); ++i) {
            if (!matched[i]) {
                Error(Quoted(selections[i]) + ": not found in the archive");
                ++failures;
            }
        }
        return failures != 0 ? kExitFailed : kExitOk;
    }

private:
    // Whether path is selected or lies below a selection. Marks what it
    // matches, when asked.
    bool Selected(const std::string& path, bool mark) {
        if (selections.empty()) return true;
        bool any = false;
        for (size_t i = 0; i < selections.size(); ++i) {
            const std::string& s = selections[i];
            if (FoldedEquals(path, s) || LiesBelow(path, s)) {
                if (mark) matched[i] = true;
                any = true;
            }
        }
        return any;
    }
    // Whether a directory lies on the way to some selection.
    bool OnTheWay(const std::string& path) {
        for (const std::string& s : selections)
            if (LiesBelow(s, path)) return true;
        return false;
    }

    void Refuse(const std::string& path, const std::string& why) {
        Error("refusing " + Quoted(path) + ": " + why);
        ++failures;
    }

    bool Visit(const std::string& path, const TOLMADirectoryEntry& e, int depth) {
        const bool selected = Selected(path, true);
        if (!selected && !(e.IsDirectory() && OnTheWay(path))) return false;
        // Every piece of the path is checked where it is entered; the
        // directories above were checked on the way down.
        if (const char* why = UnsafeName(e.GetName())) {
            Refuse(path, why);
            return false;
        }
        std::string native_name;
        if (!tool::ArchiveToNative(e.GetName(), &native_name)) {
            Refuse(path, "the name cannot be expressed on this system");
            return false;
        }
        native_.resize(static_cast<size_t>(depth));
        native_.push_back(native_name);
        if (e.IsDirectory()) {
            if (selected && !EnsureDirectories(path, native_.size())) return false;
            return true;
        }
        if (!EnsureDirectories(path, native_.size() - 1)) return false;
        ExtractFile(path, e, Join(native_.size()));
        return true;
    }

    std::string Join(size_t pieces) const {
        std::string out = destination_;
        for (size_t i = 0; i < pieces; ++i) out += tool::NativeSeparator() + native_[i];
        return out;
    }

    // Creates the first `pieces` directories of the current path below the
    // destination, never through a link.
    bool EnsureDirectories(const std::string& path, size_t pieces) {
        for (size_t i = 1; i <= pieces; ++i) {
            const std::string dir = Join(i);
            switch (tool::GetPathKind(dir)) {
                case tool::PathKind::Directory:
                    continue;
                case tool::PathKind::None:
                    if (tool::MakeDirectory(dir)) continue;
                    Error("cannot create directory " + NativeShown(dir));
                    ++failures;
                    return false;
                case tool::PathKind::Link:
                    Refuse(path, "a link stands on its way (" + NativeShown(dir) + ")");
                    return false;
                default:
                    Refuse(path, NativeShown(dir) + " exists and is not a directory");
                    return false;
            }
        }
        return true;
    }

    void ExtractFile(const std::string& path, const TOLMADirectoryEntry& e, const std::string& target) {
        const tool::PathKind kind = tool::GetPathKind(target);
        const bool existed = kind == tool::PathKind::File;
        switch (kind) {
            case tool::PathKind::None:
                break;
            case tool::PathKind::File:
                if (options_.force) break;
                Error(NativeShown(target) + " exists; not overwritten (use --force)");
                ++failures;
                return;
            case tool::PathKind::Link:
                Refuse(path, NativeShown(target) + " is a link; not followed");
                return;
            default:
                Refuse(path, NativeShown(target) + " exists and is not a file");
                return;
        }
        progress_->BeginFile(Quoted(path));
        const Decoded* decoded = ahead_->Take(path);
        if (decoded != nullptr ? !decoded->opened : archive_.OpenEntry(e.GetName(), password_, 1) != ResultSuccess) {
            Error(Quoted(path) + ": " +
                  (GetEncodingKeyword(e.encoding) == nullptr ? "unknown encoding" : "cannot be opened"));
            ++failures;
            return;
        }
        // Written beside the target and renamed over it when complete: a
        // failure keeps the file that was there.
        PendingFile out(target);
        if (!out.Open()) {
            archive_.CloseFile();
            ++failures;
            return;
        }
        ERawFile& file = out.File();
        const auto write = [&file](const uint8_t* data, uint32_t n) { return file.Write(data, n) == n; };
        std::string problem = decoded != nullptr ? Replay(*decoded, progress_, write)
                                                 : Drain(archive_, static_cast<uint32_t>(e.length), progress_, write);
        uint64_t stamp = 0;
        for (int i = 7; i >= 0; --i) stamp = stamp << 8 | e.time_stamp[i];
        if (problem.empty() && stamp != 0) {
            const plat::FileTime time = stamp;
            plat::SetFileTimes(file.GetHandle(), nullptr, nullptr, &time);
        }
        if (!problem.empty()) {
            out.Discard();
            Error(Quoted(path) + ": " + problem + "; not extracted" +
                  (options_.force && existed ? " (the existing file is kept)" : ""));
            ++failures;
            return;
        }
        if (!out.Commit()) ++failures;
    }

    const Options& options_;
    TOLMAArchive& archive_;
    std::string destination_;
    const char* password_ = nullptr;
    Progress* progress_ = nullptr;
    DecodeAhead* ahead_ = nullptr;
    // Native names of the pieces of the path being visited.
    std::vector<std::string> native_;
};

// A lone argument after the archive is DEST. When it does not exist but names
// a stored file, that file was most likely meant: say how to pick it.
void NoteStoredDestination(TOLMAArchive& archive, const std::string& argument) {
    std::string path;
    if (!ArchivePathArgument(argument, &path) || path.empty()) return;
    const size_t last = path.rfind('\\');
    const TOLMADirectoryEntry* entry = nullptr;
    if (archive.ChangeDirectory(last == std::string::npos ? "" : path.substr(0, last).c_str()) == ResultSuccess)
        entry = archive.FindEntry(path.c_str() + (last == std::string::npos ? 0 : last + 1));
    if (entry != nullptr && !entry->IsDirectory())
        Error("note: " + Quoted(path) + " is taken as DEST, the directory to extract into; to extract that file " +
              "alone, name DEST first: tolma extract ARCHIVE . " + argument);
    archive.ChangeDirectory("");
}

int Extract(const Options& o) {
    ArchiveSource source;
    if (int r = source.Open(o.arguments[0], o.pe)) return r;
    const std::string destination = WithoutTrailingSeparators(o.arguments.size() >= 2 ? o.arguments[1] : ".");
    if (o.arguments.size() == 2 && tool::GetPathKind(destination) == tool::PathKind::None)
        NoteStoredDestination(source.Archive(), o.arguments[1]);
    if (tool::GetPathKind(destination) == tool::PathKind::None && !tool::MakeDirectory(destination)) {
        Error("cannot create " + NativeShown(destination));
        return kExitFailed;
    }
    Extractor extractor(o, source.Archive(), destination);
    for (size_t i = 2; i < o.arguments.size(); ++i) {
        std::string path;
        if (!ArchivePathArgument(o.arguments[i], &path) || path.empty()) {
            Error("'" + o.arguments[i] + "' names nothing in the archive");
            return kExitUsage;
        }
        extractor.selections.push_back(path);
    }
    return extractor.Run();
}

}  // namespace

extern const Command kExtractCommand = {
    .name = "extract",
    .synopsis = "extract ARCHIVE [DEST] [PATH...]",
    .summary = "extract everything, or the given paths, below DEST",
    .help =
        "usage: tolma extract ARCHIVE [DEST] [PATH...] [--password P] [--force] [--pe]\n"
        "                     [-j N]\n"
        "\n"
        "Extracts every file, or the named files and directories, below DEST\n"
        "(default: the current directory), creating directories as needed. The\n"
        "first argument after ARCHIVE is always DEST: to pick files, name DEST\n"
        "first ('tolma extract setup.exe . data/readme.txt' extracts one file into\n"
        "the current directory); a DEST that does not exist but names a stored\n"
        "file gets a note saying so. PATHs use \\ or /, letter case does not matter.\n"
        "Names that would lead outside DEST (absolute names, drive letters, '..',\n"
        "separators inside a name, links on the way) and names the system cannot\n"
        "hold are refused. Existing files are kept unless --force is given. Each\n"
        "file is written beside its place and renamed over it once its checksum\n"
        "matched: a damaged file, a wrong password or a full disk leaves no file,\n"
        "and keeps the one that was there.\n"
        "  -j N, --jobs N  decode N files at once (1 to 64; default: one per\n"
        "                  processor); files are written in the archive's order\n",
    .min_arguments = 1,
    .max_arguments = kAnyCount,
    .run = Extract,
};

}  // namespace tolma
