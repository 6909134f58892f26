#include "file/raw_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "file/temp_dir.h"

namespace {

void WriteFile(const std::string& path, const std::string& data) {
    ERawFile file;
    ASSERT_EQ(file.Open(path.c_str(), modeCreate | modeWrite), ResultSuccess);
    ASSERT_EQ(file.Write(data.data(), static_cast<uint32_t>(data.size())), data.size());
}

std::string ReadAll(HVBFileObject& file) {
    char buffer[256];
    std::string out;
    uint32_t n;
    while ((n = file.Read(buffer, sizeof buffer)) > 0) out.append(buffer, n);
    return out;
}

}  // namespace

TEST(RawFile, ClosedAndMissing) {
    TempDir dir;
    ERawFile file;
    EXPECT_STREQ(file.GetClassName(), "ERawFile");
    EXPECT_TRUE(file.IsKindOf("HVBFileObject"));
    EXPECT_EQ(file.GetOpenFlags(), 0u);
    EXPECT_EQ(file.GetFileNamePart(), nullptr);
    file.Close();
    file.Close();
    EXPECT_EQ(file.Open(dir.File("missing").c_str(), modeRead | shareRead), ResultGeneralError);
    EXPECT_EQ(file.GetOpenFlags(), 0u);
    EXPECT_FALSE(file.IsOpen());
    char byte = 0;
    EXPECT_EQ(file.Read(&byte, 1), 0u);
    EXPECT_EQ(file.Write(&byte, 1), 0u);
    EXPECT_EQ(file.GetLength(), 0xFFFFFFFFu);
    EXPECT_EQ(file.Seek(0, FromBegin), 0xFFFFFFFFu);
    EXPECT_EQ(file.SetEndOfFile(), ResultGeneralError);
    EXPECT_EQ(file.GetFileTime(nullptr, nullptr, nullptr), ResultGeneralError);
    EXPECT_EQ(file.Open(nullptr, modeRead), ResultGeneralError);
    EXPECT_EQ(file.Open(dir.Path().c_str(), modeRead), ResultGeneralError) << "a directory is not a file";
    std::unique_ptr<HVBFileObject> copy(file.Duplicate());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->Read(&byte, 1), 0u);
}

TEST(RawFile, WriteThenReadBackWithSeeks) {
    TempDir dir;
    const std::string path = dir.File("data.bin");
    {
        ERawFile file;
        ASSERT_EQ(file.Open(path.c_str(), 5), ResultSuccess);
        EXPECT_EQ(file.GetOpenFlags(), 5u);
        EXPECT_EQ(file.Write("hello world", 11), 11u);
        char byte;
        EXPECT_EQ(file.Read(&byte, 1), 0u) << "opened without read access";
        EXPECT_EQ(file.GetPosition(), 11u);
    }
    ERawFile file;
    ASSERT_EQ(file.Open(path.c_str(), 18), ResultSuccess);
    EXPECT_EQ(file.GetLength(), 11u);
    EXPECT_EQ(ReadAll(file), "hello world");
    char buffer[8];
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(file.Seek(0, FromEnd), 11u);
    EXPECT_EQ(file.Seek(-3, FromEnd), 8u);
    EXPECT_EQ(file.Read(buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 3), "rld");
    // Before the start: the system refuses and the position stays.
    EXPECT_EQ(file.Seek(-1, FromBegin), 0xFFFFFFFFu);
    EXPECT_EQ(file.Seek(-100, FromCurrent), 0xFFFFFFFFu);
    EXPECT_EQ(file.GetPosition(), 11u);
    EXPECT_EQ(file.Seek(4, FromBegin), 4u);
    EXPECT_EQ(file.Seek(2, FromCurrent), 6u);
    EXPECT_EQ(file.Write("x", 1), 0u) << "opened without write access";
    EXPECT_EQ(file.SetEndOfFile(), ResultGeneralError);

    // Flags 5 on an existing file truncate it; flags 1 create with no access.
    file.Close();
    ASSERT_EQ(file.Open(path.c_str(), 5), ResultSuccess);
    EXPECT_EQ(file.GetLength(), 0u);
    const std::string bare = dir.File("bare");
    ASSERT_EQ(file.Open(bare.c_str(), modeCreate), ResultSuccess);
    EXPECT_EQ(file.Write("x", 1), 0u);
    EXPECT_EQ(file.Read(buffer, 1), 0u);
    file.Close();
    ASSERT_EQ(file.Open(bare.c_str(), modeRead), ResultSuccess);
    EXPECT_EQ(file.GetLength(), 0u);
}

TEST(RawFile, SetEndOfFileTruncatesAndExtends) {
    TempDir dir;
    const std::string path = dir.File("trunc.bin");
    WriteFile(path, std::string(100, 'a'));
    ERawFile file;
    ASSERT_EQ(file.Open(path.c_str(), modeRead | modeWrite), ResultSuccess);
    EXPECT_EQ(file.GetLength(), 100u);
    EXPECT_EQ(file.Seek(10, FromBegin), 10u);
    EXPECT_EQ(file.SetEndOfFile(), ResultSuccess);
    EXPECT_EQ(file.GetLength(), 10u);
    EXPECT_EQ(file.Seek(0, FromEnd), 10u);
    EXPECT_EQ(file.Seek(40, FromBegin), 40u);
    EXPECT_EQ(file.SetEndOfFile(), ResultSuccess);
    EXPECT_EQ(file.GetLength(), 40u);
    file.Close();
    ASSERT_EQ(file.Open(path.c_str(), modeRead), ResultSuccess);
    const std::string data = ReadAll(file);
    ASSERT_EQ(data.size(), 40u);
    EXPECT_EQ(data.substr(0, 10), std::string(10, 'a'));
    EXPECT_EQ(data.substr(10), std::string(30, '\0'));
}

TEST(RawFile, FullPathAndLongPaths) {
    TempDir dir;
    const std::string path = dir.File("name.txt");
    WriteFile(path, "x");
    ERawFile file;
    ASSERT_EQ(file.Open(path.c_str(), modeRead), ResultSuccess);
    EXPECT_STREQ(file.GetFileNamePart(), "name.txt");
    EXPECT_EQ(file.GetFullPath().GetLength(), std::strlen(file.GetFullPath().GetString()));
    EXPECT_EQ(std::string(file.GetFullPath().GetString()).substr(file.GetFullPath().GetLength() - 8), "name.txt");

    // An absolute path beyond 255 characters is stored whole (259: Win32
    // opens paths by name only below 260 characters).
    const std::string long_dir = dir.Dir(std::string(200 - dir.Path().size(), 'd'));
    const std::string name(259 - long_dir.size() - 1, 'n');
    const std::string long_path = dir.FileIn(long_dir, name);
    ASSERT_EQ(long_path.size(), 259u);
    WriteFile(long_path, "long");
    ASSERT_EQ(file.Open(long_path.c_str(), modeRead | shareRead), ResultSuccess);
    EXPECT_EQ(ReadAll(file), "long");
    EXPECT_EQ(file.GetFullPath().GetLength(), long_path.size());
    EXPECT_STREQ(file.GetFileNamePart(), name.c_str());
    EXPECT_STREQ(file.GetFullPath().GetString(), long_path.c_str());

    // Exactly 256 characters: the first call's 256-byte buffer misses the
    // terminator by one.
    const std::string edge = dir.FileIn(long_dir, std::string(256 - long_dir.size() - 1, 'e'));
    ASSERT_EQ(edge.size(), 256u);
    WriteFile(edge, "edge");
    ASSERT_EQ(file.Open(edge.c_str(), modeRead), ResultSuccess);
    EXPECT_EQ(file.GetFullPath().GetLength(), 256u);
    EXPECT_STREQ(file.GetFullPath().GetString(), edge.c_str());

    // "." and ".." are resolved, and a relative name is made absolute.
    dir.Dir("sub");
    const char sep = plat::PathSeparator();
    const std::string dotted = dir.Path() + sep + "sub" + sep + ".." + sep + "." + sep + "dots.txt";
    dir.File("dots.txt");
    ERawFile dots;
    ASSERT_EQ(dots.Open(dotted.c_str(), modeCreate | modeWrite), ResultSuccess);
    EXPECT_STREQ(dots.GetFullPath().GetString(), (dir.Path() + sep + "dots.txt").c_str());
    dots.Close();
    ERawFile rel;
    ASSERT_EQ(rel.Open("hvb-relative.tmp", modeCreate | modeWrite), ResultSuccess);
    EXPECT_STREQ(rel.GetFileNamePart(), "hvb-relative.tmp");
    EXPECT_GT(rel.GetFullPath().GetLength(), 17u);
    rel.Close();
    plat::DeleteFilePath("hvb-relative.tmp");
}

TEST(RawFile, DuplicateByNameOrByHandle) {
    TempDir dir;
    const std::string path = dir.File("dup.bin");
    WriteFile(path, "0123456789");

    ERawFile file;
    ASSERT_EQ(file.Open(path.c_str(), modeRead | shareRead), ResultSuccess);
    EXPECT_EQ(file.Seek(5, FromBegin), 5u);
    std::unique_ptr<HVBFileObject> copy(file.Duplicate());
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy->GetClassName(), "ERawFile");
    EXPECT_EQ(copy->GetPosition(), 0u) << "re-opened by name: its own position";
    char buffer[4];
    EXPECT_EQ(copy->Read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(file.GetPosition(), 5u);
    auto* raw_copy = static_cast<ERawFile*>(copy.get());
    EXPECT_STREQ(raw_copy->GetFileNamePart(), "dup.bin");
    EXPECT_NE(raw_copy->GetFileNamePart(), file.GetFileNamePart());

    // Closed, it still knows its path and opens again by it.
    file.Close();
    std::unique_ptr<HVBFileObject> reopened(file.Duplicate());
    EXPECT_EQ(reopened->GetLength(), 10u);

    // On a handle: the duplicate shares the position with the source.
    plat::FileHandle handle =
        plat::CreateFileHandle(path.c_str(), plat::kGenericRead, plat::kFileShareRead, plat::kOpenExisting);
    ASSERT_NE(handle, plat::InvalidFileHandle());
    ERawFile on_handle;
    ASSERT_EQ(on_handle.OpenHandle(handle, modeRead), ResultSuccess);
    plat::CloseFileHandle(handle);  // the file keeps its own duplicate
    EXPECT_EQ(on_handle.GetFullPath().GetLength(), 0u);
    EXPECT_EQ(on_handle.GetFileNamePart(), on_handle.GetFullPath().GetString());
    std::unique_ptr<HVBFileObject> shared(on_handle.Duplicate());
    EXPECT_EQ(shared->Read(buffer, 3), 3u);
    EXPECT_EQ(on_handle.GetPosition(), 3u);
    EXPECT_EQ(on_handle.Read(buffer, 2), 2u);
    EXPECT_EQ(std::string(buffer, 2), "34");
    // The invalid handle value names the current process to the system; it
    // is refused rather than duplicated.
    EXPECT_EQ(on_handle.OpenHandle(plat::InvalidFileHandle(), modeRead), ResultGeneralError);
    EXPECT_EQ(on_handle.GetOpenFlags(), 0u);
}

TEST(RawFile, FileTimesInLocalTime) {
    TempDir dir;
    const std::string path = dir.File("times.bin");
    WriteFile(path, "t");
    ERawFile file;
    ASSERT_EQ(file.Open(path.c_str(), modeRead | modeWrite), ResultSuccess);
    EXPECT_EQ(file.GetFileTime(nullptr, nullptr, nullptr), ResultSuccess);
    plat::SystemTime set{};
    set.wYear = 2021;
    set.wMonth = 2;
    set.wDay = 28;
    set.wHour = 23;
    set.wMinute = 59;
    set.wSecond = 58;
    EXPECT_EQ(file.SetFileTime(nullptr, nullptr, &set), ResultSuccess);
    plat::SystemTime got{};
    EXPECT_EQ(file.GetFileTime(nullptr, nullptr, &got), ResultSuccess);
    EXPECT_EQ(got.wYear, 2021);
    EXPECT_EQ(got.wMonth, 2);
    EXPECT_EQ(got.wDay, 28);
    EXPECT_EQ(got.wDayOfWeek, 0) << "a Sunday";
    EXPECT_EQ(got.wHour, 23);
    EXPECT_EQ(got.wMinute, 59);
    EXPECT_EQ(got.wSecond, 58);
    plat::SystemTime bad = set;
    bad.wMonth = 13;
    EXPECT_EQ(file.SetFileTime(nullptr, nullptr, &bad), ResultGeneralError);
}
