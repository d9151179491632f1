#include "settings/XmlDoc.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "platform/CodePage.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

namespace {

const QString kDecl = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");

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
        QByteArray out(bigEndian ? "\xFE\xFF" : "\xFF\xFE", 2);
        for (QChar c : text) {
            const char lo = char(c.unicode() & 0xFF);
            const char hi = char(c.unicode() >> 8);
            out.append(bigEndian ? hi : lo).append(bigEndian ? lo : hi);
        }
        return out;
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
        {"<a><b>", false, "<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"6\"/>"},
        {"<a>< b</a>", false, "<first_tag_syntax offset=\"3\"/>"},
        {"<a><!x></a>", false, "<exclamation_tag_syntax offset=\"3\"/>"},
        {"<a><!-x></a>", false, "<comment_tag_syntax offset=\"3\"/>"},
        {"<a><![X[</a>", false, "<cdata_section_syntax offset=\"3\"/>"},
        {"<!DOCTIPE a><a/>", false, "<doctype_tag_syntax offset=\"0\"/>"},
        {"<a><!-- x", false, "<unterminated_tag_syntax type=\"comment\" offset=\"3\"/>"},
        {"<a x=\"1", false, "<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/>"},
        {"<a/><", false, "<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>"},
        {"<!DOCTYPE a [<!-- x", false,
         "<unterminated_tag_syntax type=\"document_type\" offset=\"0\"/>"},
        {"<a/><b/>", false, "<root_has_sibling/>"},
        {"<?xml version=\"1.0\"?>\r\n", false, "<no_root_element/>"},
        // A '>' inside a quoted value does not end the tag.
        {"<a t=\"x>y\" u='>'><b/></a>", true, ""},
        // Comments, CDATA, PIs and the internal subset of a DOCTYPE are skipped.
        {"<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e \"<>\">]><!-- <x> --><a><![CDATA[<y>]]>"
         "</a>",
         true, ""},
        {"<!DOCTYPE a [\n<!-- doesn't -->\n<!ENTITY e 'x>'>\n<?pi it's ?>\n]>\n<a/>", true, ""},
        {"<!DOCTYPE a SYSTEM \"a>b.dtd\" [<!-- a < b --><!ATTLIST a v CDATA \"[\">]><a/>", true,
         ""},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        EXPECT_EQ(doc.SetText(text), c.wellFormed) << c.text;
        EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String(c.entry)))
            << c.text << " -> " << doc.GetResultReport().toStdString();
        EXPECT_TRUE(!c.wellFormed || doc.FindElement(QStringLiteral("a"))) << c.text;
    }
    doc.SetText(QStringLiteral("<a t=\"x>y\" u='>'><b/></a>"));
    doc.FindElement();
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("t")), QStringLiteral("x>y"));
    // An ill-formed document stays navigable.
    EnterRoot(QStringLiteral("<a><b></a>"));
    EXPECT_TRUE(doc.FindElement(QStringLiteral("b")));
}

TEST_F(XmlDoc, AddElement_LayoutOfNewElements)
{
    // A declaration without root: the root follows it on its own line.
    EXPECT_FALSE(doc.SetText(kDecl));
    ASSERT_TRUE(doc.AddElement(QStringLiteral("SMS")));
    EXPECT_EQ(doc.GetText(), kDecl + "<SMS/>\r\n");
    EXPECT_TRUE(doc.IsWellFormed());

    // An empty parent is rewritten into start tag, child line and end tag.
    EnterRoot(QStringLiteral("<a x=\"1\"/>\r\n"));
    ASSERT_TRUE(doc.AddElement(QStringLiteral("b")));
    ASSERT_TRUE(doc.AddElement(QStringLiteral("c"), QStringLiteral("1 < 2 & 3")));
    ASSERT_TRUE(doc.AddElement(QStringLiteral("d"), QString(), XmlAddBefore));
    ASSERT_TRUE(doc.AddElement(QStringLiteral("e"), QString(), XmlAddAsChild));
    EXPECT_EQ(doc.GetText(), "<a x=\"1\">\r\n<b/>\r\n<d>\r\n<e/>\r\n</d>\r\n"
                             "<c>1 &lt; 2 &amp; 3</c>\r\n</a>\r\n");
    EXPECT_TRUE(doc.VerifyIndex());

    // A parent with start and end tag and nothing between them; CDATA; attributes in one go.
    EnterRoot(QStringLiteral("<p></p>"));
    ASSERT_TRUE(doc.AddElement(QStringLiteral("q"), QString(), XmlAddSpaceSlash));
    ASSERT_TRUE(doc.AddElement(QStringLiteral("r"), QStringLiteral("x]]>y"), XmlAddCData));
    ASSERT_TRUE(doc.AddElement(QStringLiteral("s"), {{u"k", u"<\"&'>"}, {u"n", u""}}));
    EXPECT_EQ(doc.GetText(), "<p>\r\n<q />\r\n<r><![CDATA[x]]]]><![CDATA[>y]]></r>\r\n"
                             "<s k=\"&lt;&quot;&amp;&apos;&gt;\" n=\"\"/>\r\n</p>");
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("k")), QStringLiteral("<\"&'>"));
    EXPECT_TRUE(doc.VerifyIndex());

    // Refusals change nothing.
    const QString before = doc.GetText();
    EXPECT_FALSE(doc.AddElement(QString()));
    EXPECT_FALSE(doc.AddElement(QStringLiteral("b c")));
    EXPECT_FALSE(doc.AddElement(QStringLiteral("1b")));
    EXPECT_FALSE(doc.AddElement(QStringLiteral("b"), QStringLiteral("v"), XmlAddStartTagOnly));
    EXPECT_FALSE(doc.AddElement(QStringLiteral("b"), {{u"k", u"1"}, {u"k", u"2"}}));
    EXPECT_FALSE(doc.AddElement(QStringLiteral("b"), {{u"k=", u"1"}}));
    EXPECT_FALSE(doc.AddElement(QString(1100, u'n'), QStringLiteral("v"))); // end tag limit
    doc.ResetPosition();
    EXPECT_FALSE(doc.AddElement(QStringLiteral("b"), QString(), XmlAddAsChild)); // no current
    doc.SetFlags(XmlFlagReadMode);
    EXPECT_FALSE(doc.AddElement(QStringLiteral("b")));
    EXPECT_FALSE(doc.SetText(QStringLiteral("<x/>")));
    EXPECT_EQ(doc.GetText(), before);
}

TEST_F(XmlDoc, Attributes_ReplacedInPlaceEscapedAndReadBack)
{
    EnterRoot(QStringLiteral("<r>\r\n<a k='old' z=\"2\">\r\n<b/>\r\n</a>\r\n<c/>\r\n</r>"));
    ASSERT_TRUE(doc.FindElement(QStringLiteral("a")));
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("k")), QStringLiteral("old"));
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("missing")), QString());
    ASSERT_TRUE(doc.SetAttribute(QStringLiteral("k"), QStringLiteral("new")));
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("k")), QStringLiteral("new"));
    ASSERT_TRUE(doc.SetAttribute(QStringLiteral("n"), -42));
    const QString tricky = QStringLiteral("\"quoted\" 'apos' & <tag> &amp;");
    ASSERT_TRUE(doc.SetAttribute(QStringLiteral("t"), tricky));
    EXPECT_TRUE(doc.GetText().startsWith(
        QStringLiteral("<r>\r\n<a k=\"new\" z=\"2\" n=\"-42\" t=\"&quot;quoted&quot; "
                       "&apos;apos&apos; &amp; &lt;tag&gt; &amp;amp;\">")));
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("t")), tricky);
    // Following elements moved with the edits.
    ASSERT_TRUE(doc.FindElement(QStringLiteral("c")));
    ASSERT_TRUE(doc.SetAttribute(QStringLiteral("q"), QStringLiteral("1")));
    EXPECT_TRUE(doc.GetText().endsWith(QStringLiteral("<c q=\"1\"/>\r\n</r>")));
    EXPECT_TRUE(doc.VerifyIndex());
    doc.ResetPosition();
    EXPECT_FALSE(doc.SetAttribute(QStringLiteral("k"), QStringLiteral("v")));
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("k")), QString());

    const struct
    {
        QString in;
        QString out;
    } references[] = {
        {QStringLiteral("&Uacute;&uacute;"), QString(QChar(0xDA)) + QChar(0xFA)},
        {QStringLiteral("&hearts;&alpha;"), QString(QChar(9829)) + QChar(945)},
        {QStringLiteral("x&#65;&#x42;&#X43;y"), QStringLiteral("xABCy")},
        {QStringLiteral("&#x1F600;"), QString::fromUtf8("\xF0\x9F\x98\x80")},
        {QStringLiteral("&lt;&gt;&amp;&quot;&apos;"), QStringLiteral("<>&\"'")},
        {QStringLiteral("a & b &&amp;"), QStringLiteral("a & b &&")},
        {QStringLiteral("&nosuch;&#;&#x;&#xD800;&#1114112;&#12a;&UACUTE;&"),
         QStringLiteral("&nosuch;&#;&#x;&#xD800;&#1114112;&#12a;&UACUTE;&")},
    };
    for (const auto& c : references) {
        EnterRoot(QStringLiteral("<r><a v=\"") + c.in + QStringLiteral("\"/></r>"));
        doc.FindElement(QStringLiteral("a"));
        EXPECT_EQ(doc.GetAttribute(QStringLiteral("v")), c.out) << c.in.toStdString();
    }
}

TEST_F(XmlDoc, FindElement_WalksOneLevelForward)
{
    EnterRoot(QStringLiteral("<r><a><x/></a><b/>text<c></c><B/></r>"));
    QStringList seen;
    while (doc.FindElement(QString())) {
        seen << doc.CurrentName();
    }
    EXPECT_EQ(seen, (QStringList{"a", "b", "c", "B"}));
    // Leaving and entering again resumes after the element that was current.
    EnterRoot(doc.GetText());
    doc.FindElement(QStringLiteral("b"));
    EXPECT_FALSE(doc.FindElement(QStringLiteral("a"))); // only forward
    doc.LeaveElement();
    doc.EnterElement();
    EXPECT_TRUE(doc.FindElement(QStringLiteral("c")));
    EXPECT_FALSE(doc.FindElement(QStringLiteral("b")));
    doc.SetFlags(XmlFlagIgnoreCase);
    EXPECT_TRUE(doc.FindElement(QStringLiteral("b")));
    EXPECT_EQ(doc.CurrentName(), QStringLiteral("B"));
    doc.ResetPosition();
    EXPECT_FALSE(doc.LeaveElement());
}

TEST_F(XmlDoc, LoadFile_EncodingsMarksAndNuls)
{
    const QString text =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><a n=\"\u00DF\u4E2D\"/>");
    static const char kNul[] = "\xEF\xBB\xBF<a n=\"\xC3\x9F\0\xE4\xB8\xAD\"/>\xE4\xB8";
    QByteArray utf32;
    for (uint c : QString(text).replace("UTF-8", "UTF-32").toUcs4()) {
        utf32.append(char(c & 0xFF)).append(char(c >> 8)).append(char(c >> 16)).append('\0');
    }
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
        {"utf32.xml", utf32, "<converted_to"}, // no mark: declaration found without NULs
        {"nul.xml", QByteArray(kNul, sizeof kNul - 1), "count=\"1\""},
    };
    for (const auto& c : cases) {
        const QString path = TempPath(QString::fromLatin1(c.name));
        WriteBytes(path, c.bytes);
        CXmlDoc file(XmlFlagUtf8Bom);
        EXPECT_TRUE(file.LoadFile(path)) << c.name << file.GetResultReport().toStdString();
        EXPECT_TRUE(file.GetResultReport().contains(QLatin1String(c.entry))) << c.name;
        ASSERT_TRUE(file.FindElement(QStringLiteral("a"))) << c.name;
        EXPECT_EQ(file.GetAttribute(QStringLiteral("n")), QStringLiteral("\u00DF\u4E2D")) << c.name;
    }
    // FF FE wins over the declaration, and the file is saved with the mark it had.
    doc.SetFlags(XmlFlagUtf8Bom);
    ASSERT_TRUE(doc.LoadFile(TempPath(QStringLiteral("le.xml"))));
    EXPECT_EQ(doc.Flags() & (XmlFlagUtf16LE | XmlFlagUtf8Bom), std::uint32_t(XmlFlagUtf16LE));
    ASSERT_TRUE(doc.SaveFile(TempPath(QStringLiteral("le-out.xml"))));
    EXPECT_EQ(ReadBytes(TempPath(QStringLiteral("le-out.xml"))), Utf16(text, false));
    // A NUL removed and a sequence cut at the end of the file: the report of the load.
    ASSERT_TRUE(doc.LoadFile(TempPath(QStringLiteral("nul.xml"))));
    EXPECT_TRUE(doc.GetResultReport().endsWith(
        QLatin1String("<bom/>\r\n<read encoding=\"UTF-8\" length=\"14\"/>\r\n"
                      "<nulls_removed count=\"1\"/>\r\n"
                      "<converted_to encoding=\"UTF-16\" length=\"11\"/>\r\n")));
    // Undeclared and not UTF-8: the ANSI code page.
    WriteBytes(TempPath(QStringLiteral("latin.xml")), QByteArray(" <a v=\"\xE9\"/>"));
    doc.LoadFile(TempPath(QStringLiteral("latin.xml")));
    EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String("<utf8_detection/>")));
    EXPECT_TRUE(doc.FindElement(QStringLiteral("a")));
}

TEST_F(XmlDoc, SaveFile_EncodingsAndFailures)
{
    const QString path = TempPath(QStringLiteral("saved.xml"));
    const struct
    {
        const char* text;
        bool saved;
        QByteArray bytes; // the file's end
        const char* entry;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<a n=\"\u738B\"/>", true,
         "<a n=\"\xCD\xF5\"/>", "<write encoding=\"GBK\""},
        {"<?xml version=\"1.0\" encoding=\"GBK\"?><a n=\"\U0001F600\"/>", true, "?\"/>",
         "<conversion_loss"},
        {"<a n=\"\u00E9\"/>", true, "<a n=\"\xC3\xA9\"/>", "<write encoding=\"UTF-8\""},
        {"<?xml version=\"1.0\" encoding=\"x-none-such\"?><a/>", false, "<a n=\"\xC3\xA9\"/>",
         "<truncation_error"},
    };
    for (const auto& c : cases) {
        doc.SetText(QString::fromUtf8(c.text));
        EXPECT_EQ(doc.SaveFile(path), c.saved) << c.text;
        EXPECT_TRUE(ReadBytes(path).endsWith(c.bytes)) << c.text;
        EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String(c.entry))) << c.text;
    }
    EXPECT_FALSE(doc.LoadFile(TempPath(QStringLiteral("missing.xml"))));
    EXPECT_TRUE(doc.GetResultReport().contains("<file_error msg=\"No such file or directory\" "
                                               "n=\"2\"/>"));
    EXPECT_FALSE(doc.LoadFile(TestHome()));
    EXPECT_FALSE(doc.SaveFile(TestHome()));
    EXPECT_FALSE(doc.SaveFile(TempPath(QStringLiteral("no/such/dir/x.xml"))));

    // A write that fails part way leaves the old file and no temporary file.
    doc.SetText(QStringLiteral("<a v=\"") + QString(4000, u'x') + QStringLiteral("\"/>"));
    {
        FileSizeLimit limit(1000);
        EXPECT_FALSE(doc.SaveFile(path));
    }
    EXPECT_TRUE(ReadBytes(path).endsWith("<a n=\"\xC3\xA9\"/>"));
    EXPECT_EQ(QDir(TestHome()).entryList(QDir::Files).filter(QStringLiteral("saved.xml")).size(),
              1);

    // A null text empties the document and its index.
    EXPECT_FALSE(doc.SetText(QString()));
    EXPECT_FALSE(doc.FindElement(QString()));
    ASSERT_TRUE(doc.AddElement(QStringLiteral("r")));
    EXPECT_EQ(doc.GetText(), QStringLiteral("<r/>\r\n"));
}

TEST_F(XmlDoc, Limits_DepthTagLengthReportAndIndexPages)
{
    const QString deep = QString(QStringLiteral("<e>")).repeated(100000) +
                         QString(QStringLiteral("</e>")).repeated(100000);
    EXPECT_TRUE(doc.SetText(deep));
    EXPECT_EQ(doc.Record(100000).Level(), XmlElementRecord::kMaxLevel);
    // Lone end tags under a deep stack are each answered without walking the stack; the
    // report stops at its bound.
    EXPECT_FALSE(doc.SetText(deep.left(150000) + QString(QStringLiteral("</x>")).repeated(50000)));
    EXPECT_EQ(doc.ElementCount(), 50000u);
    EXPECT_LT(doc.GetResultReport().size(), CXmlDoc::kReportBound + 100);

    const QString huge(int(XmlElementRecord::kMaxStartTag), u'x');
    EXPECT_FALSE(doc.SetText(QStringLiteral("<a v=\"") + huge + QStringLiteral("\"/>")));
    EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String("tag_length_limit")));
    doc.SetText(QStringLiteral("<a/>"));
    doc.FindElement(QStringLiteral("a"));
    EXPECT_FALSE(doc.SetAttribute(QStringLiteral("v"), huge));
    EXPECT_EQ(doc.GetText(), QStringLiteral("<a/>"));

    // Past one index page of 65,536 records.
    EnterRoot(QStringLiteral("<r/>"));
    for (int i = 0; i < 70000; ++i) {
        ASSERT_TRUE(doc.AddElement(QStringLiteral("u"), {{u"i", QString::number(i)}}));
    }
    EXPECT_TRUE(doc.VerifyIndex());
    EnterRoot(doc.GetText());
    for (int i = 0; i < 70000; ++i) {
        ASSERT_TRUE(doc.FindElement(QStringLiteral("u")));
        ASSERT_EQ(doc.GetAttribute(QStringLiteral("i")).toInt(), i);
    }
}
