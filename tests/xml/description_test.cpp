#include "xml/description.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "xml/xml_support.h"

namespace {

const char kNoClosingBracketA[] = "XML 構文エラー : </a> の閉じ括弧がありません。\n";
const char kNoMatchingTagB[] = "XML 構文エラー : </b> に対応するタグがありません。\n";
const char kStraySlash[] = "XML 構文エラー : 書式中に不正な / 記号を見つけました。\n";
const char kBadAttributeA[] = "XML 構文エラー : <a> タグの属性の書式が不正です。\n";
const char kBadCharacterCode[] = "XML 構文エラー : &#xxx; 構文で文字コードの指定が不正です。\n";
const char kNumericNoSemicolon[] = "XML 構文エラー : &#xxx; 構文がセミコロンで閉じられていません。\n";
const char kEntityNoSemicolon[] = "XML 構文エラー : 特殊文字の終端はセミコロンで終わらなければなりません。\n";
const char kBareAmpersand[] = "XML 構文エラー : & 記号は &amp; と記述しなければなりません。\n";
const char kInvalidEncoding[] = "不正な文字エンコーディングが指定されました。";

std::string Joined(const std::vector<std::string>& messages) {
    std::string out;
    for (const auto& m : messages) out += m;
    return out;
}

}  // namespace

// The tolerant dialect: what each construct becomes, and what is reported.
TEST(Description, ParsesTheDialect) {
    const struct {
        const char* text;
        const char* picture;
        std::string messages;
        int32_t escape_mode;
    } cases[] = {
        {"<a x=\"1\" b = \"2\"><c/>\r\n</a>", "{a[b=2,x=1]{c}}", "", 0},
        // Unquoted values run to white space, a '>' right after them included.
        {"<a x=1>text", "{a[x=1>text]}", "", 0},
        {"<a x=1> <c/></a>", "{a[x=1>]{\">\"}}", kBadAttributeA, 0},
        // Single quotes do not delimit.
        {"<a x='v' />", "{a[x='v']}", "", 0},
        {"<?xml version=\"1.0\" encoding=\"iso-2022-jp\"?><!DOCTYPE a><a/>", "{a}", "", 0},
        {"<a><b>x</B></A><z/>", "{a{b{\"x\"}} z}", "", 0},
        {"<a>x</b>y</a>", "{a{\"x>y\"}}", kNoMatchingTagB, 0},
        {"<a>\r\n\tone\r\n\ttwo three\r\n</a>", "{a{\"onetwo three\"}}", "", 0},
        {"<a>x <b/> y<!-- c -- d -->z</a>", "{a{\"x \" b \" yz\"}}", "", 0},
        {"<a>&#65;&#41h;&#x41;</a>", "{a{\"AA&#x41;\"}}", kBadCharacterCode, 0},
        {"<a>&lt;&gt;&quot;&amp;&nbsp;|&zzz;</a>", "{a{\"<>\"& |&zzz;\"}}", kBareAmpersand, 0},
        {"<a>&#65 &lt x</a>", "{a{\"A < x\"}}", std::string(kNumericNoSemicolon) + kEntityNoSemicolon, 0},
        {"<a>a & <b/></a>", "{a{\"a & \" b}}", kBareAmpersand, 0},
        {"<a/ x>", "{a \"x>\"}", kStraySlash, 0},
        {"<a></a", "{a}", kNoClosingBracketA, 0},
        {"<a></a x><b/>", "{a \"x>\" b}", kNoClosingBracketA, 0},
        {"<>x<a-b.c:d e-f=\"&amp;&#10;&bogus;&#x41;\" />", "{\"x\" a-b.c:d[e-f=&\\x0A&bogus;&#x41;]}", "", 0},
        {"<a x=\"&lt;\\x41\\\"q\" />", "{a[x=&lt;A\"q]}", "", 1},
        {"<a x=\"&lt;\\x41\\\"q\" />", "{a[x=<\\x41\\]{\">\"}}", kBadAttributeA, 0},
        {"<a x=\"1\" x=\"2\"/>", "{a[x=2]}", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TraceCapture trace;
        EXPECT_EQ(PictureOf(c.text, c.escape_mode), c.picture);
        EXPECT_EQ(Joined(trace.messages), c.messages);
    }
}

TEST(Description, WritesLinesThatReadBack) {
    EDescription top;
    EDescription* a = top.GetOrCreateChild(0, HVB_WTEXT("a"));
    a->SetChildContents(nullptr, HVB_WTEXT("t"));
    top.GetOrCreateChild(0, HVB_WTEXT("empty"))->SetAttributeString(HVB_WTEXT("v"), HVB_WTEXT("x y"));
    EXPECT_EQ(WriteBytes(top, 0, 0), "<a>\r\n\tt\r\n</a>\r\n<empty v=\"x&nbsp;y\"/>\r\n");
    EXPECT_EQ(WriteBytes(*a, 0, 0, 2), "\t\t<a>\r\n\t\t\tt\r\n\t\t</a>\r\n");

    // A quote followed by a hexadecimal digit keeps a reader of three digits
    // from running on.
    EDescription quote;
    quote.SetTag(HVB_WTEXT("q"));
    quote.SetAttributeString(HVB_WTEXT("v"), HVB_WTEXT("\"A\"g\\\n\t'\x01"));
    const std::string written = WriteBytes(quote, 1, 0);
    EXPECT_EQ(written, "<q v=\"\\x022A\\x22g\\\\\\n\\t\\x27\\x01\"/>\r\n");
    EXPECT_EQ(PictureOf(written, 1), "{" + Picture(quote) + "}");

    // Text over several lines keeps its line feeds and the indentation of
    // the lines that follow.
    EDescription multi;
    multi.SetTag(HVB_WTEXT("m"));
    multi.SetChildContents(nullptr, HVB_WTEXT(" two\nlines \n"));
    EXPECT_EQ(WriteBytes(multi, 0, 0, 1), "\t<m>\r\n\t\t&nbsp;two&#10;\r\n\t\tlines&nbsp;&#10;\r\n\t</m>\r\n");
}

// Written and read back, in every encoding and escape mode, a tree comes back
// equal, Japanese text, markup characters, controls and spaces included.
TEST(Description, RoundTripsInEveryEncoding) {
    EDescription top;
    EDescription* root = top.GetOrCreateChild(0, HVB_WTEXT("ルート"));
    root->SetAttributeString(HVB_WTEXT("名前"), HVB_WTEXT("値 \"引用\" \\ & < > '\t\r\nｶﾅ"));
    root->SetAttributeString(HVB_WTEXT("empty"), HVB_WTEXT(""));
    root->SetAttributeInteger(HVB_WTEXT("n"), -42);
    EDescription* text = new EDescription;
    text->SetContents(HVB_WTEXT("  前後に空白 & <記号> \"\t\x01 "));
    root->AddChild(text);
    EDescription* child = root->GetOrCreateChild(0, HVB_WTEXT("child"));
    child->SetChildContents(nullptr, HVB_WTEXT("行1\n行2\n"));
    root->AddChild(new EDescription);
    root->GetChildAt(2)->SetContents(HVB_WTEXT("後"));
    const std::string expected = Picture(top);
    for (int32_t encoding = 0; encoding < 3; ++encoding) {
        for (int32_t mode = 0; mode < 2; ++mode) {
            SCOPED_TRACE(testing::Message() << "encoding " << encoding << " mode " << mode);
            TraceCapture trace;
            const std::string bytes = WriteBytes(top, mode, encoding);
            EXPECT_EQ(PictureOf(bytes, mode, encoding), expected);
            EXPECT_TRUE(trace.messages.empty());
        }
    }
}

TEST(Description, RefusesUnknownEncodings) {
    EDescription top;
    top.SetTag(HVB_WTEXT("keep"));
    top.AddChild(new EDescription);
    EStreamBuffer stream("<a/>", 4);
    const ResultCode read = top.ReadDescription(&stream, 0, 3);
    EXPECT_STREQ(GetResultText(read), kInvalidEncoding);
    EXPECT_EQ(stream.GetLength(), 4u);
    EXPECT_EQ(top.GetChildCount(), 1u);
    VectorFile file;
    EXPECT_EQ(top.WriteDescription(&file, 0, 0, -1), read);
    EXPECT_TRUE(file.bytes.empty());

    EXPECT_STREQ(EDescription::GetEncodingName(0), "Shift_JIS");
    EXPECT_STREQ(EDescription::GetEncodingName(2), "iso-2022-jp");
    EXPECT_EQ(EDescription::GetEncodingName(3), nullptr);
    EXPECT_EQ(EDescription::GetEncodingCode("UTF-8"), 1);
    EXPECT_EQ(EDescription::GetEncodingCode("ISO-2022-jp"), 2);
    EXPECT_EQ(EDescription::GetEncodingCode("utf-16"), 0);

    // A file that takes less than it is given is a failure.
    VectorFile short_file;
    short_file.short_writes = true;
    EXPECT_EQ(top.WriteDescription(&short_file, 0, 0, 0), ResultGeneralError);
}

TEST(Description, Accessors) {
    EDescription node;
    node.SetTag(HVB_WTEXT("n"));
    EXPECT_STREQ(node.GetClassName(), "EDescription");
    const WideChar* names[] = {HVB_WTEXT("b"), HVB_WTEXT("B"), HVB_WTEXT("a"), HVB_WTEXT("ab"), HVB_WTEXT("日")};
    for (const WideChar* n : names) node.SetAttributeString(n, n);
    node.SetAttributeString(HVB_WTEXT("a"), HVB_WTEXT("again"));
    ASSERT_EQ(node.GetAttributeCount(), 5u);
    EXPECT_EQ(Utf8(node.GetAttributeName(0)), "B");
    EXPECT_EQ(Utf8(node.GetAttributeName(1)), "a");
    EXPECT_EQ(Utf8(node.GetAttributeValue(1)), "again");
    EXPECT_EQ(node.GetAttributeName(4).Compare(HVB_WTEXT("日")), 0);
    EXPECT_TRUE(node.GetAttributeName(5).IsEmpty());
    node.RemoveAttribute(HVB_WTEXT("ab"));
    node.RemoveAttribute(0u);
    EXPECT_EQ(Picture(node), Utf8(EWideString(HVB_WTEXT("n[a=again,b=b,日=日]"))));

    node.SetAttributeString(HVB_WTEXT("hex"), HVB_WTEXT("0FFh"));
    node.SetAttributeString(HVB_WTEXT("word"), HVB_WTEXT("x1"));
    node.SetAttributeInteger(HVB_WTEXT("int"), -7);
    node.SetAttributeReal(HVB_WTEXT("real"), 2.5);
    EXPECT_EQ(node.GetAttributeInteger(HVB_WTEXT("hex"), 1), 255);
    EXPECT_EQ(node.GetAttributeInteger(HVB_WTEXT("word"), 1), 1);
    EXPECT_EQ(node.GetAttributeInteger(HVB_WTEXT("none"), 9), 9);
    EXPECT_EQ(node.GetAttributeInteger(HVB_WTEXT("int"), 0), -7);
    EXPECT_EQ(node.GetAttributeReal(HVB_WTEXT("real"), 0), 2.5);
    EXPECT_EQ(node.GetAttributeInteger(HVB_WTEXT("real"), 0), 2);
    EXPECT_EQ(Utf8(node.GetAttributeString(HVB_WTEXT("none"), HVB_WTEXT("dflt"))), "dflt");
    node.RemoveAllAttributes();
    EXPECT_EQ(node.GetAttributeCount(), 0u);

    // Children: find by tag in any letter case, by attribute, create, insert.
    EDescription top;
    top.AddChild(new EDescription);  // a text node
    for (const WideChar* tag : {HVB_WTEXT("item"), HVB_WTEXT("Item"), HVB_WTEXT("other"), HVB_WTEXT("ITEM")}) {
        EDescription* e = new EDescription;
        e->SetTag(tag);
        e->SetAttributeString(HVB_WTEXT("id"), tag);
        top.AddChild(e);
    }
    EXPECT_EQ(top.FindChildIndex(0, HVB_WTEXT("iTeM")), 1);
    EXPECT_EQ(top.FindChildIndex(2, HVB_WTEXT("item")), 2);
    EXPECT_EQ(top.FindChildIndex(-5, nullptr), 0);
    EXPECT_EQ(top.FindChildIndex(1, nullptr), -1);
    int32_t next = 0;
    EXPECT_EQ(top.FindChild(3, HVB_WTEXT("item"), &next), top.GetChildAt(4));
    EXPECT_EQ(next, 5);
    EXPECT_EQ(top.FindChild(5, HVB_WTEXT("item"), &next), nullptr);
    EXPECT_EQ(next, -1);
    EXPECT_EQ(top.FindChildWithAttribute(0, HVB_WTEXT("id"), HVB_WTEXT("ITEM"), HVB_WTEXT("item"), &next),
              top.GetChildAt(4));
    EXPECT_EQ(top.FindChildWithAttribute(0, HVB_WTEXT("id"), HVB_WTEXT("item"), HVB_WTEXT("item"), &next),
              top.GetChildAt(1));
    EXPECT_EQ(next, 2);
    EXPECT_EQ(top.GetOrCreateChild(0, HVB_WTEXT("OTHER")), top.GetChildAt(3));
    EDescription* created = top.GetOrCreateChild(0, HVB_WTEXT("new"));
    EXPECT_EQ(top.GetChildAt(5), created);
    EXPECT_EQ(created->GetParent(), &top);
    EDescription* first = new EDescription;
    first->SetTag(HVB_WTEXT("first"));
    top.InsertChild(-3, first);
    top.InsertChild(99, new EDescription);
    EXPECT_EQ(top.GetChildAt(0), first);
    EXPECT_EQ(top.GetChildCount(), 8u);
    top.RemoveChild(7);
    top.RemoveChild(40);
    EXPECT_EQ(top.GetChildCount(), 7u);

    // Child contents: only a text node as first child counts.
    EXPECT_EQ(top.SetChildContents(HVB_WTEXT("new"), HVB_WTEXT("v")), 0);
    EXPECT_EQ(Utf8(top.GetChildContents(HVB_WTEXT("NEW"), HVB_WTEXT("d"))), "v");
    EXPECT_EQ(top.SetChildContents(HVB_WTEXT("new"), HVB_WTEXT("w")), 0);
    EXPECT_EQ(top.GetChildAt(6)->GetChildCount(), 1u);
    EXPECT_EQ(Utf8(top.GetChildContents(HVB_WTEXT("made"), HVB_WTEXT("d"))), "d");
    EXPECT_EQ(top.SetChildContents(HVB_WTEXT("made"), HVB_WTEXT("m")), 0);
    EXPECT_EQ(Utf8(top.GetChildContents(HVB_WTEXT("made"), HVB_WTEXT("d"))), "m");
    EXPECT_EQ(top.SetChildContents(nullptr, HVB_WTEXT("x")), 1);  // the first child is an element
    EXPECT_EQ(Utf8(top.GetChildContents(nullptr, HVB_WTEXT("d"))), "d");

    // A copy is deep and independent.
    const std::string before = Picture(top);
    EDescription copy(top);
    EXPECT_EQ(copy.GetParent(), nullptr);
    top.RemoveAllChildren();
    EXPECT_EQ(Picture(copy), before);
    EXPECT_EQ(copy.GetChildAt(1)->GetParent(), &copy);
}

// Hostile input: never a crash, a hang or a deep recursion.
TEST(Description, SurvivesBadInput) {
    const std::string sample =
        "<?xml version=\"1.0\"?>\r\n<root a=\"1\" b=x>\r\n\t<!-- note -->\r\n\t<item k=\"&lt;&#65;\">t &amp; u</item>"
        "\r\n\t<e/>\r\n</root>\r\n";
    for (size_t n = 0; n <= sample.size(); ++n) {
        for (int32_t encoding = 0; encoding < 3; ++encoding) {
            EDescription top;
            EXPECT_EQ(ParseBytes(&top, sample.substr(0, n), n & 1, encoding), 0);
        }
    }
    const char* unterminated[] = {"<a><!-- never closed", "<a x=\"never closed", "<a>&#", "<a>&am", "<a x",
                                  "<", "</", "<a/", "<a x=", "<!", "<?", "&", "<a>\\", "<a x=\"\\"};
    for (const char* text : unterminated) {
        for (int32_t mode = 0; mode < 2; ++mode) {
            EDescription top;
            EXPECT_EQ(ParseBytes(&top, text, mode, 1), 0) << text;
        }
    }
    EXPECT_EQ(PictureOf("<a><!-- never closed <b/>"), "{a}");
    EXPECT_EQ(PictureOf("<a x=\"never <b/>"), "{a[x=never <b/>]}");

    std::mt19937 random(12);
    for (int round = 0; round < 40; ++round) {
        std::string bytes(static_cast<size_t>(random() % 3000), '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        for (int32_t encoding = 0; encoding < 3; ++encoding) {
            EDescription top;
            EXPECT_EQ(ParseBytes(&top, bytes, round & 1, encoding), 0);
            WriteBytes(top, round & 1, encoding);
        }
    }
}

// Nesting beyond the limit is cut with one message; the parser neither
// recurses nor gives up, and the levels close again in order.
TEST(Description, CutsDeepNesting) {
    const int levels = 100000;
    std::string text;
    for (int i = 0; i < levels; ++i) text += "<a>";
    text += "deep";
    for (int i = 0; i < levels; ++i) text += "</a>";
    text += "<after/>";
    TraceCapture trace;
    EDescription top;
    ASSERT_EQ(ParseBytes(&top, text, 0, 1), 0);
    ASSERT_EQ(trace.messages.size(), 1u);
    EXPECT_NE(trace.messages[0].find("<a>"), std::string::npos);
    uint32_t depth = 0;
    const EDescription* node = &top;
    while (node->GetChildCount() > 0 && !node->GetChildAt(0)->GetTag().IsEmpty()) {
        node = node->GetChildAt(0);
        ++depth;
    }
    EXPECT_EQ(depth, EDescription::kMaxDepth);
    EXPECT_EQ(node->GetChildCount(), 0u);  // the text was below the limit
    ASSERT_EQ(top.GetChildCount(), 2u);
    EXPECT_EQ(Utf8(top.GetChildAt(1)->GetTag()), "after");

    // A tree built by hand may be deeper than any stack: copying and deleting
    // walk it without recursion.
    EDescription* built = new EDescription;
    EDescription* leaf = built;
    for (int i = 0; i < levels; ++i) leaf = leaf->GetOrCreateChild(0, HVB_WTEXT("n"));
    EDescription* copy = new EDescription(*built);
    delete built;
    delete copy;
}
