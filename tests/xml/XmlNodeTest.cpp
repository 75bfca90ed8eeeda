#include <gtest/gtest.h>

#include "xml/Tavix.h"

namespace {

using Tavix::CXmlDocument;
using Tavix::CXmlNode;
using Tavix::CXmlNodePtr;

const char* const kInvoke = "<invoke name='x' empty=''><arguments/></invoke>";

TEST(XmlNode, AttributesWithAndWithoutDefaults) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml(kInvoke));
    const CXmlNodePtr root = doc.GetRoot();
    EXPECT_EQ(root->GetName(), "invoke");
    EXPECT_EQ(root->GetAttribute("name", nullptr), "x");
    EXPECT_EQ(root->GetAttribute("missing", "d"), "d");
    EXPECT_EQ(root->GetAttribute("missing", nullptr), "");
    EXPECT_EQ(root->GetAttribute("empty", "d"), "d");

    std::string out = "stale";
    EXPECT_TRUE(root->GetAttribute("missing", out));  // a missing attribute is no failure
    EXPECT_EQ(out, "");
    EXPECT_TRUE(root->GetAttribute("name", out));
    EXPECT_EQ(out, "x");
}

TEST(XmlNode, NullNodeGivesEmptyResultsEverywhere) {
    CXmlNode node;
    EXPECT_TRUE(node.IsNull());
    EXPECT_EQ(node.GetName(), "");
    std::string out = "unchanged";
    EXPECT_FALSE(node.GetText(out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_EQ(node.GetValue(), "");
    EXPECT_FALSE(node.SetText("t"));
    EXPECT_FALSE(node.SetValue("t"));
    EXPECT_FALSE(node.GetAttribute("a", out));
    EXPECT_EQ(node.GetAttribute("a", "d"), "d");
    EXPECT_EQ(node.GetXml(), "");
    EXPECT_EQ(node.GetInnerXml(), "");
    ASSERT_TRUE(node.SelectSingleNode("*"));
    EXPECT_TRUE(node.SelectSingleNode("*")->IsNull());
    EXPECT_EQ(node.GetChildren()->GetCount(), -1);
    ASSERT_TRUE(node.NewChild("a"));
    EXPECT_TRUE(node.NewChild("a")->IsNull());
}

TEST(XmlNode, TextCoversDescendantsAndSkipsMarkupOnlyParts) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<a>x<b>y<c>z</c></b><!--no--><![CDATA[<w>]]>&amp;</a>"));
    std::string text;
    EXPECT_TRUE(doc.GetRoot()->GetText(text));
    EXPECT_EQ(text, "xyz<w>&");
    EXPECT_EQ(doc.SelectSingleNode("b/c")->GetValue(), "z");
}

TEST(XmlNode, WhitespaceOnlyTextBetweenElementsIsDropped) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<a>\n  <b> kept </b>\n  <c/>\n</a>"));
    EXPECT_EQ(doc.GetRoot()->GetXml(), "<a><b> kept </b><c/></a>");
    EXPECT_EQ(doc.GetRoot()->GetChildren()->GetCount(), 2);
}

TEST(XmlNode, InnerXmlTakesTheMarkupBetweenTheTags) {
    CXmlDocument doc;
    ASSERT_TRUE(
        doc.LoadXml("<r><a x=\"1\"><b>t</b></a><s>abc</s><e/><q>a&amp;b&lt;c</q>"
                    "<z>未知</z><n>1 &gt; 0</n></r>"));
    EXPECT_EQ(doc.SelectSingleNode("a")->GetInnerXml(), "<b>t</b>");
    EXPECT_EQ(doc.SelectSingleNode("s")->GetInnerXml(), "abc");
    EXPECT_EQ(doc.SelectSingleNode("e")->GetInnerXml(), "<e/>");
    EXPECT_EQ(doc.SelectSingleNode("q")->GetInnerXml(), "a&amp;b&lt;c");
    EXPECT_EQ(doc.SelectSingleNode("z")->GetInnerXml(), "未知");
    // A text node has no tags around it: its markup comes back whole.
    EXPECT_EQ(doc.SelectSingleNode("s/text()")->GetInnerXml(), "abc");
}

TEST(XmlNode, XPathSelectionsAndTheirFailures) {
    CXmlDocument doc;
    ASSERT_TRUE(
        doc.LoadXml("<invoke name='RecUpload'><arguments><array>"
                    "<property id='0'><string>7</string></property>"
                    "<property id='1'><string>12</string></property>"
                    "</array></arguments></invoke>"));
    EXPECT_EQ(doc.SelectSingleNode("arguments")->GetName(), "arguments");
    EXPECT_EQ(doc.SelectSingleNode("//invoke/arguments/array/property[@id=1]/string")->GetValue(),
              "12");
    EXPECT_TRUE(doc.SelectSingleNode("//invoke/arguments/array/property[@id=2]/string")->IsNull());

    const CXmlNodePtr none = doc.SelectSingleNode("nothing");
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->IsNull());
    EXPECT_EQ(none->GetName(), "");
    EXPECT_EQ(none->GetValue(), "");
    EXPECT_EQ(none->GetXml(), "");

    for (const char* bad : {"///", "count(*)", "[", "", "@"}) {
        ASSERT_TRUE(doc.SelectSingleNode(bad)) << bad;
        EXPECT_TRUE(doc.SelectSingleNode(bad)->IsNull()) << bad;
    }
    EXPECT_TRUE(doc.SelectSingleNode(nullptr)->IsNull());

    // A node's own selection is relative to that node.
    const CXmlNodePtr array = doc.SelectSingleNode("arguments/array");
    EXPECT_EQ(array->SelectSingleNode("property[@id=0]/string")->GetValue(), "7");
}

TEST(XmlNode, AttributeNodesFromXPath) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<a v='1&amp;2'/>"));
    const CXmlNodePtr attr = doc.SelectSingleNode("@v");
    ASSERT_FALSE(attr->IsNull());
    EXPECT_EQ(attr->GetName(), "v");
    EXPECT_EQ(attr->GetValue(), "1&2");
    EXPECT_EQ(attr->GetXml(), "v=\"1&amp;2\"");
    EXPECT_TRUE(attr->SetText("3"));
    EXPECT_EQ(doc.GetRoot()->GetXml(), "<a v=\"3\"/>");
    EXPECT_EQ(attr->GetChildren()->GetCount(), 0);
    EXPECT_TRUE(attr->NewChild("b")->IsNull());
}

TEST(XmlNode, ChildrenAreElementsInDocumentOrder) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<r>t<a/><!--c--><b/><?pi x?><c/></r>"));
    const Tavix::CXmlNodesPtr children = doc.GetRoot()->GetChildren();
    ASSERT_EQ(children->GetCount(), 3);
    std::string names;
    for (int i = 0; i < children->GetCount(); ++i) {
        names += children->GetItem(i)->GetName();
    }
    EXPECT_EQ(names, "abc");
    EXPECT_TRUE(children->GetItem(3)->IsNull());
    EXPECT_TRUE(children->GetItem(-1)->IsNull());

    ASSERT_TRUE(doc.LoadXml("<s>only text</s>"));
    EXPECT_EQ(doc.GetRoot()->GetChildren()->GetCount(), 0);
    EXPECT_EQ(Tavix::CXmlNodes().GetCount(), -1);
}

TEST(XmlNode, NewChildAppendsOnlyValidNames) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<config><a/></config>"));
    const CXmlNodePtr root = doc.GetRoot();
    const CXmlNodePtr added = root->NewChild("mod_1.x");
    ASSERT_FALSE(added->IsNull());
    EXPECT_TRUE(added->SetText("3"));
    EXPECT_FALSE(root->NewChild("语文")->IsNull());
    EXPECT_EQ(root->GetXml(), "<config><a/><mod_1.x>3</mod_1.x><语文/></config>");

    for (const char* bad : {"two words", "", "1abc", "a<b", "-x"}) {
        EXPECT_TRUE(root->NewChild(bad)->IsNull()) << bad;
    }
    EXPECT_EQ(root->GetXml(), "<config><a/><mod_1.x>3</mod_1.x><语文/></config>");
    EXPECT_TRUE(doc.SelectSingleNode("a/text()")->IsNull());
}

TEST(XmlNode, SetTextReplacesTheWholeContent) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<r><a>old<b/>tail</a></r>"));
    const CXmlNodePtr a = doc.SelectSingleNode("a");
    EXPECT_TRUE(a->SetValue("x < y & z"));
    EXPECT_EQ(a->GetXml(), "<a>x &lt; y &amp; z</a>");
    EXPECT_EQ(a->GetValue(), "x < y & z");
    EXPECT_TRUE(a->SetText(""));
    EXPECT_EQ(doc.GetRoot()->GetXml(), "<r><a/></r>");
}

TEST(XmlNode, HandlesShareTheNodeAndOutliveTheDocument) {
    CXmlNodePtr root;
    CXmlNode copy;
    {
        CXmlDocument doc;
        ASSERT_TRUE(doc.LoadXml("<first><k>v</k></first>"));
        root = doc.GetRoot();
        EXPECT_EQ(copy = root, root);  // assignment hands back the handle it got
        ASSERT_TRUE(doc.LoadXml("<second/>"));
        EXPECT_EQ(doc.GetRoot()->GetName(), "second");
        doc.Close();
        EXPECT_TRUE(doc.GetRoot()->IsNull());
    }
    EXPECT_EQ(root->GetName(), "first");
    EXPECT_EQ(root->SelectSingleNode("k")->GetValue(), "v");
    EXPECT_TRUE(copy.SetText("changed"));
    EXPECT_EQ(root->GetXml(), "<first>changed</first>");

    CXmlNode fromHandle(root);
    EXPECT_EQ(fromHandle.GetName(), "first");
    copy = CXmlNodePtr();
    EXPECT_TRUE(copy.IsNull());
    EXPECT_TRUE(CXmlNode(CXmlNodePtr()).IsNull());
}

TEST(XmlNode, InvalidUtf8ComesBackAsReplacementCharacters) {
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<a>x\xC0\xAFy\xED\xA0\x80z\xF0\x9F\x98\x80</a>"));
    EXPECT_EQ(doc.GetRoot()->GetValue(),
              "x\xEF\xBF\xBD\xEF\xBF\xBDy\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz\xF0\x9F\x98\x80");
    ASSERT_TRUE(doc.GetRoot()->SetText("\xFF"));
    EXPECT_EQ(doc.GetRoot()->GetXml(), "<a>\xEF\xBF\xBD</a>");
}

}  // namespace
