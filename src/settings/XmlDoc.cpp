#include "settings/XmlDoc.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include "platform/CodePage.h"
#include "settings/XmlTables.h"

namespace {

// Longest attribute value a report entry carries (tag names can be millions of units).
constexpr qsizetype kReportValueMax = 100;
// Longest system error text a report entry carries.
constexpr qsizetype kErrorTextMax = 100;
// How much of a file's beginning is searched for a declared encoding.
constexpr qsizetype kDeclarationWindow = 1024;
constexpr qsizetype kReadChunk = 1 << 20;

inline bool IsWs(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

inline bool IsNameStart(char16_t c)
{
    return (c >= u'A' && c <= u'Z') || c == u'_' || c == u':' || c >= u'a';
}

inline bool EndsName(char16_t c)
{
    return IsWs(c) || c == u'/' || c == u'>';
}

inline char16_t FoldAscii(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

std::uint64_t HashName(QStringView name, bool ignoreCase)
{
    std::uint64_t h = 1469598103934665603ull;
    for (QChar qc : name) {
        const char16_t c = ignoreCase ? FoldAscii(qc.unicode()) : qc.unicode();
        h = (h ^ c) * 1099511628211ull;
    }
    return h;
}

// A valid element or attribute name for the editing operations: what the scanner reads as
// one name, so that an edit never produces markup the parse would read differently.
bool IsValidName(QStringView name, bool element)
{
    if (name.isEmpty() || (element && !IsNameStart(name.front().unicode()))) {
        return false;
    }
    for (QChar qc : name) {
        const char16_t c = qc.unicode();
        if (IsWs(c) || c == u'/' || c == u'>' || c == u'<' || c == u'=' || c == u'"' ||
            c == u'\'' || c == u'&' || c < 0x20) {
            return false;
        }
    }
    return true;
}

// Open-element counts per name hash: open addressing, entries never removed (a count
// drops to 0), so the parse allocates only when a new name appears.
class NameCounts
{
public:
    std::uint32_t& operator[](std::uint64_t hash)
    {
        if (m_slots.empty()) {
            m_slots.resize(64);
        }
        const std::uint64_t key = hash | 1; // 0 marks an empty slot
        std::size_t mask = m_slots.size() - 1;
        std::size_t i = std::size_t(key) & mask;
        while (m_slots[i].key != 0 && m_slots[i].key != key) {
            i = (i + 1) & mask;
        }
        if (m_slots[i].key == 0) {
            if ((m_used + 1) * 2 > m_slots.size()) {
                Grow();
                return (*this)[hash];
            }
            m_slots[i].key = key;
            ++m_used;
        }
        return m_slots[i].count;
    }

    std::uint32_t Count(std::uint64_t hash) const
    {
        if (m_slots.empty()) {
            return 0;
        }
        const std::uint64_t key = hash | 1;
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = std::size_t(key) & mask; m_slots[i].key != 0; i = (i + 1) & mask) {
            if (m_slots[i].key == key) {
                return m_slots[i].count;
            }
        }
        return 0;
    }

private:
    struct Slot
    {
        std::uint64_t key = 0;
        std::uint32_t count = 0;
    };

    void Grow()
    {
        std::vector<Slot> old(m_slots.size() * 2);
        old.swap(m_slots);
        m_used = 0;
        for (const Slot& slot : old) {
            if (slot.key != 0) {
                (*this)[slot.key] = slot.count;
            }
        }
    }

    std::vector<Slot> m_slots;
    std::size_t m_used = 0;
};

QString CDataForm(const QString& value)
{
    QString inner = value;
    inner.replace(QStringLiteral("]]>"), QStringLiteral("]]]]><![CDATA[>"));
    return QStringLiteral("<![CDATA[") + inner + QStringLiteral("]]>");
}

// The value of the "encoding" attribute of an XML declaration, or the charset of an HTML
// meta Content-Type element, in the first bytes of a document read as 8-bit text.
QByteArray DeclaredEncoding(const QByteArray& head)
{
    const qsizetype decl = head.indexOf("<?xml");
    if (decl >= 0) {
        qsizetype end = head.indexOf("?>", decl);
        if (end < 0) {
            end = head.size();
        }
        const QByteArray pi = head.mid(decl, end - decl);
        qsizetype p = pi.indexOf("encoding");
        if (p >= 0) {
            p += 8;
            while (p < pi.size() && IsWs(char16_t(pi[p]))) {
                ++p;
            }
            if (p < pi.size() && pi[p] == '=') {
                ++p;
                while (p < pi.size() && IsWs(char16_t(pi[p]))) {
                    ++p;
                }
                if (p < pi.size() && (pi[p] == '"' || pi[p] == '\'')) {
                    const qsizetype close = pi.indexOf(pi[p], p + 1);
                    if (close > p) {
                        return pi.mid(p + 1, close - p - 1).trimmed();
                    }
                }
            }
        }
    }
    const QByteArray lower = head.toLower();
    if (lower.contains("<html")) {
        qsizetype m = lower.indexOf("<meta");
        while (m >= 0) {
            qsizetype end = lower.indexOf('>', m);
            if (end < 0) {
                end = lower.size();
            }
            const QByteArray tag = lower.mid(m, end - m);
            const qsizetype cs = tag.indexOf("charset=");
            if (tag.contains("http-equiv") && tag.contains("content-type") && cs >= 0) {
                qsizetype v = cs + 8;
                qsizetype e = v;
                while (e < tag.size() && tag[e] != '"' && tag[e] != '\'' && tag[e] != ';' &&
                       tag[e] != ' ' && tag[e] != '/') {
                    ++e;
                }
                return head.mid(m + v, e - v).trimmed();
            }
            m = lower.indexOf("<meta", end);
        }
    }
    return {};
}

// Checks UTF-8. *cut receives the length of an incomplete but so far valid sequence at the
// very end (left for a next read). Returns false for any invalid sequence before that.
bool CheckUtf8(const QByteArray& bytes, qsizetype* cut)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    *cut = 0;
    while (i < n) {
        // Eight ASCII bytes at a time.
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if (word & 0x8080808080808080ull) {
                break;
            }
            i += 8;
        }
        if (i >= n) {
            break;
        }
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int need;
        unsigned char lo = 0x80;
        unsigned char hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            need = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            if (c == 0xE0) {
                lo = 0xA0;
            } else if (c == 0xED) {
                hi = 0x9F;
            }
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            if (c == 0xF0) {
                lo = 0x90;
            } else if (c == 0xF4) {
                hi = 0x8F;
            }
        } else {
            return false;
        }
        for (int k = 1; k <= need; ++k) {
            if (i + k >= n) {
                *cut = n - i;
                return true;
            }
            const unsigned char cc = s[i + k];
            if (cc < (k == 1 ? lo : 0x80) || cc > (k == 1 ? hi : 0xBF)) {
                return false;
            }
        }
        i += need + 1;
    }
    return true;
}

QString Utf32ToWide(const QByteArray& bytes, bool bigEndian)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype units = bytes.size() / 4;
    QString out;
    out.reserve(units);
    for (qsizetype i = 0; i < units; ++i) {
        const unsigned char* p = s + i * 4;
        const char32_t c = bigEndian ? (char32_t(p[0]) << 24 | char32_t(p[1]) << 16 |
                                        char32_t(p[2]) << 8 | char32_t(p[3]))
                                     : (char32_t(p[3]) << 24 | char32_t(p[2]) << 16 |
                                        char32_t(p[1]) << 8 | char32_t(p[0]));
        if (c == 0) {
            continue; // NULs are removed as in every other encoding
        }
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.append(QChar(0xFFFD));
        } else {
            out.append(QChar::fromUcs4(c));
        }
    }
    return out;
}

QByteArray WideToUtf32(const QString& text, bool bigEndian)
{
    QByteArray out;
    const QList<uint> ucs = text.toUcs4();
    out.reserve(ucs.size() * 4);
    for (uint c : ucs) {
        const char b[4] = {char(c & 0xFF), char((c >> 8) & 0xFF), char((c >> 16) & 0xFF),
                           char(c >> 24)};
        if (bigEndian) {
            out.append(b[3]).append(b[2]).append(b[1]).append(b[0]);
        } else {
            out.append(b, 4);
        }
    }
    return out;
}

qsizetype CountLoneSurrogates(const QString& text)
{
    qsizetype lone = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            ++lone;
        }
    }
    return lone;
}

// The iconv codeset for an encoding name (empty name: the ANSI code page).
QByteArray CodesetOfEncoding(const QString& encoding)
{
    if (encoding.isEmpty()) {
        return CodesetName(CodePage::Ansi);
    }
    const int cp = CodePageOfEncoding(encoding);
    if (cp != 0) {
        return IconvNameOfCodePage(cp);
    }
    return NormalizeCodesetName(encoding);
}

bool IsUtf8Name(const QString& encoding)
{
    return CodePageOfEncoding(encoding) == 65001;
}

bool IsCodesetKnown(const QByteArray& codeset)
{
    return !codeset.isEmpty() && !WideToCodeset(QStringLiteral("a"), codeset).isNull();
}

QString Number(qint64 n)
{
    return QString::number(n);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Element index

bool CXmlElementIndex::Reserve(std::uint64_t capacity)
{
    if (capacity <= m_capacity) {
        return true;
    }
    if (capacity > 0xFFFFFFF0ull) {
        return false;
    }
    // Pages are allocated whole and left unwritten, so only the records taken into use
    // cost memory; full pages never move.
    while (std::uint64_t(m_pages.size()) * kPageSize < capacity) {
        std::unique_ptr<XmlElementRecord[]> page(new (std::nothrow) XmlElementRecord[kPageSize]);
        if (!page) {
            return false;
        }
        m_pages.push_back(std::move(page));
    }
    m_capacity = std::uint32_t(capacity);
    return true;
}

void CXmlElementIndex::Free()
{
    m_pages.clear();
    m_capacity = 0;
}

// ---------------------------------------------------------------------------------------
// Escapes

void XmlAppendEscaped(QString& out, QStringView text, bool forAttribute)
{
    qsizetype done = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        QLatin1String entity;
        switch (text[i].unicode()) {
        case u'&':
            entity = QLatin1String("&amp;");
            break;
        case u'<':
            entity = QLatin1String("&lt;");
            break;
        case u'>':
            entity = QLatin1String("&gt;");
            break;
        case u'"':
            entity = forAttribute ? QLatin1String("&quot;") : QLatin1String();
            break;
        case u'\'':
            entity = forAttribute ? QLatin1String("&apos;") : QLatin1String();
            break;
        default:
            break;
        }
        if (!entity.isEmpty()) {
            out.append(text.mid(done, i - done)).append(entity);
            done = i + 1;
        }
    }
    out.append(text.mid(done));
}

QString XmlEscape(QStringView text, bool forAttribute)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    XmlAppendEscaped(out, text, forAttribute);
    return out;
}

namespace {

// The code point of the reference ref (the text between '&' and ';'), or 0 when it is none.
char32_t ReferenceCode(QStringView ref)
{
    // The predefined entities first: they are nearly all a settings file holds.
    if (ref == u"amp") {
        return u'&';
    }
    if (ref == u"lt") {
        return u'<';
    }
    if (ref == u"gt") {
        return u'>';
    }
    if (ref == u"quot") {
        return u'"';
    }
    if (ref == u"apos") {
        return u'\'';
    }
    if (ref.size() < 2 || ref[0] != u'#') {
        const int cp = ref.isEmpty() ? -1 : NamedEntityCodePoint(ref);
        return cp > 0 ? char32_t(cp) : 0;
    }
    const bool hex = ref[1] == u'x' || ref[1] == u'X';
    const QStringView digits = ref.mid(hex ? 2 : 1);
    if (digits.isEmpty() || digits.size() > 8) {
        return 0;
    }
    char32_t code = 0;
    for (QChar d : digits) {
        const char16_t u = d.unicode();
        int v = -1;
        if (u >= u'0' && u <= u'9') {
            v = u - u'0';
        } else if (hex && u >= u'a' && u <= u'f') {
            v = u - u'a' + 10;
        } else if (hex && u >= u'A' && u <= u'F') {
            v = u - u'A' + 10;
        }
        if (v < 0) {
            return 0;
        }
        code = code * (hex ? 16 : 10) + char32_t(v);
    }
    return code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) ? code : 0;
}

} // namespace

QString XmlUnescape(QStringView text)
{
    constexpr qsizetype kMaxReference = 40;
    // Values are short: a plain loop finds the first '&' sooner than a library search.
    qsizetype amp = 0;
    while (amp < text.size() && text[amp] != u'&') {
        ++amp;
    }
    if (amp == text.size()) {
        return text.toString();
    }
    const qsizetype n = text.size();
    QString out;
    out.reserve(n);
    qsizetype done = 0; // text before done is in out
    while (amp >= 0) {
        qsizetype semi = -1;
        for (qsizetype j = amp + 1; j < n && j <= amp + kMaxReference; ++j) {
            if (text[j] == u';' || text[j] == u'&') {
                semi = text[j] == u';' ? j : -1;
                break;
            }
        }
        const char32_t code = semi < 0 ? 0 : ReferenceCode(text.mid(amp + 1, semi - amp - 1));
        if (code != 0) {
            out.append(text.mid(done, amp - done));
            if (code > 0xFFFF) {
                out.append(QChar::highSurrogate(code)).append(QChar::lowSurrogate(code));
            } else {
                out.append(QChar(char16_t(code)));
            }
            done = semi + 1;
        }
        amp = text.indexOf(u'&', code != 0 ? done : amp + 1);
    }
    out.append(text.mid(done));
    return out;
}

// ---------------------------------------------------------------------------------------
// Document

CXmlDoc::CXmlDoc(std::uint32_t flags) : m_flags(flags) {}

CXmlDoc::~CXmlDoc() = default;

void CXmlDoc::Report(const char* event, std::initializer_list<ReportAttr> attrs)
{
    if (m_report.size() >= kReportBound) {
        return;
    }
    QString entry = QLatin1Char('<') + QLatin1String(event);
    for (const ReportAttr& a : attrs) {
        entry += QLatin1Char(' ') + QLatin1String(a.name) + QLatin1String("=\"") +
                 XmlEscape(QStringView(a.value).left(kReportValueMax), true) + QLatin1Char('"');
    }
    entry += QLatin1String("/>\r\n");
    m_report += entry;
}

void CXmlDoc::UpdateReport(const char* event, std::initializer_list<ReportAttr> attrs)
{
    const QString head = QLatin1Char('<') + QLatin1String(event);
    qsizetype at = m_report.lastIndexOf(head + QLatin1Char(' '));
    if (at < 0) {
        at = m_report.lastIndexOf(head + QLatin1Char('/'));
    }
    if (at < 0) {
        Report(event, attrs);
        return;
    }
    const qsizetype end = m_report.indexOf(QLatin1String("/>\r\n"), at);
    if (end < 0) {
        return;
    }
    QString entry = head;
    for (const ReportAttr& a : attrs) {
        entry += QLatin1Char(' ') + QLatin1String(a.name) + QLatin1String("=\"") +
                 XmlEscape(QStringView(a.value).left(kReportValueMax), true) + QLatin1Char('"');
    }
    m_report.replace(at, end - at, entry);
}

void CXmlDoc::ReportFileError(int error, const QString& message)
{
    QString msg = message.isEmpty() ? qt_error_string(error) : message;
    for (qsizetype i = 0; i < msg.size(); ++i) {
        if (msg[i] == u'\r' || msg[i] == u'\n') {
            msg.truncate(i);
            break;
        }
    }
    msg.truncate(kErrorTextMax);
    Report("file_error", {{"msg", msg}, {"n", Number(error)}});
}

bool CXmlDoc::SetText(const QString& text)
{
    if (m_flags & (XmlFlagReadMode | XmlFlagWriteMode)) {
        return false;
    }
    if (text.size() > kMaxTextLength) {
        return false;
    }
    m_report.clear();
    if (text.isNull()) {
        m_text = QString();
        m_index.Free();
        m_nextFree = 1;
        m_spansOf = 0;
        ResetPosition();
        return false;
    }
    m_text = text;
    return Parse();
}

void CXmlDoc::ResetPosition()
{
    m_parent = 0;
    m_current = 0;
    m_child = 0;
}

bool CXmlDoc::IsWellFormed() const
{
    if (m_index.Capacity() == 0 || m_nextFree <= 1) {
        return false;
    }
    const XmlElementRecord& doc = m_index[0];
    return doc.firstChild != 0 && m_index[doc.firstChild].next == 0 &&
           !(doc.levelMarks & XmlElementRecord::kMarkIllFormed);
}

bool CXmlDoc::NameEquals(QStringView a, QStringView b) const
{
    if (a.size() != b.size()) {
        return false;
    }
    if (!(m_flags & XmlFlagIgnoreCase)) {
        return a == b;
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i].unicode()) != FoldAscii(b[i].unicode())) {
            return false;
        }
    }
    return true;
}

QStringView CXmlDoc::TagName(std::uint32_t index) const
{
    const XmlElementRecord& r = m_index[index];
    const char16_t* t = reinterpret_cast<const char16_t*>(m_text.utf16());
    const qsizetype end = r.start + qsizetype(r.StartTagLength());
    qsizetype j = r.start + 1;
    while (j < end && !EndsName(t[j])) {
        ++j;
    }
    return QStringView(t + r.start + 1, j - r.start - 1);
}

QString CXmlDoc::CurrentName() const
{
    return m_current ? TagName(m_current).toString() : QString();
}

// ---------------------------------------------------------------------------------------
// Parsing: one function per construct. Each takes the offset of the construct's '<' and
// returns where scanning goes on, or kStopScan when the text ended inside the construct.

namespace {

constexpr qsizetype kStopScan = -1;

struct OpenElement
{
    std::uint32_t idx;
    std::uint32_t nameStart;
    std::uint32_t nameLength;
    std::uint64_t hash;
};

} // namespace

struct CXmlDoc::ParseState
{
    const char16_t* t = nullptr;
    qsizetype n = 0;
    bool ignoreCase = false;
    bool illFormed = false;
    std::vector<OpenElement> open;
    // Name hash -> number of open elements with that name. Kept only from the first end tag
    // that does not close the innermost element on, so well-formed text never pays for it.
    NameCounts openNames;
    bool counting = false;

    QStringView View() const { return QStringView(t, n); }
    QStringView NameOf(const OpenElement& o) const
    {
        return QStringView(t + o.nameStart, o.nameLength);
    }
    void Forget(const OpenElement& o)
    {
        if (counting) {
            --openNames[o.hash];
        }
    }
};

qsizetype CXmlDoc::SyntaxError(ParseState& ps, const char* event, qsizetype s)
{
    ps.illFormed = true;
    Report(event, {{"offset", Number(s)}});
    return s + 1; // the '<' is taken as text
}

qsizetype CXmlDoc::Unterminated(ParseState& ps, const char* type, qsizetype s)
{
    ps.illFormed = true;
    Report("unterminated_tag_syntax", {{"type", QLatin1String(type)}, {"offset", Number(s)}});
    return kStopScan;
}

qsizetype CXmlDoc::SkipPast(ParseState& ps, qsizetype s, qsizetype from, QStringView terminator,
                            const char* type)
{
    const qsizetype e = ps.View().indexOf(terminator, from);
    return e < 0 ? Unterminated(ps, type, s) : e + terminator.size();
}

bool CXmlDoc::TagTooLong(ParseState& ps, const char* type, qsizetype s, qsizetype length,
                         std::uint32_t max)
{
    if (length <= qsizetype(max)) {
        return false;
    }
    ps.illFormed = true;
    Report("tag_length_limit", {{"type", QLatin1String(type)}, {"offset", Number(s)}});
    return true;
}

void CXmlDoc::CloseUnended(std::uint32_t idx, qsizetype endPos, qsizetype offset2)
{
    XmlElementRecord& r = m_index[idx];
    r.length = std::uint32_t(endPos - r.start);
    r.levelMarks |= XmlElementRecord::kMarkUnended;
    Report("unended_start_tag", {{"tagname", TagName(idx).toString()},
                                 {"offset", Number(r.start)},
                                 {"offset2", Number(offset2)}});
}

qsizetype CXmlDoc::ParseEndTag(ParseState& ps, qsizetype s)
{
    const char16_t* t = ps.t;
    qsizetype j = s + 2;
    while (j < ps.n && !EndsName(t[j])) {
        ++j;
    }
    const QStringView name(t + s + 2, j - s - 2);
    const qsizetype gt = ps.View().indexOf(u'>', j);
    if (gt < 0) {
        return Unterminated(ps, "end_tag", s);
    }
    const qsizetype endLen = gt + 1 - s;
    if (TagTooLong(ps, "end_tag", s, endLen, XmlElementRecord::kMaxEndTag)) {
        return gt + 1;
    }
    auto closeAt = [&](std::uint32_t idx) {
        XmlElementRecord& r = m_index[idx];
        r.length = std::uint32_t(gt + 1 - r.start);
        r.tagLengths |= std::uint32_t(endLen) << 22;
    };
    if (!ps.open.empty() && NameEquals(ps.NameOf(ps.open.back()), name)) {
        ps.Forget(ps.open.back());
        closeAt(ps.open.back().idx);
        ps.open.pop_back();
        return gt + 1;
    }
    ps.illFormed = true;
    if (!ps.counting) {
        ps.counting = true;
        for (OpenElement& o : ps.open) {
            o.hash = HashName(ps.NameOf(o), ps.ignoreCase);
            ++ps.openNames[o.hash];
        }
    }
    qsizetype m = -1;
    if (ps.openNames.Count(HashName(name, ps.ignoreCase)) > 0) {
        m = qsizetype(ps.open.size()) - 1;
        while (m >= 0 && !NameEquals(ps.NameOf(ps.open[m]), name)) {
            --m;
        }
    }
    if (m < 0) {
        Report("lone_end_tag", {{"tagname", name.toString()}, {"offset", Number(s)}});
        return gt + 1;
    }
    while (qsizetype(ps.open.size()) - 1 > m) {
        ps.Forget(ps.open.back());
        CloseUnended(ps.open.back().idx, s, s - 1);
        ps.open.pop_back();
    }
    ps.Forget(ps.open.back());
    closeAt(ps.open.back().idx);
    ps.open.pop_back();
    return gt + 1;
}

qsizetype CXmlDoc::ParseExclamation(ParseState& ps, qsizetype s)
{
    const QStringView rest = ps.View().mid(s + 2);
    if (rest.startsWith(u'-')) {
        return rest.startsWith(u"--") ? SkipPast(ps, s, s + 4, u"-->", "comment")
                                      : SyntaxError(ps, "comment_tag_syntax", s);
    }
    if (rest.startsWith(u'[')) {
        return rest.startsWith(u"[C") ? SkipPast(ps, s, s + 3, u"]]>", "cdata_section")
                                      : SyntaxError(ps, "cdata_section_syntax", s);
    }
    if (rest.startsWith(u'D')) {
        return ParseDoctype(ps, s);
    }
    return SyntaxError(ps, "exclamation_tag_syntax", s);
}

qsizetype CXmlDoc::ParseDoctype(ParseState& ps, qsizetype s)
{
    if (ps.View().mid(s + 2, 7) != u"DOCTYPE") {
        return SyntaxError(ps, "doctype_tag_syntax", s);
    }
    // The declaration and its internal subset are read construct by construct: comments
    // and processing instructions may hold quotes and brackets of their own, quoted
    // literals may hold '<' and '>', and markup declarations nest inside the subset.
    const QStringView text = ps.View();
    int depth = 1;
    qsizetype j = s + 9;
    while (j < ps.n) {
        const char16_t d = ps.t[j];
        if (d == u'"' || d == u'\'') {
            const qsizetype q = text.indexOf(QChar(d), j + 1);
            if (q < 0) {
                break;
            }
            j = q + 1;
        } else if (d == u'<' && text.mid(j + 1, 3) == u"!--") {
            const qsizetype e = text.indexOf(u"-->", j + 4);
            if (e < 0) {
                break;
            }
            j = e + 3;
        } else if (d == u'<' && text.mid(j + 1, 1) == u"?") {
            const qsizetype e = text.indexOf(u"?>", j + 2);
            if (e < 0) {
                break;
            }
            j = e + 2;
        } else {
            depth += d == u'<' ? 1 : d == u'>' ? -1 : 0;
            ++j;
            if (depth == 0) {
                return j;
            }
        }
    }
    return Unterminated(ps, "document_type", s);
}

qsizetype CXmlDoc::ParseStartTag(ParseState& ps, qsizetype s)
{
    const char16_t* t = ps.t;
    const qsizetype n = ps.n;
    qsizetype j = s + 1;
    while (j < n && !EndsName(t[j])) {
        ++j;
    }
    const qsizetype nameEnd = j;
    // Up to the closing '>', skipping quoted attribute values (a '>' inside them is text).
    while (j < n && t[j] != u'>') {
        if (t[j] != u'=') {
            ++j;
            continue;
        }
        ++j;
        while (j < n && IsWs(t[j])) {
            ++j;
        }
        if (j < n && (t[j] == u'"' || t[j] == u'\'')) {
            const char16_t quote = t[j++];
            while (j < n && t[j] != quote) {
                ++j;
            }
            j = j < n ? j + 1 : n;
        } else {
            while (j < n && !IsWs(t[j]) && t[j] != u'>') {
                ++j;
            }
        }
    }
    if (j >= n) {
        return Unterminated(ps, "start_tag", s);
    }
    const qsizetype startLen = j + 1 - s;
    if (TagTooLong(ps, "start_tag", s, startLen, XmlElementRecord::kMaxStartTag)) {
        return s + 1;
    }
    const std::uint32_t idx = NewRecord(ps.open.empty() ? 0 : ps.open.back().idx, 0, false);
    if (idx == 0) {
        // Out of index memory: what was indexed so far stays usable.
        ps.illFormed = true;
        Report("index_limit", {{"offset", Number(s)}});
        return kStopScan;
    }
    XmlElementRecord& r = m_index[idx];
    r.start = std::int32_t(s);
    r.tagLengths = std::uint32_t(startLen);
    if (t[j - 1] == u'/') {
        r.length = std::uint32_t(startLen);
        r.levelMarks |= XmlElementRecord::kMarkEmpty;
    } else {
        const QStringView name(t + s + 1, nameEnd - s - 1);
        const std::uint64_t hash = ps.counting ? HashName(name, ps.ignoreCase) : 0;
        ps.open.push_back({idx, std::uint32_t(s + 1), std::uint32_t(name.size()), hash});
        if (ps.counting) {
            ++ps.openNames[hash];
        }
    }
    return j + 1;
}

qsizetype CXmlDoc::ParseMarkup(ParseState& ps, qsizetype s)
{
    if (s + 1 >= ps.n) {
        return Unterminated(ps, "tag", s);
    }
    const char16_t c = ps.t[s + 1];
    if (c == u'/') {
        return ParseEndTag(ps, s);
    }
    if (c == u'?') {
        return SkipPast(ps, s, s + 2, u"?>", "processing_instruction");
    }
    if (c == u'!') {
        return ParseExclamation(ps, s);
    }
    if (!IsNameStart(c)) {
        return SyntaxError(ps, "first_tag_syntax", s);
    }
    return ParseStartTag(ps, s);
}

bool CXmlDoc::Parse()
{
    ParseState ps;
    ps.t = reinterpret_cast<const char16_t*>(m_text.utf16());
    ps.n = m_text.size();
    ps.ignoreCase = m_flags & XmlFlagIgnoreCase;
    ResetPosition();
    m_nextFree = 1;
    m_spansOf = 0;
    if (!m_index.Reserve(std::uint64_t(ps.n) / 64 + 8)) {
        m_index.Free();
        return false;
    }
    m_index[0] = XmlElementRecord{};
    m_index[0].length = std::uint32_t(ps.n);

    qsizetype i = 0;
    while (i >= 0 && i < ps.n) {
        // Markup is usually near: a short inline look before the vectorised search.
        qsizetype s = i;
        const qsizetype near = std::min(ps.n, i + 16);
        while (s < near && ps.t[s] != u'<') {
            ++s;
        }
        if (s == near) {
            s = s < ps.n ? ps.View().indexOf(u'<', s) : -1;
        }
        i = s < 0 ? kStopScan : ParseMarkup(ps, s);
    }
    while (!ps.open.empty()) {
        CloseUnended(ps.open.back().idx, ps.n, ps.n);
        ps.open.pop_back();
        ps.illFormed = true;
    }
    XmlElementRecord& doc = m_index[0];
    if (ps.illFormed) {
        doc.levelMarks |= XmlElementRecord::kMarkIllFormed;
    }
    if (doc.firstChild == 0) {
        Report("no_root_element");
    } else if (m_index[doc.firstChild].next != 0) {
        Report("root_has_sibling");
    }
    ResetPosition();
    return IsWellFormed();
}

std::uint32_t CXmlDoc::NewRecord(std::uint32_t parent, std::uint32_t after, bool before)
{
    if (m_nextFree >= m_index.Capacity()) {
        const std::uint64_t cap = m_index.Capacity();
        if (!m_index.Reserve(std::max<std::uint64_t>(cap + cap / 2, m_nextFree + 8))) {
            return 0;
        }
    }
    const std::uint32_t idx = m_nextFree++;
    XmlElementRecord& r = m_index[idx];
    XmlElementRecord& p = m_index[parent];
    r = XmlElementRecord{};
    r.parent = parent;
    r.levelMarks = std::min(p.Level() + 1, XmlElementRecord::kMaxLevel);
    if (before) {
        XmlElementRecord& s = m_index[after];
        if (p.firstChild == after) {
            r.next = after;
            r.prev = s.prev;
            s.prev = idx;
            s.levelMarks &= ~XmlElementRecord::kMarkFirstChild;
            r.levelMarks |= XmlElementRecord::kMarkFirstChild;
            p.firstChild = idx;
        } else {
            r.prev = s.prev;
            r.next = after;
            m_index[s.prev].next = idx;
            s.prev = idx;
        }
    } else if (after == 0 || m_index[after].next == 0) {
        // Append as the last child: the first child's previous link finds the last one.
        if (p.firstChild == 0) {
            p.firstChild = idx;
            r.prev = idx;
            r.levelMarks |= XmlElementRecord::kMarkFirstChild;
        } else {
            XmlElementRecord& first = m_index[p.firstChild];
            const std::uint32_t last = first.prev;
            m_index[last].next = idx;
            r.prev = last;
            first.prev = idx;
        }
    } else {
        XmlElementRecord& a = m_index[after];
        r.prev = after;
        r.next = a.next;
        m_index[a.next].prev = idx;
        a.next = idx;
    }
    return idx;
}

void CXmlDoc::ShiftSubtree(std::uint32_t node, std::int64_t delta)
{
    m_index[node].start = std::int32_t(m_index[node].start + delta);
    std::uint32_t u = m_index[node].firstChild;
    while (u != 0) {
        m_index[u].start = std::int32_t(m_index[u].start + delta);
        if (m_index[u].firstChild != 0) {
            u = m_index[u].firstChild;
            continue;
        }
        while (u != node && m_index[u].next == 0) {
            u = m_index[u].parent;
        }
        if (u == node) {
            break;
        }
        u = m_index[u].next;
    }
}

// Moves everything that follows node's subtree by delta (its children too when asked) and
// grows the lengths of node's ancestors: the work is proportional to the depth and to what
// follows the change, never to what precedes it.
void CXmlDoc::Shift(std::uint32_t node, std::int64_t delta, bool includeChildren)
{
    if (includeChildren) {
        for (std::uint32_t c = m_index[node].firstChild; c != 0; c = m_index[c].next) {
            ShiftSubtree(c, delta);
        }
    }
    for (std::uint32_t a = node; a != 0; a = m_index[a].parent) {
        for (std::uint32_t s = m_index[a].next; s != 0; s = m_index[s].next) {
            ShiftSubtree(s, delta);
        }
        if (a != node) {
            m_index[a].length = std::uint32_t(m_index[a].length + delta);
        }
    }
    m_index[0].length = std::uint32_t(m_index[0].length + delta);
}

void CXmlDoc::Splice(qsizetype pos, qsizetype removed, const QString& inserted)
{
    m_spansOf = 0;
    const qsizetype need = m_text.size() - removed + inserted.size();
    if (m_text.capacity() < need) {
        m_text.reserve(need + need / 2 + 128);
    }
    m_text.replace(pos, removed, inserted);
}

qsizetype CXmlDoc::SkipWhitespaceToTag(qsizetype pos) const
{
    const qsizetype n = m_text.size();
    qsizetype q = pos;
    while (q < n && IsWs(m_text[q].unicode())) {
        ++q;
    }
    return (q >= n || m_text[q] == u'<') ? q : pos;
}

bool CXmlDoc::FindElement(const QString& name)
{
    if ((m_flags & XmlFlagWriteMode) || m_index.Capacity() == 0 || m_nextFree <= 1) {
        return false;
    }
    std::uint32_t e = m_current ? m_index[m_current].next : m_index[m_parent].firstChild;
    for (; e != 0; e = m_index[e].next) {
        if (name.isEmpty() || NameEquals(TagName(e), name)) {
            m_current = e;
            m_child = 0;
            return true;
        }
    }
    return false;
}

bool CXmlDoc::EnterElement()
{
    if (m_current == 0) {
        return false;
    }
    m_parent = m_current;
    m_current = m_child;
    m_child = 0;
    return true;
}

bool CXmlDoc::LeaveElement()
{
    if (m_parent == 0) {
        return false;
    }
    m_child = m_current;
    m_current = m_parent;
    m_parent = m_index[m_parent].parent;
    return true;
}

bool CXmlDoc::AddElement(const QString& name, const QString& value, std::uint32_t flags)
{
    return AddElementText(name, QStringView(), value, flags);
}

bool CXmlDoc::AddElement(const QString& name, std::initializer_list<XmlAttribute> attributes,
                         std::uint32_t flags)
{
    // The whole start tag is built first and spliced once.
    QString text;
    for (auto a = attributes.begin(); a != attributes.end(); ++a) {
        if (!IsValidName(a->name, false)) {
            return false;
        }
        for (auto b = attributes.begin(); b != a; ++b) {
            if (NameEquals(a->name, b->name)) {
                return false;
            }
        }
        text.append(QLatin1Char(' ')).append(a->name).append(QLatin1String("=\""));
        XmlAppendEscaped(text, a->value, true);
        text.append(QLatin1Char('"'));
    }
    return AddElementText(name, text, QString(), flags);
}

bool CXmlDoc::AddElementText(const QString& name, QStringView attributes, const QString& value,
                             std::uint32_t flags)
{
    if ((m_flags & XmlFlagReadMode) || !IsValidName(name, true)) {
        return false;
    }
    const bool hasValue = !value.isEmpty();
    if ((flags & XmlAddStartTagOnly) && hasValue) {
        return false;
    }
    if (m_index.Capacity() == 0) {
        if (!m_index.Reserve(8)) {
            return false;
        }
        m_index[0] = XmlElementRecord{};
        m_nextFree = 1;
    }
    if (m_nextFree == 1) {
        m_index[0].length = std::uint32_t(m_text.size());
    }
    std::uint32_t parent = m_parent;
    std::uint32_t after = m_current;
    if (flags & XmlAddAsChild) {
        if (m_current == 0) {
            return false;
        }
        parent = m_current;
        after = m_child;
    }
    const bool before = (flags & XmlAddBefore) && after != 0;

    QString element;
    element.reserve(2 * name.size() + attributes.size() + value.size() + 8);
    element.append(QLatin1Char('<')).append(name).append(attributes);
    qsizetype startLen;
    qsizetype endLen = 0;
    if (flags & XmlAddStartTagOnly) {
        element += QLatin1Char('>');
        startLen = element.size();
    } else if (!hasValue) {
        element += (flags & XmlAddSpaceSlash) ? QLatin1String(" />") : QLatin1String("/>");
        startLen = element.size();
    } else {
        element += QLatin1Char('>');
        startLen = element.size();
        if (flags & XmlAddCData) {
            element += CDataForm(value);
        } else {
            XmlAppendEscaped(element, value, false);
        }
        element += QLatin1String("</") + name + QLatin1Char('>');
        endLen = name.size() + 3;
    }
    if (startLen > qsizetype(XmlElementRecord::kMaxStartTag) ||
        endLen > qsizetype(XmlElementRecord::kMaxEndTag)) {
        return false;
    }
    const QString lineBreak = (flags & XmlAddNoLineBreak) ? QString() : QStringLiteral("\r\n");

    const XmlElementRecord p = m_index[parent];
    const bool emptyParent = parent != 0 && (p.levelMarks & XmlElementRecord::kMarkEmpty);
    qsizetype pos;
    qsizetype removed = 0;
    QString inserted;
    qsizetype elementAt;
    std::uint32_t parentEndLen = 0;
    if (emptyParent) {
        // "<p .../>" becomes "<p ...>", a line with the new element, and "</p>".
        const QStringView parentName = TagName(parent);
        parentEndLen = std::uint32_t(parentName.size() + 3);
        if (parentEndLen > XmlElementRecord::kMaxEndTag) {
            return false;
        }
        pos = p.start + qsizetype(p.length) - 2;
        while (pos > p.start + 1 + parentName.size() && IsWs(m_text[pos - 1].unicode())) {
            --pos;
        }
        removed = p.start + qsizetype(p.length) - pos;
        inserted = QLatin1String(">\r\n") + element + lineBreak + QLatin1String("</") +
                   parentName.toString() + QLatin1Char('>');
        elementAt = pos + 3;
    } else {
        QString prefix;
        if (before) {
            pos = m_index[after].start;
        } else if (after != 0) {
            pos = SkipWhitespaceToTag(m_index[after].start + qsizetype(m_index[after].length));
        } else if (p.firstChild != 0) {
            const XmlElementRecord& last = m_index[m_index[p.firstChild].prev];
            pos = SkipWhitespaceToTag(last.start + qsizetype(last.length));
        } else if (parent == 0) {
            pos = m_text.size();
        } else {
            pos = p.start + qsizetype(p.length) - qsizetype(p.EndTagLength());
            if (p.EndTagLength() > 0 && pos == p.start + qsizetype(p.StartTagLength())) {
                prefix = QStringLiteral("\r\n");
            }
        }
        inserted = prefix + element + lineBreak;
        elementAt = pos + prefix.size();
    }
    const qsizetype delta = inserted.size() - removed;
    if (m_text.size() + delta > kMaxTextLength) {
        return false;
    }
    const std::uint32_t idx = NewRecord(parent, after, before);
    if (idx == 0) {
        return false;
    }
    Splice(pos, removed, inserted);
    XmlElementRecord& r = m_index[idx];
    r.start = std::int32_t(elementAt);
    r.length = std::uint32_t(element.size());
    r.tagLengths = std::uint32_t(startLen) | (std::uint32_t(endLen) << 22);
    if (flags & XmlAddStartTagOnly) {
        r.levelMarks |= XmlElementRecord::kMarkUnended;
    } else if (!hasValue) {
        r.levelMarks |= XmlElementRecord::kMarkEmpty;
    }
    if (emptyParent) {
        XmlElementRecord& pr = m_index[parent];
        pr.tagLengths = std::uint32_t(pos + 1 - pr.start) | (parentEndLen << 22);
        pr.length = std::uint32_t(pr.length + delta);
        pr.levelMarks &= ~XmlElementRecord::kMarkEmpty;
        Shift(parent, delta, false);
    } else {
        Shift(idx, delta, false);
    }
    m_parent = parent;
    m_current = idx;
    m_child = 0;
    return true;
}

const std::vector<CXmlDoc::AttributeSpan>& CXmlDoc::Attributes(std::uint32_t index) const
{
    if (m_spansOf == index) {
        return m_spans;
    }
    m_spans.clear();
    m_spansOf = index;
    const XmlElementRecord& r = m_index[index];
    const char16_t* t = reinterpret_cast<const char16_t*>(m_text.utf16());
    const qsizetype end = r.start + qsizetype(r.StartTagLength()) - 1; // the '>'
    qsizetype j = r.start + 1;
    while (j < end && !EndsName(t[j])) {
        ++j;
    }
    while (j < end) {
        while (j < end && (IsWs(t[j]) || t[j] == u'/')) {
            ++j;
        }
        if (j >= end) {
            break;
        }
        const qsizetype ns = j;
        while (j < end && !IsWs(t[j]) && t[j] != u'=' && t[j] != u'/') {
            ++j;
        }
        const qsizetype ne = j;
        while (j < end && IsWs(t[j])) {
            ++j;
        }
        if (j >= end || t[j] != u'=') {
            if (j == ns) {
                ++j;
            }
            continue;
        }
        ++j;
        while (j < end && IsWs(t[j])) {
            ++j;
        }
        AttributeSpan span{ns, ne, j, j, false};
        if (j < end && (t[j] == u'"' || t[j] == u'\'')) {
            const char16_t quote = t[j];
            span.valueStart = j + 1;
            span.valueEnd = span.valueStart;
            while (span.valueEnd < end && t[span.valueEnd] != quote) {
                ++span.valueEnd;
            }
            j = span.valueEnd + 1;
            span.quoted = span.valueEnd < end;
        } else {
            while (j < end && !IsWs(t[j])) {
                ++j;
            }
            span.valueEnd = j;
            if (j == end && j > span.valueStart && t[j - 1] == u'/') {
                --span.valueEnd; // the slash of "/>" closes the tag
            }
        }
        if (ne > ns) {
            m_spans.push_back(span);
        }
    }
    return m_spans;
}

bool CXmlDoc::FindAttribute(std::uint32_t index, QStringView name, qsizetype* valueStart,
                            qsizetype* valueEnd, bool* quoted) const
{
    for (const AttributeSpan& span : Attributes(index)) {
        if (NameEquals(QStringView(m_text).mid(span.nameStart, span.nameEnd - span.nameStart),
                       name)) {
            *valueStart = span.valueStart;
            *valueEnd = span.valueEnd;
            *quoted = span.quoted;
            return true;
        }
    }
    return false;
}

QString CXmlDoc::GetAttribute(const QString& name) const
{
    qsizetype vs;
    qsizetype ve;
    bool quoted;
    if (m_current == 0 || name.isEmpty() || !FindAttribute(m_current, name, &vs, &ve, &quoted)) {
        return QString();
    }
    return XmlUnescape(QStringView(m_text).mid(vs, ve - vs));
}

bool CXmlDoc::SetAttribute(const QString& name, const QString& value)
{
    if ((m_flags & XmlFlagReadMode) || m_current == 0 || !IsValidName(name, false)) {
        return false;
    }
    const QString escaped = XmlEscape(value, true);
    const XmlElementRecord& r = m_index[m_current];
    qsizetype vs;
    qsizetype ve;
    bool quoted;
    qsizetype pos;
    qsizetype removed;
    QString inserted;
    if (FindAttribute(m_current, name, &vs, &ve, &quoted)) {
        pos = quoted ? vs - 1 : vs;
        removed = quoted ? ve - vs + 2 : ve - vs;
        inserted = QLatin1Char('"') + escaped + QLatin1Char('"');
    } else {
        const qsizetype nameEnd = r.start + 1 + TagName(m_current).size();
        pos = r.start + qsizetype(r.StartTagLength()) - 1;
        if (m_text[pos - 1] == u'/' && pos - 1 >= nameEnd) {
            --pos;
        }
        while (pos > nameEnd && IsWs(m_text[pos - 1].unicode())) {
            --pos;
        }
        removed = 0;
        inserted = QLatin1Char(' ') + name + QLatin1String("=\"") + escaped + QLatin1Char('"');
    }
    const qsizetype delta = inserted.size() - removed;
    if (qsizetype(r.StartTagLength()) + delta > qsizetype(XmlElementRecord::kMaxStartTag) ||
        m_text.size() + delta > kMaxTextLength) {
        return false;
    }
    Splice(pos, removed, inserted);
    XmlElementRecord& w = m_index[m_current];
    w.tagLengths = std::uint32_t(w.tagLengths + delta);
    w.length = std::uint32_t(w.length + delta);
    Shift(m_current, delta, true);
    return true;
}

bool CXmlDoc::SetAttribute(const QString& name, int value)
{
    return SetAttribute(name, QString::number(value));
}

bool CXmlDoc::VerifyIndex() const
{
    CXmlDoc fresh(m_flags & ~(XmlFlagReadMode | XmlFlagWriteMode));
    fresh.m_text = m_text;
    fresh.Parse();
    if (m_index.Capacity() == 0) {
        return fresh.m_nextFree == 1;
    }
    if (m_index[0].length != std::uint32_t(m_text.size()) || fresh.m_nextFree != m_nextFree) {
        return false;
    }
    auto nextInOrder = [](const CXmlElementIndex& x, std::uint32_t u) -> std::uint32_t {
        if (x[u].firstChild != 0) {
            return x[u].firstChild;
        }
        while (u != 0 && x[u].next == 0) {
            u = x[u].parent;
        }
        return u == 0 ? 0 : x[u].next;
    };
    std::uint32_t a = m_index[0].firstChild;
    std::uint32_t b = fresh.m_index[0].firstChild;
    while (a != 0 || b != 0) {
        if (a == 0 || b == 0) {
            return false;
        }
        const XmlElementRecord& ra = m_index[a];
        const XmlElementRecord& rb = fresh.m_index[b];
        constexpr std::uint32_t kCompared = 0xFFFF | XmlElementRecord::kMarkEmpty;
        if (ra.start != rb.start || ra.length != rb.length || ra.tagLengths != rb.tagLengths ||
            (ra.levelMarks & kCompared) != (rb.levelMarks & kCompared)) {
            return false;
        }
        // Links: the first child's previous link names the last child.
        if (ra.firstChild != 0) {
            std::uint32_t last = ra.firstChild;
            while (m_index[last].next != 0) {
                if (m_index[m_index[last].next].prev != last ||
                    m_index[m_index[last].next].parent != a) {
                    return false;
                }
                last = m_index[last].next;
            }
            if (m_index[ra.firstChild].prev != last || m_index[ra.firstChild].parent != a) {
                return false;
            }
        }
        a = nextInOrder(m_index, a);
        b = nextInOrder(fresh.m_index, b);
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Files

bool CXmlDoc::LoadFile(const QString& path)
{
    if (m_flags & (XmlFlagReadMode | XmlFlagWriteMode)) {
        return false;
    }
    if (QFileInfo(path).isDir()) {
        ReportFileError(EISDIR);
        return false;
    }
    const QByteArray native = QFile::encodeName(path);
    std::FILE* f = std::fopen(native.constData(), "rb");
    if (f == nullptr) {
        ReportFileError(errno);
        return false;
    }
    QByteArray raw;
    bool tooLarge = false;
    int readError = 0;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long size = std::ftell(f);
        if (size > kMaxFileBytes) {
            std::fclose(f);
            ReportFileError(EFBIG);
            return false;
        }
        if (size > 0) {
            raw.reserve(qsizetype(size) + 1);
        }
    }
    std::rewind(f);
    for (;;) {
        const qsizetype have = raw.size();
        if (have >= kMaxFileBytes) {
            tooLarge = std::fgetc(f) != EOF;
            break;
        }
        const qsizetype room = raw.capacity() - have;
        const qsizetype chunk =
            std::min<qsizetype>(room > 0 ? room : kReadChunk, kMaxFileBytes - have);
        raw.resize(have + chunk);
        const std::size_t got = std::fread(raw.data() + have, 1, std::size_t(chunk), f);
        raw.resize(have + qsizetype(got));
        if (got < std::size_t(chunk)) {
            if (std::ferror(f)) {
                readError = errno ? errno : EIO;
            }
            break;
        }
    }
    std::fclose(f);
    if (tooLarge) {
        ReportFileError(EFBIG);
        return false;
    }
    if (readError != 0) {
        ReportFileError(readError);
        return false;
    }

    std::uint32_t flags = m_flags & ~(XmlFlagUtf16LE | XmlFlagUtf8Bom | XmlFlagUtf16BE);
    QString encoding;
    qsizetype skip = 0;
    const auto* b = reinterpret_cast<const unsigned char*>(raw.constData());
    if (raw.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        encoding = QStringLiteral("UTF-8");
        flags |= XmlFlagUtf8Bom;
        skip = 3;
    } else if (raw.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        encoding = QStringLiteral("UTF-16LE");
        flags |= XmlFlagUtf16LE;
        skip = 2;
    } else if (raw.size() >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        encoding = QStringLiteral("UTF-16BE");
        flags |= XmlFlagUtf16BE;
        skip = 2;
    }
    if (skip > 0) {
        Report("bom");
    } else {
        // NUL bytes left out, so that a UTF-32 file shows its declaration too.
        encoding = QString::fromLatin1(
            DeclaredEncoding(raw.left(kDeclarationWindow).replace('\0', QByteArray())));
        if (encoding.isEmpty() && !raw.isEmpty() && raw[0] == '<') {
            encoding = QStringLiteral("UTF-8");
        }
    }
    raw.remove(0, skip);

    QString text;
    if (flags & (XmlFlagUtf16LE | XmlFlagUtf16BE)) {
        const bool bigEndian = flags & XmlFlagUtf16BE;
        const qsizetype units = raw.size() / 2;
        Report("read", {{"encoding", encoding}, {"length", Number(units)}});
        text.resize(units);
        std::memcpy(text.data(), raw.constData(), std::size_t(units) * 2);
        raw = QByteArray();
        if (text.indexOf(QChar(0)) >= 0) {
            const qsizetype before = text.size();
            text.remove(QChar(0));
            Report("nulls_removed", {{"count", Number(before - text.size())}});
        }
        if (bigEndian) {
            for (QChar& c : text) {
                c = QChar(char16_t((c.unicode() >> 8) | (c.unicode() << 8)));
            }
            Report("endian_swap");
        }
    } else {
        const bool utf32 = encoding.startsWith(QLatin1String("UTF-32"), Qt::CaseInsensitive);
        Report("read", {{"encoding", encoding}, {"length", Number(raw.size())}});
        if (!utf32) {
            if (raw.indexOf('\0') >= 0) {
                const qsizetype before = raw.size();
                raw.replace(QByteArray(1, '\0'), QByteArray());
                Report("nulls_removed", {{"count", Number(before - raw.size())}});
            }
        }
        qsizetype cut = 0;
        bool validUtf8 = false;
        if (encoding.isEmpty()) {
            Report("utf8_detection");
            validUtf8 = CheckUtf8(raw, &cut);
            if (validUtf8) {
                encoding = QStringLiteral("UTF-8");
                UpdateReport("read", {{"encoding", encoding}, {"length", Number(raw.size())}});
            }
        } else if (IsUtf8Name(encoding)) {
            validUtf8 = CheckUtf8(raw, &cut);
        }
        if (utf32) {
            cut = raw.size() % 4;
        }
        if (cut > 0) {
            raw.chop(cut);
            UpdateReport("read", {{"encoding", encoding}, {"length", Number(raw.size())}});
        }
        if (utf32) {
            text = Utf32ToWide(raw, encoding.endsWith(QLatin1String("BE"), Qt::CaseInsensitive));
        } else if (IsUtf8Name(encoding)) {
            text = QString::fromUtf8(raw);
            if (!validUtf8) {
                Report("truncation_error", {{"encoding", encoding}});
            }
        } else {
            const QByteArray codeset = CodesetOfEncoding(encoding);
            if (!IsCodesetKnown(codeset)) {
                Report("truncation_error",
                       {{"encoding", encoding.isEmpty() ? QStringLiteral("ANSI") : encoding}});
            }
            text = CodesetToWide(raw, codeset);
            if (encoding.isEmpty() && text.contains(QChar(0xFFFD))) {
                Report("truncation_error", {{"encoding", QStringLiteral("ANSI")}});
            }
        }
        raw = QByteArray();
        Report("converted_to",
               {{"encoding", QStringLiteral("UTF-16")}, {"length", Number(text.size())}});
    }
    m_flags = flags & ~(XmlFlagReadMode | XmlFlagWriteMode);
    m_text = std::move(text);
    return Parse();
}

bool CXmlDoc::SaveFile(const QString& path)
{
    if (m_flags & (XmlFlagReadMode | XmlFlagWriteMode)) {
        return false;
    }
    QString encoding;
    QByteArray bom;
    if (m_flags & XmlFlagUtf8Bom) {
        encoding = QStringLiteral("UTF-8");
        bom = QByteArray("\xEF\xBB\xBF");
    } else if (m_flags & XmlFlagUtf16LE) {
        encoding = QStringLiteral("UTF-16LE");
        bom = QByteArray("\xFF\xFE");
    } else if (m_flags & XmlFlagUtf16BE) {
        encoding = QStringLiteral("UTF-16BE");
        bom = QByteArray("\xFE\xFF");
    } else {
        encoding =
            QString::fromLatin1(DeclaredEncoding(m_text.left(kDeclarationWindow).toLatin1()));
        if (encoding.isEmpty()) {
            encoding = QStringLiteral("UTF-8");
        }
    }

    const int cp = CodePageOfEncoding(encoding);
    QByteArray data;
    qsizetype units;
    if (cp == 1200 || cp == 1201) {
        const bool bigEndian = cp == 1201;
        data.resize(m_text.size() * 2);
        std::memcpy(data.data(), m_text.utf16(), std::size_t(data.size()));
        if (bigEndian) {
            for (qsizetype i = 0; i + 1 < data.size(); i += 2) {
                std::swap(data[i], data[i + 1]);
            }
            Report("endian_swap");
        }
        units = m_text.size();
    } else {
        qsizetype lost = 0;
        if (encoding.startsWith(QLatin1String("UTF-32"), Qt::CaseInsensitive)) {
            lost = CountLoneSurrogates(m_text);
            data = WideToUtf32(m_text, encoding.endsWith(QLatin1String("BE"), Qt::CaseInsensitive));
            units = data.size() / 4;
        } else if (cp == 65001) {
            lost = CountLoneSurrogates(m_text);
            data = m_text.toUtf8();
            units = data.size();
        } else {
            const QByteArray codeset = CodesetOfEncoding(encoding);
            data = WideToCodeset(m_text, codeset);
            if (data.isNull()) {
                data = WideToCodeset(m_text, codeset, '?');
                lost = 1;
            }
            if (data.isNull()) {
                // The declared encoding is unknown: nothing is written.
                Report("truncation_error", {{"encoding", encoding}});
                return false;
            }
            units = data.size();
        }
        Report("converted_from",
               {{"encoding", QStringLiteral("UTF-16")}, {"length", Number(m_text.size())}});
        if (lost > 0) {
            Report("conversion_loss", {{"encoding", encoding}});
        }
    }

    if (m_flags & XmlFlagAppendMode) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            ReportFileError(errno ? errno : EIO);
            return false;
        }
        if (!bom.isEmpty() && file.size() == 0) {
            if (file.write(bom) != bom.size()) {
                ReportFileError(errno ? errno : EIO);
                return false;
            }
            Report("bom");
        }
        const qint64 wrote = file.write(data);
        file.close();
        if (wrote != data.size() || file.error() != QFileDevice::NoError) {
            ReportFileError(errno ? errno : EIO);
            return false;
        }
        Report("write", {{"encoding", encoding}, {"length", Number(units)}});
        return true;
    }

    // The whole file goes to a temporary file beside it that replaces the old one only when
    // every byte reached it. (Every write is checked: buffered writers have been seen to
    // report a short final write as success.)
    if (QFileInfo(path).isDir()) {
        ReportFileError(EISDIR);
        return false;
    }
    QString temporary;
    {
        QTemporaryFile tmp(path + QStringLiteral(".XXXXXX"));
        tmp.setAutoRemove(false);
        errno = 0;
        if (!tmp.open()) {
            ReportFileError(errno ? errno : EACCES);
            return false;
        }
        temporary = tmp.fileName();
    }
    const QByteArray nativeTemporary = QFile::encodeName(temporary);
    std::FILE* f = std::fopen(nativeTemporary.constData(), "wb");
    if (f == nullptr) {
        ReportFileError(errno);
        std::remove(nativeTemporary.constData());
        return false;
    }
    errno = 0;
    bool ok = bom.isEmpty() || std::fwrite(bom.constData(), 1, std::size_t(bom.size()), f) ==
                                   std::size_t(bom.size());
    if (ok && !bom.isEmpty()) {
        Report("bom");
    }
    ok = ok &&
         std::fwrite(data.constData(), 1, std::size_t(data.size()), f) == std::size_t(data.size());
    ok = ok && std::fflush(f) == 0;
    int error = ok ? 0 : (errno ? errno : EIO);
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno ? errno : EIO;
    }
    if (ok && QFileInfo::exists(path)) {
        QFile::setPermissions(temporary, QFileInfo(path).permissions());
    }
    if (ok && std::rename(nativeTemporary.constData(), QFile::encodeName(path).constData()) != 0) {
        ok = false;
        error = errno ? errno : EIO;
    }
    if (!ok) {
        ReportFileError(error);
        std::remove(nativeTemporary.constData());
        return false;
    }
    Report("write", {{"encoding", encoding}, {"length", Number(units)}});
    return true;
}
