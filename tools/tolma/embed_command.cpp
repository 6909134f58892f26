// tolma embed: a copy of a PE image whose resource section holds every
// resource the image had plus an archive as its "IDR_ARCHIVE" resource.
#include <cstdio>
#include <string>
#include <vector>

#include "archive/tolma_archive.h"
#include "command.h"
#include "file/exe_image_file.h"
#include "file/raw_file.h"
#include "output.h"
#include "pending_file.h"
#include "platform/file.h"
#include "tool_system.h"
#include "unicode.h"

namespace tolma {
namespace {

const char kArchiveName[] = "IDR_ARCHIVE";

// A type or name of the image kept beyond the enumeration, in UTF-16 as the
// directory holds it: no name goes through the code page, where two could
// become one or a name could turn into a number.
struct KeptKey {
    bool is_id = false;
    uint16_t id = 0;
    tool::WideText text;

    static KeptKey Of(const ResourceKey& key) {
        KeptKey k;
        k.is_id = key.is_id;
        k.id = key.id;
        if (!key.is_id) k.text.assign(key.text, key.length);
        return k;
    }
    ResourceKey View() const {
        ResourceKey key;
        key.is_id = is_id;
        key.id = id;
        key.text = text.data();
        key.length = static_cast<uint32_t>(text.size());
        return key;
    }
    std::string Shown() const {
        return is_id ? "#" + std::to_string(id) : "\"" + tool::WideToUtf8(text) + "\"";
    }
};

// A resource of the image.
struct Kept {
    KeptKey type, name;
    uint16_t language;
    const uint8_t* data;
    uint32_t size;
};

class Image : public EXEImageFileObject {
public:
    ResultCode OnEnumResourceKeys(const ResourceKey& type, const ResourceKey& name, uint16_t language,
                                  const uint8_t* data, uint32_t size) override {
        // The archive this command stores replaces the one the image had.
        if (type.is_id && type.id == RT_RCDATA_ID && !name.is_id && language == 0 &&
            tool::WideText(name.text, name.length) == ArchiveName().text)
            return ResultSuccess;
        kept.push_back(Kept{KeptKey::Of(type), KeptKey::Of(name), language, data, size});
        return ResultSuccess;
    }
    static const KeptKey& ArchiveName() {
        static const KeptKey name = [] {
            KeptKey k;
            for (const char* c = kArchiveName; *c != 0; ++c) k.text += static_cast<WideChar>(*c);
            return k;
        }();
        return name;
    }
    std::vector<Kept> kept;
};

// Takes whatever is written and keeps nothing: a rehearsal of the writing,
// so that a refused image leaves no output file behind.
class Discard : public HVBFileObject {
public:
    HVBFileObject* Duplicate() override { return nullptr; }
    uint32_t Read(void*, uint32_t) override { return 0; }
    uint32_t Write(const void*, uint32_t count) override {
        position_ += count;
        if (position_ > length_) length_ = position_;
        return count;
    }
    uint32_t GetLength() override { return length_; }
    uint32_t Seek(int32_t distance, uint32_t origin) override {
        const int64_t base = origin == FromCurrent ? position_ : origin == FromEnd ? length_ : 0;
        position_ = static_cast<uint32_t>(base + distance < 0 ? 0 : base + distance);
        return position_;
    }
    uint32_t GetPosition() override { return position_; }
    ResultCode SetEndOfFile() override {
        length_ = position_;
        return ResultSuccess;
    }

private:
    uint32_t position_ = 0;
    uint32_t length_ = 0;
};

std::string FullPath(const std::string& path) {
    char buffer[1024];
    const uint32_t n = plat::FullPathName(path.c_str(), sizeof buffer, buffer, nullptr);
    return n > 0 && n < sizeof buffer ? std::string(buffer, n) : path;
}

// What the image library's refusals mean for the one who links the image,
// and what to do about them.
std::string Refusal(ResultCode r) {
    static const struct {
        const char* text;
        const char* meaning;
    } kRefusals[] = {
        {"有効な PE イメージファイルではありません。", "is not a PE image (a Windows program or library)"},
        {"リソースセクションがありません。",
         "has no resource section; link it with at least one resource (a version resource from a .rc file, "
         "compiled with windres, is enough)"},
        {"リソースセクションの位置がファイルの末端にありません。",
         "has sections after its resource section (base relocations, usually), and only a last resource "
         "section can grow; link it with -Wl,--disable-reloc-section (mingw) or put .rsrc last"},
        {"最後のセクションの後ろに追加データがあります。",
         "carries data appended after its last section (a payload or a signature), which a rewrite would "
         "lose; embed into the image as it was linked, and append or sign afterwards"},
    };
    const char* text = GetResultText(r);
    for (const auto& refusal : kRefusals)
        if (text != nullptr && std::string(text) == refusal.text) return refusal.meaning;
    return "cannot be rewritten: " + Shown(text != nullptr ? text : "unknown error");
}

KeptKey ArchiveType() {
    KeptKey k;
    k.is_id = true;
    k.id = RT_RCDATA_ID;
    return k;
}

// Declares every kept resource and the archive. A declaration that lands on
// a resource declared already (a directory listing one twice) would lose
// one of them: refused.
ResultCode Declare(Image& image, uint32_t archive_size) {
    for (const Kept& k : image.kept) {
        if (image.IsDeclared(k.type.View(), k.name.View(), k.language)) {
            Error("the image lists resource " + k.type.Shown() + " " + k.name.Shown() + " language " +
                  std::to_string(k.language) + " twice");
            return ResultGeneralError;
        }
        if (image.AddResource(k.type.View(), k.name.View(), k.language, k.size) != ResultSuccess)
            return ResultGeneralError;
    }
    return image.AddResource(ArchiveType().View(), Image::ArchiveName().View(), 0, archive_size);
}

int Embed(const Options& o) {
    const std::string& image_path = o.arguments[0];
    const std::string& archive_path = o.arguments[1];
    if (!o.has_output || o.output.empty()) {
        Error("embed needs the output file: -o OUT");
        return kExitUsage;
    }
    // Compared as files, not as names: a link to the archive would be
    // emptied by the output's creation before the archive is read.
    const std::string out_full = FullPath(o.output);
    if (out_full == FullPath(archive_path) || tool::SameFile(o.output, archive_path)) {
        Error("the output cannot replace the archive it stores");
        return kExitUsage;
    }

    ERawFile archive_file;
    if (archive_file.Open(archive_path.c_str(), modeRead | shareRead) != ResultSuccess) {
        Error("cannot open " + NativeShown(archive_path) + " (" + tool::LastErrorText() + ")");
        return kExitNoArchive;
    }
    {
        TOLMAArchive check;
        if (check.Open(&archive_file, nullptr) != ResultSuccess) {
            Error(NativeShown(archive_path) + " is not an archive, or its root directory is damaged");
            return kExitNoArchive;
        }
    }
    const uint32_t archive_size = archive_file.GetLength();

    ERawFile image_file;
    if (image_file.Open(image_path.c_str(), modeRead | shareRead) != ResultSuccess) {
        Error("cannot open " + NativeShown(image_path) + " (" + tool::LastErrorText() + ")");
        return kExitFailed;
    }
    // An image rewritten in place is held as a copy, not as a view of the
    // file being replaced.
    const bool in_place = out_full == FullPath(image_path) || tool::SameFile(o.output, image_path);
    Image image;
    ResultCode r = image.LoadPEImage(&image_file, !in_place);
    if (in_place) image_file.Close();
    if (r == ResultSuccess) r = image.EnumResources(nullptr, nullptr, 0);
    if (r == ResultSuccess) r = Declare(image, archive_size);
    Discard rehearsal;
    if (r == ResultSuccess) r = image.BeginWritingPEImage(&rehearsal);
    if (r != ResultSuccess) {
        Error(NativeShown(image_path) + " " + Refusal(r) + "; nothing written");
        return kExitFailed;
    }

    // Written beside OUT and renamed over it when complete: a failure leaves
    // OUT, IMAGE itself too, as it was.
    PendingFile out(o.output);
    if (!out.Open()) return kExitFailed;
    r = image.BeginWritingPEImage(&out.File());
    for (size_t i = 0; r == ResultSuccess && i < image.kept.size(); ++i) {
        const Kept& k = image.kept[i];
        r = image.WriteResourceData(k.type.View(), k.name.View(), k.language, k.data, k.size);
    }
    if (r == ResultSuccess) {
        archive_file.Seek(0, FromBegin);
        r = image.WriteResourceData(ArchiveType().View(), Image::ArchiveName().View(), 0, &archive_file);
        if (r == ResultSuccess && archive_file.GetPosition() != archive_size) {
            Error(NativeShown(archive_path) + " changed while it was read; nothing written");
            return kExitFailed;
        }
    }
    if (r != ResultSuccess) {
        const std::string why = tool::LastErrorText();
        Error("writing " + NativeShown(o.output) + " failed (" + why + "); " +
              (tool::GetPathKind(o.output) == tool::PathKind::None ? "nothing written" : "it is unchanged"));
        return kExitFailed;
    }
    if (!out.Commit()) return kExitFailed;
    char summary[128];
    std::snprintf(summary, sizeof summary, "%u resources kept, archive of %u bytes stored\n",
                  static_cast<unsigned>(image.kept.size()), archive_size);
    tool::PrintOut(summary);
    return kExitOk;
}

}  // namespace

extern const Command kEmbedCommand = {
    .name = "embed",
    .synopsis = "embed IMAGE ARCHIVE -o OUT",
    .summary = "a copy of a PE image holding ARCHIVE as its\n\"IDR_ARCHIVE\" resource",
    .help =
        "usage: tolma embed IMAGE ARCHIVE -o OUT\n"
        "\n"
        "Writes OUT, a copy of the PE image IMAGE whose resource section holds\n"
        "every resource IMAGE has and ARCHIVE as the RT_RCDATA resource\n"
        "\"IDR_ARCHIVE\", language 0 (replacing one IMAGE already holds). IMAGE\n"
        "must have a resource section, and it must be its last section (with\n"
        "mingw, link with -Wl,--disable-reloc-section), with nothing appended\n"
        "after it; otherwise nothing is written. OUT is written beside its place\n"
        "and renamed over it once complete: a failure leaves it as it was.\n"
        "  -o, --output OUT  the file to write (may be IMAGE itself)\n",
    .min_arguments = 2,
    .max_arguments = 2,
    .run = Embed,
};

}  // namespace tolma
