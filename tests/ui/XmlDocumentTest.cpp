// Layout document parser: the real skins, every error message with its
// location, entities, the attribute index and its limits, file loading, deep
// and wide documents, and mutated skins that must neither crash nor read
// outside the text.

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ControlTestSupport.h"
#include "Runtime/TextUtil.h"
#include "campaign/Mutators.h"
#include "support/TestSupport.h"
#include "ui/XmlDocument.h"

namespace {

std::string Utf8(const std::wstring& text) { return ToNarrow(text, CP_UTF8); }

std::string SkinBytes(const std::wstring& name) { return testsupport::ReadBytes(ctltest::SkinDir() + name); }

// The whole tree as one line, for comparing two parses.
std::wstring Dump(const CXmlNode& node) {
    std::wstring out;
    for (CXmlNode n = node; n.IsValid(); n = n.GetSibling()) {
        out += n.GetName();
        for (int i = 0; i < n.GetAttributeCount(); ++i) {
            out += L" ";
            out += n.GetAttributeName(i);
            out += L"=[";
            out += n.GetAttributeValue(i);
            out += L"]";
        }
        out += L"{";
        out += n.GetValue();
        out += L"}";
        if (n.HasChildren()) out += L"(" + Dump(n.GetChild()) + L")";
        out += L";";
    }
    return out;
}

TEST(XmlDocument, ByteOrderMarkParsesLikeNone) {
    for (const wchar_t* name : {L"InstallPackages.xml", L"MessageBox.xml"}) {
        std::string bytes = SkinBytes(name);
        ASSERT_FALSE(bytes.empty()) << "missing skin " << Utf8(name);
        if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
        const std::string withBom = "\xEF\xBB\xBF" + bytes;

        CXmlDocument plain, marked;
        ASSERT_TRUE(plain.LoadFromMemory(bytes.data(), bytes.size())) << plain.GetLastErrorMessage();
        ASSERT_TRUE(marked.LoadFromMemory(withBom.data(), withBom.size())) << marked.GetLastErrorMessage();
        EXPECT_STREQ(L"Window", plain.GetRoot().GetName());
        EXPECT_EQ(Dump(plain.GetRoot()), Dump(marked.GetRoot()));
    }
}

TEST(XmlDocument, ReportsEachErrorWithItsLocation) {
    struct Case {
        const wchar_t* text;
        const wchar_t* message;
        const wchar_t* location;
    };
    const Case cases[] = {
        {L"hello", L"Expected start tag", L"hello"},
        {L"<Window>text<Label/>more</Window>", L"Expected start tag", L"more</Window>"},
        {L"<Window><Button", L"Error parsing element name", L""},
        {L"<>", L"Error parsing element name", L">"},
        {L"<Window size 540/>", L"Error while parsing attributes", L"540/>"},
        {L"<Window a=\"1\"%/>", L"Error while parsing attributes", L"%/>"},
        {L"<Window <Label/>", L"Error while parsing attributes", L"<Label/>"},
        {L"<Window size='540'/>", L"Expected attribute value", L"'540'/>"},
        {L"<Window size=\"540,355/>", L"Error while parsing attribute string", L""},
        {L"<Window size=\"1\"", L"Expected start-tag closing", L""},
        {L"<Window size=\"1\" / >", L"Expected start-tag closing", L"/ >"},
        {L"<Window><Label></Window>", L"Unmatched closing tag", L"Window>"},
        {L"<Window></Windows>", L"Unmatched closing tag", L"s>"},
        // Cut short inside an element: not a complete document.
        {L"<Window><Label>text", L"Expected end-tag start", L""},
        {L"<Window><Label/>", L"Expected end-tag start", L""},
        {L"<Window><!-- never closed </Window>", L"Expected end-tag start", L""},
        // The location is cut at 49 characters.
        {L"<a><b/>yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy</a>", L"Expected start tag",
         L"yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.text));
        CXmlDocument doc;
        EXPECT_FALSE(doc.LoadFromText(c.text));
        EXPECT_EQ(c.message, doc.GetLastErrorMessage());
        EXPECT_EQ(c.location, doc.GetLastErrorLocation());
        EXPECT_FALSE(doc.IsValid());
        EXPECT_FALSE(doc.GetRoot().IsValid());
    }
}

TEST(XmlDocument, ReloadEndsOldCursorsAndClearsTheError) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFromText(L"<Window><Label text=\"a\"/></Window>"));
    CXmlNode oldLabel = doc.GetRoot().GetChild();
    EXPECT_FALSE(doc.LoadFromText(L"<Window"));
    ASSERT_TRUE(doc.LoadFromText(L"<A/>"));
    EXPECT_EQ(L"", doc.GetLastErrorMessage());
    // The old cursor's positions would point anywhere in the new text.
    EXPECT_FALSE(oldLabel.IsValid());
    EXPECT_EQ(L"", oldLabel.GetAttributeValue(L"text"));
}

TEST(XmlDocument, DecodesThePredefinedEntitiesOnly) {
    struct Case {
        const wchar_t* written;
        const wchar_t* read;
    };
    const Case cases[] = {
        {L"&lt;b&gt;", L"<b>"},
        {L"&amp;&quot;&apos;", L"&\"'"},
        {L"&copy; 2024", L"&copy; 2024"},
        {L"&#65;&#x42;", L"&#65;&#x42;"},
        {L"a & b &", L"a & b &"},
        {L"&amp", L"&amp"},
        {L"&&lt;&", L"&<&"},
        {L"&amp;lt;", L"&lt;"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.written));
        const std::wstring text =
            std::wstring(L"<a v=\"") + c.written + L"\" next=\"2\"><b w=\"" + c.written + L"\"/></a>";
        CXmlDocument doc;
        ASSERT_TRUE(doc.LoadFromText(text.c_str())) << doc.GetLastErrorMessage();
        CXmlNode a = doc.GetRoot();
        EXPECT_EQ(c.read, a.GetAttributeValue(L"v"));
        // The blanks left where the value shrank must not hide what follows.
        EXPECT_EQ(2, a.GetAttributeCount());
        EXPECT_EQ(L"2", a.GetAttributeValue(L"next"));
        EXPECT_EQ(c.read, a.GetChild().GetAttributeValue(L"w"));

        const std::wstring content = std::wstring(L"<a>") + c.written + L"<b/></a>";
        ASSERT_TRUE(doc.LoadFromText(content.c_str())) << doc.GetLastErrorMessage();
        EXPECT_STREQ(c.read, doc.GetRoot().GetValue());
        EXPECT_STREQ(L"b", doc.GetRoot().GetChild().GetName());
    }
}

TEST(XmlDocument, AttributeIndexHoldsTheFirst64) {
    std::wstring text = L"<Button";
    for (int i = 0; i < 65; ++i) text += L" a" + std::to_wstring(i) + L"=\"v" + std::to_wstring(i) + L"\"";
    text += L" a0=\"again\"/>";
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFromText(text.c_str())) << doc.GetLastErrorMessage();
    CXmlNode node = doc.GetRoot();
    EXPECT_EQ(CXmlNode::kMaxAttributes, node.GetAttributeCount());
    EXPECT_EQ(L"v63", node.GetAttributeValue(L"a63"));
    EXPECT_FALSE(node.HasAttribute(L"a64"));
    EXPECT_EQ(L"", node.GetAttributeValue(L"a64"));
    EXPECT_EQ(L"v0", node.GetAttributeValue(L"a0"));  // the first of two wins
    for (int outside : {-1, 64, 65, 1000}) {
        EXPECT_STREQ(L"", node.GetAttributeName(outside));
        EXPECT_STREQ(L"", node.GetAttributeValue(outside));
    }
}

TEST(XmlDocument, ValueByNameIsCutToTheBuffer) {
    const std::wstring longValue(600, L'q');
    const std::wstring text = L"<a long=\"" + longValue + L"\" short=\"abc\"/>";
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFromText(text.c_str()));
    CXmlNode a = doc.GetRoot();
    EXPECT_EQ(std::wstring(499, L'q'), a.GetAttributeValue(L"long"));
    EXPECT_EQ(longValue, a.GetAttributeValue(0));  // by position nothing is cut

    wchar_t small[3] = {L'#', L'#', L'#'};
    EXPECT_TRUE(a.GetAttributeValue(L"short", small, 3));
    EXPECT_STREQ(L"ab", small);
    EXPECT_FALSE(a.GetAttributeValue(L"missing", small, 3));
    EXPECT_STREQ(L"", small);
}

TEST(XmlDocument, SkipsCommentsAndDeclarationsAndKeepsContentWhitespace) {
    const wchar_t* text =
        L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!-- head -->\n"
        L"<Window>\n  <!-- a > b -->\n  <Label text=\"x\">  two  words \n\t</Label>\n"
        L"  <? odd ?>\n  <Button/>\n</Window>\n<!-- tail -->\n";
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFromText(text)) << doc.GetLastErrorMessage();
    EXPECT_EQ(L"Window{\n  }(Label text=[x]{  two  words \n\t};Button{};);", Dump(doc.GetRoot()));
    EXPECT_EQ(3u, doc.GetElementCount());

    CXmlDocument collapsing(false);
    ASSERT_TRUE(collapsing.LoadFromText(L"<a v=\"x   y\">one  \n two</a>"));
    EXPECT_EQ(L"x y", collapsing.GetRoot().GetAttributeValue(L"v"));
    EXPECT_STREQ(L"one two", collapsing.GetRoot().GetValue());
}

TEST(XmlDocument, TableGrowsForThousandsOfElements) {
    const int count = 10000;
    std::wstring text = L"<List>";
    for (int i = 0; i < count; ++i) text += L"<Item n=\"" + std::to_wstring(i) + L"\"/>";
    text += L"</List>";
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFromText(text.c_str()));
    EXPECT_EQ(static_cast<size_t>(count + 1), doc.GetElementCount());
    // 500, 1250, 2375, 4062, 6593, 10389 records.
    EXPECT_EQ(10389u, doc.GetTableCapacity());
    int seen = 0;
    for (CXmlNode item = doc.GetRoot().GetChild(); item.IsValid(); item = item.GetSibling(), ++seen) {
        ASSERT_EQ(std::to_wstring(seen), item.GetAttributeValue(L"n"));
    }
    EXPECT_EQ(count, seen);
}

TEST(XmlDocument, DeepNestingNeedsNoDeepStack) {
    const int depth = 200000;
    std::wstring text;
    for (int i = 0; i < depth; ++i) text += L"<d>";
    for (int i = 0; i < depth; ++i) text += L"</d>";
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadFromText(text.c_str())) << doc.GetLastErrorMessage();
    int levels = 0;
    for (CXmlNode n = doc.GetRoot(); n.IsValid(); n = n.GetChild()) ++levels;
    EXPECT_EQ(depth, levels);
}

TEST(XmlDocument, FileLoadingReportsWhyItFailed) {
    struct Case {
        XmlFileStatus status;
        std::string bytes;
        const wchar_t* message;
    };
    const Case cases[] = {
        {XmlFileStatus::ZipOpenFailed, "", L"Error opening zip file"},
        {XmlFileStatus::NotInZip, "", L"Could not find ziped file"},
        {XmlFileStatus::UnzipFailed, "", L"Could not unzip file"},
        {XmlFileStatus::OpenFailed, "", L"Error opening file"},
        {XmlFileStatus::ReadFailed, "<a/>", L"Could not read file"},
        {XmlFileStatus::Ok, "", L"File is empty"},
        {XmlFileStatus::Ok, std::string(CXmlDocument::kMaxFileBytes + 1, ' '), L"File too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.message));
        CXmlDocument doc;
        std::wstring asked;
        EXPECT_FALSE(doc.LoadFromFile(L"MessageBox.xml", [&](const std::wstring& name, std::vector<unsigned char>& out) {
            asked = name;
            out.assign(c.bytes.begin(), c.bytes.end());
            return c.status;
        }));
        EXPECT_EQ(L"MessageBox.xml", asked);
        EXPECT_EQ(c.message, doc.GetLastErrorMessage());
        EXPECT_EQ(L"", doc.GetLastErrorLocation());
        EXPECT_FALSE(doc.IsValid());
    }

    testsupport::TempDir dir;
    CXmlDocument doc;
    EXPECT_FALSE(doc.LoadFromFile(dir / L"missing.xml", ReadXmlFileFromDisk));
    EXPECT_EQ(L"Error opening file", doc.GetLastErrorMessage());
    ASSERT_TRUE(testsupport::WriteBytes(dir / L"empty.xml", ""));
    EXPECT_FALSE(doc.LoadFromFile(dir / L"empty.xml", ReadXmlFileFromDisk));
    EXPECT_EQ(L"File is empty", doc.GetLastErrorMessage());
    ASSERT_TRUE(testsupport::WriteBytes(dir / L"ok.xml", Utf8(L"<Label text=\"确定\"/>")));
    ASSERT_TRUE(doc.LoadFromFile(dir / L"ok.xml", ReadXmlFileFromDisk));
    EXPECT_EQ(L"确定", doc.GetRoot().GetAttributeValue(L"text"));
}

// Walks the whole tree; every string a cursor hands out must lie inside the
// parsed text, and the links must not loop. Returns false on the first fault.
bool WalkStaysInsideText(const CXmlDocument& doc) {
    const wchar_t* begin = doc.GetText();
    const wchar_t* end = begin + doc.GetTextLength();
    auto inside = [&](const wchar_t* s) {
        if (*s == L'\0' && (s < begin || s > end)) return true;  // the literal "" for nothing
        return s >= begin && s <= end && s + wcslen(s) <= end;
    };
    size_t visited = 0;
    std::vector<CXmlNode> pending{doc.GetRoot()};
    while (!pending.empty()) {
        CXmlNode first = pending.back();
        pending.pop_back();
        for (CXmlNode n = first; n.IsValid(); n = n.GetSibling()) {
            if (++visited > doc.GetElementCount() || !inside(n.GetName()) || !inside(n.GetValue())) return false;
            for (int i = 0; i < n.GetAttributeCount(); ++i) {
                if (!inside(n.GetAttributeName(i)) || !inside(n.GetAttributeValue(i))) return false;
                if (n.GetAttributeValue(n.GetAttributeName(i)).size() > 499) return false;
            }
            if (n.HasChildren()) pending.push_back(n.GetChild());
        }
    }
    return true;
}

TEST(XmlDocument, SurvivesMutatedLayouts) {
    const std::string seeds[] = {SkinBytes(L"InstallPackages.xml"), SkinBytes(L"MessageBox.xml")};
    ASSERT_FALSE(seeds[0].empty() || seeds[1].empty());
    const std::set<std::wstring> messages = {
        L"Expected start tag", L"Error parsing element name", L"Error while parsing attributes",
        L"Expected attribute value", L"Error while parsing attribute string", L"Expected start-tag closing",
        L"Expected end-tag start", L"Unmatched closing tag",
    };
    std::mt19937 rng(20240611u);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int parsed = 0, rejected = 0;
    for (int round = 0; round < 5000 && std::chrono::steady_clock::now() < deadline; ++round) {
        const std::string doc = campaign::MutateMarkup(seeds[round % 2], rng);
        CXmlDocument xml;
        if (xml.LoadFromMemory(doc.data(), doc.size())) {
            ++parsed;
            ASSERT_TRUE(WalkStaysInsideText(xml)) << "round " << round;
        } else {
            ++rejected;
            ASSERT_EQ(1u, messages.count(xml.GetLastErrorMessage())) << "round " << round;
            ASSERT_LE(xml.GetLastErrorLocation().size(), CXmlDocument::kMaxLocationChars);
        }
    }
    // Both outcomes must have been exercised for the run to mean anything.
    EXPECT_GT(parsed, 50);
    EXPECT_GT(rejected, 50);
}

}  // namespace
