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
#include "platform/file.h"
#include "tool_system.h"

namespace tolma {
namespace {

const char kArchiveName[] = "IDR_ARCHIVE";

// A resource of the image, its keys kept beyond the enumeration.
struct Kept {
    std::string type, name;  // empty for an identifier
    uint16_t type_id, name_id, language;
    const uint8_t* data;
    uint32_t size;

    static const char* Key(const std::string& text, uint16_t id) {
        return text.empty() ? MakeIntResource(id) : text.c_str();
    }
    const char* Type() const { return Key(type, type_id); }
    const char* Name() const { return Key(name, name_id); }
};

class Image : public EXEImageFileObject {
public:
    ResultCode OnEnumResource(const char* type, const char* name, uint16_t language, const uint8_t* data,
                              uint32_t size) override {
        // The archive this command stores replaces the one the image had.
        if (IsIntResource(type) && MakeIntResource(RT_RCDATA_ID) == type && !IsIntResource(name) &&
            std::string(name) == kArchiveName && language == 0)
            return ResultSuccess;
        Kept k{"", "", 0, 0, language, data, size};
        if (IsIntResource(type))
            k.type_id = static_cast<uint16_t>(reinterpret_cast<uintptr_t>(type));
        else
            k.type = type;
        if (IsIntResource(name))
            k.name_id = static_cast<uint16_t>(reinterpret_cast<uintptr_t>(name));
        else
            k.name = name;
        kept.push_back(k);
        return ResultSuccess;
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

// Declares every kept resource and the archive.
ResultCode Declare(Image& image, uint32_t archive_size) {
    for (const Kept& k : image.kept) {
        if (image.AddResource(k.Type(), k.Name(), k.language, k.size) != ResultSuccess) return ResultGeneralError;
    }
    return image.AddResource(MakeIntResource(RT_RCDATA_ID), kArchiveName, 0, archive_size);
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
        Error("cannot open " + NativeShown(archive_path));
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
        Error("cannot open " + NativeShown(image_path));
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
        Error(NativeShown(image_path) + ": " + Shown(GetResultText(r)));
        return kExitFailed;
    }

    ERawFile out;
    if (out.Open(o.output.c_str(), modeCreate | modeRead | modeWrite) != ResultSuccess) {
        Error("cannot create " + NativeShown(o.output));
        return kExitFailed;
    }
    r = image.BeginWritingPEImage(&out);
    for (size_t i = 0; r == ResultSuccess && i < image.kept.size(); ++i) {
        const Kept& k = image.kept[i];
        r = image.WriteResourceData(k.Type(), k.Name(), k.language, k.data, k.size);
    }
    if (r == ResultSuccess) {
        archive_file.Seek(0, FromBegin);
        r = image.WriteResourceData(MakeIntResource(RT_RCDATA_ID), kArchiveName, 0, &archive_file);
        if (r == ResultSuccess && archive_file.GetPosition() != archive_size) {
            Error(NativeShown(archive_path) + " changed while it was read");
            return kExitFailed;
        }
    }
    if (r != ResultSuccess) {
        Error("writing " + NativeShown(o.output) + " failed: " + Shown(GetResultText(r)));
        return kExitFailed;
    }
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
        "\"IDR_ARCHIVE\", language 0 (replacing one IMAGE already holds). The\n"
        "resource section must be the last section of IMAGE (link it so: with\n"
        "mingw, -Wl,--disable-reloc-section); otherwise nothing is written.\n"
        "  -o, --output OUT  the file to write (may be IMAGE itself)\n",
    .min_arguments = 2,
    .max_arguments = 2,
    .run = Embed,
};

}  // namespace tolma
