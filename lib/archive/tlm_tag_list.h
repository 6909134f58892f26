// The tagged text that media files carry in their description: items of a
// tag name and contents. In the text a line beginning with '#' starts an
// item and names its tag; the lines up to the next such line are the
// contents, a leading "##" standing for a literal '#'.
#pragma once

#include <cstdint>

#include "core/result.h"
#include "text/ptr_array.h"
#include "text/string.h"

struct TLMTagItem {
    EWideString tag;
    EWideString contents;
};

class TLMTagList : public HVBObject {
    HVB_DECLARE_CLASS(TLMTagList, HVBObject)

public:
    enum TagIndex : uint32_t {
        TagTitle,
        TagVocalPlayer,
        TagComposer,
        TagArranger,
        TagSource,
        TagTrack,
        TagReleaseDate,
        TagGenre,
        TagRewindPoint,
        TagHotSpot,
        TagComment,
        TagWords,
        TagCount,
    };

    TLMTagList() = default;
    TLMTagList(const TLMTagList&) = delete;
    TLMTagList& operator=(const TLMTagList&) = delete;

    // The tag name of a known index, or null.
    static const WideChar* GetTagName(uint32_t index);

    // Clears the list first; null leaves it empty.
    void ParseTagText(const WideChar* text);
    // Starts with a byte-order mark character; every item ends with CR LF.
    void FormatTagText(EWideString* out) const;
    // ResultInvalidParameter for an unknown index.
    ResultCode AddTag(uint32_t index, const WideChar* contents);
    void Clear();

    uint32_t GetCount() const { return items_.GetCount(); }
    const TLMTagItem* GetAt(uint32_t i) const { return items_.GetAt(i); }
    // Contents of the first item of exactly that tag name, or null.
    const WideChar* GetTagContents(const WideChar* tag) const;
    const WideChar* GetTagContentsByIndex(uint32_t index) const;

    // 0 where the tag is absent or holds no number.
    int32_t GetTrackNumber() const;
    int32_t GetRewindPoint() const;
    // "x, y"; y is 0 when the comma or the second number is missing.
    void GetHotSpot(int32_t* x, int32_t* y) const;
    // 0 when the tag holds year/month/day, else 1; what was not read is 0.
    ResultCode GetReleaseDate(int32_t* year, int32_t* month, int32_t* day) const;

private:
    void Append(const WideChar* tag, uint32_t tag_length, const EWideString& contents);

    ETypedPtrArray<TLMTagItem> items_;
};
