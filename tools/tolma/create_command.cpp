// tolma create: a new archive holding the contents of a directory.
#include <utility>
#include <vector>

#include "archive/tolma_archive.h"
#include "archive_source.h"
#include "command.h"
#include "listing.h"
#include "names.h"
#include "output.h"
#include "platform/file.h"
#include "tool_system.h"

namespace tolma {
namespace {

class Creator {
public:
    Creator(TOLMAArchive& archive, uint32_t encoding, const char* password, std::string skip)
        : archive_(archive), encoding_(encoding), password_(password), skip_(std::move(skip)) {}

    int failures = 0;
    uint64_t total = 0;
    uint32_t files = 0;

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
                ++files;
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
                progress.SetTotal(total, files);
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
        progress.BeginFile(NativeShown(item.native));
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
        if (!Fill(archive_, in, progress)) {
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
    if (o.pe) {
        Error("create writes plain archives; --pe is for reading");
        return kExitUsage;
    }
    if (o.has_listing) return CreateFromListing(o);
    uint32_t encoding = TOLMA_ENCODING_RAW;
    if (!FindEncodingCode(o.encoding.c_str(), &encoding)) {
        Error("unknown encoding '" + o.encoding + "' (raw, tolma_code, bshf_crypt or tolma_crypt)");
        return kExitUsage;
    }
    const std::string dir = WithoutTrailingSeparators(o.arguments[1]);
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
        Progress progress(creator.total, creator.files, o.verbose);
        creator.Store(items, 0, progress);
    }
    if (archive.Close() != ResultSuccess) {
        Error("writing " + NativeShown(o.arguments[0]) + " failed");
        return kExitFailed;
    }
    return creator.failures != 0 ? kExitFailed : kExitOk;
}

}  // namespace

extern const Command kCreateCommand = {
    .name = "create",
    .synopsis = "create ARCHIVE DIR",
    .summary = "store the contents of DIR in a new archive",
    .help =
        "usage: tolma create ARCHIVE DIR [--encoding ENCODING] [--password P]\n"
        "       tolma create ARCHIVE DIR --listing FILE.xml\n"
        "\n"
        "Stores every file below DIR, subdirectories as subdirectories, in a new\n"
        "archive (an existing ARCHIVE is replaced).\n"
        "  --encoding ENCODING  raw (default), tolma_code, bshf_crypt or tolma_crypt\n"
        "  --password P         password of the two cipher encodings (without one\n"
        "                       the cipher's built-in default is used)\n"
        "  --listing FILE.xml   store only what the listing names (the form 'tolma\n"
        "                       list --xml' prints: \"file\" and \"directory\"\n"
        "                       elements with \"name\", \"encoding\" and \"password\"),\n"
        "                       each file with its own encoding and password; a\n"
        "                       name missing from DIR is an error, and then no\n"
        "                       archive is written. Items at the top level in\n"
        "                       Shift_JIS with backslash escapes, the older form,\n"
        "                       are read too\n"
        "Names must be expressible in Shift-JIS (code page 932).\n",
    .min_arguments = 2,
    .max_arguments = 2,
    .run = Create,
};

}  // namespace tolma
