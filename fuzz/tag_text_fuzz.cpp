// UTF-16 bytes as the tag text of a media description: parsed, every
// accessor read, formatted and parsed again.
#include <vector>

#include "archive/tlm_tag_list.h"
#include "fuzz_target.h"

HVB_FUZZ_TARGET(tag_text) {
    std::vector<WideChar> text;
    for (size_t i = 0; i + 1 < size && i < hvb_fuzz::kMaxInput; i += 2)
        text.push_back(static_cast<WideChar>(data[i] | data[i + 1] << 8));
    text.push_back(0);
    TLMTagList tags;
    tags.ParseTagText(text.data());
    int32_t x = 0, y = 0, year = 0, month = 0, day = 0;
    tags.GetHotSpot(&x, &y);
    tags.GetReleaseDate(&year, &month, &day);
    hvb_fuzz::Keep(static_cast<uint32_t>(tags.GetTrackNumber() + tags.GetRewindPoint() + x + y));
    EWideString formatted;
    tags.FormatTagText(&formatted);
    TLMTagList again;
    again.ParseTagText(formatted.GetString() != nullptr ? formatted.GetString() : HVB_WTEXT(""));
}
