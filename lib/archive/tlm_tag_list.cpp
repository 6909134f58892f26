#include "archive/tlm_tag_list.h"

#include <new>

#include "xml/stream_wide_string.h"

namespace {

const WideChar* const kTagNames[TLMTagList::TagCount] = {
    HVB_WTEXT("title"),        HVB_WTEXT("vocal-player"), HVB_WTEXT("composer"),     HVB_WTEXT("arranger"),
    HVB_WTEXT("source"),       HVB_WTEXT("track"),        HVB_WTEXT("release-date"), HVB_WTEXT("genre"),
    HVB_WTEXT("rewind-point"), HVB_WTEXT("hot-spot"),     HVB_WTEXT("comment"),      HVB_WTEXT("words"),
};

constexpr WideChar kByteOrderMark = 0xFEFF;

uint32_t TextLength(const WideChar* text) {
    uint32_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

void TrimTrailing(EWideString* text) {
    uint32_t n = text->GetLength();
    while (n > 0 && static_cast<uint16_t>(text->GetAt(static_cast<int32_t>(n - 1))) <= 32) --n;
    if (n == text->GetLength()) return;
    EWideString trimmed;
    trimmed.Append(text->GetString(), static_cast<int32_t>(n));
    *text = trimmed;
}

// A number as the stream scanner reads it, with its radix suffix.
bool ReadNumber(EStreamWideString& stream, int32_t* value) {
    const int radix = stream.DetectRadix();
    if (radix < 0) return false;
    *value = static_cast<int32_t>(stream.ReadInteger(radix));
    return true;
}

bool ReadSeparator(EStreamWideString& stream, WideChar separator) {
    const WideChar set[2] = {separator, 0};
    stream.SkipSpaces();
    return stream.MatchChar(set) != 0;
}

}  // namespace

const WideChar* TLMTagList::GetTagName(uint32_t index) { return index < TagCount ? kTagNames[index] : nullptr; }

void TLMTagList::Clear() {
    for (uint32_t i = 0; i < items_.GetCount(); ++i) delete items_.GetAt(i);
    items_.RemoveAll();
}

void TLMTagList::Append(const WideChar* tag, uint32_t tag_length, const EWideString& contents) {
    auto* item = new (std::nothrow) TLMTagItem;
    if (item == nullptr) return;
    item->tag.Append(tag, static_cast<int32_t>(tag_length));
    if (item->tag.GetString() == nullptr) item->tag = HVB_WTEXT("");
    item->contents = contents;
    if (item->contents.GetString() == nullptr) item->contents = HVB_WTEXT("");
    if (!items_.Add(item)) delete item;
}

ResultCode TLMTagList::AddTag(uint32_t index, const WideChar* contents) {
    const WideChar* name = GetTagName(index);
    if (name == nullptr) return ResultInvalidParameter;
    EWideString text;
    text.Append(contents);
    Append(name, TextLength(name), text);
    return ResultSuccess;
}

void TLMTagList::ParseTagText(const WideChar* text) {
    Clear();
    if (text == nullptr) return;
    // What FormatTagText writes must read back.
    if (text[0] == kByteOrderMark) ++text;
    const uint32_t length = TextLength(text);
    if (text[0] != '#' || text[1] == '#') {
        EWideString whole;
        whole.Append(text, static_cast<int32_t>(length));
        Append(kTagNames[TagComment], TextLength(kTagNames[TagComment]), whole);
        return;
    }

    const WideChar* tag = nullptr;
    uint32_t tag_length = 0;
    EWideString contents;
    bool first_line = true;
    for (uint32_t at = 0; at < length;) {
        uint32_t end = at;
        while (end < length && text[end] != '\n') ++end;
        const uint32_t next = end < length ? end + 1 : end;
        if (end > at && text[end - 1] == '\r') --end;
        const WideChar* line = text + at;
        const uint32_t line_length = end - at;
        at = next;

        if (line_length > 0 && line[0] == '#' && (line_length == 1 || line[1] != '#')) {
            if (tag != nullptr) {
                TrimTrailing(&contents);
                Append(tag, tag_length, contents);
            }
            uint32_t i = 1;
            while (i < line_length && static_cast<uint16_t>(line[i]) <= 32) ++i;
            tag = line + i;
            tag_length = 0;
            while (i + tag_length<line_length&& static_cast<uint16_t>(line[i + tag_length])> 32) ++tag_length;
            contents.Empty();
            first_line = true;
            continue;
        }
        if (!first_line) contents.Append(HVB_WTEXT("\r\n"));
        first_line = false;
        const uint32_t skip = line_length >= 2 && line[0] == '#' && line[1] == '#' ? 1 : 0;
        contents.Append(line + skip, static_cast<int32_t>(line_length - skip));
    }
    if (tag != nullptr) {
        TrimTrailing(&contents);
        Append(tag, tag_length, contents);
    }
}

void TLMTagList::FormatTagText(EWideString* out) const {
    *out = HVB_WTEXT("");
    out->AppendChar(kByteOrderMark);
    for (uint32_t i = 0; i < items_.GetCount(); ++i) {
        const TLMTagItem* item = items_.GetAt(i);
        out->AppendChar('#');
        out->Append(item->tag.GetString());
        out->Append(HVB_WTEXT("\r\n"));
        const uint32_t n = item->contents.GetLength();
        const WideChar* contents = item->contents.GetString();
        for (uint32_t k = 0; k < n; ++k) {
            if (contents[k] == '#' && (k == 0 || contents[k - 1] == '\n')) out->AppendChar('#');
            out->AppendChar(contents[k]);
        }
        if (n < 2 || contents[n - 2] != '\r' || contents[n - 1] != '\n') out->Append(HVB_WTEXT("\r\n"));
    }
}

const WideChar* TLMTagList::GetTagContents(const WideChar* tag) const {
    if (tag == nullptr) return nullptr;
    for (uint32_t i = 0; i < items_.GetCount(); ++i) {
        const TLMTagItem* item = items_.GetAt(i);
        if (item->tag.Compare(tag) == 0) return item->contents.GetString();
    }
    return nullptr;
}

const WideChar* TLMTagList::GetTagContentsByIndex(uint32_t index) const { return GetTagContents(GetTagName(index)); }

int32_t TLMTagList::GetTrackNumber() const {
    EStreamWideString stream(GetTagContentsByIndex(TagTrack));
    int32_t value = 0;
    return ReadNumber(stream, &value) ? value : 0;
}

int32_t TLMTagList::GetRewindPoint() const {
    EStreamWideString stream(GetTagContentsByIndex(TagRewindPoint));
    int32_t value = 0;
    return ReadNumber(stream, &value) ? value : 0;
}

void TLMTagList::GetHotSpot(int32_t* x, int32_t* y) const {
    *x = 0;
    *y = 0;
    EStreamWideString stream(GetTagContentsByIndex(TagHotSpot));
    if (!ReadNumber(stream, x)) {
        *x = 0;
        return;
    }
    if (!ReadSeparator(stream, ',') || !ReadNumber(stream, y)) *y = 0;
}

ResultCode TLMTagList::GetReleaseDate(int32_t* year, int32_t* month, int32_t* day) const {
    *year = *month = *day = 0;
    EStreamWideString stream(GetTagContentsByIndex(TagReleaseDate));
    if (!ReadNumber(stream, year)) return ResultGeneralError;
    if (!ReadSeparator(stream, '/') || !ReadNumber(stream, month)) return ResultGeneralError;
    if (!ReadSeparator(stream, '/') || !ReadNumber(stream, day)) return ResultGeneralError;
    return ResultSuccess;
}
