// The description parser against xmllint and expat over every XML file under
// /usr/share, and mutated copies of those files under the sanitizers. A
// program of its own: it is the slowest of the description tests.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "xml/description.h"
#include "xml/host_tools.h"
#include "xml/xml_support.h"

namespace {

std::string DumpEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

// The oracle's record of a tree: one line per element in document order
// with its path, and one per attribute.
void DumpElements(const EDescription& node, const std::string& path, std::vector<std::string>* out) {
    for (uint32_t i = 0; i < node.GetChildCount(); ++i) {
        const EDescription* child = node.GetChildAt(static_cast<int32_t>(i));
        if (child->GetTag().IsEmpty()) continue;
        const std::string own = path + "/" + Utf8(child->GetTag());
        out->push_back("E " + DumpEscape(own));
        for (uint32_t k = 0; k < child->GetAttributeCount(); ++k) {
            out->push_back("A " + DumpEscape(Utf8(child->GetAttributeName(k))) + "=" +
                           DumpEscape(Utf8(child->GetAttributeValue(k))));
        }
        DumpElements(*child, own, out);
    }
}

// Whether every text of the tree survives the code page.
bool FitsCodePage(const EDescription& node) {
    auto fits = [](const EWideString& s) {
        if (s.IsEmpty()) return true;
        const EString narrow(s.GetString(), static_cast<int32_t>(s.GetLength()));
        const EWideString back(narrow.GetString(), static_cast<int32_t>(narrow.GetLength()));
        return back.GetLength() == s.GetLength() && back.Compare(s.GetString()) == 0;
    };
    if (!fits(node.GetTag()) || !fits(node.GetContents())) return false;
    for (uint32_t k = 0; k < node.GetAttributeCount(); ++k) {
        if (!fits(node.GetAttributeName(k)) || !fits(node.GetAttributeValue(k))) return false;
    }
    for (uint32_t i = 0; i < node.GetChildCount(); ++i) {
        if (!FitsCodePage(*node.GetChildAt(static_cast<int32_t>(i)))) return false;
    }
    return true;
}

// What this dialect does not know, present in the file: the reasons a file
// may be seen otherwise than a conforming parser sees it.
std::string DialectReasons(const std::string& bytes) {
    std::string reasons;
    auto add = [&](bool present, const char* why) {
        if (present) reasons += std::string(reasons.empty() ? "" : "; ") + why;
    };
    const std::string head = bytes.substr(0, 200);
    const size_t declared = head.find("encoding=");
    if (declared != std::string::npos) {
        const std::string name = head.substr(declared + 10, 5);
        add(name != "UTF-8" && name != "utf-8", "declares an encoding other than UTF-8");
    }
    add(bytes.find("&apos;") != std::string::npos, "&apos; is not one of the five entities");
    add(bytes.find("<![CDATA[") != std::string::npos, "CDATA sections are not known");
    add(bytes.find("&#x") != std::string::npos, "hexadecimal character references are not known");
    add(bytes.find("<!ENTITY") != std::string::npos, "entities declared in the document");
    bool single_quoted = false;
    for (size_t i = bytes.find("='"); i != std::string::npos && !single_quoted; i = bytes.find("='", i + 1)) {
        single_quoted = true;
    }
    add(single_quoted, "single-quoted attribute values");
    bool beyond_bmp = false;
    for (unsigned char c : bytes) beyond_bmp = beyond_bmp || c >= 0xF0;
    add(beyond_bmp, "characters beyond the BMP");
    return reasons;
}

struct OracleFile {
    std::string status;
    std::vector<std::string> lines;
};

std::map<std::string, OracleFile> RunOracle() {
    std::map<std::string, OracleFile> files;
    const std::string python = Environment("HVB_PYTHON");
    const std::string script = Environment("HVB_XML_DUMP");
    if (python.empty() || script.empty()) return files;
    FILE* pipe = popen((python + " " + script + " /usr/share 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return files;
    std::string text;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
    OracleFile* current = nullptr;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.compare(0, 2, "F ") == 0) {
            current = &files[line.substr(2)];
        } else if (current != nullptr && line.compare(0, 2, "S ") == 0) {
            current->status = line.substr(2);
        } else if (current != nullptr) {
            current->lines.push_back(line);
        }
    }
    return files;
}

}  // namespace

// Every XML file under /usr/share that xmllint accepts: the elements and
// attribute values we read equal expat's, or the file uses something this
// dialect does not know, and then it is listed with the reason. Each tree is
// written and read back to an equal tree in every encoding its characters
// allow.
TEST(DescriptionCorpus, AgreesWithXmllintAndRoundTrips) {
    const std::map<std::string, OracleFile> files = RunOracle();
    ASSERT_GT(files.size(), 100u) << "no oracle output: is python3 there, and HVB_XML_DUMP set?";
    size_t accepted = 0, agreed = 0, round_trips = 0, code_page_trips = 0;
    std::string report;
    for (const auto& [path, oracle] : files) {
        if (oracle.status != "accepted") {
            // Nothing to compare with, but read all the same.
            const std::vector<uint8_t> raw = ReadHostFile(path);
            EDescription top;
            EXPECT_EQ(ParseBytes(&top, std::string(raw.begin(), raw.end()), 0, EDescription::EncodingUTF8), 0);
            report += "  " + path + ": not compared: " + oracle.status + "\n";
            continue;
        }
        ++accepted;
        const std::vector<uint8_t> raw = ReadHostFile(path);
        const std::string bytes(raw.begin(), raw.end());
        EDescription top;
        ASSERT_EQ(ParseBytes(&top, bytes, 0, EDescription::EncodingUTF8), 0);
        std::vector<std::string> ours;
        DumpElements(top, "", &ours);
        if (ours == oracle.lines) {
            ++agreed;
        } else {
            size_t first = 0;
            while (first < ours.size() && first < oracle.lines.size() && ours[first] == oracle.lines[first]) ++first;
            const std::string reasons = DialectReasons(bytes);
            report += "  " + path + ": " + (reasons.empty() ? "UNEXPLAINED" : reasons) + " (first difference: ours \"" +
                      (first < ours.size() ? ours[first] : "<end>") + "\", expat \"" +
                      (first < oracle.lines.size() ? oracle.lines[first] : "<end>") + "\")\n";
            EXPECT_FALSE(reasons.empty()) << path;
        }

        const std::string picture = Picture(top);
        const bool fits = FitsCodePage(top);
        for (int32_t encoding = 0; encoding < 3; ++encoding) {
            if (encoding != EDescription::EncodingUTF8 && !fits) continue;
            EDescription back;
            ASSERT_EQ(ParseBytes(&back, WriteBytes(top, 0, encoding), 0, encoding), 0);
            EXPECT_TRUE(Picture(back) == picture) << path << " encoding " << encoding;
        }
        ++round_trips;
        if (fits) ++code_page_trips;
    }
    std::printf("XML files under /usr/share: %zu, accepted by xmllint: %zu, seen alike: %zu; round trips: %zu "
                "(%zu also in Shift_JIS and ISO-2022-JP)\n%s",
                files.size(), accepted, agreed, round_trips, code_page_trips, report.c_str());
    std::FILE* out = std::fopen((TestDataDir() + "/xml_corpus_report.txt").c_str(), "w");
    if (out != nullptr) {
        std::fputs(report.c_str(), out);
        std::fclose(out);
    }
    EXPECT_GT(agreed, accepted * 9 / 10);
}

// Mutated copies of real files, read, written and read again in every
// encoding and escape mode; the sanitizers watch.
TEST(DescriptionCorpus, MutatedFilesAreHarmless) {
    std::vector<std::string> samples;
    for (const char* path : {"/usr/share/mime/packages/freedesktop.org.xml"}) {
        const std::vector<uint8_t> raw = ReadHostFile(path);
        ASSERT_FALSE(raw.empty()) << path;
        // Pieces of the big file: every kind of markup it holds, small enough
        // to be quick.
        const std::string whole(raw.begin(), raw.end());
        for (size_t at = 0; at + 1000 < whole.size() && samples.size() < 64; at += whole.size() / 64) {
            samples.push_back(whole.substr(at, 1000));
        }
    }
    samples.push_back("<?xml version=\"1.0\"?><a x=\"1\" y='2' z=w>t&amp;&#65;&#x41;<![CDATA[<b>]]><!-- c -->"
                      "<b/><c k=\"\\x22\\\\\"/></A>");
    const std::string specials = "<>/&\"'=!-?#;x \t\r\n\\\x1B$B(J\x80\xFF\x81\x5C";
    std::mt19937 random(4242);
    for (int round = 0; round < 10000; ++round) {
        std::string text = samples[random() % samples.size()];
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = random() % text.size();
            switch (random() % 6) {
                case 0:
                    text[at] = static_cast<char>(random());
                    break;
                case 1:
                    text.insert(at, 1, specials[random() % specials.size()]);
                    break;
                case 2:
                    text.erase(at, random() % 64);
                    break;
                case 3:
                    text.insert(at, text.substr(random() % text.size(), random() % 128));
                    break;
                case 4:
                    text.resize(at);
                    break;
                default:
                    text.insert(at, "\x1B$B");
                    break;
            }
        }
        const int32_t encoding = round % 3;
        const int32_t mode = round / 3 % 2;
        EDescription top;
        ASSERT_EQ(ParseBytes(&top, text, mode, encoding), 0);
        EDescription back;
        ASSERT_EQ(ParseBytes(&back, WriteBytes(top, mode, encoding), mode, encoding), 0);
    }
}
