#include "listing.h"

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/tolma_listing.h"
#include "archive_source.h"
#include "file_store.h"
#include "file/memory_file.h"
#include "names.h"
#include "output.h"
#include "pending_file.h"
#include "tool_system.h"
#include "unicode.h"

namespace tolma {
namespace {

std::string Text(const EString& s) { return s.GetString() != nullptr ? s.GetString() : ""; }

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
    ListingBuilder(TOLMAArchive& archive, std::string output, std::string pending)
        : archive_(archive), output_(std::move(output)), pending_(std::move(pending)) {}

    int problems = 0;
    int failures = 0;
    uint64_t total = 0;
    uint32_t files = 0;

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
            if (const char* why = UnstorableName(name)) {
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
                    Problem("cannot read " + NativeShown(planned.native) + " (" + tool::LastErrorText() + ")");
                    continue;
                }
                if (tool::SameFile(planned.native, output_) || tool::SameFile(planned.native, pending_)) {
                    Problem(Quoted(path) + " is the archive being written");
                    continue;
                }
                if (total + planned.size > kArchiveLimit) {
                    Problem(NativeShown(planned.native) + ": with it, the files pass 2 GiB; " + kArchiveLimitText);
                    continue;
                }
                total += planned.size;
                ++files;
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

    // Every file below items, in the order Store takes them.
    static void Files(const std::vector<Planned>& items, std::vector<FileToStore>* files) {
        for (const Planned& p : items) {
            if (p.item->IsDirectory()) {
                Files(p.children, files);
                continue;
            }
            const char* password = p.item->password.IsEmpty() ? nullptr : p.item->password.GetString();
            files->push_back({p.native, Text(p.item->name), p.item->encoding, password, p.size});
        }
    }

    void Store(const std::vector<Planned>& items, FileStore& store) {
        for (const Planned& p : items) {
            if (failures != 0) return;
            const std::string name = Text(p.item->name);
            if (!p.item->IsDirectory()) {
                if (!store.StoreNext()) ++failures;
                continue;
            }
            TOLMAEntryList list;
            Entries(p.children, &list);
            if (archive_.DescendDirectory(name.c_str(), &list) != ResultSuccess) {
                Error("cannot write directory " + NativeShown(p.native));
                ++failures;
                continue;
            }
            Store(p.children, store);
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

    TOLMAArchive& archive_;
    std::string output_, pending_;
};

// XML text for an attribute value: the markup characters and control
// characters as references, the rest in UTF-8.
std::string Attribute(const EString& ansi) {
    std::string out;
    for (const char c : tool::AnsiToUtf8(Text(ansi))) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += "&#" + std::to_string(static_cast<unsigned char>(c)) + ";";
                } else {
                    out += c;
                }
        }
    }
    return out;
}

void WriteItems(const TOLMAListingDirectory& directory, int depth, std::string* xml) {
    for (uint32_t i = 0; i < directory.GetCount(); ++i) {
        const TOLMAListingItem* item = directory.GetAt(i);
        *xml += std::string(static_cast<size_t>(depth), '\t');
        if (item->IsDirectory()) {
            *xml += "<directory name=\"" + Attribute(item->name) + "\"";
            if (item->contents == nullptr || item->contents->GetCount() == 0) {
                *xml += "/>\r\n";
                continue;
            }
            *xml += ">\r\n";
            WriteItems(*item->contents, depth + 1, xml);
            *xml += std::string(static_cast<size_t>(depth), '\t') + "</directory>\r\n";
            continue;
        }
        *xml += "<file name=\"" + Attribute(item->name) + "\"";
        if (const char* keyword = GetEncodingKeyword(item->encoding)) *xml += std::string(" encoding=\"") + keyword + "\"";
        *xml += "/>\r\n";
    }
}

// The encoding of a listing's bytes: UTF-8 after a byte-order mark, else
// what the XML declaration names (spaces around '=' allowed); without one,
// UTF-8 as XML has it when the bytes are well-formed UTF-8, else Shift_JIS,
// which hand-written listings of old used.
int32_t ListingEncoding(const std::string& bytes) {
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return EDescription::EncodingUTF8;
    tool::WideText ignored;
    const int32_t fallback =
        tool::Utf8ToWide(bytes, &ignored) ? EDescription::EncodingUTF8 : EDescription::EncodingShiftJIS;
    if (bytes.compare(0, 5, "<?xml") != 0) return fallback;
    const std::string declaration = bytes.substr(0, bytes.find("?>"));
    size_t at = declaration.find("encoding");
    if (at == std::string::npos) return fallback;
    at += 8;
    auto spaces = [&] {
        while (at < declaration.size() && (declaration[at] == ' ' || declaration[at] == '\t' ||
                                           declaration[at] == '\r' || declaration[at] == '\n'))
            ++at;
    };
    spaces();
    if (at >= declaration.size() || declaration[at] != '=') return fallback;
    ++at;
    spaces();
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\'')) return fallback;
    const size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string::npos) return fallback;
    return EDescription::GetEncodingCode(declaration.substr(at + 1, end - at - 1).c_str());
}

// Whether XML 1.0 can hold the name at all: it has no form, not even a
// character reference, for control characters other than tab, CR and LF.
bool XmlCanHold(const std::string& name) {
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r') return false;
    }
    return true;
}

// The element a listing written by `list --xml` keeps its items in.
bool IsListingRoot(const EDescription& top, const EDescription** root) {
    const EDescription* only = nullptr;
    for (uint32_t i = 0; i < top.GetChildCount(); ++i) {
        const EDescription* child = top.GetChildAt(static_cast<int32_t>(i));
        if (child->GetTag().GetLength() == 0) continue;
        if (only != nullptr) return false;
        only = child;
    }
    if (only == nullptr || only->GetTag().GetLength() != 7) return false;
    for (int32_t i = 0; i < 7; ++i) {
        const WideChar c = only->GetTag().GetAt(i);
        if ((c >= 'a' && c <= 'z' ? c - 0x20 : c) != "LISTING"[i]) return false;
    }
    *root = only;
    return true;
}

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
    int left_out = 0;
    walker.visit = [&](const std::string& path, const TOLMADirectoryEntry& e, int depth) {
        open.resize(static_cast<size_t>(depth) + 1);
        if (!XmlCanHold(e.GetName())) {
            Error(Quoted(path) + (e.IsDirectory() ? " (a directory)" : "") +
                  " holds a control character that XML cannot hold; left out of the listing");
            ++left_out;
            return false;
        }
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
    // One root element, escaped as XML has it, in UTF-8: what XML tools read,
    // and what `create --listing` reads back.
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<listing>\r\n";
    WriteItems(*listing.GetRootDirectory(), 1, &xml);
    xml += "</listing>\r\n";
    if (!tool::WriteOut(xml.data(), static_cast<uint32_t>(xml.size()))) {
        Error("cannot write the listing");
        return kExitFailed;
    }
    return walker.failures + unknown + left_out != 0 ? kExitFailed : kExitOk;
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
            Error("cannot open " + NativeShown(o.listing) + " (" + tool::LastErrorText() + ")");
            return kExitFailed;
        }
        // The form `list --xml` writes has one "listing" element and XML's
        // references; the older one, items at the top with backslash
        // escapes, is still read as it always was.
        EStreamBuffer bytes;
        const uint32_t size = file.GetLength();
        void* room = size != 0 ? bytes.GetWriteBuffer(size) : nullptr;
        if (size != 0 && (room == nullptr || file.Read(room, size) != size)) {
            Error("cannot read " + NativeShown(o.listing) + " (" + tool::LastErrorText() + ")");
            return kExitFailed;
        }
        bytes.CommitWrite(size);
        const std::string text = size != 0 ? std::string(static_cast<const char*>(room), size) : std::string();
        const int32_t encoding = ListingEncoding(text);
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.Skip(3);
        EDescription description;
        const EDescription* root = nullptr;
        ResultCode read = description.ReadDescription(&bytes, 0, encoding);
        if (read == ResultSuccess && IsListingRoot(description, &root)) {
            read = listing.LoadFromDescription(listing.GetRootDirectory(), root);
        } else {
            file.Seek(0, FromBegin);
            read = listing.ReadListing(&file);
        }
        if (read != ResultSuccess) {
            Error("cannot read the listing " + NativeShown(o.listing));
            return kExitFailed;
        }
    }

    const std::string& output = o.arguments[0];
    PendingFile out(output);
    if (!out.Open()) return kExitFailed;
    TOLMAArchive archive;
    ListingBuilder builder(archive, output, out.TemporaryPath());
    std::vector<Planned> root;
    builder.Plan(listing.GetRootDirectory(), dir, "", 0, &root);
    if (builder.problems != 0) {
        Error(std::to_string(builder.problems) + (builder.problems == 1 ? " problem" : " problems") +
              " with the listing; no archive written");
        return kExitFailed;
    }

    TOLMAEntryList list;
    ListingBuilder::Entries(root, &list);
    bool written = archive.Open(&out.File(), &list) == ResultSuccess;
    if (written) {
        Progress progress(builder.total, builder.files, o.verbose);
        std::vector<FileToStore> files;
        ListingBuilder::Files(root, &files);
        FileStore store(archive, out.File(), progress, o.jobs, std::move(files));
        builder.Store(root, store);
    }
    return FinishArchive(archive, out, written && builder.failures == 0, output);
}

}  // namespace tolma
