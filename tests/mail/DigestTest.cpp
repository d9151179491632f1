#include <gtest/gtest.h>

#include "mail/Md5.h"
#include "mail/SmtpSession.h"
#include "platform/Base64.h"

TEST(Md5, Rfc1321Vectors)
{
    const std::pair<QByteArray, const char*> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {QByteArray("1234567890").repeated(8), "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [input, digest] : cases) {
        EXPECT_EQ(MD5::Hex(input), QByteArray(digest)) << input.constData();
    }
}

TEST(SmtpAuth, HmacCramAndDigestAnswers_PublishedExamples)
{
    const std::tuple<QByteArray, QByteArray, const char*> hmac[] = {
        // RFC 2202
        {QByteArray(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {QByteArray(80, '\xaa'),
         "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (const auto& [key, data, digest] : hmac) {
        EXPECT_EQ(HmacMd5(key, data).toHex(), QByteArray(digest)) << data.constData();
    }
    EXPECT_EQ(
        CramMd5Answer("tim", "tanstaaftanstaaf", "<1896.697170952@postoffice.reston.mci.net>"),
        QByteArray("tim b913a602c7eda7a495b4e6e7334d3890")); // RFC 2195
    QByteArray response;
    ASSERT_TRUE(
        DigestMd5Answer("chris", "secret",
                        "realm=\"elwood.innosoft.com\",nonce=\"OA6MG9tEQGm2hh\",qop=\"auth\","
                        "algorithm=md5-sess,charset=utf-8",
                        "imap/elwood.innosoft.com", "OA6MHXh6VqTrRk", &response)); // RFC 2831
    EXPECT_EQ(response, QByteArray("charset=utf-8,username=\"chris\",realm=\"elwood.innosoft.com\","
                                   "nonce=\"OA6MG9tEQGm2hh\",nc=00000001,cnonce=\"OA6MHXh6VqTrRk\","
                                   "digest-uri=\"imap/elwood.innosoft.com\","
                                   "response=d388dad90d4bbd760a152321f2143af7,qop=auth"));
}

TEST(SmtpAuth, DigestMd5_ChallengeVariants)
{
    QByteArray response;
    // No realm: no realm directive.
    ASSERT_TRUE(
        DigestMd5Answer("u", "p", "nonce=\"n1\",qop=\"auth\"", "smtp/127.0.0.1", "c", &response));
    EXPECT_FALSE(response.contains("realm=")) << response.constData();
    // No nonce, an open nonce or realm, a name cut short: refused.
    for (const char* bad :
         {"realm=\"r\",qop=\"auth\"", "nonce=\"n1", "nonce=\"n1\",realm=\"r", "nonce"}) {
        EXPECT_FALSE(DigestMd5Answer("u", "p", bad, "x", "c", &response)) << bad;
    }
}

TEST(Base64, Rfc4648VectorsAndWhereDecodingStops)
{
    const char* const encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int n = 0; n <= 6; ++n) {
        EXPECT_EQ(Base64Encode(QByteArray("foobar").left(n)), QByteArray(encoded[n]));
        EXPECT_EQ(Base64Decode(encoded[n]), QByteArray("foobar").left(n));
    }
    // At "=" or a character outside the alphabet; an unpadded tail still counts.
    for (const QByteArray encoded : {"Zm9v=YmFy", "Zm9v YmFy", "Zm9vY", "Zm9v\r\nYg"}) {
        EXPECT_EQ(Base64Decode(encoded), QByteArray("foo")) << encoded.constData();
    }
    EXPECT_EQ(Base64Decode("Zm9vYg"), QByteArray("foob"));
    EXPECT_EQ(Base64Decode("*Zm9v"), QByteArray());
}
