// The library's XML document object: a tree of nodes with a tag, attributes
// kept sorted by name and children, held in wide strings. It reads a tolerant
// subset of XML in Shift_JIS, UTF-8 or ISO-2022-JP and writes itself back as
// indented text. Markup problems go to the debug trace as messages and the
// parser goes on: reading never fails on bad markup.
//
// Node kinds: an element has a tag; a text node has no tag, no children and
// its text in the contents; a document's top node has no tag and holds the
// top-level elements.
#pragma once

#include <cstdint>

#include "core/result.h"
#include "file/file_object.h"
#include "text/ptr_array.h"
#include "text/stream_buffer.h"
#include "text/string.h"

struct EDescriptionAttribute {
    EWideString name;
    EWideString value;
};

class EDescription : public HVBObject {
    HVB_DECLARE_CLASS(EDescription, HVBObject)

public:
    enum : int32_t {
        EncodingShiftJIS = 0,
        EncodingUTF8 = 1,
        EncodingISO2022JP = 2,
    };
    // Elements nested deeper than this below the node being read are dropped
    // with their contents (and a message), so that every consumer of a tree
    // that was read may walk it recursively.
    static constexpr uint32_t kMaxDepth = 256;

    EDescription() = default;
    // Tag, contents, attributes and, at any depth, the children; the copy has
    // no parent.
    EDescription(const EDescription& other);
    EDescription& operator=(const EDescription&) = delete;
    // Deletes the subtree without recursing, however deep it is.
    ~EDescription() override;

    EDescription* GetParent() const { return parent_; }
    const EWideString& GetTag() const { return tag_; }
    void SetTag(const WideChar* tag) { tag_ = tag; }
    const EWideString& GetContents() const { return contents_; }
    void SetContents(const WideChar* contents) { contents_ = contents; }
    bool IsTextNode() const { return tag_.IsEmpty() && children_.GetCount() == 0; }

    // ---- attributes: names compared exactly, by 16-bit code ----
    // The value, or a copy of default_value when there is no such attribute.
    EWideString GetAttributeString(const WideChar* name, const WideChar* default_value) const;
    // Parsed with radix detection (0FFh, 1011b, ...); default_value when the
    // attribute is absent or holds no number.
    int32_t GetAttributeInteger(const WideChar* name, int32_t default_value) const;
    double GetAttributeReal(const WideChar* name, double default_value) const;
    // Inserted in name order, or replacing the value of the same name.
    void SetAttributeString(const WideChar* name, const WideChar* text);
    void SetAttributeInteger(const WideChar* name, int32_t value);
    void SetAttributeReal(const WideChar* name, double value);
    uint32_t GetAttributeCount() const { return attributes_.GetCount(); }
    // Empty strings out of range.
    EWideString GetAttributeName(uint32_t index) const;
    EWideString GetAttributeValue(uint32_t index) const;
    // Null when absent.
    const EWideString* FindAttribute(const WideChar* name) const;
    void RemoveAttribute(uint32_t index);
    void RemoveAttribute(const WideChar* name);
    void RemoveAllAttributes();

    // ---- children ----
    uint32_t GetChildCount() const { return children_.GetCount(); }
    // Null out of range.
    EDescription* GetChildAt(int32_t index) const;
    // The first child at or after start whose tag equals tag, ignoring the case
    // of ASCII letters; a null tag finds the first child without a tag. -1
    // when none.
    int32_t FindChildIndex(int32_t start, const WideChar* tag) const;
    // As FindChildIndex; *next (if given) becomes the index + 1, or -1.
    EDescription* FindChild(int32_t start, const WideChar* tag, int32_t* next = nullptr) const;
    // Also requires the child's attribute name to equal value exactly.
    EDescription* FindChildWithAttribute(int32_t start, const WideChar* name, const WideChar* value,
                                         const WideChar* tag, int32_t* next = nullptr) const;
    // FindChild, else a new element with that tag appended.
    EDescription* GetOrCreateChild(int32_t start, const WideChar* tag);
    // Takes ownership and becomes the node's parent.
    void AddChild(EDescription* node);
    // The index is clamped to 0 .. count.
    void InsertChild(int32_t index, EDescription* node);
    void RemoveChild(int32_t index);
    void RemoveAllChildren();
    // The contents of the first child with that tag (this node when tag is
    // null) if its first child is a text node; else a copy of default_value.
    EWideString GetChildContents(const WideChar* tag, const WideChar* default_value) const;
    // Sets the text of the first child with that tag (created if missing; this
    // node when tag is null), giving it a text node when it has no children.
    // 1, changing nothing, when its first child is not a text node; else 0.
    int32_t SetChildContents(const WideChar* tag, const WideChar* text);

    // ---- reading and writing ----
    // Takes every byte of stream, decodes it with the encoding and parses it
    // into this node after removing its attributes and children. Escape mode
    // 1 reads quoted attribute values with backslash escapes, 0 with
    // entities. 0, or the message result of an unknown encoding (the tree and
    // the stream are then unchanged).
    ResultCode ReadDescription(EStreamBuffer* stream, int32_t escape_mode, int32_t encoding);
    // Writes this node and its subtree as lines indented by `indent` tabs,
    // with no XML declaration. 0; 1 when the file takes fewer bytes than
    // given; the message result of an unknown encoding (nothing is written).
    ResultCode WriteDescription(HVBFileObject* file, int32_t indent, int32_t escape_mode, int32_t encoding) const;

    // "Shift_JIS", "utf-8", "iso-2022-jp"; null for a code not in the table.
    static const char* GetEncodingName(int32_t encoding);
    // ASCII letters compare alike; 0 for a name not in the table.
    static int32_t GetEncodingCode(const char* name);
    static bool IsKnownEncoding(int32_t encoding) { return encoding >= 0 && encoding <= 2; }

private:
    friend class EDescriptionParser;

    // Index of the attribute, or where it would be inserted (negated, minus 1).
    int32_t SearchAttribute(const WideChar* name) const;
    // Keeps values with embedded zero code units whole.
    void SetAttribute(const EWideString& name, const EWideString& value);
    // Takes the attribute in, or its value over for an existing name.
    void AdoptAttribute(EDescriptionAttribute* attribute);

    EDescription* parent_ = nullptr;
    EWideString tag_;
    EWideString contents_;
    ETypedPtrArray<EDescriptionAttribute> attributes_;
    ETypedPtrArray<EDescription> children_;
};

// The message result of an encoding code that is not in the table.
ResultCode InvalidEncodingResult();

// Bytes to wide text and back in one of the three encodings. Decoding
// replaces out's text; encoding appends to out. 0, or the message result of
// an unknown encoding.
ResultCode DecodeDescriptionText(const void* bytes, uint32_t count, int32_t encoding, EWideString* out);
ResultCode EncodeDescriptionText(const WideChar* text, uint32_t length, int32_t encoding, EStreamBuffer* out);
