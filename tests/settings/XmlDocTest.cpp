#include "settings/XmlDoc.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QStringEncoder>

#include "platform/CodePage.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

namespace {

class XmlDoc : public ::testing::Test
{
protected:
    static QString TempPath(const QString& name) { return QDir(TestHome()).filePath(name); }
    // Parses text and steps into its root element.
    void EnterRoot(const QString& text)
    {
        doc.SetText(text);
        ASSERT_TRUE(doc.FindElement());
        ASSERT_TRUE(doc.EnterElement());
    }
    static QByteArray Utf16(const QString& text, bool bigEndian)
    {
        return QStringEncoder(bigEndian ? QStringConverter::Utf16BE : QStringConverter::Utf16LE,
                              QStringConverter::Flag::WriteBom)(text);
    }

    CXmlDoc doc;
};

} // namespace

TEST_F(XmlDoc, Parse_VerdictsAndReports)
{
    const struct
    {
        const char* text;
        bool wellFormed;
        const char* entry;
    } cases[] = {
        {"<a><b></a>", false, "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"5\"/>"},
        {"<a></b></a>", false, "<lone_end_tag tagname=\"b\" offset=\"3\"/>"},
        {"<a>< b</a>", false, "<first_tag_syntax offset=\"3\"/>"},
        {"<a><!-x></a>", false, "<comment_tag_syntax offset=\"3\"/>"},
        {"<a><!-- x", false, "<unterminated_tag_syntax type=\"comment\" offset=\"3\"/>"},
        {"<a x=\"1", false, "<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/>"},
        {"<a/><", false, "<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"},
        {"<?xml version=\"1.0\"?>\r\n", false, "<no_root_element/>"},
        // A quoted '>', comments, CDATA, PIs and a DOCTYPE's internal subset end no tag.
        {"<a t=\"x>y\" u='>'><b/></a>", true, ""},
        {"<?xml?><!DOCTYPE a [<!ENTITY e \"<>\">]><!--<x>--><a><![CDATA[<y>]]></a>", true, ""},
        {"<!DOCTYPE a [<!--doesn't--><?p it's?><!--won't--><!ENTITY e 'x>'>]><a/>", true, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(doc.SetText(QString::fromUtf8(c.text)), c.wellFormed) << c.text;
        EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String(c.entry)))
            << c.text << " -> " << doc.GetResultReport().toStdString();
        EXPECT_TRUE(!c.wellFormed || doc.FindElement("a")) << c.text;
    }
    doc.SetText("<a t=\"x>y\" u='>'><b/></a>");
    EXPECT_TRUE(doc.FindElement() && doc.GetAttribute("t") == "x>y");
}

TEST_F(XmlDoc, AddElement_LayoutLimitsAndIndexPages)
{
    // An empty parent gains start and end tag around its children; values are escaped.
    EnterRoot("<a x=\"1\"/>\r\n");
    ASSERT_TRUE(doc.AddElement("b"));
    ASSERT_TRUE(doc.AddElement("c", "1 < 2 & 3"));
    ASSERT_TRUE(doc.AddElement("s", {{u"k", u"<\"&'>"}, {u"n", u""}}));
    EXPECT_EQ(doc.GetText(), "<a x=\"1\">\r\n<b/>\r\n<c>1 &lt; 2 &amp; 3</c>\r\n"
                             "<s k=\"&lt;&quot;&amp;&apos;&gt;\" n=\"\"/>\r\n</a>\r\n");
    EXPECT_TRUE(doc.VerifyIndex());
    // Refusals change nothing.
    const QString before = doc.GetText();
    EXPECT_FALSE(doc.AddElement(QString()) || doc.AddElement("b c") || doc.AddElement("1b"));
    EXPECT_FALSE(doc.AddElement(QString(1100, u'n'), "v")); // end tag limit
    EXPECT_FALSE(doc.AddElement("b", {{u"k", u"1"}, {u"k", u"2"}}) ||
                 doc.AddElement("b", {{u"k=", u"1"}}));
    EXPECT_EQ(doc.GetText(), before);
    // Limits: deep nesting parses, tag lengths are bounded, the index grows by pages.
    EXPECT_TRUE(doc.SetText(QString("<e>").repeated(100000) + QString("</e>").repeated(100000)));
    const QString huge(int(XmlElementRecord::kMaxStartTag), u'x');
    EXPECT_FALSE(doc.SetText("<a v=\"" + huge + "\"/>"));
    EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String("tag_length_limit")));
    // Past one index page of 65,536 records.
    EnterRoot("<r/>");
    for (int i = 0; i < 70000; ++i) {
        ASSERT_TRUE(doc.AddElement("u", {{u"i", QString::number(i)}}));
    }
    EXPECT_TRUE(doc.VerifyIndex());
    EnterRoot(doc.GetText());
    ASSERT_TRUE(doc.FindElement("u") && doc.FindElement("u")); // the index survives a re-parse
    EXPECT_EQ(doc.GetAttribute("i"), "1");
}

TEST_F(XmlDoc, Attributes_ReferencesDecoded)
{
    const char* const references[][2] = {
        {"&Uacute;&uacute;&hearts;&alpha;", "\u00DA\u00FA\u2665\u03B1"},
        {"x&#65;&#x42;&#X43;y&#x1F600;", "xABCy\U0001F600"},
        {"&lt;&gt;&amp;&quot;&apos;a & b &&amp;", "<>&\"'a & b &&"},
        {"&nosuch;&#;&#x;&#xD800;&#1114112;&#12a;&UACUTE;&",
         "&nosuch;&#;&#x;&#xD800;&#1114112;&#12a;&UACUTE;&"},
    };
    for (const auto& c : references) {
        EnterRoot("<r><a v=\"" + QString(c[0]) + "\" w='x'/></r>");
        ASSERT_TRUE(doc.FindElement("a"));
        EXPECT_EQ(doc.GetAttribute("v") + doc.GetAttribute("missing"), QString(c[1])) << c[0];
    }
}

TEST_F(XmlDoc, Files_EncodingsMarksAndFailures)
{
    const QString text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a n=\"\u00DF\u4E2D\"/>";
    static const char kNul[] = "\xEF\xBB\xBF<a n=\"\xC3\x9F\0\xE4\xB8\xAD\"/>\xE4\xB8";
    const struct
    {
        const char* name;
        QByteArray bytes;
        const char* entry;
    } cases[] = {
        {"bom8.xml", "\xEF\xBB\xBF" + text.toUtf8(), "<bom/>"},
        {"le.xml", Utf16(text, false), "<read encoding=\"UTF-16LE\""},
        {"be.xml", Utf16(text, true), "<endian_swap/>"},
        {"plain8.xml", text.mid(text.indexOf(u'>') + 1).toUtf8(), "<read encoding=\"UTF-8\""},
        {"gb.xml", WideToCodeset(QString(text).replace("UTF-8", "GB18030"), "GB18030"),
         "encoding=\"GB18030\""},
        // A NUL inside, and a sequence cut at the end left out.
        {"nul.xml", QByteArray(kNul, sizeof kNul - 1), "<nulls_removed count=\"1\"/>\r\n<conv"},
    };
    for (const auto& c : cases) {
        const QString path = TempPath(QString::fromLatin1(c.name));
        WriteBytes(path, c.bytes);
        CXmlDoc file(XmlFlagUtf8Bom);
        EXPECT_TRUE(file.LoadFile(path)) << c.name << file.GetResultReport().toStdString();
        EXPECT_TRUE(file.GetResultReport().contains(QLatin1String(c.entry))) << c.name;
        ASSERT_TRUE(file.FindElement("a")) << c.name;
        EXPECT_EQ(file.GetAttribute("n"), "\u00DF\u4E2D") << c.name;
    }
    // A failed load names its cause; a failed write leaves the old file and no temporary one.
    EXPECT_FALSE(doc.LoadFile(TempPath("missing.xml")));
    EXPECT_TRUE(doc.GetResultReport().contains("<file_error msg=\"No such file or directory\" "
                                               "n=\"2\"/>"));
    EXPECT_FALSE(doc.LoadFile(TestHome()) || doc.SaveFile(TestHome()) ||
                 doc.SaveFile(TempPath("no/such/dir/x.xml")));
    const QString path = TempPath("saved.xml");
    ASSERT_TRUE(doc.SetText("<a/>") && doc.SaveFile(path));
    const QByteArray saved = ReadBytes(path);
    doc.SetText("<a v=\"" + QString(4000, u'x') + "\"/>");
    {
        FileSizeLimit limit(1000);
        EXPECT_FALSE(doc.SaveFile(path));
    }
    EXPECT_EQ(ReadBytes(path), saved);
    EXPECT_EQ(QDir(TestHome()).entryList(QDir::Files).filter("saved.xml").size(), 1);
}
