// tolma: create, list, extract, print and verify archives, plain or held in
// a PE image as its "IDR_ARCHIVE" resource.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "archive/tolma_archive.h"
#include "core/hvb.h"
#include "file/exe_image_file.h"
#include "file/raw_file.h"
#include "platform/codepage.h"
#include "platform/file.h"
#include "tool_system.h"
#include "unicode.h"

namespace {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitNoArchive = 3,
};

constexpr uint32_t kChunk = 1u << 20;
// Deeper trees are refused: no legitimate archive needs them, and a damaged
// one could otherwise nest until paths and the stack run out.
constexpr int kMaxDepth = 64;

const char kGeneralHelp[] =
    "usage: tolma COMMAND [OPTIONS] ARGS...\n"
    "\n"
    "commands:\n"
    "  create ARCHIVE DIR      store the contents of DIR in a new archive\n"
    "  list ARCHIVE            list every entry with its length, attributes,\n"
    "                          encoding and offset\n"
    "  extract ARCHIVE [DEST] [PATH...]\n"
    "                          extract everything, or the given paths, below DEST\n"
    "  cat ARCHIVE PATH        write one stored file to standard output\n"
    "  verify ARCHIVE          decode every file and check every checksum\n"
    "\n"
    "ARCHIVE may also be a PE image holding the archive as its \"IDR_ARCHIVE\"\n"
    "resource; it is recognised by its \"MZ\" header, or named with --pe.\n"
    "Paths inside archives use backslashes; a slash typed on the command line\n"
    "is taken as a backslash.\n"
    "\n"
    "'tolma COMMAND --help' describes each command.\n"
    "\n"
    "exit status:\n"
    "  0  success\n"
    "  1  the command ran, but something failed (a file that could not be\n"
    "     stored, extracted or decoded, a checksum mismatch, a refused name)\n"
    "  2  wrong usage\n"
    "  3  the archive could not be opened or is not an archive\n";

struct Command {
    const char* name;
    const char* help;
};

const Command kCommands[] = {
    {"create",
     "usage: tolma create ARCHIVE DIR [--encoding ENCODING] [--password P]\n"
     "\n"
     "Stores every file below DIR, subdirectories as subdirectories, in a new\n"
     "archive (an existing ARCHIVE is replaced).\n"
     "  --encoding ENCODING  raw (default), tolma_code, bshf_crypt or tolma_crypt\n"
     "  --password P         password of the two cipher encodings (without one\n"
     "                       the cipher's built-in default is used)\n"
     "Names must be expressible in Shift-JIS (code page 932).\n"},
    {"list",
     "usage: tolma list ARCHIVE [--pe]\n"
     "\n"
     "Lists every entry: decoded length, attributes (hexadecimal), encoding,\n"
     "offset of its record, and its path (directories end with a backslash).\n"},
    {"extract",
     "usage: tolma extract ARCHIVE [DEST] [PATH...] [--password P] [--force] [--pe]\n"
     "\n"
     "Extracts every file, or the named files and directories, below DEST\n"
     "(default: the current directory), creating directories as needed.\n"
     "Names that would lead outside DEST (absolute names, drive letters, '..',\n"
     "separators inside a name, links on the way) are refused. Existing files\n"
     "are kept unless --force is given. A file whose checksum does not match is\n"
     "removed again and reported.\n"},
    {"cat",
     "usage: tolma cat ARCHIVE PATH [--password P] [--pe]\n"
     "\n"
     "Writes the decoded bytes of one stored file to standard output; the exit\n"
     "status is 1 when its checksum does not match.\n"},
    {"verify",
     "usage: tolma verify ARCHIVE [--password P] [--pe]\n"
     "\n"
     "Decodes every stored file and checks every checksum; lists each failure\n"
     "and exits with 1 when there is any.\n"},
};

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    std::string encoding = "raw";
    bool has_encoding = false;
    std::string password;
    bool has_password = false;
    bool pe = false;
    bool force = false;
    bool help = false;
};

void Error(const std::string& text) { tool::PrintError("tolma: " + text + "\n"); }

// Archive text (names, library messages) for the terminal; control
// characters in untrusted names are shown escaped.
std::string Shown(const std::string& archive_text) {
    std::string out;
    for (unsigned char c : tool::AnsiToUtf8(archive_text)) {
        if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Quoted(const std::string& archive_text) { return "'" + Shown(archive_text) + "'"; }

std::string NativeShown(const std::string& native) {
    std::string archive;
    return tool::NativeToArchive(native, &archive) ? Quoted(archive) : "'" + native + "'";
}

// ---- progress ------------------------------------------------------------------

class Progress {
public:
    Progress(uint64_t total) : total_(total), shown_(total >= (8u << 20) && tool::ErrorIsTerminal()) {}
    ~Progress() { Finish(); }
    void Add(uint64_t bytes) {
        done_ += bytes;
        if (!shown_) return;
        const int percent = total_ == 0 ? 100 : static_cast<int>(done_ * 100 / total_);
        if (percent == last_) return;
        last_ = percent;
        char line[96];
        const int filled = percent * 30 / 100;
        std::snprintf(line, sizeof line, "\r[%-30s] %3d%%  %.1f / %.1f MiB", std::string(filled, '#').c_str(), percent,
                      done_ / 1048576.0, total_ / 1048576.0);
        tool::PrintError(line);
    }
    void Finish() {
        if (shown_ && last_ >= 0) tool::PrintError("\r" + std::string(60, ' ') + "\r");
        shown_ = false;
    }

private:
    uint64_t total_;
    uint64_t done_ = 0;
    bool shown_;
    int last_ = -1;
};

// ---- opening an archive ----------------------------------------------------------

class ArchiveSource {
public:
    // Reads through the PE image's resource window, never a copy of it.
    int Open(const std::string& path, bool pe) {
        if (raw_.Open(path.c_str(), modeRead | shareRead) != ResultSuccess) {
            Error("cannot open " + NativeShown(path));
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
                Error(NativeShown(path) + " holds no archive resource: " + Shown(GetResultText(r)));
                return kExitNoArchive;
            }
            source = &image_;
        }
        if (archive_.Open(source, nullptr) != ResultSuccess) {
            Error(NativeShown(path) + " is not an archive, or its root directory is damaged");
            return kExitNoArchive;
        }
        return kExitOk;
    }
    TOLMAArchive& Archive() { return archive_; }

private:
    // Destroyed in reverse: the archive before the image before the file.
    ERawFile raw_;
    EXEImageFileObject image_;
    TOLMAArchive archive_;
};

// ---- walking ---------------------------------------------------------------------

struct Walker {
    TOLMAArchive& archive;
    // Called for every entry with its full archive path and depth; for a
    // directory, false skips its contents.
    std::function<bool(const std::string& path, const TOLMADirectoryEntry& entry, int depth)> visit;
    int failures = 0;

    void Walk(const std::string& prefix, int depth) {
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
};

// A path typed by the user, in the archive's spelling: slashes become
// backslashes, empty pieces go.
bool ArchivePathArgument(const std::string& argument, std::string* path) {
    std::string raw;
    if (!tool::ArgumentToArchive(argument.c_str(), &raw)) return false;
    path->clear();
    for (size_t i = 0; i < raw.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(raw[i]);
        if (plat::IsDBCSLeadByte(c) && i + 1 < raw.size()) {
            *path += raw.substr(i, 2);
            ++i;
            continue;
        }
        const char ch = c == '/' ? '\\' : static_cast<char>(c);
        if (ch == '\\' && (path->empty() || path->back() == '\\')) continue;
        *path += ch;
    }
    while (!path->empty() && path->back() == '\\') {
        // A trailing backslash may be the second byte of a double-byte
        // character; only a separator goes.
        size_t i = 0;
        bool trail = false;
        while (i < path->size()) {
            if (plat::IsDBCSLeadByte(static_cast<unsigned char>((*path)[i])) && i + 1 < path->size()) {
                trail = i + 2 == path->size();
                i += 2;
            } else {
                trail = false;
                ++i;
            }
        }
        if (trail) break;
        path->pop_back();
    }
    return true;
}

bool FoldedEquals(const std::string& a, const std::string& b) {
    return a.size() == b.size() && EntryNameEquals(a.c_str(), b.c_str());
}

// ---- list --------------------------------------------------------------------------

int List(const Options& o) {
    if (o.arguments.size() != 1) return kExitUsage;
    ArchiveSource source;
    if (int r = source.Open(o.arguments[0], o.pe)) return r;
    tool::PrintOut("      length  attributes  encoding          offset  path\n");
    Walker walker{source.Archive(), nullptr};
    walker.visit = [](const std::string& path, const TOLMADirectoryEntry& e, int) {
        const char* keyword = GetEncodingKeyword(e.encoding);
        char unknown[16];
        std::snprintf(unknown, sizeof unknown, "0x%08X", e.encoding);
        char line[128];
        std::snprintf(line, sizeof line, "%12llu  %08X    %-12s %10llu  ", static_cast<unsigned long long>(e.length),
                      e.attributes, keyword != nullptr ? keyword : unknown, static_cast<unsigned long long>(e.offset));
        tool::PrintOut(line + Shown(path) + (e.IsDirectory() ? "\\" : "") + "\n");
        return true;
    };
    walker.Walk("", 0);
    return walker.failures != 0 ? kExitFailed : kExitOk;
}

// ---- reading one stored file ---------------------------------------------------------

// Streams the open file to sink; "" on success, else what went wrong.
std::string Drain(TOLMAArchive& archive, uint64_t length, Progress* progress,
                  const std::function<bool(const uint8_t*, uint32_t)>& sink) {
    std::vector<uint8_t> buffer(kChunk);
    uint64_t done = 0;
    for (;;) {
        const uint32_t n = archive.Read(buffer.data(), kChunk);
        if (n == 0) break;
        if (!sink(buffer.data(), n)) {
            archive.CloseFile();
            return "cannot be written";
        }
        done += n;
        if (progress != nullptr) progress->Add(n);
    }
    const ResultCode closed = archive.CloseFile();
    if (done < length) return "stored data ends early (damaged or wrong password)";
    if (closed != ResultSuccess) return "checksum mismatch (damaged or wrong password)";
    return "";
}

const char* PasswordOf(const Options& o, std::string* converted) {
    if (!o.has_password) return nullptr;
    if (!tool::ArgumentToArchive(o.password.c_str(), converted)) *converted = o.password;
    return converted->c_str();
}

int Cat(const Options& o) {
    if (o.arguments.size() != 2) return kExitUsage;
    ArchiveSource source;
    if (int r = source.Open(o.arguments[0], o.pe)) return r;
    std::string path, password;
    if (!ArchivePathArgument(o.arguments[1], &path)) {
        Error("the path cannot be expressed in the archive's code page");
        return kExitFailed;
    }
    TOLMAArchive& archive = source.Archive();
    if (archive.OpenFile(path.c_str(), PasswordOf(o, &password), 1) != ResultSuccess) {
        Error(Quoted(path) + ": no such file in the archive, or it cannot be decoded");
        return kExitFailed;
    }
    const std::string problem = Drain(archive, archive.GetLength(), nullptr,
                                      [](const uint8_t* data, uint32_t n) { return tool::WriteOut(data, n); });
    std::fflush(stdout);
    if (!problem.empty()) {
        Error(Quoted(path) + ": " + problem);
        return kExitFailed;
    }
    return kExitOk;
}

int Verify(const Options& o) {
    if (o.arguments.size() != 1) return kExitUsage;
    ArchiveSource source;
    if (int r = source.Open(o.arguments[0], o.pe)) return r;
    TOLMAArchive& archive = source.Archive();
    std::string password_text;
    const char* password = PasswordOf(o, &password_text);

    uint64_t total = 0;
    if (tool::ErrorIsTerminal()) {
        Walker sizes{archive, [&total](const std::string&, const TOLMADirectoryEntry& e, int) {
                         if (!e.IsDirectory()) total += static_cast<uint32_t>(e.length);
                         return true;
                     }};
        sizes.Walk("", 0);
    }
    Progress progress(total);
    int files = 0, failures = 0;
    Walker walker{archive, nullptr};
    walker.visit = [&](const std::string& path, const TOLMADirectoryEntry& e, int) {
        if (e.IsDirectory()) return true;
        ++files;
        std::string problem;
        if (archive.OpenEntry(e.GetName(), password, 1) != ResultSuccess)
            problem = GetEncodingKeyword(e.encoding) == nullptr ? "unknown encoding" : "cannot be opened";
        else
            problem = Drain(archive, static_cast<uint32_t>(e.length), &progress,
                            [](const uint8_t*, uint32_t) { return true; });
        if (!problem.empty()) {
            progress.Finish();
            tool::PrintOut("FAILED " + Shown(path) + ": " + problem + "\n");
            ++failures;
        }
        return true;
    };
    walker.Walk("", 0);
    progress.Finish();
    failures += walker.failures;
    char summary[96];
    std::snprintf(summary, sizeof summary, "%d files checked, %d failures\n", files, failures);
    tool::PrintOut(summary);
    return failures != 0 ? kExitFailed : kExitOk;
}

// ---- extract -------------------------------------------------------------------------

// Why a stored name may not become a file or directory name below the
// destination, or null when it may.
const char* UnsafeName(const std::string& name) {
    if (name.empty()) return "empty name";
    if (name == "." || name == "..") return "refers to a directory above or itself";
    for (size_t i = 0; i < name.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (plat::IsDBCSLeadByte(c) && i + 1 < name.size()) {
            ++i;
            continue;
        }
        if (c == '\\' || c == '/') return "holds a path separator";
        if (c == ':') return "holds a drive or stream separator";
        if (c < 0x20 || c == 0x7F) return "holds a control character";
        if (tool::NativeSeparator() == '\\' && std::strchr("<>\"|?*", c) != nullptr)
            return "holds a character the system does not allow in names";
    }
    // Windows drops trailing dots and spaces, which could turn a name into
    // another one ("..." into "..").
    if (tool::NativeSeparator() == '\\' && (name.back() == '.' || name.back() == ' '))
        return "ends with a dot or a space";
    if (tool::IsReservedName(name)) return "is a device name";
    return nullptr;
}

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
        if (tool::ErrorIsTerminal()) {
            Walker sizes{archive_, [&](const std::string& path, const TOLMADirectoryEntry& e, int) {
                             if (!e.IsDirectory() && Selected(path, false)) total += static_cast<uint32_t>(e.length);
                             return true;
                         }};
            sizes.Walk("", 0);
        }
        Progress progress(total);
        progress_ = &progress;

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
            if (FoldedEquals(path, s) ||
                (path.size() > s.size() && path[s.size()] == '\\' && FoldedEquals(path.substr(0, s.size()), s))) {
                if (mark) matched[i] = true;
                any = true;
            }
        }
        return any;
    }
    // Whether a directory lies on the way to some selection.
    bool OnTheWay(const std::string& path) {
        for (const std::string& s : selections)
            if (s.size() > path.size() && s[path.size()] == '\\' && FoldedEquals(s.substr(0, path.size()), path))
                return true;
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
        switch (tool::GetPathKind(target)) {
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
        if (archive_.OpenEntry(e.GetName(), password_, 1) != ResultSuccess) {
            Error(Quoted(path) + ": " +
                  (GetEncodingKeyword(e.encoding) == nullptr ? "unknown encoding" : "cannot be opened"));
            ++failures;
            return;
        }
        ERawFile out;
        if (out.Open(target.c_str(), modeCreate | modeWrite) != ResultSuccess) {
            archive_.CloseFile();
            Error("cannot create " + NativeShown(target));
            ++failures;
            return;
        }
        const std::string problem = Drain(archive_, static_cast<uint32_t>(e.length), progress_,
                                          [&out](const uint8_t* data, uint32_t n) { return out.Write(data, n) == n; });
        uint64_t stamp = 0;
        for (int i = 7; i >= 0; --i) stamp = stamp << 8 | e.time_stamp[i];
        if (problem.empty() && stamp != 0) {
            const plat::FileTime time = stamp;
            plat::SetFileTimes(out.GetHandle(), nullptr, nullptr, &time);
        }
        out.Close();
        if (!problem.empty()) {
            tool::RemoveFile(target);
            progress_->Finish();
            Error(Quoted(path) + ": " + problem + "; not extracted");
            ++failures;
        }
    }

    const Options& options_;
    TOLMAArchive& archive_;
    std::string destination_;
    const char* password_ = nullptr;
    Progress* progress_ = nullptr;
    // Native names of the pieces of the path being visited.
    std::vector<std::string> native_;
};

int Extract(const Options& o) {
    if (o.arguments.empty()) return kExitUsage;
    ArchiveSource source;
    if (int r = source.Open(o.arguments[0], o.pe)) return r;
    std::string destination = o.arguments.size() >= 2 ? o.arguments[1] : ".";
    while (destination.size() > 1 && (destination.back() == '/' || destination.back() == tool::NativeSeparator()))
        destination.pop_back();
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

// ---- create --------------------------------------------------------------------------

class Creator {
public:
    Creator(TOLMAArchive& archive, uint32_t encoding, const char* password, std::string skip)
        : archive_(archive), encoding_(encoding), password_(password), skip_(std::move(skip)) {}

    int failures = 0;
    uint64_t total = 0;

    struct Item {
        std::string native;  // full native path
        std::string name;    // archive name
        bool directory;
        uint64_t size;
        uint64_t time;
    };

    // The storable items of a directory, and their entry list.
    bool Collect(const std::string& dir, std::vector<Item>* items, TOLMAEntryList* list) {
        std::vector<tool::DirectoryItem> found;
        if (!tool::ListDirectory(dir, &found)) {
            Error("cannot read directory " + NativeShown(dir));
            ++failures;
            return false;
        }
        for (const tool::DirectoryItem& f : found) {
            const std::string full = dir + tool::NativeSeparator() + f.name;
            Item item{full, "", f.kind == tool::PathKind::Directory, 0, 0};
            if (!tool::NativeToArchive(f.name, &item.name)) {
                Error(NativeShown(full) + ": the name has no Shift-JIS form; not stored");
                ++failures;
                continue;
            }
            if (f.kind != tool::PathKind::File && f.kind != tool::PathKind::Directory) {
                Error(NativeShown(full) + " is neither a file nor a directory; not stored");
                ++failures;
                continue;
            }
            if (!item.directory) {
                // The archive being written is not stored in itself.
                if (SameFile(full)) continue;
                if (!tool::GetFileInfo(full, &item.size, &item.time)) {
                    Error("cannot read " + NativeShown(full));
                    ++failures;
                    continue;
                }
                if (item.size > 0xFFFFFFFFull) {
                    Error(NativeShown(full) + " is 4 GiB or larger; not stored");
                    ++failures;
                    continue;
                }
                total += item.size;
            }
            uint8_t stamp[8];
            for (int i = 0; i < 8; ++i) stamp[i] = static_cast<uint8_t>(item.time >> (8 * i));
            list->AddEntry(item.name.c_str(), item.directory ? uint32_t{TOLMA_ATTRIBUTE_DIRECTORY} : 0u,
                           item.directory ? uint32_t{TOLMA_ENCODING_RAW} : encoding_, stamp);
            items->push_back(item);
        }
        return true;
    }

    void Store(const std::vector<Item>& items, int depth, Progress& progress) {
        for (const Item& item : items) {
            if (item.directory) {
                if (depth + 1 >= kMaxDepth) {
                    Error(NativeShown(item.native) + " is nested too deeply; left empty");
                    ++failures;
                    continue;
                }
                std::vector<Item> children;
                TOLMAEntryList list;
                Collect(item.native, &children, &list);
                if (archive_.DescendDirectory(item.name.c_str(), &list) != ResultSuccess) {
                    Error("cannot write directory " + NativeShown(item.native));
                    ++failures;
                    continue;
                }
                Store(children, depth + 1, progress);
                archive_.AscendDirectory();
                continue;
            }
            StoreFile(item, progress);
        }
    }

private:
    bool SameFile(const std::string& path) const {
        char buffer[1024];
        const uint32_t n = plat::FullPathName(path.c_str(), sizeof buffer, buffer, nullptr);
        return n > 0 && n < sizeof buffer && skip_ == buffer;
    }

    void StoreFile(const Item& item, Progress& progress) {
        ERawFile in;
        if (in.Open(item.native.c_str(), modeRead | shareRead) != ResultSuccess) {
            Error("cannot open " + NativeShown(item.native) + "; stored as an empty entry");
            ++failures;
            return;
        }
        if (archive_.OpenEntry(item.name.c_str(), password_, 0) != ResultSuccess) {
            Error("cannot store " + NativeShown(item.native));
            ++failures;
            return;
        }
        std::vector<uint8_t> buffer(kChunk);
        bool ok = true;
        for (;;) {
            const uint32_t n = in.Read(buffer.data(), kChunk);
            if (n == 0) break;
            if (archive_.Write(buffer.data(), n) != n) {
                ok = false;
                break;
            }
            progress.Add(n);
        }
        if (archive_.CloseFile() != ResultSuccess) ok = false;
        if (!ok) {
            Error("writing " + NativeShown(item.native) + " into the archive failed");
            ++failures;
        }
    }

    TOLMAArchive& archive_;
    uint32_t encoding_;
    const char* password_;
    std::string skip_;
};

int Create(const Options& o) {
    if (o.arguments.size() != 2) return kExitUsage;
    if (o.pe) {
        Error("create writes plain archives; --pe is for reading");
        return kExitUsage;
    }
    uint32_t encoding = TOLMA_ENCODING_RAW;
    if (!FindEncodingCode(o.encoding.c_str(), &encoding)) {
        Error("unknown encoding '" + o.encoding + "' (raw, tolma_code, bshf_crypt or tolma_crypt)");
        return kExitUsage;
    }
    std::string dir = o.arguments[1];
    while (dir.size() > 1 && (dir.back() == '/' || dir.back() == tool::NativeSeparator())) dir.pop_back();
    if (tool::GetPathKind(dir) != tool::PathKind::Directory) {
        Error(NativeShown(dir) + " is not a directory");
        return kExitUsage;
    }
    ERawFile out;
    if (out.Open(o.arguments[0].c_str(), modeCreate | modeRead | modeWrite) != ResultSuccess) {
        Error("cannot create " + NativeShown(o.arguments[0]));
        return kExitFailed;
    }
    std::string password_text;
    TOLMAArchive archive;
    Creator creator(archive, encoding, PasswordOf(o, &password_text), out.GetFullPath().GetString());
    std::vector<Creator::Item> items;
    TOLMAEntryList list;
    creator.Collect(dir, &items, &list);
    if (archive.Open(&out, &list) != ResultSuccess) {
        Error("cannot write " + NativeShown(o.arguments[0]));
        return kExitFailed;
    }
    {
        // Sizes below the top level are known only on the way down.
        Progress progress(creator.total);
        creator.Store(items, 0, progress);
    }
    if (archive.Close() != ResultSuccess) {
        Error("writing " + NativeShown(o.arguments[0]) + " failed");
        return kExitFailed;
    }
    return creator.failures != 0 ? kExitFailed : kExitOk;
}

// ---- the command line ------------------------------------------------------------------

const Command* FindCommand(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

// 0, or the exit code of a usage error.
int Parse(int argc, char** argv, Options* o) {
    bool options_end = false;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (options_end || a.size() < 2 || a[0] != '-') {
            o->arguments.push_back(a);
            continue;
        }
        if (a == "--") {
            options_end = true;
            continue;
        }
        std::string value;
        const size_t eq = a.find('=');
        const bool inline_value = a.compare(0, 2, "--") == 0 && eq != std::string::npos;
        if (inline_value) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        }
        auto take = [&](std::string* out) {
            if (inline_value) {
                *out = value;
                return true;
            }
            if (i + 1 >= argc) {
                Error(a + " needs a value");
                return false;
            }
            *out = argv[++i];
            return true;
        };
        if (a == "--help" || a == "-h") {
            o->help = true;
        } else if (a == "--pe") {
            o->pe = true;
        } else if (a == "--force" || a == "-f") {
            o->force = true;
        } else if (a == "--encoding" || a == "-e") {
            if (!take(&o->encoding)) return kExitUsage;
            o->has_encoding = true;
        } else if (a == "--password" || a == "-p") {
            if (!take(&o->password)) return kExitUsage;
            o->has_password = true;
        } else {
            Error("unknown option " + a);
            return kExitUsage;
        }
    }
    return 0;
}

int Run(int argc, char** argv) {
    int code = kExitUsage;
    Options o;
    if (argc < 2) {
        tool::PrintError(kGeneralHelp);
    } else if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
               std::strcmp(argv[1], "help") == 0) {
        const Command* c = argc >= 3 ? FindCommand(argv[2]) : nullptr;
        tool::PrintOut(c != nullptr ? c->help : kGeneralHelp);
        code = kExitOk;
    } else if (const Command* c = FindCommand(argv[1]); c == nullptr) {
        Error(std::string("unknown command '") + argv[1] + "'; see 'tolma --help'");
    } else if ((code = Parse(argc, argv, &o)) == 0) {
        o.command = argv[1];
        if (o.help) {
            tool::PrintOut(c->help);
            code = kExitOk;
        } else {
            if (o.has_encoding && o.command != "create") Error("--encoding applies to create only; ignored");
            code = o.command == "create"    ? Create(o)
                   : o.command == "list"    ? List(o)
                   : o.command == "extract" ? Extract(o)
                   : o.command == "cat"     ? Cat(o)
                                            : Verify(o);
            if (code == kExitUsage) tool::PrintError(c->help);
        }
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    zmrInitializeLibrary();
    // Everything the command made is gone before the library closes.
    const int code = Run(argc, argv);
    std::fflush(stdout);
    zmrCloseLibrary();
    return code;
}
