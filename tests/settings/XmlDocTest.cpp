#include "settings/XmlDoc.h"

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

#include <QDir>
#include <QFile>

#include "platform/CodePage.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

namespace {

const QString kDecl = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");

QString TempPath(const QString& name)
{
    return QDir(TestHome()).filePath(name);
}

} // namespace

TEST(XmlDoc, DeclarationOnly_NoRootThenAddedElementFollowsDeclaration)
{
    CXmlDoc doc;
    EXPECT_FALSE(doc.SetText(kDecl));
    EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String("<no_root_element/>")));
    EXPECT_FALSE(doc.IsWellFormed());
    ASSERT_TRUE(doc.AddElement(QStringLiteral("SMS")));
    EXPECT_EQ(doc.GetText(), kDecl + QStringLiteral("<SMS/>\r\n"));
    EXPECT_TRUE(doc.IsWellFormed());
    EXPECT_TRUE(doc.VerifyIndex());
}

TEST(XmlDoc, AddElement_EmptyParentRewrittenAndSiblingsAppended)
{
    CXmlDoc doc;
    doc.SetText(QStringLiteral("<a x=\"1\"/>\r\n"));
    ASSERT_TRUE(doc.FindElement(QStringLiteral("a")));
    ASSERT_TRUE(doc.EnterElement());
    ASSERT_TRUE(doc.AddElement(QStringLiteral("b")));
    EXPECT_EQ(doc.GetText(), QStringLiteral("<a x=\"1\">\r\n<b/>\r\n</a>\r\n"));
    ASSERT_TRUE(doc.AddElement(QStringLiteral("c"), QStringLiteral("1 < 2 & 3")));
    EXPECT_EQ(doc.GetText(),
              QStringLiteral("<a x=\"1\">\r\n<b/>\r\n<c>1 &lt; 2 &amp; 3</c>\r\n</a>\r\n"));
    // Inserted before the current element, then as a child of it.
    ASSERT_TRUE(doc.AddElement(QStringLiteral("d"), QString(), XmlAddBefore));
    ASSERT_TRUE(doc.AddElement(QStringLiteral("e"), QString(), XmlAddAsChild));
    EXPECT_EQ(doc.GetText(), QStringLiteral("<a x=\"1\">\r\n<b/>\r\n<d>\r\n<e/>\r\n</d>\r\n"
                                            "<c>1 &lt; 2 &amp; 3</c>\r\n</a>\r\n"));
    EXPECT_TRUE(doc.VerifyIndex());
    EXPECT_TRUE(doc.IsWellFormed());

    // A parent with start and end tag and nothing between them.
    CXmlDoc open;
    open.SetText(QStringLiteral("<p></p>"));
    open.FindElement(QStringLiteral("p"));
    open.EnterElement();
    ASSERT_TRUE(open.AddElement(QStringLiteral("q"), QString(), XmlAddSpaceSlash));
    EXPECT_EQ(open.GetText(), QStringLiteral("<p>\r\n<q />\r\n</p>"));
    ASSERT_TRUE(open.AddElement(QStringLiteral("r"), QStringLiteral("x]]>y"), XmlAddCData));
    EXPECT_EQ(open.GetText(), QStringLiteral("<p>\r\n<q />\r\n<r><![CDATA[x]]]]><![CDATA[>y]]>"
                                             "</r>\r\n</p>"));
    EXPECT_TRUE(open.VerifyIndex());
}

TEST(XmlDoc, AddElement_RefusesBadNamesAndFlagConflicts)
{
    CXmlDoc doc;
    doc.SetText(QStringLiteral("<a/>"));
    const QString before = doc.GetText();
    EXPECT_FALSE(doc.AddElement(QString()));
    EXPECT_FALSE(doc.AddElement(QStringLiteral("b c")));
    EXPECT_FALSE(doc.AddElement(QStringLiteral("1b")));
    EXPECT_FALSE(doc.AddElement(QStringLiteral("b\"")));
    EXPECT_FALSE(doc.AddElement(QStringLiteral("b"), QStringLiteral("v"), XmlAddStartTagOnly));
    EXPECT_FALSE(doc.AddElement(QStringLiteral("b"), QString(), XmlAddAsChild)); // no current
    EXPECT_FALSE(doc.AddElement(QString(1100, u'n'), QStringLiteral("v")));      // end tag limit
    EXPECT_EQ(doc.GetText(), before);
    doc.SetFlags(XmlFlagReadMode);
    EXPECT_FALSE(doc.AddElement(QStringLiteral("b")));
    EXPECT_FALSE(doc.SetText(QStringLiteral("<x/>")));
    EXPECT_EQ(doc.GetText(), before);
}

TEST(XmlDoc, Attributes_ReplacedInPlaceEscapedAndUnescaped)
{
    CXmlDoc doc;
    doc.SetText(QStringLiteral("<r>\r\n<a k='old' z=\"2\">\r\n<b/>\r\n</a>\r\n<c/>\r\n</r>"));
    ASSERT_TRUE(doc.FindElement(QStringLiteral("r")));
    doc.EnterElement();
    ASSERT_TRUE(doc.FindElement(QStringLiteral("a")));
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("k")), QStringLiteral("old"));
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("missing")), QString());
    ASSERT_TRUE(doc.SetAttribute(QStringLiteral("k"), QStringLiteral("new")));
    ASSERT_TRUE(doc.SetAttribute(QStringLiteral("n"), -42));
    const QString tricky = QStringLiteral("\"quoted\" 'apos' & <tag> &amp;");
    ASSERT_TRUE(doc.SetAttribute(QStringLiteral("t"), tricky));
    EXPECT_TRUE(doc.GetText().startsWith(
        QStringLiteral("<r>\r\n<a k=\"new\" z=\"2\" n=\"-42\" t=\"&quot;quoted&quot; "
                       "&apos;apos&apos; &amp; &lt;tag&gt; &amp;amp;\">")));
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("t")), tricky);
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("n")), QStringLiteral("-42"));
    EXPECT_TRUE(doc.VerifyIndex());
    // Following elements moved with the edit.
    ASSERT_TRUE(doc.FindElement(QStringLiteral("c")));
    EXPECT_EQ(doc.CurrentName(), QStringLiteral("c"));
    ASSERT_TRUE(doc.SetAttribute(QStringLiteral("q"), QStringLiteral("1")));
    EXPECT_TRUE(doc.GetText().endsWith(QStringLiteral("<c q=\"1\"/>\r\n</r>")));
    EXPECT_TRUE(doc.VerifyIndex());

    doc.ResetPosition();
    EXPECT_FALSE(doc.SetAttribute(QStringLiteral("k"), QStringLiteral("v")));
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("k")), QString());
}

TEST(XmlDoc, Unescape_ReferencesAndNamedEntities)
{
    const struct
    {
        QString in;
        QString out;
    } cases[] = {
        {QStringLiteral("&Uacute;&uacute;"), QString(QChar(0xDA)) + QChar(0xFA)},
        {QStringLiteral("&hearts;&alpha;"), QString(QChar(9829)) + QChar(945)},
        {QStringLiteral("&#65;&#x42;&#X43;"), QStringLiteral("ABC")},
        {QStringLiteral("&#x1F600;"), QString::fromUtf8("\xF0\x9F\x98\x80")},
        {QStringLiteral("&lt;&gt;&amp;&quot;&apos;"), QStringLiteral("<>&\"'")},
        {QStringLiteral("a & b"), QStringLiteral("a & b")},
        {QStringLiteral("&nosuch;&#;&#x;&#xD800;&#1114112;&#12a;&"),
         QStringLiteral("&nosuch;&#;&#x;&#xD800;&#1114112;&#12a;&")},
        {QStringLiteral("&UACUTE;"), QStringLiteral("&UACUTE;")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(XmlUnescape(c.in), c.out) << c.in.toStdString();
        CXmlDoc doc;
        doc.SetText(QStringLiteral("<a v=\"") + c.in + QStringLiteral("\"/>"));
        doc.FindElement(QStringLiteral("a"));
        EXPECT_EQ(doc.GetAttribute(QStringLiteral("v")), c.out);
    }
}

TEST(XmlDoc, Parse_ErrorsAndOffsets)
{
    CXmlDoc doc;
    // b left open inside a: closed just before </a>.
    EXPECT_FALSE(doc.SetText(QStringLiteral("<a><b></a>")));
    EXPECT_TRUE(doc.GetResultReport().contains(
        QStringLiteral("<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"5\"/>")));
    ASSERT_TRUE(doc.FindElement(QStringLiteral("a")));
    doc.EnterElement();
    EXPECT_TRUE(doc.FindElement(QStringLiteral("b"))); // still navigable

    EXPECT_FALSE(doc.SetText(QStringLiteral("<a></b></a>")));
    EXPECT_TRUE(doc.GetResultReport().contains(
        QStringLiteral("<lone_end_tag tagname=\"b\" offset=\"3\"/>")));

    EXPECT_FALSE(doc.SetText(QStringLiteral("<a><b>")));
    EXPECT_TRUE(doc.GetResultReport().contains(
        QStringLiteral("<unended_start_tag tagname=\"b\" offset=\"3\" offset2=\"6\"/>")));

    // '>' inside a quoted value does not end the tag.
    EXPECT_TRUE(doc.SetText(QStringLiteral("<a t=\"x>y\" u='>'><b/></a>")));
    doc.FindElement(QStringLiteral("a"));
    EXPECT_EQ(doc.GetAttribute(QStringLiteral("t")), QStringLiteral("x>y"));
    doc.EnterElement();
    EXPECT_TRUE(doc.FindElement(QStringLiteral("b")));

    const struct
    {
        QString text;
        QString entry;
    } syntax[] = {
        {QStringLiteral("<a>< b</a>"), QStringLiteral("<first_tag_syntax offset=\"3\"/>")},
        {QStringLiteral("<a><!x></a>"), QStringLiteral("<exclamation_tag_syntax offset=\"3\"/>")},
        {QStringLiteral("<a><!-x></a>"), QStringLiteral("<comment_tag_syntax offset=\"3\"/>")},
        {QStringLiteral("<a><![X[</a>"), QStringLiteral("<cdata_section_syntax offset=\"3\"/>")},
        {QStringLiteral("<!DOCTIPE a><a/>"), QStringLiteral("<doctype_tag_syntax offset=\"0\"/>")},
        {QStringLiteral("<a><!-- x"),
         QStringLiteral("<unterminated_tag_syntax type=\"comment\" offset=\"3\"/>")},
        {QStringLiteral("<a x=\"1"),
         QStringLiteral("<unterminated_tag_syntax type=\"start_tag\" offset=\"0\"/>")},
        {QStringLiteral("<a/><"),
         QStringLiteral("<unterminated_tag_syntax type=\"tag\" offset=\"4\"/>")},
        {QStringLiteral("<a/><b/>"), QStringLiteral("<root_has_sibling/>")},
    };
    for (const auto& s : syntax) {
        doc.SetText(s.text);
        EXPECT_TRUE(doc.GetResultReport().contains(s.entry))
            << s.text.toStdString() << " -> " << doc.GetResultReport().toStdString();
    }
    // Comments, CDATA, PIs and a DOCTYPE with an internal subset are skipped.
    EXPECT_TRUE(doc.SetText(QStringLiteral("<?xml version=\"1.0\"?><!DOCTYPE a [<!ENTITY e "
                                           "\"<>\">]><!-- <x> --><a><![CDATA[<y>]]></a>")));
    EXPECT_EQ(doc.ElementCount(), 1u);
}

TEST(XmlDoc, FindElement_EmptyNameVisitsEveryElementOfTheLevel)
{
    CXmlDoc doc;
    doc.SetText(QStringLiteral("<r><a><x/></a><b/>text<c></c><B/></r>"));
    doc.FindElement(QStringLiteral("r"));
    doc.EnterElement();
    QStringList seen;
    while (doc.FindElement(QString())) {
        seen << doc.CurrentName();
    }
    EXPECT_EQ(seen, (QStringList{"a", "b", "c", "B"}));
    // Leaving and entering again resumes after the element that was current.
    doc.ResetPosition();
    doc.FindElement(QStringLiteral("r"));
    doc.EnterElement();
    doc.FindElement(QStringLiteral("b"));
    EXPECT_FALSE(doc.FindElement(QStringLiteral("a"))); // only forward
    EXPECT_EQ(doc.CurrentName(), QStringLiteral("b"));
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

TEST(XmlDoc, LoadFile_EncodingsAndMarks)
{
    const QString text = QStringLiteral("<a n=\"\u00DF\u4E2D\"/>");
    struct Case
    {
        const char* name;
        QByteArray bytes;
        const char* entries;
    };
    QByteArray le("\xFF\xFE", 2);
    QByteArray be("\xFE\xFF", 2);
    const QString leText = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>") + text;
    for (QChar c : leText) {
        le.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xFF));
    }
    QByteArray utf32;
    const QString utf32Text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-32\"?>") + text;
    for (uint c : utf32Text.toUcs4()) {
        utf32.append(char(c & 0xFF)).append(char(c >> 8)).append(char(c >> 16)).append('\0');
    }
    const Case cases[] = {
        {"bom8.xml", QByteArray("\xEF\xBB\xBF") + text.toUtf8(), "<bom/>"},
        {"le.xml", le, "<read encoding=\"UTF-16LE\""},
        {"be.xml", be, "<endian_swap/>"},
        {"plain8.xml", text.toUtf8(), "<read encoding=\"UTF-8\""},
        {"gbk.xml",
         QByteArray("<?xml version=\"1.0\" encoding=\"GBK\"?>") +
             WideToCodeset(QStringLiteral("<a n=\"\u4E2D\u6587\"/>"), "GBK"),
         "<read encoding=\"GBK\""},
    };
    for (const Case& c : cases) {
        const QString path = TempPath(QString::fromLatin1(c.name));
        WriteBytes(path, c.bytes);
        CXmlDoc doc;
        EXPECT_TRUE(doc.LoadFile(path)) << c.name << doc.GetResultReport().toStdString();
        EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String(c.entries))) << c.name;
        ASSERT_TRUE(doc.FindElement(QStringLiteral("a"))) << c.name;
        if (QByteArray(c.name) != "gbk.xml") {
            EXPECT_EQ(doc.GetAttribute(QStringLiteral("n")), QStringLiteral("\u00DF\u4E2D"))
                << c.name;
        } else {
            EXPECT_EQ(doc.GetAttribute(QStringLiteral("n")), QStringLiteral("\u4E2D\u6587"));
        }
    }
    // UTF-32 has no mark: its declaration is found with the NUL bytes left out.
    {
        CXmlDoc doc;
        const QString path = TempPath(QStringLiteral("utf32.xml"));
        WriteBytes(path, utf32);
        EXPECT_TRUE(doc.LoadFile(path)) << doc.GetResultReport().toStdString();
        ASSERT_TRUE(doc.FindElement(QStringLiteral("a")));
        EXPECT_EQ(doc.GetAttribute(QStringLiteral("n")), QStringLiteral("\u00DF\u4E2D"));
    }
    // FF FE wins over the declaration; the flags keep the mark for saving.
    {
        CXmlDoc doc(XmlFlagUtf8Bom);
        const QString path = TempPath(QStringLiteral("le.xml"));
        ASSERT_TRUE(doc.LoadFile(path));
        EXPECT_EQ(doc.Flags() & (XmlFlagUtf16LE | XmlFlagUtf8Bom), std::uint32_t(XmlFlagUtf16LE));
        const QString out = TempPath(QStringLiteral("le-out.xml"));
        ASSERT_TRUE(doc.SaveFile(out));
        EXPECT_EQ(ReadBytes(out), le);
    }
}

TEST(XmlDoc, LoadFile_NulsCutSequencesAndReport)
{
    const QString path = TempPath(QStringLiteral("nul.xml"));
    // A NUL inside and a UTF-8 sequence cut at the end of the file.
    WriteBytes(path, QByteArray("\xEF\xBB\xBF<a v=\"x\0y\"/>\xE4\xB8", 17));
    CXmlDoc doc;
    EXPECT_TRUE(doc.LoadFile(path));
    EXPECT_EQ(doc.GetText(), QStringLiteral("<a v=\"xy\"/>"));
    EXPECT_EQ(doc.GetResultReport(),
              QStringLiteral("<bom/>\r\n<read encoding=\"UTF-8\" length=\"11\"/>\r\n"
                             "<nulls_removed count=\"1\"/>\r\n"
                             "<converted_to encoding=\"UTF-16\" length=\"11\"/>\r\n"));

    // Undeclared, not UTF-8: the ANSI code page.
    const QString latin = TempPath(QStringLiteral("latin.xml"));
    WriteBytes(latin, QByteArray(" <a v=\"\xE9\"/>"));
    CXmlDoc other;
    other.LoadFile(latin);
    EXPECT_TRUE(other.GetResultReport().contains(QLatin1String("<utf8_detection/>")));
    EXPECT_TRUE(other.FindElement(QStringLiteral("a")));
}

TEST(XmlDoc, Files_FailuresLeaveDocumentAndOldFile)
{
    CXmlDoc doc;
    doc.SetText(QStringLiteral("<a/>"));
    EXPECT_FALSE(doc.LoadFile(TempPath(QStringLiteral("missing.xml"))));
    EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String("<file_error msg=\"No such file or "
                                                             "directory\" n=\"2\"/>")));
    EXPECT_EQ(doc.GetText(), QStringLiteral("<a/>"));
    EXPECT_FALSE(doc.LoadFile(TestHome()));
    EXPECT_FALSE(doc.SaveFile(TestHome()));
    EXPECT_FALSE(doc.SaveFile(TempPath(QStringLiteral("no/such/dir/x.xml"))));

    // A huge file is refused before it is read.
    const QString big = TempPath(QStringLiteral("big.xml"));
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(200LL * 1024 * 1024));
    }
    EXPECT_FALSE(doc.LoadFile(big));
    EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String("n=\"27\"")));
    QFile::remove(big);

    // A write that fails part way: the old file stays as it was.
    const QString file = TempPath(QStringLiteral("s.xml"));
    WriteBytes(file, "old");
    doc.SetText(QStringLiteral("<a v=\"") + QString(4000, u'x') + QStringLiteral("\"/>"));
    {
        FileSizeLimit limit(1000);
        EXPECT_FALSE(doc.SaveFile(file));
    }
    EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String("<file_error")));
    EXPECT_EQ(ReadBytes(file), QByteArray("old"));
    EXPECT_EQ(QDir(TestHome()).entryList(QDir::Files).filter(QStringLiteral("s.xml")),
              QStringList{QStringLiteral("s.xml")}); // no temporary file left behind

    // Report entries stop once the report reaches its bound.
    QString many;
    for (int i = 0; i < 500; ++i) {
        many += QStringLiteral("</x>");
    }
    doc.SetText(QStringLiteral("<a>") + many + QStringLiteral("</a>"));
    EXPECT_LT(doc.GetResultReport().size(), CXmlDoc::kReportBound + 100);
}

TEST(XmlDoc, Limits_DeepNestingAndLongTags)
{
    QString deep;
    for (int i = 0; i < 100000; ++i) {
        deep += QStringLiteral("<e>");
    }
    for (int i = 0; i < 100000; ++i) {
        deep += QStringLiteral("</e>");
    }
    CXmlDoc doc;
    EXPECT_TRUE(doc.SetText(deep));
    EXPECT_EQ(doc.ElementCount(), 100000u);
    EXPECT_EQ(doc.Record(100000).Level(), XmlElementRecord::kMaxLevel);
    EXPECT_TRUE(doc.FindElement(QStringLiteral("e")));
    EXPECT_TRUE(doc.SetAttribute(QStringLiteral("k"), QStringLiteral("v")));
    EXPECT_TRUE(doc.VerifyIndex());

    // Lone end tags under a deep stack are each answered without walking the stack.
    QString lone = QString(deep).left(150000);
    for (int i = 0; i < 50000; ++i) {
        lone += QStringLiteral("</x>");
    }
    EXPECT_FALSE(doc.SetText(lone));
    EXPECT_EQ(doc.ElementCount(), 50000u);

    const QString longTag = QStringLiteral("<a v=\"") +
                            QString(int(XmlElementRecord::kMaxStartTag), u'x') +
                            QStringLiteral("\"/>");
    EXPECT_FALSE(doc.SetText(longTag));
    EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String("tag_length_limit")));
    doc.SetText(QStringLiteral("<a/>"));
    doc.FindElement(QStringLiteral("a"));
    EXPECT_FALSE(
        doc.SetAttribute(QStringLiteral("v"), QString(int(XmlElementRecord::kMaxStartTag), u'x')));
    EXPECT_EQ(doc.GetText(), QStringLiteral("<a/>"));
}

TEST(XmlDoc, Index_GrowsPastOnePageAndStaysConsistent)
{
    CXmlDoc doc;
    doc.SetText(QStringLiteral("<r/>"));
    doc.FindElement(QStringLiteral("r"));
    doc.EnterElement();
    for (int i = 0; i < 70000; ++i) {
        ASSERT_TRUE(doc.AddElement(QStringLiteral("u")));
        ASSERT_TRUE(doc.SetAttribute(QStringLiteral("i"), i));
    }
    EXPECT_TRUE(doc.VerifyIndex());
    doc.ResetPosition();
    doc.FindElement(QStringLiteral("r"));
    doc.EnterElement();
    int count = 0;
    while (doc.FindElement(QStringLiteral("u"))) {
        ASSERT_EQ(doc.GetAttribute(QStringLiteral("i")).toInt(), count);
        ++count;
    }
    EXPECT_EQ(count, 70000);
}

TEST(XmlDoc, SaveFile_DeclaredEncodingAndLoss)
{
    CXmlDoc doc;
    doc.SetText(
        QStringLiteral("<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n<a n=\"\u738B\"/>\r\n"));
    const QString path = TempPath(QStringLiteral("gbk-out.xml"));
    ASSERT_TRUE(doc.SaveFile(path));
    EXPECT_TRUE(ReadBytes(path).endsWith(QByteArray("<a n=\"\xCD\xF5\"/>\r\n")));
    EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String("<write encoding=\"GBK\"")));

    // A character GBK cannot hold is written as '?' and reported.
    doc.SetText(QStringLiteral("<?xml version=\"1.0\" encoding=\"GBK\"?><a n=\"\U0001F600\"/>"));
    ASSERT_TRUE(doc.SaveFile(path));
    EXPECT_TRUE(doc.GetResultReport().contains(QLatin1String("<conversion_loss")));
    EXPECT_TRUE(ReadBytes(path).contains("n=\"?"));

    // No mark and no declaration: UTF-8 without a mark.
    doc.SetText(QStringLiteral("<a n=\"\u00E9\"/>"));
    ASSERT_TRUE(doc.SaveFile(path));
    EXPECT_EQ(ReadBytes(path), QByteArray("<a n=\"\xC3\xA9\"/>"));

    // An encoding nobody knows: nothing is written.
    doc.SetText(QStringLiteral("<?xml version=\"1.0\" encoding=\"x-none-such\"?><a/>"));
    EXPECT_FALSE(doc.SaveFile(path));
    EXPECT_EQ(ReadBytes(path), QByteArray("<a n=\"\xC3\xA9\"/>"));

    // A null text empties the document and its index.
    EXPECT_FALSE(doc.SetText(QString()));
    EXPECT_EQ(doc.ElementCount(), 0u);
    EXPECT_FALSE(doc.FindElement(QString()));
    ASSERT_TRUE(doc.AddElement(QStringLiteral("r")));
    EXPECT_EQ(doc.GetText(), QStringLiteral("<r/>\r\n"));
    EXPECT_TRUE(doc.VerifyIndex());
}
