// CP932 conversion vectors that both targets must reproduce exactly: the
// double-byte ranges, half-width katakana, the characters whose mapping
// differs between Shift-JIS variants, and what cannot be converted.
// iconv_agrees marks the vectors on which glibc's CP932 says the same; the
// others are what the Win32 conversion does beyond the code page.
#pragma once

#include <cstdint>

namespace cp932 {

struct AnsiVector {
    const char* what;
    const char* bytes;
    int length;
    uint16_t units[4];
    int count;
    bool iconv_agrees;
};

struct WideVector {
    const char* what;
    uint16_t units[3];
    int count;
    const char* bytes;
    int length;
    bool iconv_agrees;
};

inline constexpr AnsiVector kAnsiVectors[] = {
    {"ascii backslash", "\x5C", 1, {0x005C}, 1, true},
    {"ascii tilde", "\x7E", 1, {0x007E}, 1, true},
    {"ideographic space", "\x81\x40", 2, {0x3000}, 1, true},
    {"katakana middle dot", "\x81\x45", 2, {0x30FB}, 1, true},
    {"macron", "\x81\x50", 2, {0xFFE3}, 1, true},
    {"horizontal bar, trail 5C", "\x81\x5C", 2, {0x2015}, 1, true},
    {"fullwidth reverse solidus", "\x81\x5F", 2, {0xFF3C}, 1, true},
    {"wave dash variant", "\x81\x60", 2, {0xFF5E}, 1, true},
    {"parallel variant", "\x81\x61", 2, {0x2225}, 1, true},
    {"minus variant", "\x81\x7C", 2, {0xFF0D}, 1, true},
    {"cent variant", "\x81\x91", 2, {0xFFE0}, 1, true},
    {"pound variant", "\x81\x92", 2, {0xFFE1}, 1, true},
    {"not variant", "\x81\xCA", 2, {0xFFE2}, 1, true},
    {"fullwidth digit zero", "\x82\x4F", 2, {0xFF10}, 1, true},
    {"fullwidth A", "\x82\x60", 2, {0xFF21}, 1, true},
    {"first hiragana", "\x82\x9F", 2, {0x3041}, 1, true},
    {"last hiragana", "\x82\xF1", 2, {0x3093}, 1, true},
    {"first katakana", "\x83\x40", 2, {0x30A1}, 1, true},
    {"katakana so, trail 5C", "\x83\x5C", 2, {0x30BD}, 1, true},
    {"last katakana", "\x83\x96", 2, {0x30F6}, 1, true},
    {"greek alpha", "\x83\x9F", 2, {0x0391}, 1, true},
    {"cyrillic A", "\x84\x40", 2, {0x0410}, 1, true},
    {"first box drawing", "\x84\x9F", 2, {0x2500}, 1, true},
    {"last box drawing", "\x84\xBE", 2, {0x2542}, 1, true},
    {"NEC special: circled one", "\x87\x40", 2, {0x2460}, 1, true},
    {"NEC special: roman one", "\x87\x54", 2, {0x2160}, 1, true},
    {"NEC special: approximately equal", "\x87\x90", 2, {0x2252}, 1, true},
    {"NEC special: last", "\x87\x9C", 2, {0x222A}, 1, true},
    {"first level-1 kanji", "\x88\x9F", 2, {0x4E9C}, 1, true},
    {"kanji one", "\x88\xEA", 2, {0x4E00}, 1, true},
    {"kanji, trail 5C", "\x94\x5C", 2, {0x80FD}, 1, true},
    {"kanji hyou, trail 5C", "\x95\x5C", 2, {0x8868}, 1, true},
    {"last level-1 kanji", "\x98\x72", 2, {0x8155}, 1, true},
    {"first level-2 kanji", "\x98\x9F", 2, {0x5F0C}, 1, true},
    {"end of lead 9F", "\x9F\xFC", 2, {0x6ECC}, 1, true},
    {"start of lead E0", "\xE0\x40", 2, {0x6F3E}, 1, true},
    {"last level-2 kanji", "\xEA\xA4", 2, {0x7199}, 1, true},
    {"NEC-selected IBM first", "\xED\x40", 2, {0x7E8A}, 1, true},
    {"NEC-selected IBM small roman one", "\xEE\xEF", 2, {0x2170}, 1, true},
    {"NEC-selected IBM last", "\xEE\xFC", 2, {0xFF02}, 1, true},
    {"user-defined first", "\xF0\x40", 2, {0xE000}, 1, true},
    {"user-defined last", "\xF9\xFC", 2, {0xE757}, 1, true},
    {"IBM small roman one", "\xFA\x40", 2, {0x2170}, 1, true},
    {"IBM not sign", "\xFA\x54", 2, {0xFFE2}, 1, true},
    {"IBM because", "\xFA\x5B", 2, {0x2235}, 1, true},
    {"IBM last", "\xFC\x4B", 2, {0x9ED1}, 1, true},
    {"half-width ideographic full stop", "\xA1", 1, {0xFF61}, 1, true},
    {"half-width katakana a", "\xB1", 1, {0xFF71}, 1, true},
    {"half-width semi-voiced mark", "\xDF", 1, {0xFF9F}, 1, true},
    {"mixed text", "a\x82\xA0\xB1z", 5, {0x0061, 0x3042, 0xFF71, 0x007A}, 4, true},
    {"single byte 80", "\x80", 1, {0x0080}, 1, false},
    {"single byte A0", "\xA0", 1, {0xF8F0}, 1, false},
    {"single byte FD", "\xFD", 1, {0xF8F1}, 1, false},
    {"single byte FF", "\xFF", 1, {0xF8F3}, 1, false},
    {"trail below range swallowed", "\x81\x20" "b", 3, {0x30FB, 0x0062}, 2, false},
    {"trail 7F swallowed", "\x81\x7F" "b", 3, {0x30FB, 0x0062}, 2, false},
    {"undefined row", "\x85\x40", 2, {0x30FB}, 1, false},
    {"after IBM last", "\xFC\x4C", 2, {0x30FB}, 1, false},
    {"lone lead byte at the end", "a\x81", 2, {0x0061, 0x30FB}, 2, false},
    {"lead byte before a zero", "\x81\x00" "b", 3, {0x30FB, 0x0000, 0x0062}, 3, false},
};

inline constexpr WideVector kWideVectors[] = {
    {"hiragana a", {0x3042}, 1, "\x82\xA0", 2, true},
    {"ideographic space", {0x3000}, 1, "\x81\x40", 2, true},
    {"kanji", {0x6F22, 0x5B57}, 2, "\x8A\xBF\x8E\x9A", 4, true},
    {"fullwidth tilde", {0xFF5E}, 1, "\x81\x60", 2, true},
    {"parallel to", {0x2225}, 1, "\x81\x61", 2, true},
    {"fullwidth not", {0xFFE2}, 1, "\x81\xCA", 2, true},
    {"approximately equal: NEC row not chosen", {0x2252}, 1, "\x81\xE0", 2, true},
    {"because: NEC row not chosen", {0x2235}, 1, "\x81\xE6", 2, true},
    {"small roman one: IBM row chosen", {0x2170}, 1, "\xFA\x40", 2, true},
    {"roman one: NEC row", {0x2160}, 1, "\x87\x54", 2, true},
    {"IBM kanji with trail 5C", {0x7E8A}, 1, "\xFA\x5C", 2, true},
    {"half-width katakana", {0xFF61, 0xFF9F}, 2, "\xA1\xDF", 2, true},
    {"yen sign", {0x00A5}, 1, "\x5C", 1, true},
    {"horizontal bar", {0x2015}, 1, "\x81\x5C", 2, true},
    {"user-defined area", {0xE000}, 1, "\xF0\x40", 2, true},
    {"section sign", {0x00A7}, 1, "\x81\x98", 2, true},
    {"em dash: not in CP932", {0x2014}, 1, "?", 1, false},
    {"double vertical line: not in CP932", {0x2016}, 1, "?", 1, false},
    {"overline: not in CP932", {0x203E}, 1, "?", 1, false},
    {"minus sign: not in CP932", {0x2212}, 1, "?", 1, false},
    {"wave dash: not in CP932", {0x301C}, 1, "?", 1, false},
    {"e acute: best fit", {0x00E9}, 1, "e", 1, false},
    {"A grave: best fit", {0x00C0}, 1, "A", 1, false},
    {"left guillemet: best fit", {0x00AB}, 1, "\x81\xE1", 2, false},
    {"hiragana vu: best fit", {0x3094}, 1, "\x83\x94", 2, false},
    {"U+0080", {0x0080}, 1, "\x80", 1, false},
    {"private use F8F0", {0xF8F0}, 1, "\xA0", 1, false},
    {"private use F8F3", {0xF8F3}, 1, "\xFF", 1, false},
    {"A macron: unmappable", {0x0100}, 1, "?", 1, false},
    {"noncharacter FFFF", {0xFFFF}, 1, "?", 1, false},
    {"surrogate pair", {0xD83D, 0xDE00, 0x0041}, 3, "??A", 3, false},
    {"lone low surrogate", {0xDE00}, 1, "?", 1, false},
    {"combining voiced mark", {0x304B, 0x3099}, 2, "\x82\xA9?", 3, false},
};

}  // namespace cp932
