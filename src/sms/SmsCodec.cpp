#include "sms/SmsCodec.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/CodePage.h"

namespace {

const char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool AnsiIsUtf8()
{
    const QByteArray name = CodesetName(CodePage::Ansi).toUpper();
    return name == "UTF-8" || name == "UTF8";
}

bool IsHigh(char16_t u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLow(char16_t u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

// Decodes one UTF-8 character at text[i] (i advances); malformed input gives U+FFFD.
char32_t NextUtf8(const unsigned char* s, int length, int& i)
{
    const unsigned char lead = s[i++];
    if (lead < 0x80) {
        return lead;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((lead & 0xE0) == 0xC0) {
        extra = 1, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3, cp = lead & 0x07, min = 0x10000;
    } else {
        return 0xFFFD;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= length || (s[i] & 0xC0) != 0x80) {
            return 0xFFFD;
        }
        cp = (cp << 6) | (s[i++] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0xFFFD;
    }
    return cp;
}

int Utf8Length(char32_t cp)
{
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

void PutUtf8(char32_t cp, char* out)
{
    const int n = Utf8Length(cp);
    if (n == 1) {
        out[0] = static_cast<char>(cp);
        return;
    }
    static const unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
    for (int k = n - 1; k > 0; --k) {
        out[k] = static_cast<char>(0x80 | (cp & 0x3F));
        cp >>= 6;
    }
    out[0] = static_cast<char>(kLead[n] | cp);
}

// Reads hex octets of the PDU text in order without ever passing its end.
class HexReader
{
public:
    HexReader(const char* text, std::size_t length) : m_text(text)
    {
        // The PDU ends at the first character that is not a hex digit (a NUL, a line
        // break, anything a broken modem sends).
        std::size_t n = 0;
        while (n < length && HexValue(text[n]) >= 0) {
            ++n;
        }
        m_length = n;
    }
    bool AtEnd() const { return m_pos >= m_length; }
    bool Octet(int& value)
    {
        if (m_length - m_pos < 2) {
            m_pos = m_length;
            return false;
        }
        value = HexValue(m_text[m_pos]) * 16 + HexValue(m_text[m_pos + 1]);
        m_pos += 2;
        return true;
    }
    // Takes up to count characters; returns how many were there.
    std::size_t Take(std::size_t count, const char*& start)
    {
        start = m_text + m_pos;
        const std::size_t n = std::min(count, m_length - m_pos);
        m_pos += n;
        return n;
    }

private:
    const char* m_text;
    std::size_t m_length = 0;
    std::size_t m_pos = 0;
};

// Unswaps count semi-octet characters into a number field, keeping what fits.
void UnswapInto(const char* text, std::size_t count, char* field, std::size_t fieldSize)
{
    char digits[2 * 256 + 2];
    const int n = UnswapSemiOctets(text, static_cast<int>(count), digits);
    const std::size_t keep = std::min(static_cast<std::size_t>(n), fieldSize - 1);
    std::memcpy(field, digits, keep);
    field[keep] = '\0';
}

} // namespace

int BytesToHex(const std::uint8_t* octets, int n, char* text)
{
    int j = 0;
    for (int i = 0; i < n; ++i) {
        text[j++] = kHexDigits[octets[i] >> 4];
        text[j++] = kHexDigits[octets[i] & 0x0F];
    }
    text[j] = '\0';
    return n < 1 ? 0 : 2 * n;
}

int HexToBytes(const char* text, int m, std::uint8_t* octets)
{
    if (m < 1) {
        return 0;
    }
    for (int i = 0; i < (m + 1) / 2; ++i) {
        const int hi = HexValue(text[2 * i]);
        const int lo = 2 * i + 1 < m ? HexValue(text[2 * i + 1]) : 0;
        octets[i] = static_cast<std::uint8_t>((hi < 0 ? 0 : hi) << 4 | (lo < 0 ? 0 : lo));
    }
    return m / 2;
}

int SwapSemiOctets(const char* digits, int m, char* text)
{
    int j = 0;
    for (int i = 0; i < m; i += 2) {
        text[j++] = i + 1 < m ? digits[i + 1] : 'F';
        text[j++] = digits[i];
    }
    text[j] = '\0';
    return j;
}

int UnswapSemiOctets(const char* text, int m, char* digits)
{
    int j = 0;
    for (int i = 0; i + 1 < m; i += 2) { // an odd last character is half a pair: dropped
        digits[j++] = text[i + 1];
        digits[j++] = text[i];
    }
    if (j > 0 && (digits[j - 1] == 'F' || digits[j - 1] == 'f')) {
        --j;
    }
    digits[j] = '\0';
    return j;
}

int Pack7Bit(const std::uint8_t* codes, int count, std::uint8_t* octets)
{
    int j = 0;
    unsigned acc = 0;
    int bits = 0;
    for (int i = 0; i < count; ++i) {
        acc |= static_cast<unsigned>(codes[i] & 0x7F) << bits;
        bits += 7;
        while (bits >= 8) {
            octets[j++] = static_cast<std::uint8_t>(acc & 0xFF);
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) {
        octets[j++] = static_cast<std::uint8_t>(acc & 0xFF);
    }
    return j;
}

int Unpack7Bit(const std::uint8_t* octets, int count, char* text, std::size_t outSize)
{
    if (outSize == 0) {
        return 0;
    }
    std::size_t j = 0;
    unsigned acc = 0;
    int bits = 0;
    for (int i = 0; i < count && j + 1 < outSize; ++i) {
        acc |= static_cast<unsigned>(octets[i]) << bits;
        bits += 8;
        while (bits >= 7 && j + 1 < outSize) {
            text[j++] = static_cast<char>(acc & 0x7F);
            acc >>= 7;
            bits -= 7;
        }
    }
    text[j] = '\0';
    return static_cast<int>(j);
}

int EncodeUcs2(const char* text, int length, std::uint8_t* octets, int maxUnits)
{
    maxUnits = std::clamp(maxUnits, 0, kSmsTextChars);
    char16_t units[kSmsTextChars];
    int n = 0;
    if (AnsiIsUtf8()) {
        const auto* s = reinterpret_cast<const unsigned char*>(text);
        int i = 0;
        while (i < length) {
            const char32_t cp = NextUtf8(s, length, i);
            if (cp >= 0x10000) {
                if (n + 2 > maxUnits) {
                    break;
                }
                units[n++] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
                units[n++] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                if (n + 1 > maxUnits) {
                    break;
                }
                units[n++] = static_cast<char16_t>(cp);
            }
        }
    } else {
        const QString wide = CodePageToWide(QByteArray(text, length), CodePage::Ansi);
        n = static_cast<int>(std::min<qsizetype>(wide.size(), maxUnits));
        if (n > 0 && n < wide.size() && IsHigh(wide.at(n - 1).unicode())) {
            --n;
        }
        for (int i = 0; i < n; ++i) {
            units[i] = wide.at(i).unicode();
        }
    }
    for (int i = 0; i < n; ++i) {
        octets[2 * i] = static_cast<std::uint8_t>(units[i] >> 8);
        octets[2 * i + 1] = static_cast<std::uint8_t>(units[i] & 0xFF);
    }
    return 2 * n;
}

int DecodeUcs2(const std::uint8_t* octets, int count, char* text, std::size_t outSize)
{
    if (outSize == 0) {
        return 0;
    }
    const int units = count / 2;
    const auto unit = [octets](int i) {
        return static_cast<char16_t>(octets[2 * i] << 8 | octets[2 * i + 1]);
    };
    std::size_t j = 0;
    if (AnsiIsUtf8()) {
        for (int i = 0; i < units; ++i) {
            char32_t cp = unit(i);
            if (IsHigh(static_cast<char16_t>(cp)) && i + 1 < units && IsLow(unit(i + 1))) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
                ++i;
            } else if (cp >= 0xD800 && cp <= 0xDFFF) {
                cp = 0xFFFD; // a lone surrogate
            }
            const std::size_t need = static_cast<std::size_t>(Utf8Length(cp));
            if (j + need + 1 > outSize) {
                break;
            }
            PutUtf8(cp, text + j);
            j += need;
        }
    } else {
        QString wide;
        for (int i = 0; i < units; ++i) {
            wide.append(QChar(unit(i)));
        }
        QByteArray bytes = WideToCodePage(wide, CodePage::Ansi, '?');
        while (!wide.isEmpty() && bytes.size() + 1 > static_cast<qsizetype>(outSize)) {
            wide.chop(wide.size() > 1 && IsLow(wide.back().unicode()) ? 2 : 1);
            bytes = WideToCodePage(wide, CodePage::Ansi, '?');
        }
        if (bytes.size() + 1 <= static_cast<qsizetype>(outSize)) {
            j = static_cast<std::size_t>(bytes.size());
            std::memcpy(text, bytes.constData(), j);
        }
    }
    text[j] = '\0';
    return static_cast<int>(j);
}

int Copy8Bit(const std::uint8_t* octets, int count, char* out, std::size_t outSize)
{
    if (outSize == 0) {
        return 0;
    }
    const std::size_t n = std::min(static_cast<std::size_t>(std::max(count, 0)), outSize - 1);
    std::memcpy(out, octets, n);
    out[n] = '\0';
    return static_cast<int>(n);
}

int EncodeSubmitPdu(const SmsRecord& record, char* text)
{
    const int scaLength = static_cast<int>(strnlen(record.SCA, kSmsNumberSize - 1));
    const int tpaLength = static_cast<int>(strnlen(record.TPA, kSmsNumberSize - 1));
    std::uint8_t buf[kSmsMaxUserOctets + 8];
    int len = 0;

    // SMSC part: length (type octet included), type, digits.
    buf[0] = static_cast<std::uint8_t>((scaLength + 1) / 2 + 1);
    buf[1] = 0x91;
    len += BytesToHex(buf, 2, text + len);
    len += SwapSemiOctets(record.SCA, scaLength, text + len);

    // SMS-SUBMIT with a relative validity period, message reference 0, destination.
    const bool part = record.PartCount > 1 && record.DCS == kDcsUcs2;
    buf[0] = part ? 0x51 : 0x11; // 0x40: the user data begins with a header
    buf[1] = 0x00;
    buf[2] = static_cast<std::uint8_t>(tpaLength);
    buf[3] = 0x91;
    len += BytesToHex(buf, 4, text + len);
    len += SwapSemiOctets(record.TPA, tpaLength, text + len);

    const int udLength = static_cast<int>(strnlen(record.UD, kSmsTextSize - 1));
    int udl = 0;
    int octets = 0;
    std::uint8_t* ud = buf + 4;
    if (record.DCS == kDcs7Bit) {
        udl = std::min(udLength, kSmsMaxSeptets);
        octets = Pack7Bit(reinterpret_cast<const std::uint8_t*>(record.UD), udl, ud);
    } else if (part) {
        // Concatenation header with an 8-bit reference.
        const std::uint8_t header[] = {
            5, 0, 3, record.PartRef, record.PartCount, record.PartNumber};
        std::memcpy(ud, header, sizeof header);
        octets = static_cast<int>(sizeof header) +
                 EncodeUcs2(record.UD, udLength, ud + sizeof header, kSmsPartChars);
        udl = octets;
    } else if (record.DCS == kDcsUcs2) {
        octets = EncodeUcs2(record.UD, udLength, ud);
        udl = octets;
    } else {
        octets = std::min(udLength, kSmsMaxUserOctets);
        std::memcpy(ud, record.UD, static_cast<std::size_t>(octets));
        udl = octets;
    }
    buf[0] = record.PID;
    buf[1] = record.DCS;
    buf[2] = 0x00; // validity period: 5 minutes
    buf[3] = static_cast<std::uint8_t>(udl);
    len += BytesToHex(buf, 4 + octets, text + len);
    return len;
}

int SubmitTpduLength(const char* pduText, int length)
{
    std::uint8_t smscLength = 0;
    if (length < 2) {
        return 0;
    }
    HexToBytes(pduText, 2, &smscLength);
    return length / 2 - (smscLength + 1);
}

bool DecodeDeliverPdu(const char* pdu, std::size_t length, SmsRecord& record)
{
    const std::uint16_t index = record.Index;
    std::memset(&record, 0, sizeof record);
    record.Index = index;

    HexReader in(pdu, length);
    const char* start = nullptr;
    int value = 0;

    // SMSC part; a length of 0 means the PDU carries none.
    if (!in.Octet(value)) {
        return false;
    }
    if (value > 0) {
        int type = 0;
        if (!in.Octet(type)) {
            return false;
        }
        const std::size_t n = in.Take(2 * static_cast<std::size_t>(value - 1), start);
        UnswapInto(start, n, record.SCA, sizeof record.SCA);
    }

    int firstOctet = 0;
    int digits = 0;
    int type = 0;
    if (!in.Octet(firstOctet) || !in.Octet(digits) || !in.Octet(type)) {
        return false;
    }
    const std::size_t n = in.Take(static_cast<std::size_t>((digits + 1) / 2 * 2), start);
    UnswapInto(start, n, record.TPA, sizeof record.TPA);

    int pid = 0;
    int dcs = 0;
    if (!in.Octet(pid) || !in.Octet(dcs)) {
        return false;
    }
    record.PID = static_cast<std::uint8_t>(pid);
    record.DCS = static_cast<std::uint8_t>(dcs);
    const std::size_t ts = in.Take(14, start);
    UnswapInto(start, ts, record.SCTS, sizeof record.SCTS);

    int udl = 0;
    if (!in.Octet(udl)) {
        return false;
    }
    const std::size_t wanted = record.DCS == kDcs7Bit ? (7 * static_cast<std::size_t>(udl) + 7) / 8
                                                      : static_cast<std::size_t>(udl);
    const std::size_t got = in.Take(2 * wanted, start) / 2;
    std::uint8_t octets[256];
    HexToBytes(start, static_cast<int>(2 * got), octets);
    if (record.DCS == kDcs7Bit) {
        const int chars = Unpack7Bit(octets, static_cast<int>(got), record.UD, sizeof record.UD);
        if (chars > udl) {
            record.UD[udl] = '\0'; // the fill bits of the last octet are no character
        }
    } else if (record.DCS == kDcsUcs2) {
        DecodeUcs2(octets, static_cast<int>(got), record.UD, sizeof record.UD);
    } else {
        Copy8Bit(octets, static_cast<int>(got), record.UD, sizeof record.UD);
    }
    return got == wanted;
}

QStringList SplitSmsText(const QString& text, int maxParts)
{
    const auto take = [&text](qsizetype from, qsizetype units) {
        QString piece = text.mid(from, units);
        if (from + piece.size() < text.size() && !piece.isEmpty() &&
            piece.back().isHighSurrogate()) {
            piece.chop(1); // never half a character
        }
        return piece;
    };
    if (text.size() <= kSmsTextChars || maxParts <= 1) {
        return {take(0, kSmsTextChars)};
    }
    QStringList parts;
    qsizetype from = 0;
    while (from < text.size() && parts.size() < std::min(maxParts, kSmsMaxParts)) {
        parts << take(from, kSmsPartChars);
        from += parts.back().size();
    }
    return parts;
}

QString NormalizeNumber(const QString& number)
{
    QString n = number.startsWith(u'+') ? number.mid(1) : number;
    if (!n.startsWith(QStringLiteral("86"))) {
        n.prepend(QStringLiteral("86"));
    }
    return n;
}

bool IsValidSmsNumber(const QString& normalized)
{
    if (normalized.isEmpty() || normalized.size() > static_cast<qsizetype>(kSmsNumberSize - 1)) {
        return false;
    }
    return std::all_of(normalized.begin(), normalized.end(),
                       [](QChar c) { return c >= u'0' && c <= u'9'; });
}

int ParseList(const char* text, std::size_t length, SmsRecord* records, int capacity, int* listed)
{
    static const char kTag[] = "+CMGL:";
    const std::string_view all(text, length);
    int filled = 0;
    int entries = 0;
    std::size_t pos = all.find(kTag);
    while (pos != std::string_view::npos) {
        std::size_t p = pos + sizeof kTag - 1;
        while (p < all.size() && all[p] == ' ') {
            ++p;
        }
        std::uint32_t index = 0;
        int digits = 0;
        while (p < all.size() && all[p] >= '0' && all[p] <= '9' && digits < 6) {
            index = index * 10 + static_cast<std::uint32_t>(all[p] - '0');
            ++p;
            ++digits;
        }
        const bool validIndex = digits > 0 && digits < 6 && index < kSmsNoIndex &&
                                !(p < all.size() && all[p] >= '0' && all[p] <= '9');
        const std::size_t lineEnd = all.find("\r\n", p);
        if (lineEnd == std::string_view::npos) {
            break;
        }
        const std::size_t pduStart = lineEnd + 2;
        std::size_t pduEnd = all.find("\r\n", pduStart);
        if (pduEnd == std::string_view::npos) {
            pduEnd = all.size();
        }
        ++entries;
        if (filled < capacity) {
            SmsRecord& r = records[filled++];
            r.Index = validIndex ? static_cast<std::uint16_t>(index) : kSmsNoIndex;
            DecodeDeliverPdu(text + pduStart, pduEnd - pduStart, r);
        }
        pos = all.find(kTag, pduStart);
    }
    if (listed) {
        *listed = entries;
    }
    return filled;
}
