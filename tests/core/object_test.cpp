#include <gtest/gtest.h>

#include "core/hvb.h"
#include "core/object.h"
#include "file/file_object.h"

namespace {

// A small two-base family proves the name-based rules before the library's
// own two-base class exists.
class SampleSecond : public HVBObject {
    HVB_DECLARE_CLASS(SampleSecond, HVBObject)
public:
    int marker = 7;
};

class SampleFile : public HVBFileObject {
    HVB_DECLARE_CLASS(SampleFile, HVBFileObject)
public:
    HVBFileObject* Duplicate() override { return nullptr; }
    uint32_t Read(void*, uint32_t) override { return 0; }
    uint32_t Write(const void*, uint32_t) override { return 0; }
    uint32_t GetLength() override { return 0; }
    uint32_t Seek(int32_t, uint32_t) override { return 0; }
    uint32_t GetPosition() override { return 0; }
};

class SampleTwoBase : public SampleFile, public SampleSecond {
    HVB_DECLARE_CLASS2(SampleTwoBase, SampleFile, SampleSecond)
};

// A class without a name of its own answers with its nearest named base.
class Unnamed : public HVBObject {};

}  // namespace

TEST(ObjectBase, CompareClassNameTreatsNullAsEmpty) {
    EXPECT_EQ(CompareClassName(nullptr, nullptr), 0);
    EXPECT_EQ(CompareClassName(nullptr, ""), 0);
    EXPECT_EQ(CompareClassName("", nullptr), 0);
    EXPECT_EQ(CompareClassName(nullptr, "A"), -1);
    EXPECT_EQ(CompareClassName("A", nullptr), 1);
    EXPECT_EQ(CompareClassName("A", "B"), 'A' - 'B');
    EXPECT_GT(CompareClassName("\xFF", "A"), 0) << "bytes compare unsigned";
    EXPECT_EQ(CompareClassName("HVBObject", "HVBObject"), 0);
}

TEST(ObjectBase, SingleChain) {
    SampleFile file;
    EXPECT_STREQ(file.GetClassName(), "SampleFile");
    EXPECT_TRUE(file.IsKindOf("SampleFile"));
    EXPECT_TRUE(file.IsKindOf("HVBFileObject"));
    EXPECT_TRUE(file.IsKindOf("HVBObject"));
    EXPECT_FALSE(file.IsKindOf("hvbobject"));
    EXPECT_FALSE(file.IsKindOf(nullptr));
    EXPECT_FALSE(file.IsKindOf(""));
    EXPECT_FALSE(file.IsKindOf("EString"));
    EXPECT_EQ(file.DynamicCast("HVBObject"), static_cast<void*>(&file));
    EXPECT_EQ(file.DynamicCast("HVBFileObject"), static_cast<void*>(&file));
    EXPECT_EQ(file.DynamicCast("Nothing"), nullptr);
    EXPECT_EQ(file.DynamicCast(nullptr), nullptr);

    Unnamed plain;
    EXPECT_STREQ(plain.GetClassName(), "HVBObject");
    EXPECT_TRUE(plain.IsSameClass(HVBObject()));
    EXPECT_FALSE(plain.IsSameClass(file));
}

TEST(ObjectBase, TwoBasesCastToTheSecondSubObject) {
    SampleTwoBase object;
    HVBObject* root = static_cast<SampleFile*>(&object);
    EXPECT_STREQ(root->GetClassName(), "SampleTwoBase");
    EXPECT_TRUE(root->IsKindOf("SampleTwoBase"));
    EXPECT_TRUE(root->IsKindOf("HVBFileObject"));
    EXPECT_TRUE(root->IsKindOf("SampleSecond"));
    EXPECT_TRUE(root->IsKindOf("HVBObject"));
    EXPECT_FALSE(root->IsKindOf("Other"));

    EXPECT_EQ(root->DynamicCast("SampleTwoBase"), static_cast<void*>(&object));
    EXPECT_EQ(root->DynamicCast("HVBFileObject"), static_cast<void*>(static_cast<HVBFileObject*>(&object)));
    EXPECT_EQ(root->DynamicCast("HVBObject"), static_cast<void*>(&object));
    void* second = root->DynamicCast("SampleSecond");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, static_cast<void*>(&object));
    EXPECT_EQ(second, static_cast<void*>(static_cast<SampleSecond*>(&object)));
    EXPECT_EQ(static_cast<SampleSecond*>(second)->marker, 7);
    EXPECT_EQ(root->DynamicCast("Other"), nullptr);
}

TEST(ObjectBase, ObjectsComeFromTheLibraryHeap) {
    auto* file = new SampleFile;
    EXPECT_GE(hvbHeapGetLength(nullptr, file), static_cast<int32_t>(sizeof(SampleFile)));
    delete file;
}
