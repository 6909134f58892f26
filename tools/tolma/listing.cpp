#include "listing.h"

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/tolma_listing.h"
#include "archive_source.h"
#include "file/memory_file.h"
#include "names.h"
#include "output.h"
#include "platform/file.h"
#include "tool_system.h"

namespace tolma {
namespace {

std::string Text(const EString& s) { return s.GetString() != nullptr ? s.GetString() : ""; }

std::string FullPath(const std::string& native) {
    char buffer[1024];
    const uint32_t n = plat::FullPathName(native.c_str(), sizeof buffer, buffer, nullptr);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : std::string();
}

// One item of the listing, checked against the directory it is built from.
struct Planned {
    const TOLMAListingItem* item = nullptr;
    std::string native;
    uint64_t size = 0;
    uint64_t time = 0;
    std::vector<Planned> children;
};

class ListingBuilder {
public:
    ListingBuilder(TOLMAArchive& archive, std::string archive_path)
        : archive_(archive), archive_path_(std::move(archive_path)) {}

    int problems = 0;
    int failures = 0;
    uint64_t total = 0;

    // Every item of directory, found below native_dir; problems are
    // reported and counted, and leave the item out.
    void Plan(const TOLMAListingDirectory* directory, const std::string& native_dir, const std::string& prefix,
              int depth, std::vector<Planned>* out) {
        // Names seen so far in this directory, as the archive compares them.
        std::unordered_set<std::string> seen;
        for (uint32_t i = 0; i < directory->GetCount(); ++i) {
            const TOLMAListingItem* item = directory->GetAt(i);
            const std::string name = Text(item->name);
            const std::string path = prefix + name;
            const bool twice = !seen.insert(Folded(name)).second;
            if (const char* why = UnsafeName(name)) {
                Problem(Quoted(path) + " in the listing: " + why);
                continue;
            }
            if (twice) {
                Problem(Quoted(path) + " is named twice in the listing");
                continue;
            }
            std::string native_name;
            if (!tool::ArchiveToNative(name, &native_name)) {
                Problem(Quoted(path) + " has no name on this system");
                continue;
            }
            Planned planned;
            planned.item = item;
            planned.native = native_dir + tool::NativeSeparator() + native_name;
            const tool::PathKind kind = tool::GetPathKind(planned.native);
            if (item->IsDirectory()) {
                if (kind != tool::PathKind::Directory) {
                    Problem(Quoted(path) + " is a directory in the listing but " + Missing(kind, "a directory"));
                    continue;
                }
                if (depth + 1 >= kMaxDepth) {
                    Problem(Quoted(path) + " is nested too deeply");
                    continue;
                }
                if (item->contents != nullptr) {
                    Plan(item->contents, planned.native, path + "\\", depth + 1, &planned.children);
                }
            } else {
                if (kind != tool::PathKind::File) {
                    Problem(Quoted(path) + " is a file in the listing but " + Missing(kind, "a file"));
                    continue;
                }
                if (!tool::GetFileInfo(planned.native, &planned.size, &planned.time)) {
                    Problem("cannot read " + NativeShown(planned.native));
                    continue;
                }
                if (planned.size > 0xFFFFFFFFull) {
                    Problem(NativeShown(planned.native) + " is 4 GiB or larger");
                    continue;
                }
                if (!archive_path_.empty() && FullPath(planned.native) == archive_path_) {
                    Problem(Quoted(path) + " is the archive being written");
                    continue;
                }
                total += planned.size;
            }
            out->push_back(std::move(planned));
        }
    }

    static void Entries(const std::vector<Planned>& items, TOLMAEntryList* list) {
        for (const Planned& p : items) {
            uint8_t stamp[8];
            for (int i = 0; i < 8; ++i) stamp[i] = static_cast<uint8_t>(p.time >> (8 * i));
            const bool directory = p.item->IsDirectory();
            list->AddEntry(Text(p.item->name).c_str(), directory ? uint32_t{TOLMA_ATTRIBUTE_DIRECTORY} : 0u,
                           directory ? uint32_t{TOLMA_ENCODING_RAW} : p.item->encoding, stamp);
        }
    }

    void Store(const std::vector<Planned>& items, Progress& progress) {
        for (const Planned& p : items) {
            const std::string name = Text(p.item->name);
            if (!p.item->IsDirectory()) {
                StoreFile(p, progress);
                continue;
            }
            TOLMAEntryList list;
            Entries(p.children, &list);
            if (archive_.DescendDirectory(name.c_str(), &list) != ResultSuccess) {
                Error("cannot write directory " + NativeShown(p.native));
                ++failures;
                continue;
            }
            Store(p.children, progress);
            archive_.AscendDirectory();
        }
    }

private:
    void Problem(const std::string& text) {
        Error(text);
        ++problems;
    }

    static std::string Missing(tool::PathKind kind, const char* what) {
        return kind == tool::PathKind::None ? "is missing from the directory" : std::string("is not ") + what + " there";
    }

    void StoreFile(const Planned& p, Progress& progress) {
        ERawFile in;
        if (in.Open(p.native.c_str(), modeRead | shareRead) != ResultSuccess) {
            Error("cannot open " + NativeShown(p.native));
            ++failures;
            return;
        }
        const char* password = p.item->password.IsEmpty() ? nullptr : p.item->password.GetString();
        if (archive_.OpenEntry(Text(p.item->name).c_str(), password, 0) != ResultSuccess) {
            Error("cannot store " + NativeShown(p.native));
            ++failures;
            return;
        }
        if (!Fill(archive_, in, progress)) {
            Error("writing " + NativeShown(p.native) + " into the archive failed");
            ++failures;
        }
    }

    TOLMAArchive& archive_;
    std::string archive_path_;
};

}  // namespace

int ListAsXml(const Options& o) {
    ArchiveSource source;
    if (int r = source.Open(o.arguments[0], o.pe)) return r;
    TOLMAArchiveListing listing;
    // The walk goes depth first, so an entry belongs to the directory opened
    // last one level up.
    std::vector<TOLMAListingDirectory*> open{listing.GetRootDirectory()};
    int unknown = 0;
    Walker walker{source.Archive(), nullptr};
    walker.visit = [&](const std::string& path, const TOLMADirectoryEntry& e, int depth) {
        open.resize(static_cast<size_t>(depth) + 1);
        auto* item = new TOLMAListingItem;
        item->name = e.GetName();
        if (e.IsDirectory()) {
            item->attributes = TOLMA_ATTRIBUTE_DIRECTORY;
            item->contents = new TOLMAListingDirectory(open.back());
            open.back()->Add(item);
            open.push_back(item->contents);
            return true;
        }
        item->encoding = e.encoding;
        if (GetEncodingKeyword(e.encoding) == nullptr) {
            Error(Quoted(path) + " has an encoding no listing can name; it is listed without one");
            ++unknown;
        }
        open.back()->Add(item);
        return true;
    };
    walker.Walk("", 0);
    EMemoryFile text;
    if (text.Create(65536) != ResultSuccess || listing.WriteListing(&text) != ResultSuccess ||
        !tool::WriteOut(text.GetBuffer(), text.GetLength())) {
        Error("cannot write the listing");
        return kExitFailed;
    }
    return walker.failures + unknown != 0 ? kExitFailed : kExitOk;
}

int CreateFromListing(const Options& o) {
    if (o.has_encoding || o.has_password) {
        Error("with --listing, each file's encoding and password come from the listing");
        return kExitUsage;
    }
    const std::string dir = WithoutTrailingSeparators(o.arguments[1]);
    if (tool::GetPathKind(dir) != tool::PathKind::Directory) {
        Error(NativeShown(dir) + " is not a directory");
        return kExitUsage;
    }
    TOLMAArchiveListing listing;
    {
        ERawFile file;
        if (file.Open(o.listing.c_str(), modeRead | shareRead) != ResultSuccess) {
            Error("cannot open " + NativeShown(o.listing));
            return kExitFailed;
        }
        if (listing.ReadListing(&file) != ResultSuccess) {
            Error("cannot read the listing " + NativeShown(o.listing));
            return kExitFailed;
        }
    }

    TOLMAArchive archive;
    ListingBuilder builder(archive, FullPath(o.arguments[0]));
    std::vector<Planned> root;
    builder.Plan(listing.GetRootDirectory(), dir, "", 0, &root);
    if (builder.problems != 0) {
        Error(std::to_string(builder.problems) + (builder.problems == 1 ? " problem" : " problems") +
              " with the listing; no archive written");
        return kExitFailed;
    }

    ERawFile out;
    if (out.Open(o.arguments[0].c_str(), modeCreate | modeRead | modeWrite) != ResultSuccess) {
        Error("cannot create " + NativeShown(o.arguments[0]));
        return kExitFailed;
    }
    TOLMAEntryList list;
    ListingBuilder::Entries(root, &list);
    bool written = archive.Open(&out, &list) == ResultSuccess;
    if (written) {
        Progress progress(builder.total);
        builder.Store(root, progress);
    }
    written = archive.Close() == ResultSuccess && written && builder.failures == 0;
    out.Close();
    if (!written) {
        // Half an archive is worse than none: the listing promised all of it.
        tool::RemoveFile(o.arguments[0]);
        Error("writing " + NativeShown(o.arguments[0]) + " failed; no archive written");
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace tolma
