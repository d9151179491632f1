#include <gtest/gtest.h>

#include "mail/Md5.h"
#include "mail/SmtpSession.h"
#include "platform/Base64.h"

TEST(Md5, Rfc1321TestSuite)
{
    const std::pair<const char*, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [input, digest] : cases) {
        EXPECT_EQ(MD5::Hex(input), QByteArray(digest)) << input;
    }
}

TEST(Md5, PiecewiseUpdatesAcrossBlockEdges_MatchOneShot)
{
    QByteArray data;
    for (int i = 0; i < 1000; ++i) {
        data.append(static_cast<char>(i * 7));
    }
    for (const int piece : {1, 55, 56, 63, 64, 65, 200}) {
        MD5 md5;
        for (qsizetype at = 0; at < data.size(); at += piece) {
            md5.Update(data.mid(at, piece));
        }
        md5.Finalize();
        EXPECT_EQ(md5.HexDigest(), MD5::Hex(data)) << piece;
        EXPECT_EQ(md5.RawDigest().size(), 16);
    }
}

TEST(HmacMd5, Rfc2202TestCases)
{
    struct Case
    {
        QByteArray key;
        QByteArray data;
        const char* digest;
    };
    const Case cases[] = {
        {QByteArray(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {QByteArray(16, '\xaa'), QByteArray(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
        {QByteArray::fromHex("0102030405060708090a0b0c0d0e0f10111213141516171819"),
         QByteArray(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79"},
        {QByteArray(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c"},
        {QByteArray(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {QByteArray(80, '\xaa'),
         "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HmacMd5(c.key, c.data).toHex(), QByteArray(c.digest)) << c.data.constData();
    }
}

TEST(SmtpAuth, CramMd5_Rfc2195Example)
{
    EXPECT_EQ(Base64Encode(CramMd5Answer("tim", "tanstaaftanstaaf",
                                         "<1896.697170952@postoffice.reston.mci.net>")),
              QByteArray("dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw"));
}

TEST(SmtpAuth, DigestMd5_Rfc2831Example)
{
    const QByteArray challenge = "realm=\"elwood.innosoft.com\",nonce=\"OA6MG9tEQGm2hh\",qop="
                                 "\"auth\",algorithm=md5-sess,charset=utf-8";
    QByteArray response;
    ASSERT_TRUE(DigestMd5Answer("chris", "secret", challenge, "imap/elwood.innosoft.com",
                                "OA6MHXh6VqTrRk", &response));
    EXPECT_EQ(response, QByteArray("charset=utf-8,username=\"chris\",realm=\"elwood.innosoft.com\","
                                   "nonce=\"OA6MG9tEQGm2hh\",nc=00000001,cnonce=\"OA6MHXh6VqTrRk\","
                                   "digest-uri=\"imap/elwood.innosoft.com\","
                                   "response=d388dad90d4bbd760a152321f2143af7,qop=auth"));
}

TEST(SmtpAuth, DigestMd5_ChallengeVariants)
{
    QByteArray response;
    // No realm: no realm directive, and the two colons of A meet.
    ASSERT_TRUE(
        DigestMd5Answer("u", "p", "nonce=\"n1\",qop=\"auth\"", "smtp/127.0.0.1", "c", &response));
    EXPECT_FALSE(response.contains("realm="));
    const QByteArray ha1 = MD5::Hex(MD5::Raw("u::p") + ":n1:c");
    const QByteArray expected =
        MD5::Hex(ha1 + ":n1:00000001:c:auth:" + MD5::Hex("AUTHENTICATE:smtp/127.0.0.1"));
    EXPECT_TRUE(response.contains(",response=" + expected + ",")) << response.constData();

    EXPECT_FALSE(
        DigestMd5Answer("u", "p", "realm=\"r\",qop=\"auth\"", "x", "c", &response)); // no nonce
    EXPECT_FALSE(DigestMd5Answer("u", "p", "nonce=\"n1", "x", "c", &response));      // open nonce
    EXPECT_FALSE(
        DigestMd5Answer("u", "p", "nonce=\"n1\",realm=\"r", "x", "c", &response)); // open realm
    EXPECT_FALSE(DigestMd5Answer("u", "p", "nonce", "x", "c", &response));         // cut short
}

TEST(Base64, Rfc4648Vectors)
{
    const std::pair<const char*, const char*> cases[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(Base64Encode(plain), QByteArray(encoded));
        EXPECT_EQ(Base64Decode(encoded), QByteArray(plain));
    }
    QByteArray all;
    for (int i = 0; i < 256; ++i) {
        all.append(static_cast<char>(i));
    }
    EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
    EXPECT_EQ(Base64Encode(QByteArray(54, 'x')).size(), 72);
}

TEST(Base64, DecodingStopsAtPaddingOrForeignCharacter)
{
    EXPECT_EQ(Base64Decode("Zm9v=YmFy"), QByteArray("foo"));
    EXPECT_EQ(Base64Decode("Zm9v YmFy"), QByteArray("foo"));
    EXPECT_EQ(Base64Decode("Zm9vYmFy\r\n"), QByteArray("foobar"));
    EXPECT_EQ(Base64Decode("Zm9vYg"), QByteArray("foob")); // unpadded tail
    EXPECT_EQ(Base64Decode("Zm9vY"), QByteArray("foo"));   // a lone sixth of a byte gives nothing
    EXPECT_EQ(Base64Decode("*Zm9v"), QByteArray());
}
