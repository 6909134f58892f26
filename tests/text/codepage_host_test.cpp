// Cross-checks of the CP932 conversion against the iconv command.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "platform/codepage.h"
#include "text/cp932_vectors.h"

namespace {

// Runs iconv over the bytes; the output, or "<failed>".
std::string RunIconv(const std::string& from, const std::string& to, const std::string& input, bool skip_invalid) {
    char path[] = "/tmp/hvb-iconv-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "<failed>";
    const bool written = write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
    close(fd);
    std::string command =
        "iconv " + std::string(skip_invalid ? "-c " : "") + "-f " + from + " -t " + to + " " + path + " 2>/dev/null";
    std::string out;
    FILE* pipe = written ? popen(command.c_str(), "r") : nullptr;
    if (pipe != nullptr) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        pclose(pipe);
    }
    unlink(path);
    return pipe == nullptr ? "<failed>" : out;
}

std::string Utf16(const uint16_t* units, int count) {
    std::string s;
    for (int i = 0; i < count; ++i) {
        s.push_back(static_cast<char>(units[i] & 0xFF));
        s.push_back(static_cast<char>(units[i] >> 8));
    }
    return s;
}

}  // namespace

TEST(CodePageIconv, VectorTableAgreesWhereMarked) {
    for (const auto& v : cp932::kAnsiVectors) {
        if (!v.iconv_agrees) continue;
        SCOPED_TRACE(v.what);
        EXPECT_EQ(RunIconv("CP932", "UTF-16LE", std::string(v.bytes, v.length), false), Utf16(v.units, v.count));
    }
    for (const auto& v : cp932::kWideVectors) {
        if (!v.iconv_agrees) continue;
        SCOPED_TRACE(v.what);
        EXPECT_EQ(RunIconv("UTF-16LE", "CP932", Utf16(v.units, v.count), false), std::string(v.bytes, v.length));
    }
}

// Every double-byte code, one per line: where the conversion defines a
// character, iconv must give the same one.
TEST(CodePageIconv, EveryDoubleByteCode) {
    std::string input;
    std::vector<uint16_t> ours;
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
        if (!plat::IsDBCSLeadByte(static_cast<unsigned char>(lead))) continue;
        for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
            if (trail == 0x7F) continue;
            const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            WideChar unit = 0;
            ASSERT_EQ(plat::AnsiToWide(pair, 2, &unit, 1), 1);
            if (unit == plat::kWideDefaultChar && !(lead == 0x81 && trail == 0x45)) continue;
            input.append(pair, 2);
            input.push_back('\n');
            ours.push_back(static_cast<uint16_t>(unit));
        }
    }
    const std::string out = RunIconv("CP932", "UTF-16LE", input, false);
    ASSERT_EQ(out.size(), ours.size() * 4);
    size_t mismatches = 0;
    for (size_t i = 0; i < ours.size(); ++i) {
        const uint16_t theirs = static_cast<uint16_t>(static_cast<unsigned char>(out[4 * i]) |
                                                      static_cast<unsigned char>(out[4 * i + 1]) << 8);
        if (theirs != ours[i]) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(ours.size(), 9500u) << "CP932 defines some 9,600 double-byte codes, the user area included";
}

// Every BMP character, one per line: the only disagreements allowed are the
// Win32 best-fit conversions (iconv has none) and the five JIS-variant
// characters Win32 refuses.
TEST(CodePageIconv, EveryWideCharacter) {
    std::string input;
    std::vector<uint16_t> units;
    for (unsigned u = 1; u < 0x10000; ++u) {
        if ((u >= 0xD800 && u < 0xE000) || u == '\n') continue;
        const uint16_t line[2] = {static_cast<uint16_t>(u), '\n'};
        input += Utf16(line, 2);
        units.push_back(static_cast<uint16_t>(u));
    }
    const std::string out = RunIconv("UTF-16LE", "CP932", input, true);
    const std::set<uint16_t> refused = {0x2014, 0x2016, 0x203E, 0x2212, 0x301C};
    size_t pos = 0, best_fit = 0, refusals = 0, other = 0;
    for (uint16_t u : units) {
        const size_t end = out.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        const std::string theirs = out.substr(pos, end - pos);
        pos = end + 1;
        const WideChar unit = static_cast<WideChar>(u);
        char bytes[2];
        bool used_default = false;
        const int n = plat::WideToAnsi(&unit, 1, bytes, 2, &used_default);
        const std::string mine = used_default ? std::string() : std::string(bytes, n);
        if (mine == theirs) continue;
        if (theirs.empty())
            ++best_fit;
        else if (mine.empty() && refused.count(u))
            ++refusals;
        else
            ++other;
    }
    EXPECT_EQ(other, 0u);
    EXPECT_EQ(refusals, 5u);
    EXPECT_LT(best_fit, 100u);
}
