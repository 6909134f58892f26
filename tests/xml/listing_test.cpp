#include "archive/tolma_listing.h"

#include <gtest/gtest.h>

#include <string>

#include "archive/tolma_entry.h"
#include "xml/xml_support.h"

namespace {

std::string Text(const EString& s) { return s.GetString() != nullptr ? s.GetString() : ""; }

// One line per item, depth-first: path, kind, encoding and password.
void Dump(const TOLMAListingDirectory* directory, const std::string& prefix, std::string* out) {
    for (uint32_t i = 0; i < directory->GetCount(); ++i) {
        const TOLMAListingItem* item = directory->GetAt(i);
        *out += prefix + Text(item->name) + (item->IsDirectory() ? "\\" : "") + " " + std::to_string(item->encoding) +
                " " + Text(item->password) + "\n";
        if (item->contents != nullptr) {
            EXPECT_EQ(item->contents->GetParent(), directory);
            Dump(item->contents, prefix + Text(item->name) + "\\", out);
        }
    }
}

std::string Dump(TOLMAArchiveListing& listing) {
    std::string out;
    Dump(listing.GetRootDirectory(), "", &out);
    return out;
}

ResultCode Read(TOLMAArchiveListing* listing, const std::string& text) {
    VectorFile file(modeRead, std::vector<uint8_t>(text.begin(), text.end()));
    return listing->ReadListing(&file);
}

std::string Write(const TOLMAArchiveListing& listing) {
    VectorFile file;
    EXPECT_EQ(listing.WriteListing(&file), 0);
    return std::string(file.bytes.begin(), file.bytes.end());
}

}  // namespace

TEST(Listing, ReadsFilesAndDirectoriesInAnyCase) {
    TOLMAArchiveListing listing;
    listing.AddFile("stale", 0, nullptr);
    ASSERT_EQ(Read(&listing,
                   "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\r\n"
                   "<FILE name=\"a.txt\" encoding=\"TOLMA_CODE\" password=\"p\\x22w\"/>\r\n"
                   "<file name=\"b\" encoding=\"zip\"/>\r\n"
                   "<file name=\"c\"/>\r\n"
                   "<other name=\"x\"><file name=\"hidden\"/></other>\r\n"
                   "<Directory name=\"d\">\r\n"
                   "\t<file name=\"日本.bin\" encoding=\"Bshf_Crypt\"/>\r\n"
                   "\t<directory name=\"e\"><file name=\"f\" encoding=\"tolma_crypt\"/></directory>\r\n"
                   "</Directory>\r\n"),
              0);
    EXPECT_EQ(Dump(listing), std::string("a.txt 2147483664 p\"w\n"
                                         "b 0 \n"
                                         "c 0 \n"
                                         "d\\ 0 \n"
                                         "d\\日本.bin 1073741824 \n"
                                         "d\\e\\ 0 \n"
                                         "d\\e\\f 3221225488 \n"));
    EXPECT_EQ(listing.GetCurrentDirectory(), listing.GetRootDirectory());
}

TEST(Listing, WritesWhatItReads) {
    TOLMAArchiveListing listing;
    listing.AddFile("one.txt", TOLMA_ENCODING_RAW, nullptr);
    EXPECT_EQ(Write(listing), "<file encoding=\"raw\" name=\"one.txt\"/>\r\n");

    listing.AddFile("表\\示 \"q\".dat", TOLMA_ENCODING_CRYPT, "pa ss\\\"word'\t");
    listing.AddFile("odd", 0x12345678, "");
    listing.AddDirectory("dir");
    ASSERT_EQ(listing.DescendDirectory("DIR"), 0);
    listing.AddFile("inner", TOLMA_ENCODING_CODE, "x");
    listing.AddDirectory("empty");
    listing.AddDirectory("sub");
    ASSERT_EQ(listing.DescendDirectory("sub"), 0);
    listing.AddFile("deep", TOLMA_ENCODING_BSHF_CRYPT, nullptr);
    const std::string written = Write(listing);

    TOLMAArchiveListing back;
    ASSERT_EQ(Read(&back, written), 0);
    std::string expected = Dump(listing);
    // A code outside the table is written without an encoding: it reads as raw.
    expected.replace(expected.find("odd 305419896"), 13, "odd 0");
    EXPECT_EQ(Dump(back), expected);
}

TEST(Listing, Navigates) {
    TOLMAArchiveListing listing;
    listing.AddDirectory("d1");
    listing.AddFile("file", 0, nullptr);
    listing.DescendDirectory("d1");
    listing.AddDirectory("d2");
    listing.AddDirectory("");
    listing.DescendDirectory("D2");
    EXPECT_STREQ(listing.GetCurrentPath().GetString(), "d1\\d2\\");
    listing.AscendDirectory();
    EXPECT_STREQ(listing.GetCurrentPath().GetString(), "d1\\");

    const struct {
        const char* path;
        ResultCode result;
        const char* current;
    } moves[] = {
        {"d1\\d2", 0, "d1\\d2\\"}, {"d1\\d2\\", 0, "d1\\d2\\"}, {"", 0, ""},
        {"d1\\\\d2", 1, "d1\\\\"},  // an empty piece names the item without a name
        {"d1\\\\", 0, "d1\\\\"},   // which exists here
        {"nope\\d2", 1, ""},       {"\\d1", 1, ""},
    };
    for (const auto& m : moves) {
        SCOPED_TRACE(m.path);
        EXPECT_EQ(listing.ChangeDirectory(m.path), m.result);
        EXPECT_STREQ(listing.GetCurrentPath().GetString(), m.current);
    }
}

// With no current directory, every operation on it does nothing and fails.
TEST(Listing, NoCurrentDirectory) {
    TOLMAArchiveListing listing;
    listing.AddFile("file", 0, nullptr);
    listing.AddDirectory("dir");
    for (int way = 0; way < 2; ++way) {
        listing.ChangeDirectory("");
        if (way == 0)
            EXPECT_EQ(listing.AscendDirectory(), 0);  // above the root
        else
            EXPECT_EQ(listing.DescendDirectory("FILE"), 0);  // into a file
        EXPECT_EQ(listing.GetCurrentDirectory(), nullptr);
        EXPECT_EQ(listing.AddFile("x", 0, nullptr), 1);
        EXPECT_EQ(listing.AddDirectory("x"), 1);
        EXPECT_EQ(listing.DescendDirectory("dir"), 1);
        EXPECT_EQ(listing.AscendDirectory(), 1);
        EXPECT_STREQ(listing.GetCurrentPath().GetString(), "");
        EXPECT_EQ(listing.ChangeDirectory("file\\x"), 1);
    }
    EXPECT_EQ(listing.ChangeDirectory("dir"), 0);
    EXPECT_EQ(listing.AddFile("x", 0, nullptr), 0);
    EXPECT_EQ(Dump(listing), "file 0 \ndir\\ 0 \ndir\\x 0 \n");
    listing.Clear();
    EXPECT_EQ(Dump(listing), "");
    EXPECT_EQ(listing.GetCurrentDirectory(), listing.GetRootDirectory());
}

// Nesting: deeper than a description keeps is refused when writing, and any
// depth is deleted without recursion.
TEST(Listing, DepthLimits) {
    TOLMAArchiveListing listing;
    for (uint32_t i = 0; i < EDescription::kMaxDepth - 1; ++i) {
        listing.AddDirectory("d");
        listing.DescendDirectory("d");
    }
    listing.AddFile("leaf", 0, nullptr);
    const std::string written = Write(listing);
    TOLMAArchiveListing back;
    ASSERT_EQ(Read(&back, written), 0);
    EXPECT_EQ(Dump(back), Dump(listing));

    listing.AddDirectory("d");
    listing.DescendDirectory("d");
    listing.AddFile("too deep", 0, nullptr);
    VectorFile file;
    EXPECT_EQ(listing.WriteListing(&file), 1);

    auto* deep = new TOLMAArchiveListing;
    for (int i = 0; i < 100000; ++i) {
        deep->AddDirectory("d");
        deep->DescendDirectory("d");
    }
    delete deep;
}
