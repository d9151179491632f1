#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include <QString>

#include "sms/SmsCodec.h"

namespace {

const char kWorkedPdu[] = "0891683108000005F011000D91683100000000F10008000A0041004C00410052004D";

SmsRecord Record(const char* sca, const char* tpa, std::uint8_t dcs, const QByteArray& ud)
{
    SmsRecord r{};
    std::memcpy(r.SCA, sca, std::min(std::strlen(sca), sizeof r.SCA - 1));
    std::memcpy(r.TPA, tpa, std::min(std::strlen(tpa), sizeof r.TPA - 1));
    r.DCS = dcs;
    std::memcpy(r.UD, ud.constData(), std::min<std::size_t>(ud.size(), sizeof r.UD - 1));
    return r;
}

std::string Encode(const SmsRecord& r)
{
    char text[kSmsPduTextSize] = {};
    const int n = EncodeSubmitPdu(r, text);
    EXPECT_EQ(n, static_cast<int>(std::strlen(text)));
    return text;
}

SmsRecord Decode(const std::string& pdu, bool* complete = nullptr)
{
    SmsRecord r{};
    const bool ok = DecodeDeliverPdu(pdu.data(), pdu.size(), r);
    if (complete) {
        *complete = ok;
    }
    return r;
}

} // namespace

TEST(SmsCodec, EncodeSubmit_WorkedAlarmExample)
{
    const SmsRecord r = Record("8613800000500", "8613000000001", kDcsUcs2, "ALARM");
    const std::string pdu = Encode(r);
    EXPECT_EQ(pdu, kWorkedPdu);
    EXPECT_EQ(pdu.size(), 68u);
    EXPECT_EQ(SubmitTpduLength(pdu.c_str(), static_cast<int>(pdu.size())), 25);
}

TEST(SmsCodec, HexAndSemiOctets_OddLengthsAndBounds)
{
    char text[64];
    const std::uint8_t octets[] = {0x00, 0x1A, 0xFF};
    EXPECT_EQ(BytesToHex(octets, 3, text), 6);
    EXPECT_STREQ(text, "001AFF");
    EXPECT_EQ(BytesToHex(octets, 0, text), 0);
    EXPECT_STREQ(text, "");

    std::uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(HexToBytes("1aFf", 4, out), 2);
    EXPECT_EQ(out[0], 0x1A);
    EXPECT_EQ(out[1], 0xFF);
    // An odd last character is a high nibble; the character after it is never read.
    const char odd[] = {'A', 'B', 'C', '9'};
    EXPECT_EQ(HexToBytes(odd, 3, out), 1);
    EXPECT_EQ(out[1], 0xC0);
    EXPECT_EQ(out[2], 0xEE);

    EXPECT_EQ(SwapSemiOctets("8613000000001", 13, text), 14);
    EXPECT_STREQ(text, "683100000000F1");
    EXPECT_EQ(UnswapSemiOctets("683100000000F1", 14, text), 13);
    EXPECT_STREQ(text, "8613000000001");
    EXPECT_EQ(SwapSemiOctets("12", 2, text), 2);
    EXPECT_STREQ(text, "21");
    EXPECT_EQ(UnswapSemiOctets("214", 3, text), 2); // half a pair is no digit
    EXPECT_STREQ(text, "12");
}

TEST(SmsCodec, EncodeSubmit_LengthOctets)
{
    // The SMSC length counts octets with the type; the destination length counts digits.
    EXPECT_EQ(Encode(Record("8613800000500", "123", kDcsUcs2, "A")).substr(0, 4), "0891");
    EXPECT_EQ(Encode(Record("86138000005001", "123", kDcsUcs2, "A")).substr(0, 4), "0891");
    const std::string pdu = Encode(Record("8613800000500", "8613000000001", kDcsUcs2, "A"));
    EXPECT_EQ(pdu.substr(18, 8), "11000D91");

    // 70 UCS2 characters: UDL 0x8C, the most one message carries; more are cut there.
    const QByteArray seventy = QString(70, QChar(0x8B66)).toUtf8();
    std::string full = Encode(Record("8613800000500", "8613000000001", kDcsUcs2, seventy));
    EXPECT_EQ(full.substr(46, 2), "8C");
    EXPECT_EQ(full.size(), 48u + 280u);
    EXPECT_EQ(full.substr(48, 4), "8B66");
    const QByteArray seventyOne = QString(71, QChar(u'x')).toUtf8();
    full = Encode(Record("8613800000500", "8613000000001", kDcsUcs2, seventyOne));
    EXPECT_EQ(full.substr(46, 2), "8C");

    // A character beyond the BMP takes two units and is never split at the bound.
    const QByteArray astral =
        (QString(69, QChar(u'a')) + QString::fromUcs4(U"\U0001F525")).toUtf8();
    full = Encode(Record("8613800000500", "8613000000001", kDcsUcs2, astral));
    EXPECT_EQ(full.substr(46, 2), "8A"); // 69 units; the pair would not fit
}

TEST(SmsCodec, SevenBit_PackingOfSevenAndEightCharacters)
{
    std::uint8_t octets[16];
    const auto* seven = reinterpret_cast<const std::uint8_t*>("ABCDEFG");
    const auto* eight = reinterpret_cast<const std::uint8_t*>("ABCDEFGH");
    EXPECT_EQ(Pack7Bit(seven, 7, octets), 7);
    EXPECT_EQ(Pack7Bit(eight, 8, octets), 7);
    char text[16];
    EXPECT_EQ(Unpack7Bit(octets, 7, text, sizeof text), 8);
    EXPECT_STREQ(text, "ABCDEFGH");
    // The classic example: "hellohello" packs to E8329BFD4697D9EC37.
    const auto* hello = reinterpret_cast<const std::uint8_t*>("hellohello");
    const int n = Pack7Bit(hello, 10, octets);
    char hex[32];
    BytesToHex(octets, n, hex);
    EXPECT_STREQ(hex, "E8329BFD4697D9EC37");

    const std::string pdu7 = Encode(Record("8613800000500", "8613000000001", kDcs7Bit, "ABCDEFG"));
    EXPECT_EQ(pdu7.substr(46), "07"
                               "41E19058341E01");
    const std::string pdu8 = Encode(Record("8613800000500", "8613000000001", kDcs7Bit, "ABCDEFGH"));
    EXPECT_EQ(pdu8.substr(46), "08"
                               "41E19058341E91");
    // Unpacking never writes past its output.
    char small[4];
    EXPECT_EQ(Unpack7Bit(octets, 7, small, sizeof small), 3);
    EXPECT_STREQ(small, "hel");
}

TEST(SmsCodec, DecodeDeliver_RealWorldPdus)
{
    // 7-bit, international originator, time stamp in reading order.
    SmsRecord r =
        Decode("07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37");
    EXPECT_STREQ(r.SCA, "27381000015");
    EXPECT_STREQ(r.TPA, "27838890001");
    EXPECT_EQ(r.PID, 0);
    EXPECT_EQ(r.DCS, 0);
    EXPECT_STREQ(r.SCTS, "99032915165908");
    EXPECT_STREQ(r.UD, "hellohello");

    // UCS2 from a Chinese network: "你好，世界".
    r = Decode("0891683108200505F0240D91683118886666F5000821103041255223"
               "0A4F60597DFF0C4E16754C");
    EXPECT_STREQ(r.SCA, "8613800250500");
    EXPECT_STREQ(r.TPA, "8613818866665");
    EXPECT_EQ(r.DCS, 8);
    EXPECT_EQ(QString::fromUtf8(r.UD), QStringLiteral("你好，世界"));

    // 8-bit data and a class-flagged 8-bit message are copied as raw octets.
    r = Decode("0891683108200505F0240D91683118886666F500042110304125522305414C41524D");
    EXPECT_STREQ(r.UD, "ALARM");
    r = Decode("0891683108200505F0240D91683118886666F500F42110304125522303010203");
    EXPECT_EQ(r.DCS, 0xF4);
    EXPECT_STREQ(r.UD, "\x01\x02\x03");

    // 8 septets come from 7 octets.
    r = Decode("0891683108200505F0240D91683118886666F5000021103041255223"
               "0841E19058341E91");
    EXPECT_STREQ(r.UD, "ABCDEFGH");
    // 7 septets: the fill bits of the last octet are no eighth character.
    r = Decode("0891683108200505F0240D91683118886666F5000021103041255223"
               "0741E19058341E01");
    EXPECT_STREQ(r.UD, "ABCDEFG");
}

TEST(SmsCodec, DecodeDeliver_BrokenInputStaysInBounds)
{
    const std::string good =
        "0891683108200505F0240D91683118886666F50008211030412552230A4F60597DFF0C4E16754C";
    bool complete = false;
    std::string lower = good;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    EXPECT_EQ(QString::fromUtf8(Decode(lower, &complete).UD), QStringLiteral("你好，世界"));
    EXPECT_TRUE(complete);

    // No SMSC part.
    SmsRecord r = Decode("00240D91683118886666F500042110304125522302414C", &complete);
    EXPECT_STREQ(r.SCA, "");
    EXPECT_STREQ(r.TPA, "8613818866665");
    EXPECT_STREQ(r.UD, "AL");
    EXPECT_TRUE(complete);

    // Address and SMSC lengths far beyond the fields: cut to 15 digits.
    r = Decode("FF91" + std::string(508, '1') + "24FF91" + std::string(256, '2') + "0004" +
                   "21103041255223" + "0141",
               &complete);
    EXPECT_STREQ(r.SCA, "111111111111111");
    EXPECT_STREQ(r.TPA, "222222222222222");
    EXPECT_STREQ(r.UD, "A");

    // A user-data length beyond the data: what is there, and the PDU counts as cut short.
    r = Decode("00240D91683118886666F50004211030412552230F414C", &complete);
    EXPECT_STREQ(r.UD, "AL");
    EXPECT_FALSE(complete);
    // A character that is not hex ends the PDU.
    r = Decode("00240D91683118886666F5000421103041255223024X4C", &complete);
    EXPECT_FALSE(complete);
    // UCS2 of 255 octets of CJK: the text is cut at a whole character within the field.
    std::string cjk;
    for (int i = 0; i < 127; ++i) {
        cjk += "8B66";
    }
    r = Decode("00240D91683118886666F5000821103041255223FF" + cjk + "00", &complete);
    const std::size_t udLength = std::strlen(r.UD);
    EXPECT_LE(udLength, kSmsTextSize - 1);
    EXPECT_EQ(udLength % 3, 0u);
    EXPECT_EQ(QString::fromUtf8(r.UD), QString(static_cast<int>(udLength / 3), QChar(0x8B66)));

    // Every prefix of a valid PDU decodes without reading past it.
    for (std::size_t n = 0; n <= good.size(); ++n) {
        const std::string prefix = good.substr(0, n);
        std::unique_ptr<char[]> exact(new char[n ? n : 1]);
        std::memcpy(exact.get(), prefix.data(), n);
        SmsRecord s{};
        EXPECT_EQ(DecodeDeliverPdu(exact.get(), n, s), n == good.size()) << n;
    }
}

TEST(SmsCodec, NormalizeNumber_InternationalAndNational)
{
    EXPECT_EQ(NormalizeNumber("13000000001"), "8613000000001");
    EXPECT_EQ(NormalizeNumber("+8613000000001"), "8613000000001");
    EXPECT_EQ(NormalizeNumber("8613000000001"), "8613000000001");
    EXPECT_EQ(NormalizeNumber("+4930123"), "864930123");
    EXPECT_TRUE(IsValidSmsNumber("861300000000112"));
    EXPECT_FALSE(IsValidSmsNumber("8613000000001123")); // 16 digits do not fit
    EXPECT_FALSE(IsValidSmsNumber("86130-0001"));
    EXPECT_FALSE(IsValidSmsNumber(""));
}

TEST(SmsCodec, ParseList_EntriesIndexesAndCapacity)
{
    const std::string listing = "\r\n+CMGL: 3,0,,23\r\n"
                                "0891683108200505F0240D91683118886666F500042110304125522302414C\r\n"
                                "+CMGL: 300,0,,23\r\n"
                                "0891683108200505F0240D91683118886666F50004211030412552230142\r\n"
                                "+CMGL: 99999999,0,,23\r\n"
                                "00240D91683118886666F500042110304125522301\r\n\r\nOK\r\n";
    SmsRecord records[4];
    int listed = 0;
    EXPECT_EQ(ParseList(listing.data(), listing.size(), records, 4, &listed), 3);
    EXPECT_EQ(listed, 3);
    EXPECT_EQ(records[0].Index, 3);
    EXPECT_STREQ(records[0].UD, "AL");
    EXPECT_EQ(records[1].Index, 300);
    EXPECT_STREQ(records[1].UD, "B");
    EXPECT_EQ(records[2].Index, kSmsNoIndex);
    EXPECT_EQ(ParseList(listing.data(), listing.size(), records, 2, &listed), 2);
    EXPECT_EQ(listed, 3);
    EXPECT_EQ(ParseList("\r\nOK\r\n", 6, records, 4, &listed), 0);
    EXPECT_EQ(listed, 0);
    // An entry cut before its PDU line is no record.
    EXPECT_EQ(ParseList("+CMGL: 1,0,,2", 13, records, 4, &listed), 0);
}
