#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "xml/Tavix.h"

namespace {

namespace fs = std::filesystem;
using Tavix::CXmlDocument;

class XmlDocumentFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        m_dir = fs::path(::testing::TempDir()) / (std::string("vexa_xml_") + info->name());
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    std::string PathOf(const std::string& name) const { return (m_dir / name).string(); }
    static void Write(const std::string& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::size_t FilesInDir() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()));
    }

    fs::path m_dir;
};

TEST(XmlDocument, ClosedDocumentFailsEveryOperation) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.GetRoot());
    EXPECT_TRUE(doc.GetRoot()->IsNull());
    EXPECT_TRUE(doc.SelectSingleNode("//a")->IsNull());
    EXPECT_FALSE(doc.Save(nullptr));
    EXPECT_TRUE(doc.Create());
    EXPECT_TRUE(doc.GetRoot()->IsNull());  // open but empty
    EXPECT_FALSE(doc.Save(nullptr));       // nowhere to write
}

TEST(XmlDocument, RejectsWhatIsNotOneWellFormedDocument) {
    for (const char* bad :
         {"", "   ", "plain text", "<a>", "<a></b>", "<a/><b/>", "x<a/>", "<a/>tail",
          "<a b='1' b='2'/>", "<a><b c='1' d='' c='2'/></a>", "<?xml version='1.0'?>",
          "<a/><?xml version='1.0'?>", "<a/><!DOCTYPE a>"}) {
        CXmlDocument doc;
        EXPECT_FALSE(doc.LoadXml(bad)) << bad;
        EXPECT_TRUE(doc.GetRoot()->IsNull()) << bad;
    }
    CXmlDocument doc;
    EXPECT_FALSE(doc.LoadXml(nullptr));
    ASSERT_TRUE(doc.LoadXml("<?xml version='1.0'?><!DOCTYPE a><!-- c --><a/><!-- after -->"));
    EXPECT_EQ(doc.GetRoot()->GetName(), "a");
    // A failed parse starts from an empty document: the old content is gone.
    EXPECT_FALSE(doc.LoadXml("<broken"));
    EXPECT_TRUE(doc.GetRoot()->IsNull());
}

TEST(XmlDocument, RefusesWhatTheParserWouldLetThrough) {
    for (const char* bad :
         {"<a>AT&T</a>", "<a b=\"<\"/>", "<a>&foo;</a>", "<a>\x01</a>", "<a b='x\x1fy'/>",
          "<a><!-- \x0b --></a>", "<a b='&nbsp;'/>", "<a b=\"1\"c=\"2\"/>", "<a b='<'/>",
          "<a>&amp</a>", "<a>&#1;</a>", "<a>&#xD800;</a>", "<a>&#X41;</a>", "<a>&#;</a>",
          "<a>&#99999999999999999999;</a>", "<a>]]></a>", "<a><!-- a -- b --></a>",
          "<a><!-- a ---></a>", "<a>\xEF\xBF\xBF</a>"}) {
        CXmlDocument doc;
        EXPECT_FALSE(doc.LoadXml(bad)) << bad;
        EXPECT_TRUE(doc.GetRoot()->IsNull()) << bad;
    }
}

TEST(XmlDocument, AcceptsReferencesCdataCommentsInstructionsAndUtf8Text) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE r [<!ELEMENT r ANY>]>\n"
        "<r a=\"&lt;&gt;&amp;&apos;&quot;&#65;&#x42;&#x10FFFF;\" b='x > y'>\t<!-- a - b -->"
        "<![CDATA[AT&T <x> ]]><?pi & < ?><t>\xE8\xAF\xAD\xE6\x96\x87 &#20013;&#x6587;</t></r>"));
    EXPECT_EQ(doc.GetRoot()->GetAttribute("a", nullptr), "<>&'\"AB\xF4\x8F\xBF\xBF");
    EXPECT_EQ(doc.GetRoot()->GetAttribute("b", nullptr), "x > y");
    EXPECT_EQ(doc.SelectSingleNode("t")->GetValue(),
              "\xE8\xAF\xAD\xE6\x96\x87 \xE4\xB8\xAD\xE6\x96\x87");
    std::string text;
    ASSERT_TRUE(doc.GetRoot()->GetText(text));
    EXPECT_NE(text.find("AT&T <x> "), std::string::npos);
    // The bridge's requests, with the escapes the page writes.
    ASSERT_TRUE(
        doc.LoadXml("<invoke name=\"RecUpload\" returntype=\"xml\"><arguments><string>a&amp;b"
                    "&lt;c&gt;&quot;&apos;</string><number>3</number><true/></arguments>"
                    "</invoke>"));
    EXPECT_EQ(doc.SelectSingleNode("arguments/string")->GetValue(), "a&b<c>\"'");
    // A carriage return from a reference survives being written out and read back.
    ASSERT_TRUE(doc.LoadXml("<r>a&#xD;b&#13;&#10;c</r>"));
    const std::string markup = doc.GetRoot()->GetXml();
    CXmlDocument again;
    ASSERT_TRUE(again.LoadXml(markup.c_str()));
    EXPECT_EQ(again.GetRoot()->GetValue(), "a\rb\r\nc");
    EXPECT_EQ(again.GetRoot()->GetXml(), markup);
}

TEST(XmlDocument, AbsoluteAndRelativeSelectionsStartAtTheDocumentElement) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<config><DelMod><m>1</m></DelMod></config>"));
    EXPECT_EQ(doc.SelectSingleNode("//config/DelMod")->GetName(), "DelMod");
    EXPECT_EQ(doc.SelectSingleNode("/config/DelMod/m")->GetValue(), "1");
    EXPECT_EQ(doc.SelectSingleNode("DelMod/m")->GetValue(), "1");
    EXPECT_TRUE(doc.SelectSingleNode("config")->IsNull());  // not relative to the document node
}

TEST_F(XmlDocumentFiles, MissingFileKeepsTheLoadedDocument) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<kept/>"));
    EXPECT_FALSE(doc.Open(PathOf("absent.xml").c_str()));
    EXPECT_FALSE(doc.Open(nullptr));
    EXPECT_EQ(doc.GetRoot()->GetName(), "kept");
}

TEST_F(XmlDocumentFiles, BrokenFileFailsButRemembersItsPath) {
    const std::string path = PathOf("broken.xml");
    Write(path, "<a><b></a>");
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<old/>"));
    EXPECT_FALSE(doc.Open(path.c_str()));
    EXPECT_TRUE(doc.GetRoot()->IsNull());
    ASSERT_TRUE(doc.GetRoot()->IsNull());
    // The document is empty now, but a save without a path goes to the file it tried.
    EXPECT_TRUE(doc.Save(nullptr));
    CXmlDocument reread;
    EXPECT_FALSE(reread.Open(path.c_str()));  // an empty document has no element
    EXPECT_EQ(Read(path).find("<a>"), std::string::npos);
}

TEST_F(XmlDocumentFiles, SaveAndOpenRoundTripIdentically) {
    const std::string xml =
        "<VerDel><!--modules--><mod name=\"a&amp;b\">3</mod><语文>2</语文>"
        "<mixed>x<b>y</b>z</mixed><sp> padded </sp><e/><?keep this?></VerDel>";
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml(xml.c_str()));
    const std::string path = PathOf("VerDel.Dat");
    EXPECT_FALSE(doc.Save(nullptr));  // LoadXml leaves no stored path
    ASSERT_TRUE(doc.Save(path.c_str()));

    CXmlDocument reread;
    ASSERT_TRUE(reread.Open(path.c_str()));
    EXPECT_EQ(reread.GetRoot()->GetXml(), xml);

    // A save without a path now goes to the same file again.
    ASSERT_TRUE(reread.GetRoot()->NewChild("added"));
    ASSERT_TRUE(reread.Save(nullptr));
    CXmlDocument third;
    ASSERT_TRUE(third.Open(path.c_str()));
    EXPECT_FALSE(third.SelectSingleNode("added")->IsNull());
    EXPECT_EQ(FilesInDir(), 1u);  // no temporary left behind
}

TEST_F(XmlDocumentFiles, FailedSaveLeavesTheOldFileAndPath) {
    const std::string path = PathOf("keep.xml");
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<old/>"));
    ASSERT_TRUE(doc.Save(path.c_str()));
    const std::string before = Read(path);

    ASSERT_TRUE(doc.LoadXml("<new/>"));
    EXPECT_FALSE(doc.Save(PathOf("no/such/folder/x.xml").c_str()));
    fs::create_directory(PathOf("adir"));
    EXPECT_FALSE(doc.Save(PathOf("adir").c_str()));  // a folder cannot be replaced by a file
    EXPECT_EQ(Read(path), before);
    EXPECT_FALSE(doc.Save(nullptr));  // the failed saves stored no path
    EXPECT_EQ(FilesInDir(), 2u);      // keep.xml and adir only
    EXPECT_TRUE(fs::is_empty(PathOf("adir")));
}

TEST_F(XmlDocumentFiles, OpensUtf16FilesWithByteOrderMark) {
    const std::string path = PathOf("utf16.xml");
    // "<a>é</a>" in UTF-16LE with its byte order mark.
    Write(path, std::string("\xFF\xFE<\0a\0>\0\xE9\0<\0/\0a\0>\0", 18));
    CXmlDocument doc;
    ASSERT_TRUE(doc.Open(path.c_str()));
    EXPECT_EQ(doc.GetRoot()->GetValue(), "é");
    // "<a>&x;</a>" and "<a>\x01</a>" in UTF-16BE without one.
    Write(path, std::string("\0<\0a\0>\0&\0x\0;\0<\0/\0a\0>", 20));
    EXPECT_FALSE(doc.Open(path.c_str()));
    Write(path, std::string("\0<\0a\0>\0\x01\0<\0/\0a\0>", 16));
    EXPECT_FALSE(doc.Open(path.c_str()));
}

TEST_F(XmlDocumentFiles, ConfigurationFileWithChineseTextOpensAndABrokenOneDoesNot) {
    const std::string path = PathOf("vexa.xml");
    Write(path,
          "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<!-- modules -->\r\n"
          "<config><site>\xE8\xAF\xAD\xE6\x96\x87 &amp; \xE6\x95\xB0\xE5\xAD\xA6</site>"
          "<DelMod><lesson1>2</lesson1></DelMod></config>\r\n");
    CXmlDocument doc;
    ASSERT_TRUE(doc.Open(path.c_str()));
    EXPECT_EQ(doc.SelectSingleNode("DelMod/lesson1")->GetValue(), "2");
    EXPECT_EQ(doc.SelectSingleNode("site")->GetValue(),
              "\xE8\xAF\xAD\xE6\x96\x87 & \xE6\x95\xB0\xE5\xAD\xA6");
    Write(path, "<config><site>AT&T</site><DelMod><lesson1>2</lesson1></DelMod></config>");
    EXPECT_FALSE(doc.Open(path.c_str()));
    EXPECT_TRUE(doc.GetRoot()->IsNull());
}

}  // namespace
