// The message text, built without a server: header goldens, body lines, attachments.

#include <gtest/gtest.h>

#include <QFileInfo>

#include "MailTestSupport.h"
#include "platform/Base64.h"

namespace {

// 5 March 2026, 09:07:03 local time.
std::tm MarchFifth()
{
    std::tm t{};
    t.tm_mday = 5;
    t.tm_mon = 2;
    t.tm_year = 126;
    t.tm_hour = 9;
    t.tm_min = 7;
    t.tm_sec = 3;
    return t;
}

QByteArray Attachments(const CSmtpMessage& m)
{
    QByteArray all;
    m.WriteAttachments([&](const QByteArray& block) { all += block; });
    return all;
}

} // namespace

TEST(SmtpMessage, Header_GoldenOfTheAlarmMail)
{
    EXPECT_EQ(
        TestMessage().Header(MarchFifth()),
        QByteArray("Date: 5 Mar 2026 9:7:3\r\nFrom:  <from@example.org>\r\nX-Mailer: Alarm\r\n"
                   "X-Priority: 2 (High)\r\nTo: <rcpt@example.org>\r\nSubject: Alarm Event\r\n"
                   "MIME-Version: 1.0\r\nContent-type: text/plain; charset=\"US-ASCII\"\r\n"
                   "Content-Transfer-Encoding: 7bit\r\n\r\n"));
}

TEST(SmtpMessage, Header_ListsPrioritiesAndOptionalLines)
{
    CSmtpMessage m;
    m.SetSenderAddress("s@x.org");
    m.SetSenderName("Gate");
    m.SetReplyTo("r@x.org");
    m.AddRecipient("a@x.org");
    m.AddRecipient("b@x.org", "Bee ");
    m.AddCcRecipient("c@x.org");
    m.AddBccRecipient("d@x.org");
    const std::pair<int, const char*> priorities[] = {
        {2, "2 (High)"}, {3, "3 (Normal)"}, {4, "4 (Low)"}, {7, "3 (Normal)"}};
    for (const auto& [priority, text] : priorities) {
        m.SetPriority(priority);
        EXPECT_EQ(m.Header(MarchFifth()),
                  "Date: 5 Mar 2026 9:7:3\r\nFrom: Gate <s@x.org>\r\nReply-To: r@x.org\r\n"
                  "X-Priority: " +
                      QByteArray(text) +
                      "\r\nTo: <a@x.org>,Bee <b@x.org>\r\nCc: <c@x.org>\r\nBcc: <d@x.org>\r\n"
                      "Subject:  \r\nMIME-Version: 1.0\r\nContent-type: text/plain; "
                      "charset=\"US-ASCII\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n");
    }
    EXPECT_EQ(m.EnvelopeRecipients(),
              (std::vector<QByteArray>{"a@x.org", "b@x.org", "c@x.org", "d@x.org"}));
    EXPECT_EQ(ErrorOf([] { CSmtpMessage().Header(MarchFifth()); }), SmtpErrNoSender);
    EXPECT_EQ(ErrorOf([] { TestMessage({}, "x").Header(); }), 0);
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
        {"x\r\n", "x\r\n\r\n"},
    };
    for (const auto& [line, wire] : cases) {
        EXPECT_EQ(CSmtpMessage::WireLine(line), wire) << line.toHex().constData();
    }
    EXPECT_EQ(CSmtpMessage().BodyBlocks(), std::vector<QByteArray>{" \r\n"});
}

TEST(SmtpMessage, Attachments_PiecesOf54BytesMultipartHeaderAndLimits)
{
    const QString path = TestHome() + "/att.bin";
    WriteBytes(path, QByteArray(108, 'z'));
    CSmtpMessage m = TestMessage();
    m.AddAttachment(path.toLocal8Bit());
    EXPECT_TRUE(m.Header(MarchFifth())
                    .endsWith("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; "
                              "boundary=\"__MESSAGE__ID__54yg6f6h6y456345\"\r\n\r\n"
                              "--__MESSAGE__ID__54yg6f6h6y456345\r\nContent-type: text/plain; "
                              "charset=US-ASCII\r\nContent-Transfer-Encoding: 7bit\r\n\r\n"));
    const QByteArray line = Base64Encode(QByteArray(54, 'z'));
    EXPECT_EQ(Attachments(m),
              "--__MESSAGE__ID__54yg6f6h6y456345\r\nContent-Type: application/x-msdownload; "
              "name=\"att.bin\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: "
              "attachment; filename=\"att.bin\"\r\n\r\n" +
                  line + "\r\n" + line + "\r\n\r\n\r\n--__MESSAGE__ID__54yg6f6h6y456345--\r\n");
    EXPECT_TRUE(Attachments(TestMessage()).isEmpty());

    WriteBytes(TestHome() + "/big1", QByteArray(3 * 1024 * 1024, 'a'));
    WriteBytes(TestHome() + "/big2", QByteArray(2100 * 1024, 'b'));
    WriteBytes(TestHome() + "/q\"uote", "x");
    const std::pair<QStringList, int> cases[] = {
        {{"big1", "big2"}, SmtpErrAttachmentSize},
        {{"big1", "att.bin"}, 0},
        {{"missing"}, SmtpErrAttachmentOpen},
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
