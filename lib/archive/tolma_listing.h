// The description of an archive to be built: which files and directories it
// holds, each file's encoding and password. It is kept as an XML description
// of "file" and "directory" elements and navigated like a directory tree; it
// holds no file data and never touches an archive itself.
//
// There may be no current directory (after ascending from the root, or after
// descending into a file item); operations on the current directory then act
// on nothing and return their failure value.
#pragma once

#include <cstdint>

#include "core/result.h"
#include "file/file_object.h"
#include "text/ptr_array.h"
#include "text/string.h"
#include "xml/description.h"

class TOLMAListingDirectory;

struct TOLMAListingItem {
    TOLMAListingItem() = default;
    TOLMAListingItem(const TOLMAListingItem&) = delete;
    TOLMAListingItem& operator=(const TOLMAListingItem&) = delete;
    ~TOLMAListingItem();

    bool IsDirectory() const { return (attributes & 0x10) != 0; }

    EString name;  // in the system code page
    uint32_t attributes = 0;  // 0x10 for a directory
    uint32_t encoding = 0;  // the archive's encoding code; 0 for a directory
    EString password;  // empty when none
    TOLMAListingDirectory* contents = nullptr;  // a directory's items, owned
};

// Owns its items, and through them every directory below it; deleting it
// does not recurse however deep the tree goes.
class TOLMAListingDirectory : public ETypedPtrArray<TOLMAListingItem> {
public:
    explicit TOLMAListingDirectory(TOLMAListingDirectory* parent = nullptr) : parent_(parent) {}
    ~TOLMAListingDirectory() override;

    TOLMAListingDirectory* GetParent() const { return parent_; }
    // The first item of that name, a-z folded onto A-Z; null when none.
    TOLMAListingItem* FindItem(const char* name) const;

private:
    friend class TOLMAArchiveListing;

    TOLMAListingDirectory* parent_;
};

class TOLMAArchiveListing : public HVBObject {
    HVB_DECLARE_CLASS(TOLMAArchiveListing, HVBObject)

public:
    TOLMAArchiveListing() = default;
    TOLMAArchiveListing(const TOLMAArchiveListing&) = delete;
    TOLMAArchiveListing& operator=(const TOLMAArchiveListing&) = delete;
    ~TOLMAArchiveListing() override = default;

    // Reads the file from its position to its end as a Shift_JIS description
    // with backslash escapes and replaces the listing with it. 0; on a
    // failure the listing is unchanged and the failure is returned.
    ResultCode ReadListing(HVBFileObject* file);
    // 0, or nonzero when the listing cannot be described or written.
    ResultCode WriteListing(HVBFileObject* file) const;

    // The directory's items appended from the element children of node
    // ("file" and "directory", in any letter case; others are skipped with
    // their children). 1 for nesting deeper than a description holds.
    ResultCode LoadFromDescription(TOLMAListingDirectory* directory, const EDescription* node, uint32_t depth = 0);
    // The directory's items appended to node as elements. 1 for nesting
    // deeper than a description read back would keep.
    ResultCode StoreToDescription(EDescription* node, const TOLMAListingDirectory* directory,
                                  uint32_t depth = 0) const;

    // Deletes every item; the root becomes current.
    void Clear();
    // Append to the current directory. 1 when there is none.
    ResultCode AddFile(const char* name, uint32_t encoding, const char* password);
    ResultCode AddDirectory(const char* name);

    TOLMAListingDirectory* GetRootDirectory() { return &root_; }
    // Null when there is no current directory.
    TOLMAListingDirectory* GetCurrentDirectory() { return current_; }

    // The named item's contents become current (none for a file item). 1
    // when the current directory has no such item, or there is none.
    ResultCode DescendDirectory(const char* name);
    // The parent becomes current (none above the root). 1 when there is no
    // current directory.
    ResultCode AscendDirectory();
    // From the root, one piece per backslash (double-byte aware); an empty
    // piece names no item. 1 at the first piece that fails.
    ResultCode ChangeDirectory(const char* path);
    // The names from the root down, each followed by a backslash; empty at
    // the root and when there is no current directory.
    EString GetCurrentPath() const;

private:
    TOLMAListingDirectory root_;
    TOLMAListingDirectory* current_ = &root_;
};
