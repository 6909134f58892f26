// tolma create: a new archive holding the contents of a directory.
#include <map>
#include <utility>
#include <vector>

#include "archive/tolma_archive.h"
#include "archive_source.h"
#include "command.h"
#include "file_store.h"
#include "listing.h"
#include "names.h"
#include "output.h"
#include "pending_file.h"
#include "tool_system.h"

namespace tolma {
namespace {

struct Item {
    std::string native;  // full native path
    std::string name;    // archive name
    bool directory;
    uint64_t size;
    uint64_t time;
    std::vector<Item> children;
};

class Creator {
public:
    Creator(TOLMAArchive& archive, uint32_t encoding, const char* password, std::string output, std::string pending)
        : archive_(archive),
          encoding_(encoding),
          password_(password),
          output_(std::move(output)),
          pending_(std::move(pending)) {}

    int problems = 0;
    int failures = 0;
    uint64_t total = 0;
    uint32_t files = 0;

    // The whole tree below dir, before anything is written: every name that
    // cannot be stored as it is is reported, and then nothing is written.
    void Plan(const std::string& dir, int depth, std::vector<Item>* items) {
        std::vector<tool::DirectoryItem> found;
        if (!tool::ListDirectory(dir, &found)) {
            Problem("cannot read directory " + NativeShown(dir) + " (" + tool::LastErrorText() + ")");
            return;
        }
        // Names already taken in this directory, as the archive compares
        // them: letter case is not told apart.
        std::map<std::string, std::string> taken;
        for (const tool::DirectoryItem& f : found) {
            const std::string full = dir + tool::NativeSeparator() + f.name;
            Item item{full, "", f.kind == tool::PathKind::Directory, 0, 0, {}};
            if (!f.exact || !tool::NativeToArchive(f.name, &item.name)) {
                Problem(NativeShown(full) + ": the name has no exact Shift-JIS (code page 932) form; rename it");
                continue;
            }
            if (f.kind != tool::PathKind::File && f.kind != tool::PathKind::Directory) {
                Problem(NativeShown(full) + (f.kind == tool::PathKind::Link
                                                 ? " is a link to a directory, which is not followed; replace it "
                                                   "with a copy of the directory or remove it"
                                                 : " is neither a file nor a directory; remove it"));
                continue;
            }
            if (const char* why = UnstorableName(item.name)) {
                Problem(NativeShown(full) + ": the name " + why + " (refused when extracted on Windows); rename it");
                continue;
            }
            if (!item.directory && (tool::SameFile(full, pending_) || tool::SameFile(full, output_))) {
                // The archive being written, or the one it replaces, is not
                // stored in itself.
                continue;
            }
            const auto [at, fresh] = taken.emplace(Folded(item.name), full);
            if (!fresh) {
                Problem(NativeShown(at->second) + " and " + NativeShown(full) +
                        " would be one name in the archive, which does not tell letter case apart; rename one");
                continue;
            }
            if (item.directory) {
                if (depth + 1 >= kMaxDepth) {
                    Problem(NativeShown(full) + " is nested too deeply (" + std::to_string(kMaxDepth) + " levels)");
                    continue;
                }
                Plan(full, depth + 1, &item.children);
            } else {
                if (!tool::GetFileInfo(full, &item.size, &item.time)) {
                    Problem("cannot read " + NativeShown(full) + " (" + tool::LastErrorText() + ")");
                    continue;
                }
                total += item.size;
                ++files;
                if (total > kArchiveLimit) {
                    Problem(NativeShown(full) + ": with it, the files pass 2 GiB; " + kArchiveLimitText);
                    total -= item.size;
                    --files;
                    continue;
                }
            }
            items->push_back(std::move(item));
        }
    }

    void Entries(const std::vector<Item>& items, TOLMAEntryList* list) const {
        for (const Item& item : items) {
            uint8_t stamp[8];
            for (int i = 0; i < 8; ++i) stamp[i] = static_cast<uint8_t>(item.time >> (8 * i));
            list->AddEntry(item.name.c_str(), item.directory ? uint32_t{TOLMA_ATTRIBUTE_DIRECTORY} : 0u,
                           item.directory ? uint32_t{TOLMA_ENCODING_RAW} : encoding_, stamp);
        }
    }

    // Every file below items, in the order Store takes them.
    void Files(const std::vector<Item>& items, std::vector<FileToStore>* files) const {
        for (const Item& item : items) {
            if (item.directory) Files(item.children, files);
            else files->push_back({item.native, item.name, encoding_, password_, item.size});
        }
    }

    void Store(const std::vector<Item>& items, FileStore& store) {
        for (const Item& item : items) {
            if (failures != 0) return;
            if (item.directory) {
                TOLMAEntryList list;
                Entries(item.children, &list);
                if (archive_.DescendDirectory(item.name.c_str(), &list) != ResultSuccess) {
                    Failure("cannot write directory " + NativeShown(item.native) + " into the archive");
                    continue;
                }
                Store(item.children, store);
                archive_.AscendDirectory();
                continue;
            }
            if (!store.StoreNext()) ++failures;
        }
    }

private:
    void Problem(const std::string& text) {
        Error(text);
        ++problems;
    }
    void Failure(const std::string& text) {
        Error(text);
        ++failures;
    }

    TOLMAArchive& archive_;
    uint32_t encoding_;
    const char* password_;
    std::string output_, pending_;
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
    const std::string& output = o.arguments[0];
    PendingFile out(output);
    if (!out.Open()) return kExitFailed;
    std::string password_text;
    TOLMAArchive archive;
    Creator creator(archive, encoding, PasswordOf(o, &password_text), output, out.TemporaryPath());
    std::vector<Item> items;
    creator.Plan(dir, 0, &items);
    if (creator.problems != 0) {
        Error(std::to_string(creator.problems) +
              (creator.problems == 1 ? " name or file cannot be stored as it is"
                                     : " names or files cannot be stored as they are") +
              "; no archive written");
        return kExitFailed;
    }
    TOLMAEntryList list;
    creator.Entries(items, &list);
    bool written = archive.Open(&out.File(), &list) == ResultSuccess;
    if (written) {
        Progress progress(creator.total, creator.files, o.verbose);
        std::vector<FileToStore> files;
        creator.Files(items, &files);
        FileStore store(archive, out.File(), progress, o.jobs, std::move(files));
        creator.Store(items, store);
    }
    return FinishArchive(archive, out, written && creator.failures == 0, output);
}

}  // namespace

extern const Command kCreateCommand = {
    .name = "create",
    .synopsis = "create ARCHIVE DIR",
    .summary = "store the contents of DIR in a new archive",
    .help =
        "usage: tolma create ARCHIVE DIR [--encoding ENCODING] [--password P] [-j N]\n"
        "       tolma create ARCHIVE DIR --listing FILE.xml [-j N]\n"
        "\n"
        "Stores every file below DIR, subdirectories as subdirectories, in a new\n"
        "archive (an existing ARCHIVE is replaced, and never stored in itself).\n"
        "  --encoding ENCODING  raw (default), tolma_code, bshf_crypt or tolma_crypt\n"
        "  --password P         password of the two cipher encodings (without one\n"
        "                       the cipher's built-in default is used)\n"
        "  --listing FILE.xml   store only what the listing names (the form 'tolma\n"
        "                       list --xml' prints: \"file\" and \"directory\"\n"
        "                       elements with \"name\", \"encoding\" and \"password\"),\n"
        "                       each file with its own encoding and password; a\n"
        "                       name missing from DIR is an error. The listing is\n"
        "                       UTF-8 after a byte-order mark, else in the encoding\n"
        "                       its XML declaration names; without one, UTF-8 when\n"
        "                       it is well-formed UTF-8, else Shift_JIS. Items at\n"
        "                       the top level with backslash escapes, the older\n"
        "                       form, are read as Shift_JIS\n"
        "  -j N, --jobs N       code N files at once (1 to 64; default: one per\n"
        "                       processor); the archive is the same for every N\n"
        "\n"
        "The archive is for Windows, and names follow its rules wherever it is\n"
        "made: each must have an exact Shift-JIS (code page 932) form, hold no\n"
        "control character, none of \\ / : < > \" | ? *, not end with a dot or a\n"
        "space, and not be a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, with\n"
        "any extension). Two names that differ only in letter case are one name\n"
        "in an archive. Links to directories and special files are not stored.\n"
        "An archive holds at most 2 GiB - 1 bytes (2147483647).\n"
        "Every name or file that cannot be stored is reported, and then no archive\n"
        "is written at all: a disc never ships with a file missing.\n",
    .min_arguments = 2,
    .max_arguments = 2,
    .run = Create,
};

}  // namespace tolma
