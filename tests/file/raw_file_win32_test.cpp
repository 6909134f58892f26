// Share modes are enforced by Win32 only.
#include <gtest/gtest.h>

#include "file/raw_file.h"
#include "file/temp_dir.h"

TEST(RawFileSharing, ShareFlagsDecideWhoElseMayOpen) {
    TempDir dir;
    const std::string path = dir.File("shared.bin");
    {
        ERawFile create;
        ASSERT_EQ(create.Open(path.c_str(), modeCreate | modeWrite), ResultSuccess);
        ASSERT_EQ(create.Write("data", 4), 4u);
        // Flags 5 share nothing: not even a reader may come in.
        ERawFile reader;
        EXPECT_EQ(reader.Open(path.c_str(), modeRead | shareRead | shareWrite), ResultGeneralError);
    }
    ERawFile first;
    ASSERT_EQ(first.Open(path.c_str(), 18), ResultSuccess);
    ERawFile second;
    EXPECT_EQ(second.Open(path.c_str(), 18), ResultSuccess) << "readers sharing reading";
    ERawFile writer;
    EXPECT_EQ(writer.Open(path.c_str(), modeWrite | shareRead | shareWrite), ResultGeneralError)
        << "the readers do not share writing";
    // Re-opening by name honours the share flags too.
    std::unique_ptr<HVBFileObject> copy(first.Duplicate());
    char buffer[4];
    EXPECT_EQ(copy->Read(buffer, 4), 4u);
    first.Close();
    second.Close();
    copy.reset();
    ASSERT_EQ(first.Open(path.c_str(), modeRead | shareRead | shareWrite), ResultSuccess);
    EXPECT_EQ(writer.Open(path.c_str(), modeWrite | shareRead | shareWrite), ResultSuccess);
    EXPECT_EQ(second.Open(path.c_str(), modeRead), ResultGeneralError) << "asks to deny the open writer";
}
