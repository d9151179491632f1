#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include <QString>
#include <QStringView>

// Document flags of CXmlDoc (a bit set).
enum XmlDocFlag : std::uint32_t
{
    XmlFlagUtf16LE = 0x1,     // the file is (to be) UTF-16 little endian
    XmlFlagUtf8Bom = 0x4,     // a UTF-8 file is written with the byte order mark EF BB BF
    XmlFlagIgnoreCase = 0x8,  // tag and attribute names compare ignoring ASCII case
    XmlFlagReadMode = 0x10,   // streaming read mode: editing and SetText are refused
    XmlFlagWriteMode = 0x20,  // streaming write mode: LoadFile, SetText, FindElement refused
    XmlFlagAppendMode = 0x40, // SaveFile appends to the file
    XmlFlagUtf16BE = 0x80,    // the file is (to be) UTF-16 big endian
};

// Add-flags of CXmlDoc::AddElement (a bit set).
enum XmlAddFlag : std::uint32_t
{
    XmlAddCData = 0x1,         // the value is written as a CDATA section
    XmlAddNoLineBreak = 0x2,   // no "\r\n" around the new element
    XmlAddSpaceSlash = 0x4,    // an element without value closes with " />"
    XmlAddStartTagOnly = 0x10, // "<name>" without end tag; refused with a value
    XmlAddBefore = 0x2000,     // insert before the current element
    XmlAddAsChild = 0x4000,    // insert as a child of the current element
};

// An attribute given to CXmlDoc::AddElement: its name and its unescaped value.
struct XmlAttribute
{
    QStringView name;
    QStringView value;
};

// One element of the index. Offsets and lengths count UTF-16 units of the document text.
struct XmlElementRecord
{
    // No member initialisers: index pages are allocated without zeroing, and every record
    // is value-initialised (XmlElementRecord{}) when it is taken into use.
    std::int32_t start;       // offset of the '<' of the start tag
    std::uint32_t length;     // start tag's '<' through the end tag's '>'
    std::uint32_t tagLengths; // start tag length (low 22 bits), end tag length (high 10)
    std::uint32_t levelMarks; // nesting level (low 16 bits) and the marks below
    std::uint32_t parent;
    std::uint32_t firstChild;
    std::uint32_t next;
    std::uint32_t prev; // for a first child: the last child of the parent

    static constexpr std::uint32_t kMaxStartTag = 0x3FFFFF; // 4,194,303 units
    static constexpr std::uint32_t kMaxEndTag = 0x3FF;      // 1,023 units
    static constexpr std::uint32_t kMaxLevel = 0xFFFF;
    static constexpr std::uint32_t kMarkEmpty = 1u << 16;
    static constexpr std::uint32_t kMarkFirstChild = 1u << 17;
    static constexpr std::uint32_t kMarkUnended = 1u << 19;
    static constexpr std::uint32_t kMarkIllFormed = 1u << 20;

    std::uint32_t StartTagLength() const { return tagLengths & kMaxStartTag; }
    std::uint32_t EndTagLength() const { return tagLengths >> 22; }
    std::uint32_t Level() const { return levelMarks & 0xFFFF; }
};

// The element index: records in pages of 65,536 that never move.
class CXmlElementIndex
{
public:
    static constexpr std::uint32_t kPageBits = 16;
    static constexpr std::uint32_t kPageSize = 1u << kPageBits;

    XmlElementRecord& operator[](std::uint32_t i)
    {
        return m_pages[i >> kPageBits][i & (kPageSize - 1)];
    }
    const XmlElementRecord& operator[](std::uint32_t i) const
    {
        return m_pages[i >> kPageBits][i & (kPageSize - 1)];
    }
    std::uint32_t Capacity() const { return m_capacity; }
    // Grows the index to at least capacity records. Returns false when that is impossible.
    bool Reserve(std::uint64_t capacity);
    // Frees every page.
    void Free();

private:
    std::vector<std::unique_ptr<XmlElementRecord[]>> m_pages;
    std::uint32_t m_capacity = 0;
};

// A small XML document engine: the whole document is one UTF-16 text, exactly as it will
// be saved, plus an index of element positions. A three-level cursor (parent, current,
// child) walks and edits it; edits splice the text and patch the index. Nothing throws:
// failures return false (or an empty string) and leave document and cursor unchanged.
class CXmlDoc
{
public:
    // Longest text the index can address, and the largest file LoadFile reads.
    static constexpr qsizetype kMaxTextLength = 0x7FFF0000;
    static constexpr qint64 kMaxFileBytes = 128 * 1024 * 1024;
    // The ResultReport takes new entries only while it is shorter than this.
    static constexpr qsizetype kReportBound = 1000;

    explicit CXmlDoc(std::uint32_t flags = 0);
    ~CXmlDoc();
    CXmlDoc(const CXmlDoc&) = delete;
    CXmlDoc& operator=(const CXmlDoc&) = delete;

    std::uint32_t Flags() const { return m_flags; }
    void SetFlags(std::uint32_t flags) { m_flags = flags; }

    // Replaces the text (a null string empties it and frees the index), clears the report
    // and parses. Returns IsWellFormed(); false (nothing changed) in streaming modes.
    bool SetText(const QString& text);
    // The document text.
    QString GetText() const { return m_text; }
    // Reads the file with byte order mark and encoding detection and parses it. Returns the
    // parse verdict; false, with the document unchanged, when the file cannot be read.
    bool LoadFile(const QString& path);
    // Writes the text in the encoding the flags or the declaration choose. Returns true
    // when all of it was written. Outside append mode a failed save leaves an existing
    // file as it was (the text goes to a temporary file that replaces it at the end).
    bool SaveFile(const QString& path);

    // Moves the cursor to the document level before the first element.
    void ResetPosition();
    // Makes the next element of the current level named name (any element when name is
    // empty) current. Returns false, cursor unchanged, when there is none.
    bool FindElement(const QString& name = QString());
    // Steps into the current element. Returns false when there is no current element.
    bool EnterElement();
    // Steps out to the parent. Returns false at document level.
    bool LeaveElement();
    // Inserts an element (flags XmlAddFlag); it becomes current. Returns false, nothing
    // changed, when refused (bad name, flag conflict, limits).
    bool AddElement(const QString& name, const QString& value = QString(), std::uint32_t flags = 0);
    // Inserts an element without value that carries attributes, in their order, as one edit
    // (the same as AddElement and one SetAttribute each). Returns false, nothing changed,
    // when refused (a bad or repeated attribute name besides AddElement's reasons).
    bool AddElement(const QString& name, std::initializer_list<XmlAttribute> attributes,
                    std::uint32_t flags = 0);
    // The unescaped value of the current element's attribute; empty when there is none.
    QString GetAttribute(const QString& name) const;
    // Sets or adds an attribute of the current element. False when there is no current
    // element or the start tag would exceed its limit.
    bool SetAttribute(const QString& name, const QString& value);
    bool SetAttribute(const QString& name, int value);
    // True when there is exactly one root element and no parse error was found.
    bool IsWellFormed() const;
    // The report of the last load, save and parse (one XML element per event).
    QString GetResultReport() const { return m_report; }

    // The tag name of the current element (empty when none).
    QString CurrentName() const;
    // Number of elements in the index.
    std::uint32_t ElementCount() const { return m_nextFree > 0 ? m_nextFree - 1 : 0; }
    // Index record i (0 = the document); for tests and diagnostics.
    const XmlElementRecord& Record(std::uint32_t i) const { return m_index[i]; }
    std::uint32_t CurrentIndex() const { return m_current; }
    // Parses the text afresh and compares the result with the patched index. Returns true
    // when positions, lengths, levels and links all agree.
    bool VerifyIndex() const;

private:
    struct ReportAttr
    {
        const char* name;
        QString value;
    };

    struct ParseState;
    // Where one attribute of a start tag lies in the text.
    struct AttributeSpan
    {
        qsizetype nameStart;
        qsizetype nameEnd;
        qsizetype valueStart;
        qsizetype valueEnd;
        bool quoted;
    };

    bool AddElementText(const QString& name, QStringView attributes, const QString& value,
                        std::uint32_t flags);
    const std::vector<AttributeSpan>& Attributes(std::uint32_t index) const;

    bool Parse();
    qsizetype ParseMarkup(ParseState& ps, qsizetype s);
    qsizetype ParseStartTag(ParseState& ps, qsizetype s);
    qsizetype ParseEndTag(ParseState& ps, qsizetype s);
    qsizetype ParseExclamation(ParseState& ps, qsizetype s);
    qsizetype ParseDoctype(ParseState& ps, qsizetype s);
    qsizetype SkipPast(ParseState& ps, qsizetype s, qsizetype from, QStringView terminator,
                       const char* type);
    qsizetype SyntaxError(ParseState& ps, const char* event, qsizetype s);
    qsizetype Unterminated(ParseState& ps, const char* type, qsizetype s);
    // Reports a tag longer than its record can hold; true when it is.
    bool TagTooLong(ParseState& ps, const char* type, qsizetype s, qsizetype length,
                    std::uint32_t max);
    void CloseUnended(std::uint32_t idx, qsizetype endPos, qsizetype offset2);
    std::uint32_t NewRecord(std::uint32_t parent, std::uint32_t after, bool before);
    void Shift(std::uint32_t node, std::int64_t delta, bool includeChildren);
    void ShiftSubtree(std::uint32_t node, std::int64_t delta);
    void Splice(qsizetype pos, qsizetype removed, const QString& inserted);
    QStringView TagName(std::uint32_t index) const;
    bool NameEquals(QStringView a, QStringView b) const;
    bool FindAttribute(std::uint32_t index, QStringView name, qsizetype* valueStart,
                       qsizetype* valueEnd, bool* quoted) const;
    qsizetype SkipWhitespaceToTag(qsizetype pos) const;
    void Report(const char* event, std::initializer_list<ReportAttr> attrs = {});
    void UpdateReport(const char* event, std::initializer_list<ReportAttr> attrs);
    void ReportFileError(int error, const QString& message = QString());

    QString m_text;
    QString m_report;
    std::uint32_t m_parent = 0;
    std::uint32_t m_current = 0;
    std::uint32_t m_child = 0;
    std::uint32_t m_nextFree = 1;
    std::uint32_t m_flags = 0;
    CXmlElementIndex m_index;
    // The attributes of one element, found once and kept until the text changes: reading
    // several attributes of an element scans its start tag once.
    mutable std::uint32_t m_spansOf = 0;
    mutable std::vector<AttributeSpan> m_spans;
};

// Escapes text for element content (& < >) or, with forAttribute, for an attribute value
// (also " and ').
QString XmlEscape(QStringView text, bool forAttribute);
// Appends text escaped as XmlEscape does.
void XmlAppendEscaped(QString& out, QStringView text, bool forAttribute);
// Replaces the predefined, numeric and HTML 4 named references; an '&' that begins none of
// them stays as it is.
QString XmlUnescape(QStringView text);
