// The archive tool as a user runs it: a separate process whose exit status,
// output and files are checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "platform/file.h"
#include "support/process.h"
#include "tolma_archive/archive_support.h"
#include "tool_system.h"
#include "unicode.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

const char kSep = tool::NativeSeparator();

// A CP932 text as the system spells names.
std::string Native(const std::string& cp932) {
    std::string native;
    EXPECT_TRUE(tool::ArchiveToNative(cp932, &native));
    return native;
}

using test_process::Quote;

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void RemoveTree(const std::string& path) {
    std::vector<tool::DirectoryItem> items;
    if (tool::ListDirectory(path, &items)) {
        for (const auto& item : items) {
            const std::string full = path + kSep + item.name;
            if (item.kind == tool::PathKind::Directory) RemoveTree(full);
            else tool::RemoveFile(full);
        }
    }
    plat::RemoveDirectoryPath(path.c_str());
}

// Every file below a directory, by relative native path, with its bytes.
void Snapshot(const std::string& root, const std::string& prefix, std::map<std::string, Bytes>* files) {
    std::vector<tool::DirectoryItem> items;
    ASSERT_TRUE(tool::ListDirectory(root, &items)) << root;
    for (const auto& item : items) {
        const std::string full = root + kSep + item.name;
        if (item.kind == tool::PathKind::Directory) {
            (*files)[prefix + item.name + "/"] = {};
            Snapshot(full, prefix + item.name + "/", files);
        } else {
            (*files)[prefix + item.name] = ReadHostFile(full);
        }
    }
}

class TolmaTool : public testing::Test {
protected:
    void SetUp() override {
        char buffer[512];
        const uint32_t n = plat::GetTempDirectory(sizeof buffer, buffer);
        ASSERT_TRUE(n > 0 && n < sizeof buffer);
        static int counter = 0;
        dir_ = std::string(buffer, n) + "tolma-test-" + std::to_string(std::time(nullptr) % 100000) + "-" +
               std::to_string(reinterpret_cast<uintptr_t>(&counter) % 9973) + "-" + std::to_string(++counter);
        ASSERT_TRUE(tool::MakeDirectory(dir_));
        const char* tool_path = std::getenv("HVB_TOLMA");
        ASSERT_NE(tool_path, nullptr);
        tool_ = HostPath(tool_path);
    }
    void TearDown() override { RemoveTree(dir_); }

    std::string Path(const std::string& name) const { return dir_ + kSep + name; }

    // Runs the tool with the arguments (quoted here); the exit status.
    int Run(const std::vector<std::string>& arguments) {
        const int status = test_process::Run(tool_, arguments, Path("stdout.txt"), Path("stderr.txt"), &out, &err);
        std::erase(out, '\r');
        std::erase(err, '\r');
        return status;
    }

#if !defined(_WIN32)
    // Runs the tool through the shell with its output files limited to
    // `blocks` (the shell's units), where a write past the limit fails with
    // EFBIG instead of killing the tool; the exit status.
    int RunLimited(int blocks, const std::vector<std::string>& arguments) {
        std::string command = "trap '' XFSZ; ulimit -f " + std::to_string(blocks) + "; exec " + Quote(tool_);
        for (const std::string& a : arguments) command += " " + Quote(a);
        return Shell(command + " >" + Quote(Path("stdout.txt")) + " 2>" + Quote(Path("stderr.txt")));
    }
    // The exit status of a shell command; err holds the tool's errors.
    int Shell(const std::string& command) {
        const int status = std::system(command.c_str());
        const Bytes e = ReadHostFile(Path("stderr.txt"));
        err.assign(e.begin(), e.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
#endif

    // A tree of sample files below `root`.
    void MakeTree(const std::string& root) {
        ASSERT_TRUE(tool::MakeDirectory(root));
        ASSERT_TRUE(tool::MakeDirectory(root + kSep + "sub"));
        ASSERT_TRUE(tool::MakeDirectory(root + kSep + "sub" + kSep + "deeper"));
        ASSERT_TRUE(tool::MakeDirectory(root + kSep + "void"));
        ASSERT_TRUE(tool::MakeDirectory(root + kSep + Native("表")));
        WriteFile(root + kSep + "empty", {});
        WriteFile(root + kSep + "exact.bin", PatternBytes(16384, 1));
        WriteFile(root + kSep + "sub" + kSep + "over.bin", PatternBytes(16385, 2));
        WriteFile(root + kSep + "sub" + kSep + "deeper" + kSep + "big.bin", PatternBytes(1 << 20, 3));
        WriteFile(root + kSep + Native("表") + kSep + Native("日本語.txt"), {'j', 'p'});
    }

    std::string dir_;
    std::string tool_;
    std::string out, err;
};

}  // namespace

TEST_F(TolmaTool, RoundTripEveryEncoding) {
    MakeTree(Path("src"));
    std::map<std::string, Bytes> source;
    Snapshot(Path("src"), "", &source);
    for (const char* encoding : {"raw", "tolma_code", "bshf_crypt", "tolma_crypt"}) {
        SCOPED_TRACE(encoding);
        const std::string archive = Path(std::string(encoding) + ".arc");
        const std::string dest = Path(std::string("out-") + encoding);
        // Every spelling of an option: long, short, with '='.
        ASSERT_EQ(Run({"create", archive, Path("src"), "-e", encoding, "--password=pw"}), 0) << err;
        ASSERT_EQ(Run({"verify", archive, "--password", "pw"}), 0) << out << err;
        EXPECT_NE(out.find("5 files checked, 0 failures"), std::string::npos) << out;
        ASSERT_EQ(Run({"extract", archive, dest, "-p", "pw"}), 0) << err;
        std::map<std::string, Bytes> extracted;
        Snapshot(dest, "", &extracted);
        EXPECT_TRUE(extracted == source);

        ASSERT_EQ(Run({"list", archive}), 0) << err;
        EXPECT_NE(out.find("     1048576  00000000    " + std::string(encoding)), std::string::npos) << out;
        // Shift-JIS names reach the terminal as UTF-8.
        EXPECT_NE(out.find(tool::AnsiToUtf8("表\\日本語.txt")), std::string::npos) << out;
        EXPECT_NE(out.find("sub\\deeper\\\n"), std::string::npos) << out;

        ASSERT_EQ(Run({"cat", archive, "sub/over.bin", "--password", "pw"}), 0) << err;
        EXPECT_EQ(ReadHostFile(Path("stdout.txt")), PatternBytes(16385, 2));
    }
    // A wrong password is a failure, not garbage on disk.
    EXPECT_EQ(Run({"verify", Path("tolma_crypt.arc"), "--password", "nope"}), 1);
    EXPECT_NE(out.find("FAILED"), std::string::npos);
    EXPECT_EQ(Run({"extract", Path("bshf_crypt.arc"), Path("wrong"), "sub/over.bin"}), 1);
    EXPECT_EQ(tool::GetPathKind(Path("wrong") + kSep + "sub" + kSep + "over.bin"), tool::PathKind::None);
}

#if !defined(_WIN32)
// The progress line, on a terminal only: through a pseudo-terminal (script)
// each command redraws one line of files, bytes and rate; redirected, it
// says nothing but what -v asks for, the names.
TEST_F(TolmaTool, ProgressOnATerminalOnly) {
    MakeTree(Path("src"));
    const std::string archive = Path("a.arc");
    const struct {
        std::vector<std::string> arguments;
        const char* named;
    } cases[] = {
        {{"create", archive, Path("src"), "-e", "tolma_code", "-v"}, "big.bin'"},
        {{"verify", archive, "--verbose"}, "'sub\\over.bin'"},
        {{"extract", archive, Path("out"), "-v"}, "'sub\\deeper\\big.bin'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[0]);
        ASSERT_EQ(Run(c.arguments), 0) << err;
        const Bytes redirected = ReadHostFile(Path("stderr.txt"));
        EXPECT_EQ(std::count(redirected.begin(), redirected.end(), '\r'), 0) << err;
        EXPECT_NE(err.find(c.named), std::string::npos) << err;
        std::string command = Quote(tool_);
        for (const std::string& a : c.arguments) command += " " + (a == "-v" || a == "--verbose" ? "" : Quote(a));
        if (c.arguments[0] == "extract") command += " --force";
        ASSERT_EQ(std::system(("script -qfec " + Quote(command) + " /dev/null >" + Quote(Path("tty.txt"))).c_str()), 0);
        const Bytes raw = ReadHostFile(Path("tty.txt"));
        const std::string tty(raw.begin(), raw.end());
        // The first file's line is drawn at once; later ones at most ten
        // times a second, so which of them show depends on the machine.
        EXPECT_EQ(tty.find("\r1/"), 0u) << tty;
        EXPECT_NE(tty.find(" files  0.0/"), std::string::npos) << tty;
        EXPECT_NE(tty.find(" MiB"), std::string::npos) << tty;
        EXPECT_EQ(tty.find(c.named), std::string::npos) << "names only with -v";
    }
}
#endif

TEST_F(TolmaTool, ExtractsSelectedPathsAndKeepsExistingFiles) {
    MakeTree(Path("src"));
    const std::string archive = Path("a.arc");
    ASSERT_EQ(Run({"create", archive, Path("src")}), 0) << err;
    const std::string dest = Path("dest");
    ASSERT_EQ(Run({"extract", archive, dest, "SUB/deeper", "empty"}), 0) << err;
    std::map<std::string, Bytes> got;
    Snapshot(dest, "", &got);
    EXPECT_EQ(got.size(), 4u);
    EXPECT_EQ(got["sub/deeper/big.bin"], PatternBytes(1 << 20, 3));
    EXPECT_TRUE(got.count("empty"));

    WriteFile(dest + kSep + "empty", {'k', 'e', 'p', 't'});
    EXPECT_EQ(Run({"extract", archive, dest, "empty"}), 1);
    EXPECT_NE(err.find("use --force"), std::string::npos) << err;
    EXPECT_EQ(ReadHostFile(dest + kSep + "empty"), (Bytes{'k', 'e', 'p', 't'}));
    EXPECT_EQ(Run({"extract", archive, dest, "empty", "--force"}), 0) << err;
    EXPECT_EQ(ReadHostFile(dest + kSep + "empty"), Bytes());
    EXPECT_EQ(Run({"extract", archive, dest, "missing"}), 1);
    EXPECT_NE(err.find("not found"), std::string::npos) << err;
#if !defined(_WIN32)
    // A stored file typed where DEST stands: what it is taken as, and how to
    // pick it.
    EXPECT_EQ(Shell("cd " + Quote(dir_) + " && " + Quote(tool_) + " extract a.arc exact.bin 2>stderr.txt"), 0);
    EXPECT_NE(err.find("'exact.bin' is taken as DEST"), std::string::npos) << err;
#endif
}

// "表" is 0x95 0x5C in Shift-JIS: its second byte is never a separator, in a
// typed archive path nor at the end of a directory argument.
TEST_F(TolmaTool, DoubleByteCharactersEndingInABackslashByte) {
    MakeTree(Path("src"));
    ASSERT_EQ(Run({"create", Path("a.arc"), Path("src")}), 0) << err;
    for (const char* typed : {"表/日本語.txt", "表\\日本語.txt", "/表//日本語.txt/"}) {
        ASSERT_EQ(Run({"cat", Path("a.arc"), Native(typed)}), 0) << typed << err;
        EXPECT_EQ(out, "jp");
    }
    const std::string table = Native("表");
    ASSERT_EQ(Run({"create", Path("b.arc"), Path("src") + kSep + table + kSep}), 0) << err;
    ASSERT_EQ(Run({"extract", Path("b.arc"), Path(table)}), 0) << err;
    EXPECT_EQ(ReadHostFile(Path(table) + kSep + Native("日本語.txt")), (Bytes{'j', 'p'}));
}

TEST_F(TolmaTool, ReadsTheArchiveOfAPEImage) {
    const std::string image = HostPath(TestDataDir() + "/archive_image.exe");
    Bytes pattern(70001);
    for (uint32_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i * 131 + (i >> 8) * 7 + 5);
    for (bool flag : {false, true}) {
        SCOPED_TRACE(flag);
        std::vector<std::string> extra;
        if (flag) extra.push_back("--pe");
        auto with = [&](std::vector<std::string> a) {
            a.insert(a.end(), extra.begin(), extra.end());
            return a;
        };
        ASSERT_EQ(Run(with({"list", image})), 0) << err;
        EXPECT_NE(out.find("       70001  00000020    raw"), std::string::npos) << out;
        ASSERT_EQ(Run(with({"verify", image})), 0) << err;
        const std::string dest = Path(flag ? "pe-flag" : "pe-auto");
        ASSERT_EQ(Run(with({"extract", image, dest})), 0) << err;
        std::map<std::string, Bytes> got;
        Snapshot(dest, "", &got);
        const std::string readme = "hello from the image\n";
        EXPECT_EQ(got["readme.txt"], Bytes(readme.begin(), readme.end()));
        EXPECT_EQ(got["data/bytes.bin"], pattern);
        EXPECT_TRUE(got.count("data/deeper/empty"));
        ASSERT_EQ(Run(with({"cat", image, "data\\bytes.bin"})), 0) << err;
        EXPECT_EQ(ReadHostFile(Path("stdout.txt")), pattern);
    }
    // A plain archive named as a PE image, and a PE image without one.
    WriteFile(Path("plain.arc"), MakeArchive({File("x", {1})}));
    EXPECT_EQ(Run({"list", Path("plain.arc"), "--pe"}), 3);
    const std::string without = "/usr/lib/i386-linux-gnu/wine/i386-windows/notepad.exe";
    if (tool::GetPathKind(without) == tool::PathKind::File || tool::GetPathKind(HostPath(without)) == tool::PathKind::File) {
        EXPECT_EQ(Run({"list", HostPath(without)}), 3);
        EXPECT_NE(err.find("holds no archive resource"), std::string::npos) << err;
    }
}

TEST_F(TolmaTool, RefusesNamesThatLeaveTheDestination) {
    TreeItem parent = Dir("..", {File("x.txt", {1})});
    const Bytes archive = MakeArchive({
        File("ok.txt", {'o', 'k'}),
        File(".", {1}),
        File("..\\up.txt", {2}),
        File("../up2.txt", {3}),
        File("/abs.txt", {4}),
        File("C:drive.txt", {5}),
        File("ctl\x01.txt", {6}),
        File("", {7}),
        File("half\x81", {9}),
        parent,
        Dir("sub", {File("in.txt", {'i', 'n'}), File("..\\..\\deep.txt", {8})}),
    });
    WriteFile(Path("unsafe.arc"), archive);
    ASSERT_TRUE(tool::MakeDirectory(Path("box")));
    const std::string dest = Path("box") + kSep + "dest";
    EXPECT_EQ(Run({"extract", Path("unsafe.arc"), dest}), 1);
    for (const char* shown : {"'.'", "'..'", "'..\\up.txt'", "'../up2.txt'", "'/abs.txt'", "'C:drive.txt'",
                              "'ctl\\x01.txt'", "''", "'sub\\..\\..\\deep.txt'"})
        EXPECT_NE(err.find(std::string("refusing ") + shown), std::string::npos) << shown << "\n" << err;
    EXPECT_NE(err.find("ends with half a double-byte character"), std::string::npos) << err;
    std::map<std::string, Bytes> box;
    Snapshot(Path("box"), "", &box);
    std::map<std::string, Bytes> expected = {
        {"dest/", {}}, {"dest/ok.txt", {'o', 'k'}}, {"dest/sub/", {}}, {"dest/sub/in.txt", {'i', 'n'}}};
    EXPECT_TRUE(box == expected);
    std::vector<tool::DirectoryItem> top;
    ASSERT_TRUE(tool::ListDirectory(dir_, &top));
    for (const auto& item : top)
        for (const char* escaped : {"up", "abs", "drive", "deep", "x.txt"})
            EXPECT_EQ(item.name.find(escaped), std::string::npos) << item.name;
}

TEST_F(TolmaTool, DamageAndUsage) {
    Bytes b = MakeArchive({File("f.bin", PatternBytes(50000, 4), TOLMA_ENCODING_CODE), File("g", {1})});
    b[b.size() - 3000] ^= 0x10;
    WriteFile(Path("damaged.arc"), b);
    EXPECT_EQ(Run({"verify", Path("damaged.arc")}), 1);
    EXPECT_NE(out.find("FAILED f.bin"), std::string::npos) << out;
    EXPECT_NE(out.find("2 files checked, 1 failures"), std::string::npos) << out;
    EXPECT_EQ(Run({"extract", Path("damaged.arc"), Path("d")}), 1);
    EXPECT_EQ(tool::GetPathKind(Path("d") + kSep + "f.bin"), tool::PathKind::None);
    EXPECT_EQ(tool::GetPathKind(Path("d") + kSep + "g"), tool::PathKind::File);
    EXPECT_EQ(Run({"cat", Path("damaged.arc"), "f.bin"}), 1);

    WriteFile(Path("truncated.arc"), Bytes(b.begin(), b.begin() + 70));
    EXPECT_EQ(Run({"list", Path("truncated.arc")}), 3);
    EXPECT_EQ(Run({"list", Path("absent.arc")}), 3);
    EXPECT_EQ(Run({}), 2);
    EXPECT_EQ(Run({"frobnicate"}), 2);
    EXPECT_EQ(Run({"list"}), 2);
    EXPECT_NE(err.find("usage: tolma list"), std::string::npos) << err;
    EXPECT_EQ(Run({"create", Path("x.arc"), dir_, "--encoding", "zip"}), 2);
    EXPECT_EQ(Run({"list", Path("damaged.arc"), "--bogus"}), 2);
    EXPECT_EQ(Run({"list", Path("damaged.arc"), "-p"}), 2);
    EXPECT_NE(err.find("-p needs a value"), std::string::npos) << err;
    EXPECT_EQ(Run({"list", Path("damaged.arc"), "--encoding=raw"}), 0);
    EXPECT_NE(err.find("--encoding applies to create only; ignored"), std::string::npos) << err;
    for (const char* jobs : {"0", "-1", "x", "2x", "65", "99999999999", ""}) {
        EXPECT_EQ(Run({"verify", Path("damaged.arc"), "-j", jobs}), 2) << jobs;
        EXPECT_NE(err.find("-j takes a number of threads from 1 to 64, not '" + std::string(jobs) + "'"),
                  std::string::npos)
            << err;
    }
    EXPECT_EQ(Run({"verify", Path("damaged.arc"), "-j64"}), 1);
    EXPECT_EQ(Run({"list", Path("damaged.arc"), "-j", "2"}), 0);
    EXPECT_NE(err.find("--jobs applies to create, extract and verify only; ignored"), std::string::npos) << err;
    for (const char* command : {"create", "list", "extract", "cat", "verify"}) {
        EXPECT_EQ(Run({command, "--help"}), 0);
        EXPECT_EQ(out.rfind(std::string("usage: tolma ") + command, 0), 0u) << out;
    }
    for (const char* version : {"--version", "-V"}) {
        EXPECT_EQ(Run({version}), 0);
        EXPECT_EQ(out.rfind("tolma 1.", 0), 0u) << out;
    }
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_NE(out.find("exit status"), std::string::npos);
    EXPECT_NE(out.find("  create ARCHIVE DIR      store"), std::string::npos) << out;
    // A synopsis too long for the summary column has a line of its own.
    EXPECT_NE(out.find("  extract ARCHIVE [DEST] [PATH...]\n" + std::string(26, ' ') + "extract"), std::string::npos)
        << out;
}

// -j N codes and decodes on N threads and changes nothing else: the archive
// is the same bytes in every encoding, and extract and verify write, say
// (file by file, -v) and answer the same, damage included, a file too large
// to be held ahead among the others.
TEST_F(TolmaTool, JobsChangeNothingButTheTime) {
    MakeTree(Path("src"));
    for (int i = 0; i < 12; ++i)
        WriteFile(Path("src") + kSep + "sub" + kSep + "n" + std::to_string(i), PatternBytes(2500 * i, 10 + i));
    for (const char* encoding : {"raw", "tolma_code", "bshf_crypt", "tolma_crypt"}) {
        SCOPED_TRACE(encoding);
        for (const char* jobs : {"1", "2", "3"}) {
            const std::string archive = Path(std::string(encoding) + jobs + ".arc");
            ASSERT_EQ(Run({"create", archive, Path("src"), "-e", encoding, "-p", "pw", "-j", jobs}), 0) << err;
            EXPECT_TRUE(ReadHostFile(archive) == ReadHostFile(Path(std::string(encoding) + "1.arc"))) << jobs;
        }
    }
    WriteFile(Path("src") + kSep + "sub" + kSep + "huge.bin", PatternBytes(17 << 20, 5));
    for (const char* jobs : {"1", "2"})
        ASSERT_EQ(Run({"create", Path(std::string("huge") + jobs + ".arc"), Path("src"), "-j", jobs}), 0) << err;
    EXPECT_TRUE(ReadHostFile(Path("huge1.arc")) == ReadHostFile(Path("huge2.arc")));
#if !defined(_WIN32)
    // A full disk (a file-size limit inside big.bin) stops the same file with
    // the same words.
    std::string full[2];
    for (int k = 0; k < 2; ++k) {
        const int status = RunLimited(500, {"create", Path("full.arc"), Path("src"), "-j", k == 0 ? "1" : "2"});
        full[k] = std::to_string(status) + err;
    }
    EXPECT_EQ(full[0], full[1]);
    EXPECT_NE(full[0].find("writing it into the archive failed"), std::string::npos) << full[0];
#endif
    Bytes damaged = ReadHostFile(Path("tolma_code1.arc"));
    damaged[damaged.size() / 2] ^= 0x10;
    WriteFile(Path("damaged.arc"), damaged);

    for (const char* archive : {"huge1.arc", "tolma_crypt1.arc", "damaged.arc"}) {
        SCOPED_TRACE(archive);
        std::string said[2];
        std::map<std::string, Bytes> written[2];
        for (int k = 0; k < 2; ++k) {
            const char* jobs = k == 0 ? "1" : "4";
            const std::string dest = Path(std::string("out-") + archive + jobs);
            const int extracted = Run({"extract", Path(archive), dest, "-p", "pw", "-v", "-j", jobs});
            said[k] = std::to_string(extracted) + out + err;
            const int verified = Run({"verify", Path(archive), "-p", "pw", "-v", "--jobs=" + std::string(jobs)});
            said[k] += std::to_string(verified) + out + err;
            Snapshot(dest, "", &written[k]);
        }
        EXPECT_EQ(said[0], said[1]);
        EXPECT_TRUE(written[0] == written[1]);
        EXPECT_EQ(said[0].find("FAILED") != std::string::npos, std::string(archive) == "damaged.arc") << said[0];
    }
}

namespace {

// 'tolma list' lines without the offsets, which depend on the order of
// writing: length, attributes, encoding, path.
std::string WithoutOffsets(const std::string& listing) {
    std::string out;
    size_t start = listing.find('\n') + 1;  // after the heading
    while (start < listing.size()) {
        size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        const std::string line = listing.substr(start, end - start);
        start = end + 1;
        if (line.size() > 51) out += line.substr(0, 38) + "|" + line.substr(51) + "\n";
    }
    return out;
}

std::string Entry(unsigned length, unsigned attributes, const char* encoding, const std::string& path) {
    char line[64];
    std::snprintf(line, sizeof line, "%12u  %08X    %-12s|", length, attributes, encoding);
    return line + tool::AnsiToUtf8(path) + "\n";
}

}  // namespace

// A listing chooses the files, each one's encoding and password; 'list --xml'
// gives back a listing that rebuilds the same archive from the extracted tree.
TEST_F(TolmaTool, ListingsChooseAndReproduce) {
    MakeTree(Path("src"));
    // Shift_JIS with backslash escapes: the password is p\w.
    const std::string chosen =
        "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n"
        "<file name=\"empty\" encoding=\"raw\"/>\r\n"
        "<Directory name=\"sub\">\r\n"
        "\t<file name=\"over.bin\" encoding=\"BSHF_CRYPT\" password=\"p\\\\w\"/>\r\n"
        "\t<directory name=\"deeper\"><file name=\"big.bin\" encoding=\"tolma_crypt\" password=\"p\\\\w\"/>"
        "</directory>\r\n"
        "</Directory>\r\n"
        "<directory name=\"void\"/>\r\n"
        "<directory name=\"表\"><file name=\"日本語.txt\" encoding=\"tolma_code\"/></directory>\r\n";
    WriteFile(Path("chosen.xml"), Bytes(chosen.begin(), chosen.end()));
    const std::string first = Path("first.arc");
    ASSERT_EQ(Run({"create", first, Path("src"), "--listing", Path("chosen.xml")}), 0) << err;
    ASSERT_EQ(Run({"list", first}), 0) << err;
    const std::string entries = WithoutOffsets(out);
    EXPECT_EQ(entries, Entry(0, 0, "raw", "empty") + Entry(0, 0x10, "raw", "sub\\") +
                           Entry(16385, 0, "bshf_crypt", "sub\\over.bin") + Entry(0, 0x10, "raw", "sub\\deeper\\") +
                           Entry(1048576, 0, "tolma_crypt", "sub\\deeper\\big.bin") + Entry(0, 0x10, "raw", "void\\") +
                           Entry(0, 0x10, "raw", "表\\") + Entry(2, 0, "tolma_code", "表\\日本語.txt"))
        << out;
    // The password is applied: without it the checksum fails.
    EXPECT_EQ(Run({"verify", first}), 1);
    EXPECT_EQ(Run({"verify", first, "-p", "p\\w"}), 0) << out << err;

    // Listed, extracted, and built again from the listing: the same entries,
    // encodings and bytes (the listing names no passwords, so the ciphers
    // take their default).
    ASSERT_EQ(Run({"list", "--xml", first}), 0) << err;
    const Bytes listed = ReadHostFile(Path("stdout.txt"));
    WriteFile(Path("listed.xml"), listed);
    const std::string head = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<listing>\r\n\t<file name=\"empty\" encoding=\"raw\"/>\r\n";
    EXPECT_EQ(std::string(listed.begin(), listed.begin() + static_cast<long>(head.size())), head);
#if !defined(_WIN32)
    // Well-formed for XML's own tools.
    EXPECT_EQ(std::system(("xmllint --noout '" + Path("listed.xml") + "'").c_str()), 0);
#endif
    ASSERT_EQ(Run({"extract", first, Path("tree"), "-p", "p\\w"}), 0) << err;
    const std::string second = Path("second.arc");
    ASSERT_EQ(Run({"create", second, Path("tree"), "--listing", Path("listed.xml")}), 0) << err;
    ASSERT_EQ(Run({"list", second}), 0) << err;
    EXPECT_EQ(WithoutOffsets(out), entries);
    ASSERT_EQ(Run({"extract", second, Path("again")}), 0) << err;
    std::map<std::string, Bytes> tree, again;
    Snapshot(Path("tree"), "", &tree);
    Snapshot(Path("again"), "", &again);
    EXPECT_TRUE(tree == again);
    EXPECT_EQ(tree.count("exact.bin"), 0u);  // not in the listing, not stored

    // A name missing from the directory, or one the archive cannot hold:
    // each is reported and no archive is written.
    const std::string bad =
        "<file name=\"missing.bin\"/><file name=\"MISSING.BIN\"/><directory name=\"sub\"><file name=\"gone\"/></directory>"
        "<file name=\"..\\\\exact.bin\"/><file name=\"void\"/><directory name=\"empty\"/>";
    WriteFile(Path("bad.xml"), Bytes(bad.begin(), bad.end()));
    EXPECT_EQ(Run({"create", Path("bad.arc"), Path("src"), "--listing", Path("bad.xml")}), 1);
    for (const char* named : {"'missing.bin'", "'MISSING.BIN' is named twice", "'sub\\gone'", "'..\\exact.bin'", "'void' is a file", "'empty' is a dir"})
        EXPECT_NE(err.find(named), std::string::npos) << named << "\n" << err;
    EXPECT_EQ(tool::GetPathKind(Path("bad.arc")), tool::PathKind::None);
    EXPECT_EQ(Run({"create", Path("bad.arc"), Path("src"), "--listing", Path("absent.xml")}), 1);
    EXPECT_EQ(Run({"create", Path("bad.arc"), Path("src"), "--listing", Path("chosen.xml"), "-e", "raw"}), 2);
    EXPECT_EQ(Run({"create", "--help"}), 0);
    EXPECT_NE(out.find("--listing FILE.xml"), std::string::npos);
    EXPECT_EQ(Run({"list", "--help"}), 0);
    EXPECT_NE(out.find("--xml"), std::string::npos);
}

// A name the archive cannot hold as it is, or two that would become one,
// makes create refuse: each named, exit 1, and no archive (nor a partial
// file) left behind.
TEST_F(TolmaTool, CreateRefusesNamesItCannotStore) {
    const struct {
        std::vector<std::string> names;
        const char* says;
    } cases[] = {
        // The code page's best fit would turn the first into the second.
        {{"caf\xC3\xA9.txt", "cafe.txt"}, "the name has no exact Shift-JIS"},
        {{"\xC2\xA5x"}, "the name has no exact Shift-JIS"},
#if !defined(_WIN32)
        // Windows cannot hold most of these names, nor the first two side by
        // side.
        {{"readme.txt", "README.TXT"}, "README.TXT' and '"},
        {{"readme.txt", "README.TXT"}, "readme.txt' would be one name"},
        {{"caf\xC3\xA9.txt", "cafe.txt"}, "caf\xC3\xA9.txt': the name has no exact Shift-JIS"},
        {{"\xC2\xA5x"}, "\xC2\xA5x': the name has no exact Shift-JIS"},
        {{"back\\slash"}, "holds a path separator"},
        {{"bell\a"}, "holds a control character"},
        {{"a:b"}, "holds a drive or stream separator"},
        {{"what?"}, "Windows does not allow"},
        {{"dot."}, "ends with a dot or a space"},
        {{"space "}, "ends with a dot or a space"},
        {{"con.txt"}, "is a device name on Windows"},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.says);
        RemoveTree(Path("src"));
        ASSERT_TRUE(tool::MakeDirectory(Path("src")));
        WriteFile(Path("src") + kSep + "fine.txt", {'o', 'k'});
        for (const std::string& name : c.names) {
#if defined(_WIN32)
            // Made through the wide name: the ANSI one would be a best fit.
            std::wstring wide(MAX_PATH, L'\0');
            wide.resize(MultiByteToWideChar(CP_ACP, 0, (Path("src") + kSep).c_str(), -1, wide.data(), MAX_PATH) - 1);
            std::wstring unit(name.size() + 1, L'\0');
            unit.resize(MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, unit.data(), static_cast<int>(unit.size())) -
                        1);
            std::FILE* f = _wfopen((wide + unit).c_str(), L"wb");
            ASSERT_NE(f, nullptr);
            std::fclose(f);
#else
            WriteFile(Path("src") + kSep + name, {'x'});
#endif
        }
        EXPECT_EQ(Run({"create", Path("a.arc"), Path("src")}), 1) << err;
        EXPECT_NE(err.find(c.says), std::string::npos) << err;
        EXPECT_NE(err.find("no archive written"), std::string::npos) << err;
        std::vector<tool::DirectoryItem> top;
        ASSERT_TRUE(tool::ListDirectory(dir_, &top));
        for (const auto& item : top) EXPECT_EQ(item.name.find(".arc"), std::string::npos) << item.name;
    }
}

// Whatever fails while a file is written, the file that was there before
// stays as it was, and no partial file is left beside it.
TEST_F(TolmaTool, FailedExtractionKeepsTheExistingFile) {
    MakeTree(Path("src"));
    ASSERT_EQ(Run({"create", Path("a.arc"), Path("src"), "-e", "tolma_crypt", "-p", "pw"}), 0) << err;
    const std::string kept = Path("dest") + kSep + "sub" + kSep + "deeper" + kSep + "big.bin";
    ASSERT_EQ(Run({"extract", Path("a.arc"), Path("dest"), "-p", "pw"}), 0) << err;
    WriteFile(kept, {'m', 'i', 'n', 'e'});
    EXPECT_EQ(Run({"extract", Path("a.arc"), Path("dest"), "sub/deeper/big.bin", "--force", "-p", "wrong"}), 1);
    EXPECT_NE(err.find("the existing file is kept"), std::string::npos) << err;
    EXPECT_EQ(ReadHostFile(kept), (Bytes{'m', 'i', 'n', 'e'}));
#if !defined(_WIN32)
    // A full disk, simulated by a file-size limit below the file's 1 MiB.
    EXPECT_EQ(RunLimited(100, {"extract", Path("a.arc"), Path("dest"), "sub/deeper/big.bin", "--force", "-p", "pw"}),
              1);
    EXPECT_NE(err.find("cannot be written"), std::string::npos) << err;
    EXPECT_EQ(ReadHostFile(kept), (Bytes{'m', 'i', 'n', 'e'}));
#endif
    std::vector<tool::DirectoryItem> beside;
    ASSERT_TRUE(tool::ListDirectory(Path("dest") + kSep + "sub" + kSep + "deeper", &beside));
    EXPECT_EQ(beside.size(), 1u);
}

// Names XML 1.0 has no form for are left out of the listing and reported;
// what is printed stays well-formed.
TEST_F(TolmaTool, ListingLeavesOutWhatXmlCannotHold) {
    WriteFile(Path("c.arc"), MakeArchive({File("ok.txt", {1}), File("bell\x07.txt", {2}),
                                          Dir("dir\x01", {File("in.txt", {3})}), File("tab\t.txt", {4})}));
    EXPECT_EQ(Run({"list", "--xml", Path("c.arc")}), 1);
    EXPECT_NE(err.find("'bell\\x07.txt' holds a control character"), std::string::npos) << err;
    EXPECT_NE(err.find("'dir\\x01' (a directory)"), std::string::npos) << err;
    EXPECT_NE(out.find("ok.txt"), std::string::npos) << out;
    EXPECT_NE(out.find("tab&#9;.txt"), std::string::npos) << out;
    EXPECT_EQ(out.find("in.txt"), std::string::npos) << out;
#if !defined(_WIN32)
    EXPECT_EQ(std::system(("xmllint --noout " + Quote(Path("stdout.txt"))).c_str()), 0);
#endif
}

// A UTF-8 listing as editors write it: with a byte-order mark, a spaced
// declaration, or none; a declaration-less one that is not UTF-8 is Shift_JIS.
TEST_F(TolmaTool, ListingsInUtf8WhateverTheirHead) {
    ASSERT_TRUE(tool::MakeDirectory(Path("src")));
    WriteFile(Path("src") + kSep + Native("日本語.txt"), {'j', 'p'});
    const std::string body =
        "<listing><file name=\"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt\" encoding=\"raw\"/></listing>";
    const std::string sjis_body =
        "<listing><file name=\"" + std::string("日本語.txt") + "\" encoding=\"raw\"/></listing>";
    for (const std::string& listing :
         {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body, "\xEF\xBB\xBF" + body,
          "<?xml version=\"1.0\" encoding = 'UTF-8' ?>\n" + body, "<?xml version=\"1.0\"?>" + body, body, sjis_body}) {
        SCOPED_TRACE(listing);
        WriteFile(Path("l.xml"), Bytes(listing.begin(), listing.end()));
        ASSERT_EQ(Run({"create", Path("a.arc"), Path("src"), "--listing", Path("l.xml")}), 0) << err;
        ASSERT_EQ(Run({"cat", Path("a.arc"), Native("日本語.txt")}), 0) << err;
        EXPECT_EQ(out, "jp");
    }
}

#if !defined(_WIN32)
// The archive is told from the files to store by identity, not by name: here
// a link leads to the directory being stored.
TEST_F(TolmaTool, CreateNeverStoresItsOwnOutput) {
    ASSERT_TRUE(tool::MakeDirectory(Path("real")));
    WriteFile(Path("real") + kSep + "x", PatternBytes(5000, 7));
    ASSERT_EQ(symlink(Path("real").c_str(), Path("link").c_str()), 0);
    // The limit stops an archive that would store itself, growing.
    EXPECT_EQ(RunLimited(2000, {"create", Path("link") + kSep + "a.arc", Path("real")}), 0) << err;
    ASSERT_EQ(Run({"verify", Path("real") + kSep + "a.arc"}), 0) << out << err;
    EXPECT_NE(out.find("1 files checked, 0 failures"), std::string::npos) << out;
    // Made again over itself: the old archive is not stored.
    EXPECT_EQ(RunLimited(2000, {"create", Path("link") + kSep + "a.arc", Path("real")}), 0) << err;
    ASSERT_EQ(Run({"verify", Path("real") + kSep + "a.arc"}), 0) << out << err;
    EXPECT_NE(out.find("1 files checked, 0 failures"), std::string::npos) << out;
}

// Output that cannot be written is a failure, said on standard error.
TEST_F(TolmaTool, FullStandardOutputIsAFailure) {
    MakeTree(Path("src"));
    ASSERT_EQ(Run({"create", Path("a.arc"), Path("src")}), 0) << err;
    const std::vector<std::vector<std::string>> commands = {{"cat", Path("a.arc"), "sub/over.bin"},
                                                            {"list", Path("a.arc")},
                                                            {"list", "--xml", Path("a.arc")},
                                                            {"verify", Path("a.arc")},
                                                            {"--help"},
                                                            {"--version"}};
    for (const auto& arguments : commands) {
        SCOPED_TRACE(arguments[0]);
        std::string command = Quote(tool_);
        for (const std::string& a : arguments) command += " " + Quote(a);
        EXPECT_EQ(Shell(command + " >/dev/full 2>" + Quote(Path("stderr.txt"))), 1);
        EXPECT_NE(err.find("cannot write to standard output"), std::string::npos) << err;
    }
}

// Files larger in all than an archive can address are refused before
// anything is read (a sparse file costs no disk).
TEST_F(TolmaTool, ArchivesStayBelowTwoGibibytes) {
    ASSERT_TRUE(tool::MakeDirectory(Path("src")));
    WriteFile(Path("src") + kSep + "small", {'s'});
    ASSERT_EQ(std::system(("truncate -s 2G " + Quote(Path("src") + kSep + "huge")).c_str()), 0);
    EXPECT_EQ(RunLimited(2000, {"create", Path("a.arc"), Path("src")}), 1);
    EXPECT_NE(err.find("huge': with it, the files pass 2 GiB"), std::string::npos) << err;
    EXPECT_EQ(tool::GetPathKind(Path("a.arc")), tool::PathKind::None);
}

// Messages go on a line of their own, above the progress line.
TEST_F(TolmaTool, MessagesClearTheProgressLine) {
    MakeTree(Path("src"));
    ASSERT_EQ(Run({"create", Path("a.arc"), Path("src")}), 0) << err;
    ASSERT_EQ(Run({"extract", Path("a.arc"), Path("out")}), 0) << err;
    // The first file is extracted, its progress drawn; the next one exists.
    ASSERT_TRUE(tool::RemoveFile(Path("out") + kSep + "empty"));
    const std::string command = Quote(tool_) + " extract " + Quote(Path("a.arc")) + " " + Quote(Path("out"));
    std::system(("script -qfec " + Quote(command) + " /dev/null >" + Quote(Path("tty.txt"))).c_str());
    const Bytes raw = ReadHostFile(Path("tty.txt"));
    const std::string tty(raw.begin(), raw.end());
    ASSERT_NE(tty.find("exists; not overwritten"), std::string::npos) << tty;
    for (size_t at = tty.find("tolma: "); at != std::string::npos; at = tty.find("tolma: ", at + 1))
        EXPECT_TRUE(at == 0 || tty[at - 1] == '\r' || tty[at - 1] == '\n') << tty.substr(at < 40 ? 0 : at - 40, 80);
}
#endif
