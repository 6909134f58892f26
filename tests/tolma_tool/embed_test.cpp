// tolma embed as a user runs it: the rewritten image holds every resource it
// had and the archive, and on Windows the image itself still finds them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "file/raw_file.h"
#include "pe/pe_support.h"
#include "support/process.h"
#include "platform/file.h"
#include "tool_system.h"
#include "unicode.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using Bytes = std::vector<uint8_t>;
const char kSep = tool::NativeSeparator();

bool HardLink(const std::string& existing, const std::string& link) {
#if defined(_WIN32)
    return CreateHardLinkA(link.c_str(), existing.c_str(), nullptr) != 0;
#else
    return ::link(existing.c_str(), link.c_str()) == 0;
#endif
}

// Runs a program with the arguments; its exit status, its output in out and err.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments, const std::string& dir,
               std::string* out, std::string* err) {
    return test_process::Run(program, arguments, dir + kSep + "stdout.txt", dir + kSep + "stderr.txt", out, err);
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

// Every resource of an image, by key, with the CRC of its bytes.
std::vector<EnumeratedResource> Resources(const std::string& path) {
    ERawFile file;
    RecordingImage image;
    EXPECT_EQ(file.Open(path.c_str(), modeRead | shareRead), ResultSuccess) << path;
    EXPECT_EQ(image.LoadPEImage(&file, false), ResultSuccess) << path;
    EXPECT_EQ(image.EnumResources(nullptr, nullptr, 0), ResultSuccess) << path;
    return image.seen;
}

bool Same(const EnumeratedResource& a, const EnumeratedResource& b) {
    return a.type == b.type && a.name == b.name && a.language == b.language && a.size == b.size && a.crc == b.crc;
}

class TolmaEmbed : public testing::Test {
protected:
    void SetUp() override {
        char buffer[512];
        const uint32_t n = plat::GetTempDirectory(sizeof buffer, buffer);
        ASSERT_TRUE(n > 0 && n < sizeof buffer);
        static int counter = 0;
        dir_ = std::string(buffer, n) + "tolma-embed-" + std::to_string(std::time(nullptr) % 100000) + "-" +
               std::to_string(++counter);
        ASSERT_TRUE(tool::MakeDirectory(dir_));
        const char* tool_path = std::getenv("HVB_TOLMA");
        ASSERT_NE(tool_path, nullptr);
        tool_ = HostPath(tool_path);
        probe_ = HostPath(TestDataDir() + "/embed_probe.exe");
        // An archive of two files, made by the tool itself.
        ASSERT_TRUE(tool::MakeDirectory(Path("src")));
        Bytes big(300000);
        for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 7 + i / 251);
        WriteFile(Path("src") + kSep + "big.bin", big);
        WriteFile(Path("src") + kSep + "small.txt", {'h', 'i'});
        ASSERT_EQ(Tolma({"create", Path("a.arc"), Path("src"), "-e", "tolma_code"}), 0) << err;
    }
    void TearDown() override {
        for (const char* name : {"src/big.bin", "src/small.txt", "a.arc", "out.exe", "in_place.exe", "not_pe.exe",
                                 "alias.exe", "alias.arc", "stdout.txt", "stderr.txt"}) {
            std::string path = Path(name);
            for (char& c : path) c = c == '/' ? kSep : c;
            tool::RemoveFile(path);
        }
        plat::RemoveDirectoryPath(Path("src").c_str());
        plat::RemoveDirectoryPath(dir_.c_str());
    }

    std::string Path(const std::string& name) const { return dir_ + kSep + name; }
    int Tolma(const std::vector<std::string>& arguments) { return RunProgram(tool_, arguments, dir_, &out, &err); }

    std::string dir_, tool_, probe_;
    std::string out, err;
};

// Every resource of an image with its keys as the directory holds them
// (names as their UTF-16 units), and its bytes.
class KeyedResources : public EXEImageFileObject {
public:
    struct Resource {
        bool type_id, name_id;
        std::u16string type, name;  // the identifier as one unit for an identifier
        uint16_t language;
        Bytes bytes;
    };
    ResultCode OnEnumResourceKeys(const ResourceKey& type, const ResourceKey& name, uint16_t language,
                                  const uint8_t* data, uint32_t size) override {
        found.push_back({type.is_id, name.is_id, Units(type), Units(name), language, Bytes(data, data + size)});
        return ResultSuccess;
    }
    static std::u16string Units(const ResourceKey& k) {
        return k.is_id ? std::u16string(1, static_cast<char16_t>(k.id)) : std::u16string(k.text, k.text + k.length);
    }
    static ResourceKey Key(bool is_id, const std::u16string& units) {
        ResourceKey k;
        k.is_id = is_id;
        k.id = is_id ? units[0] : 0;
        k.text = reinterpret_cast<const WideChar*>(units.data());
        k.length = is_id ? 0 : static_cast<uint32_t>(units.size());
        return k;
    }
    static std::string Listing(const std::vector<Resource>& found) {
        std::string text;
        for (const Resource& r : found) {
            for (const std::u16string* key : {&r.type, &r.name})
                for (char16_t u : *key) text += std::to_string(u) + ".";
            text += (r.type_id ? "i" : "s") + std::string(r.name_id ? "i" : "s") + std::to_string(r.language) + "\n";
        }
        return text;
    }
    std::vector<Resource> found;
};

std::vector<KeyedResources::Resource> ReadKeyed(const Bytes& image) {
    VectorFile file(modeRead, image);
    KeyedResources keyed;
    EXPECT_EQ(keyed.LoadPEImage(&file, false), ResultSuccess);
    EXPECT_EQ(keyed.EnumResources(nullptr, nullptr, 0), ResultSuccess);
    keyed.Close();
    return keyed.found;
}

}  // namespace

TEST_F(TolmaEmbed, KeepsEveryResourceAndStoresTheArchive) {
    ASSERT_EQ(Tolma({"embed", probe_, Path("a.arc"), "-o", Path("out.exe")}), 0) << err;
    EXPECT_NE(out.find("5 resources kept"), std::string::npos) << out;
    ASSERT_EQ(Tolma({"verify", Path("out.exe")}), 0) << out << err;
    EXPECT_NE(out.find("2 files checked, 0 failures"), std::string::npos) << out;

    // The image's own resources with their bytes, in their order, the
    // archive in place of the one it had.
    const Bytes archive = ReadHostFile(Path("a.arc"));
    const std::vector<EnumeratedResource> before = Resources(probe_), after = Resources(Path("out.exe"));
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i) {
        SCOPED_TRACE(before[i].name);
        if (before[i].name == "=IDR_ARCHIVE") {
            EXPECT_EQ(after[i].size, archive.size());
            EXPECT_EQ(after[i].crc, Crc32(archive.data(), static_cast<uint32_t>(archive.size())));
        } else {
            EXPECT_TRUE(Same(before[i], after[i]));
        }
    }

    // In place, twice: the archive replaces the one stored the first time.
    WriteFile(Path("in_place.exe"), ReadHostFile(probe_));
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(Tolma({"embed", Path("in_place.exe"), Path("a.arc"), "--output", Path("in_place.exe")}), 0) << err;
        EXPECT_EQ(ReadHostFile(Path("in_place.exe")), ReadHostFile(Path("out.exe")));
    }
    // Through another name of the same file: the image is read whole before
    // the output takes that name (a new file: the other name keeps the
    // image), and the archive is never emptied.
    WriteFile(Path("in_place.exe"), ReadHostFile(probe_));
    ASSERT_TRUE(HardLink(Path("in_place.exe"), Path("alias.exe")));
    ASSERT_EQ(Tolma({"embed", Path("in_place.exe"), Path("a.arc"), "-o", Path("alias.exe")}), 0) << err;
    EXPECT_EQ(ReadHostFile(Path("alias.exe")), ReadHostFile(Path("out.exe")));
    EXPECT_EQ(ReadHostFile(Path("in_place.exe")), ReadHostFile(probe_));
    ASSERT_TRUE(HardLink(Path("a.arc"), Path("alias.arc")));
    EXPECT_EQ(Tolma({"embed", probe_, Path("a.arc"), "-o", Path("alias.arc")}), 2);
    EXPECT_NE(err.find("cannot replace the archive"), std::string::npos) << err;
    EXPECT_EQ(ReadHostFile(Path("a.arc")), archive);

#if defined(_WIN32)
    // The rewritten program finds its resources as any program does.
    std::string probe_out, probe_err;
    EXPECT_EQ(RunProgram(Path("out.exe"), {std::to_string(archive.size())}, dir_, &probe_out, &probe_err), 0)
        << probe_out;
#endif
}

TEST_F(TolmaEmbed, RefusalsWriteNothing) {
    const std::string ordinary = HostPath(TestDataDir() + "/archive_image.exe");
    WriteFile(Path("not_pe.exe"), {'M', 'Z', 'n', 'o'});
    const struct {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    } cases[] = {
        // Linked the usual way: base relocations follow the resources.
        {{"embed", ordinary, Path("a.arc"), "-o", Path("out.exe")}, 1, "link it with -Wl,--disable-reloc-section"},
        {{"embed", Path("not_pe.exe"), Path("a.arc"), "-o", Path("out.exe")}, 1, "is not a PE image"},
        {{"embed", probe_, Path("not_pe.exe"), "-o", Path("out.exe")}, 3, "is not an archive"},
        {{"embed", probe_, Path("missing.arc"), "-o", Path("out.exe")}, 3, "cannot open"},
        {{"embed", probe_, Path("a.arc")}, 2, "-o OUT"},
        {{"embed", probe_, Path("a.arc"), "-o", Path("a.arc")}, 2, "cannot replace the archive"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        EXPECT_EQ(Tolma(c.arguments), c.status);
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_EQ(tool::GetPathKind(Path("out.exe")), tool::PathKind::None);
    }
    EXPECT_EQ(ReadHostFile(Path("a.arc")).size() > 64, true);
}

#if !defined(_WIN32)
// A write that fails (a file-size limit stands for a full disk) leaves the
// image rewritten in place, or an OUT that existed, as it was.
TEST_F(TolmaEmbed, FailedWritesKeepTheOriginal) {
    const Bytes probe = ReadHostFile(probe_);
    WriteFile(Path("in_place.exe"), probe);
    WriteFile(Path("out.exe"), {'o', 'l', 'd'});
    for (const char* output : {"in_place.exe", "out.exe"}) {
        SCOPED_TRACE(output);
        const Bytes before = ReadHostFile(Path(output));
        const std::string command = "trap '' XFSZ; ulimit -f 40; exec " + test_process::Quote(tool_) + " embed " +
                                    test_process::Quote(Path("in_place.exe")) + " " +
                                    test_process::Quote(Path("a.arc")) + " -o " + test_process::Quote(Path(output)) +
                                    " 2>" + test_process::Quote(Path("stderr.txt"));
        const int status = std::system(command.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        EXPECT_EQ(ReadHostFile(Path(output)), before);
        EXPECT_EQ(tool::GetPathKind(Path(output) + ".tolma-partial"), tool::PathKind::None);
    }
}
#endif

// Names the code page cannot tell apart (two letters it has no form for),
// and a name that spells a number: each stays the name it was.
TEST_F(TolmaEmbed, ResourceNamesPassWhole) {
    const Bytes probe = ReadHostFile(probe_);
    std::vector<KeyedResources::Resource> found = ReadKeyed(probe);
    for (const char16_t* extra : {u"\u0101", u"\u0103", u"#123"})
        found.push_back({true, false, std::u16string(1, char16_t{RT_RCDATA_ID}), extra, 0x411, {'x'}});
    VectorFile source(modeRead, probe), named;
    EXEImageFileObject writer;
    ASSERT_EQ(writer.LoadPEImage(&source, false), ResultSuccess);
    for (const auto& r : found) {
        ASSERT_EQ(writer.AddResource(KeyedResources::Key(r.type_id, r.type), KeyedResources::Key(r.name_id, r.name),
                                     r.language, static_cast<uint32_t>(r.bytes.size())),
                  ResultSuccess);
    }
    ASSERT_EQ(writer.BeginWritingPEImage(&named), ResultSuccess);
    for (const auto& r : found) {
        ASSERT_EQ(writer.WriteResourceData(KeyedResources::Key(r.type_id, r.type), KeyedResources::Key(r.name_id, r.name),
                                           r.language, r.bytes.data(), static_cast<uint32_t>(r.bytes.size())),
                  ResultSuccess);
    }
    WriteFile(Path("in_place.exe"), named.bytes);
    const std::string before = KeyedResources::Listing(ReadKeyed(named.bytes));
    ASSERT_EQ(Tolma({"embed", Path("in_place.exe"), Path("a.arc"), "-o", Path("out.exe")}), 0) << err;
    EXPECT_NE(out.find(std::to_string(found.size() - 1) + " resources kept"), std::string::npos) << out;
    EXPECT_EQ(KeyedResources::Listing(ReadKeyed(ReadHostFile(Path("out.exe")))), before);
}
