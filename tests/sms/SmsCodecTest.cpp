#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <QString>

#include "sms/SmsCodec.h"

namespace {

const QByteArray kSca = "8613800000500";
const QByteArray kTpa = "8613000000001";

SmsRecord Record(const QByteArray& sca, const QByteArray& tpa, std::uint8_t dcs,
                 const QByteArray& ud)
{
    SmsRecord r{};
    qstrncpy(r.SCA, sca.constData(), sizeof r.SCA);
    qstrncpy(r.TPA, tpa.constData(), sizeof r.TPA);
    qstrncpy(r.UD, ud.constData(), sizeof r.UD);
    r.DCS = dcs;
    return r;
}

std::string Encode(const SmsRecord& r)
{
    char text[kSmsPduTextSize] = {};
    return std::string(text, EncodeSubmitPdu(r, text)); // the returned length is the text's
}

SmsRecord Decode(const std::string& pdu, bool* complete)
{
    SmsRecord r{};
    *complete = DecodeDeliverPdu(pdu.data(), pdu.size(), r);
    return r;
}

// The start of an SMS-DELIVER from a Chinese network up to its data coding scheme.
const std::string kDeliverHead = "0891683108200505F0240D91683118886666F500";
const std::string kStamp = "21103041255223";
const std::string kBare = "00240D91683118886666F50004" + kStamp; // no SMSC part, 8-bit
const char kCn[] = "8613800250500";
const char kFrom[] = "8613818866665";
std::string Cn(const char* dcs, const char* ud)
{
    return kDeliverHead + dcs + kStamp + ud;
}
const std::string k7Bit =
    "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37";

} // namespace

TEST(SmsCodec, EncodeSubmit_WorkedExampleLengthsAndBounds)
{
    const std::string pdu = Encode(Record(kSca, kTpa, kDcsUcs2, "ALARM"));
    EXPECT_EQ(pdu, "0891683108000005F011000D91683100000000F10008000A0041004C00410052004D");
    EXPECT_EQ(SubmitTpduLength(pdu.c_str(), static_cast<int>(pdu.size())), 25);

    const QByteArray cjk70 = QString(70, QChar(0x8B66)).toUtf8();
    const QByteArray astral = (QString(69, u'a') + QString::fromUcs4(U"\U0001F525")).toUtf8();
    const struct
    {
        const char* name;
        SmsRecord record;
        std::size_t at;
        std::string expected;
    } cases[] = {
        // The SMSC length counts octets with the type; the destination counts digits.
        {"SMSC of 13 digits", Record(kSca, "123", kDcsUcs2, "A"), 0, "0891"},
        {"SMSC of 14 digits", Record("86138000005001", "123", kDcsUcs2, "A"), 0, "0891"},
        {"destination digits", Record(kSca, kTpa, kDcsUcs2, "A"), 18, "11000D91"},
        // 70 UCS2 characters are the most one message carries; more are cut there.
        {"70 characters", Record(kSca, kTpa, kDcsUcs2, cjk70), 46, "8C8B66"},
        {"71 characters", Record(kSca, kTpa, kDcsUcs2, QByteArray(71, 'x')), 46, "8C0078"},
        // A character beyond the BMP takes two units and is never split at the bound.
        {"pair at the bound", Record(kSca, kTpa, kDcsUcs2, astral), 46, "8A0061"},
        {"7 septets", Record(kSca, kTpa, kDcs7Bit, "ABCDEFG"), 46, "0741E19058341E01"},
        {"8 septets", Record(kSca, kTpa, kDcs7Bit, "ABCDEFGH"), 46, "0841E19058341E91"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Encode(c.record).substr(c.at, c.expected.size()), c.expected) << c.name;
    }
    EXPECT_EQ(Encode(Record(kSca, kTpa, kDcsUcs2, cjk70)).size(), 48u + 280u);
}

TEST(SmsCodec, DecodeDeliver_RealWorldAndBrokenPdus)
{
    const std::string chinese = Cn("08", "0A4F60597DFF0C4E16754C");
    const std::string lower = QByteArray::fromStdString(chinese).toLower().toStdString();
    const struct
    {
        const char* name;
        std::string pdu;
        const char* sca;
        const char* tpa;
        QString ud;
        bool complete;
    } cases[] = {
        {"7-bit", k7Bit, "27381000015", "27838890001", "hellohello", true},
        {"UCS2", chinese, kCn, kFrom, "你好，世界", true},
        {"lower-case hex", lower, kCn, kFrom, "你好，世界", true},
        {"8-bit", Cn("04", "05414C41524D"), kCn, kFrom, "ALARM", true},
        {"class-flagged 8-bit", Cn("F4", "03010203"), kCn, kFrom, "\x01\x02\x03", true},
        {"8 septets", Cn("00", "0841E19058341E91"), kCn, kFrom, "ABCDEFGH", true},
        // The fill bits of the last octet are no eighth character.
        {"7 septets", Cn("00", "0741E19058341E01"), kCn, kFrom, "ABCDEFG", true},
        {"no SMSC part", kBare + "02414C", "", kFrom, "AL", true},
        {"data length beyond the data", kBare + "0F414C", "", kFrom, "AL", false},
        {"not hex", kBare + "024X4C", "", kFrom, "", false},
        {"lengths beyond the fields",
         "FF91" + std::string(508, '1') + "24FF91" + std::string(256, '2') + "0004" + kStamp +
             "0141",
         "111111111111111", "222222222222222", "A", true},
    };
    for (const auto& c : cases) {
        bool complete = false;
        const SmsRecord r = Decode(c.pdu, &complete);
        EXPECT_STREQ(r.SCA, c.sca) << c.name;
        EXPECT_STREQ(r.TPA, c.tpa) << c.name;
        EXPECT_EQ(QString::fromUtf8(r.UD), c.ud) << c.name;
        EXPECT_EQ(complete, c.complete) << c.name;
    }
    bool complete = false;
    EXPECT_STREQ(Decode(cases[0].pdu, &complete).SCTS, "99032915165908");

    // UCS2 of 255 octets of CJK: the text is cut at a whole character within the field.
    const SmsRecord r = Decode("00240D91683118886666F50008" + kStamp + "FF" +
                                   QByteArray("8B66").repeated(127).toStdString() + "00",
                               &complete);
    const std::size_t udLength = std::strlen(r.UD);
    EXPECT_EQ(udLength % 3, 0u);
    EXPECT_EQ(QString::fromUtf8(r.UD), QString(static_cast<int>(udLength / 3), QChar(0x8B66)));

    // Every prefix of a valid PDU decodes without reading past it.
    for (std::size_t n = 0; n <= chinese.size(); ++n) {
        std::unique_ptr<char[]> exact(new char[n ? n : 1]);
        std::memcpy(exact.get(), chinese.data(), n);
        SmsRecord s{};
        EXPECT_EQ(DecodeDeliverPdu(exact.get(), n, s), n == chinese.size()) << n;
    }
}

TEST(SmsCodec, Numbers_NormalizedAndBounded)
{
    for (const char* n : {"13000000001", "+8613000000001", "8613000000001"}) {
        EXPECT_EQ(NormalizeNumber(n), "8613000000001") << n;
    }
    EXPECT_EQ(NormalizeNumber("+4930123"), "864930123");
    EXPECT_TRUE(IsValidSmsNumber("861300000000112"));
    EXPECT_FALSE(IsValidSmsNumber("8613000000001123") || IsValidSmsNumber("86130-0001") ||
                 IsValidSmsNumber("")); // 16 digits do not fit
}

TEST(SmsCodec, ParseList_EntriesIndexesAndCapacity)
{
    const std::string listing = "\r\n+CMGL: 3,0,,23\r\n" + kDeliverHead + "04" + kStamp +
                                "02414C\r\n+CMGL: 300,0,,23\r\n" + kDeliverHead + "04" + kStamp +
                                "0142\r\n+CMGL: 99999999,0,,23\r\n" + kBare + "01\r\n\r\nOK\r\n";
    SmsRecord records[4];
    int listed = 0;
    EXPECT_EQ(ParseList(listing.data(), listing.size(), records, 4, &listed), 3);
    EXPECT_EQ(listed, 3);
    EXPECT_EQ(std::vector<int>({records[0].Index, records[1].Index, records[2].Index}),
              std::vector<int>({3, 300, kSmsNoIndex}));
    EXPECT_EQ(std::string(records[0].UD) + "|" + records[1].UD, "AL|B");
    EXPECT_EQ(ParseList(listing.data(), listing.size(), records, 2, &listed), 2);
    EXPECT_EQ(listed, 3);
    EXPECT_EQ(ParseList("\r\nOK\r\n", 6, records, 4, &listed), 0);
    EXPECT_EQ(listed, 0);
    // An entry cut before its PDU line is no record.
    EXPECT_EQ(ParseList("+CMGL: 1,0,,2", 13, records, 4, &listed), 0);
}

// What does not fit is cut off; a surrogate pair (U+1F525) at the cut is never split.
TEST(SmsCodec, SplitText_CutToMaxParts_SurrogatePairKept)
{
    const auto sizes = [](const QString& text, int maxParts) {
        QList<qsizetype> s;
        for (const QString& p : SplitSmsText(text, maxParts)) {
            s << p.size();
        }
        return s;
    };
    EXPECT_EQ(sizes(QString(69, u'a') + QString::fromUcs4(U"\U0001F525"), 1), QList<qsizetype>{69});
    EXPECT_EQ(sizes(QString(71, u'a'), 8), (QList<qsizetype>{67, 4}));
    EXPECT_EQ(sizes(QString(600, u'a'), 20), QList<qsizetype>(8, 67));
}
