// Base64 against coreutils' base64, in both directions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "support/test_files.h"
#include "text/escapes.h"

namespace {

void WriteFile(const std::string& path, const std::string& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
}

std::string ReadFile(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadHostFile(path);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

// Random blocks of every length from 0 to 300 and three of megabytes: our
// text equals base64 -w0's, and we read base64's wrapped lines back to the
// same bytes.
TEST(Base64Tool, AgreesWithCoreutils) {
    char dir[] = "/tmp/hvb-base64-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::mt19937 random(64);
    std::vector<std::string> blocks;
    for (size_t length = 0; length <= 300; ++length) blocks.emplace_back(length, '\0');
    for (size_t length : {1048576u + 1, 2097152u + 2, 3145728u}) blocks.emplace_back(length, '\0');
    for (size_t i = 0; i < blocks.size(); ++i) {
        for (char& c : blocks[i]) c = static_cast<char>(random());
        WriteFile(std::string(dir) + "/" + std::to_string(i) + ".bin", blocks[i]);
    }
    const std::string script = std::string("cd ") + dir +
                               " && for f in *.bin; do base64 -w0 \"$f\" > \"$f.flat\" && base64 \"$f\" > "
                               "\"$f.wrapped\" || exit 1; done";
    ASSERT_EQ(std::system(script.c_str()), 0);

    for (size_t i = 0; i < blocks.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "length " << blocks[i].size());
        const std::string base = std::string(dir) + "/" + std::to_string(i) + ".bin";
        const std::string flat = ReadFile(base + ".flat");
        const std::string wrapped = ReadFile(base + ".wrapped");
        EString ours;
        ASSERT_EQ(EncodeBase64(&ours, blocks[i].data(), static_cast<uint32_t>(blocks[i].size())), 0);
        EXPECT_EQ(ours.GetLength(), flat.size());
        EXPECT_TRUE(flat == ours.GetString());

        EStreamBuffer decoded;
        ASSERT_EQ(DecodeBase64(&decoded, wrapped.c_str()), 0);
        std::string back(decoded.GetLength(), '\0');
        decoded.Read(back.data(), decoded.GetLength());
        EXPECT_TRUE(back == blocks[i]);
        for (const char* suffix : {"", ".flat", ".wrapped"}) unlink((base + suffix).c_str());
    }
    rmdir(dir);
}
