#include <gtest/gtest.h>

#include "MailTestSupport.h"
#include "platform/Base64.h"

namespace {

const std::tm kMarchFifth = [] { // 5 March 2026, 09:07:03 local time
    std::tm t{};
    t.tm_mday = 5, t.tm_mon = 2, t.tm_year = 126, t.tm_hour = 9, t.tm_min = 7, t.tm_sec = 3;
    return t;
}();

QByteArray Attachments(const CSmtpMessage& m)
{
    QByteArray all;
    m.WriteAttachments([&](const QByteArray& block) { all += block; });
    return all;
}

} // namespace

TEST(SmtpMessage, Header_GoldenWithEveryOptionalLine)
{
    CSmtpMessage m;
    m.SetSenderAddress("s@x.org");
    m.SetSenderName("Gate");
    m.SetReplyTo("r@x.org");
    m.AddRecipient("a@x.org");
    m.AddRecipient("b@x.org", "Bee ");
    m.AddCcRecipient("c@x.org");
    m.AddBccRecipient("d@x.org");
    m.SetPriority(7);
    EXPECT_EQ(
        m.Header(kMarchFifth),
        "Date: 5 Mar 2026 9:7:3\r\nFrom: Gate <s@x.org>\r\nReply-To: r@x.org\r\nX-Priority: 3 "
        "(Normal)\r\nTo: <a@x.org>,Bee <b@x.org>\r\nCc: <c@x.org>\r\nBcc: <d@x.org>\r\n"
        "Subject:  \r\nMIME-Version: 1.0\r\nContent-type: text/plain; "
        "charset=\"US-ASCII\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n");
    m.SetPriority(CSmtpMessage::kPriorityLow);
    EXPECT_TRUE(m.Header(kMarchFifth).contains("\r\nX-Priority: 4 (Low)\r\n"));
    EXPECT_EQ(m.EnvelopeRecipients(),
              (std::vector<QByteArray>{"a@x.org", "b@x.org", "c@x.org", "d@x.org"}));
    EXPECT_EQ(ErrorOf([] { CSmtpMessage().Header(kMarchFifth); }), SmtpErrNoSender);
    EXPECT_EQ(ErrorOf([] { CSmtpMessage().AddRecipient(""); }), SmtpErrRecipientAddress);
}

TEST(SmtpMessage, Check_RefusesTextsThatWouldStartANewLineOrEndAnAddress)
{
    // Addresses hold no CR, LF, '<' or '>' (210); other header texts no CR or LF.
    const std::pair<QByteArray, int> cases[] = {{"a@b.c\r\nRCPT TO:<x@y.z>", 210},
                                                {"a@b.c>", 0},
                                                {"<a@b.c", 0},
                                                {"x\nBcc: victim@b.c", 210}};
    for (const auto& [text, asSubject] : cases) {
        CSmtpMessage sender = TestMessage(), recipient = TestMessage({}, text), subject = sender;
        sender.SetSenderAddress(text);
        subject.SetSubject(text);
        EXPECT_EQ(ErrorOf([&] { sender.Check(); }), SmtpErrForbiddenCharacter);
        EXPECT_EQ(ErrorOf([&] { recipient.Check(); }), SmtpErrForbiddenCharacter);
        EXPECT_EQ(ErrorOf([&] { subject.Check(); }), asSubject);
    }
}

TEST(SmtpMessage, WireLine_EveryLineEndCrLfThenDotsDoubled)
{
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"", "\r\n"},
        {"plain", "plain\r\n"},
        {".", "..\r\n"},
        {"..two", "...two\r\n"},
        {"a.b", "a.b\r\n"},
        {"a\r\n.\r\nQUIT", "a\r\n..\r\nQUIT\r\n"},
        {"bare\rCR", "bare\r\nCR\r\n"},
        {"bare\nLF", "bare\r\nLF\r\n"},
        {"a\r.b", "a\r\n..b\r\n"}, // the dot after a bare CR is doubled too
        {"a\n.", "a\r\n..\r\n"},
        {"\n", "\r\n\r\n"},
        {"\r\r\n\n\r", "\r\n\r\n\r\n\r\n\r\n"},
    };
    for (const auto& [line, wire] : cases) {
        EXPECT_EQ(CSmtpMessage::WireLine(line), wire) << line.toHex().constData();
    }
    EXPECT_EQ(CSmtpMessage().BodyBlocks(), std::vector<QByteArray>{" \r\n"});
}

TEST(SmtpMessage, Attachments_PiecesOf54BytesMultipartHeaderAndLimits)
{
    WriteBytes(TestHome() + "/att.bin", QByteArray(108, 'z'));
    CSmtpMessage m = TestMessage();
    m.AddAttachment(TestHome().toLocal8Bit() + "/att.bin");
    const QByteArray boundary = "__MESSAGE__ID__54yg6f6h6y456345";
    EXPECT_TRUE(
        m.Header(kMarchFifth)
            .endsWith(
                "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" + boundary +
                "\"\r\n\r\n--" + boundary +
                "\r\nContent-type: text/plain; charset=US-ASCII\r\nContent-Transfer-Encoding: "
                "7bit\r\n\r\n"));
    const QByteArray line = Base64Encode(QByteArray(54, 'z'));
    EXPECT_EQ(Attachments(m),
              "--" + boundary +
                  "\r\nContent-Type: application/x-msdownload; name=\"att.bin\"\r\n"
                  "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
                  "filename=\"att.bin\"\r\n\r\n" +
                  line + "\r\n" + line + "\r\n\r\n\r\n--" + boundary + "--\r\n");
    EXPECT_TRUE(Attachments(TestMessage()).isEmpty());

    // The size limit and a missing file are proven on the wire by the session's tests.
    WriteBytes(TestHome() + "/big1", QByteArray(3 * 1024 * 1024, 'a'));
    WriteBytes(TestHome() + "/q\"uote", "x");
    const std::pair<QStringList, int> cases[] = {
        {{"big1", "att.bin"}, 0},
        {{"q\"uote"}, SmtpErrForbiddenCharacter},
    };
    for (const auto& [names, code] : cases) {
        CSmtpMessage big = TestMessage();
        for (const QString& name : names) {
            big.AddAttachment((TestHome() + "/" + name).toLocal8Bit());
        }
        EXPECT_EQ(ErrorOf([&] { Attachments(big); }), code) << names.join(",").toStdString();
    }
}
