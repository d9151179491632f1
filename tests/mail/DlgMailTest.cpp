#include <gtest/gtest.h>

#include <QComboBox>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QThreadPool>

#include "MailTestSupport.h"
#include "mail/DlgMail.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "support/QtPrinters.h"

namespace {

const QString kTo = "duty@example.org";

SmtpPeer& Peer()
{
    return SharedPeer("LOGIN");
}

// The mail worker's event line of a test mail, or the dialog's status line.
QString Outcome(bool sent, const QString& to, bool status = false)
{
    return status ? QString("The test mail to '%1' was %2.").arg(to, sent ? "sent" : "not sent")
                  : MailOutcome(sent, CDlgMail::TestMailText(), to);
}

// The opener of the dialog, keeping what the dialog asks of it, and a mail worker sending to
// the server of the profile.
class DlgMailTest : public testing::Test
{
protected:
    void SetUp() override
    {
        WriteProfileString(kProfileMailServer, "127.0.0.1");
        WriteProfileInt(kProfileMailSecurity, 0);
        DeleteProfileValue("Mail", "Port");
        DeleteProfileValue("Mail", "Send");
        ASSERT_TRUE(queue.StartWorker());
        // Qt's image work in one pooled thread: two would race inside Qt, which the thread
        // sanitizer cannot see into.
        QThreadPool::globalInstance()->setMaxThreadCount(1);
    }
    std::unique_ptr<CDlgMail> Open()
    {
        MailDialogHost host;
        host.account = [this] { return account; };
        host.setAccount = [this](const QString& sender, const QString& password) {
            account = {sender, password};
            queue.SetAccount(sender, password);
        };
        host.queueMail = [this](const QString& address, const QString& text, MailDone done) {
            queue.QueueMail(address, text, 0, false, std::move(done));
        };
        host.openUserList = [this](QWidget*) { ++userListOpened; };
        host.markModified = [this] { ++modified; };
        auto dialog = std::make_unique<CDlgMail>(std::move(host));
        dialog->show();
        return dialog;
    }
    template <typename W = QLineEdit> static W* Field(CDlgMail& d, const char* name)
    {
        return d.findChild<W*>(name);
    }
    static void Type(CDlgMail& d, const char* name, const QString& text)
    {
        Field(d, name)->selectAll();
        QTest::keyClick(Field(d, name), Qt::Key_Delete);
        QTest::keyClicks(Field(d, name), text);
    }
    // Runs the event loop until cond holds (20 s at most).
    static bool Pump(const std::function<bool()>& cond)
    {
        return WaitUntil([&] { return QCoreApplication::processEvents(), cond(); }, 20000);
    }
    // Types the account and kTo, presses Send and (with wait) waits for the outcome.
    static void SendTest(CDlgMail& d, const QString& password, bool wait = true)
    {
        Type(d, "sender", SmtpPeer::kUser);
        Type(d, "password", password);
        Type(d, "to", kTo);
        QTest::mouseClick(Field<QPushButton>(d, "send"), Qt::LeftButton);
        EXPECT_FALSE(Field<QPushButton>(d, "send")->isEnabled());
        EXPECT_TRUE(!wait || Pump([&] { return !d.Sending(); }));
        EXPECT_EQ(Field<QPushButton>(d, "send")->isEnabled(), wait);
    }

    MailAccount account{"old@zunaro.test", "old"};
    int modified = 0, userListOpened = 0;
    EventCollector events; // outlives the queue, which reports until it is destroyed
    CMailQueue queue{MailQueueTiming{FastTable(3000)}};
};

} // namespace

TEST_F(DlgMailTest, Send_FailsWithoutOrWithWrongPassword_ThenDelivers_EscapeKeepsUnmodified)
{
    ASSERT_TRUE(Peer().ok() && WriteProfileInt(kProfileMailPort, Peer().plainPort));
    const std::size_t before = Peer().Messages().size();
    auto d = Open();
    EXPECT_EQ(Field(*d, "to")->text(), QString("support@zunaro.example"));
    EXPECT_EQ(Field(*d, "sender")->text(), account.sender);
    QTest::mouseClick(Field<QPushButton>(*d, "users"), Qt::LeftButton);
    EXPECT_EQ(userListOpened, 1);

    // Refused at once by the queue, or by the server after the worker took it.
    for (const QString password : {"", "wrong"}) {
        SendTest(*d, password);
        EXPECT_EQ(d->StatusText(), Outcome(false, kTo, true)) << password.toStdString();
    }
    EXPECT_EQ(events.Count(EventType::Error, Outcome(false, kTo)), 2);
    SendTest(*d, SmtpPeer::kPassword);
    EXPECT_EQ(d->StatusText(), Outcome(true, kTo, true));
    const QJsonObject m = Peer().Message(before);
    EXPECT_EQ(Peer().Messages().size(), before + 1);
    EXPECT_EQ(m.value("rcpt_tos").toArray(), QJsonArray{kTo});
    EXPECT_EQ(m.value("login").toString(), QString(SmtpPeer::kUser));
    EXPECT_TRUE(m.value("content").toString().contains(CDlgMail::TestMailText()));
    EXPECT_EQ(events.Count(EventType::Information, Outcome(true, kTo)), 1);
    if (const QByteArray dir = qgetenv("ZUNARO_SCREENSHOTS"); !dir.isEmpty()) {
        d->grab().save(QString::fromLocal8Bit(dir) + "/DlgMail.png");
    }

    QTest::keyClick(d.get(), Qt::Key_Escape);
    EXPECT_EQ(d->result(), QDialog::Rejected);
    EXPECT_EQ(modified, 0);
    EXPECT_EQ(account.sender, QString(SmtpPeer::kUser)); // Send applied it at once
    EXPECT_EQ(queue.Account().password, QString(SmtpPeer::kPassword));
    EXPECT_EQ(Field(*Open(), "to")->text(), kTo); // remembered for the next opening
}

// Return in a field is OK: the account and the server are applied, marked modified once,
// and nothing is sent.
TEST_F(DlgMailTest, Ok_AppliesAccountAndServer_PortFollowsSecurityUntilTyped)
{
    auto d = Open();
    Type(*d, "sender", "new@zunaro.test");
    Type(*d, "password", "pw");
    Type(*d, "server", " mail.zunaro.test ");
    auto* security = Field<QComboBox>(*d, "security");
    const std::pair<int, QString> follow[] = {{1, "587"}, {2, "465"}, {0, "25"}, {1, "587"}};
    for (const auto& [choice, port] : follow) {
        security->setCurrentIndex(choice);
        EXPECT_EQ(Field(*d, "port")->text(), port) << choice;
    }
    Type(*d, "port", "2525");
    security->setCurrentIndex(2);
    EXPECT_EQ(Field(*d, "port")->text(), QString("2525"));
    QTest::keyClick(Field(*d, "password"), Qt::Key_Return);
    EXPECT_EQ(d->result(), QDialog::Accepted);
    EXPECT_EQ(modified, 1);
    EXPECT_EQ(account.sender, QString("new@zunaro.test"));
    EXPECT_EQ(account.password, QString("pw"));
    EXPECT_EQ(GetProfileString(kProfileMailServer), QString("mail.zunaro.test"));
    EXPECT_EQ(GetProfileString(kProfileMailTestRecipient), QString("support@zunaro.example"));
    EXPECT_EQ(GetProfileInt(kProfileMailPort), 2525);
    EXPECT_EQ(GetProfileInt(kProfileMailSecurity), 2);
    EXPECT_EQ(queue.Pending(), 0u);
    EXPECT_TRUE(events.Records().empty());

    d = Open();
    Field<QComboBox>(*d, "security")->setCurrentIndex(0);
    EXPECT_EQ(Field(*d, "port")->text(), QString("2525"));
    Type(*d, "port", ""); // cleared: it follows again, and the security's port is stored
    Field<QComboBox>(*d, "security")->setCurrentIndex(1);
    EXPECT_EQ(Field(*d, "port")->text(), QString("587"));
}

TEST_F(DlgMailTest, Close_WhileTestMailUnderWay_NeitherHangsNorCrashes)
{
    ScriptedServer silent(Script{}); // accepts and never greets
    WriteProfileInt(kProfileMailPort, silent.port);
    auto d = Open();
    SendTest(*d, SmtpPeer::kPassword, false);
    EXPECT_TRUE(d->Sending());
    d.reset();
    // The outcome arrives after the dialog is gone: only the event line tells it.
    EXPECT_TRUE(Pump([&] { return events.Count(EventType::Error, Outcome(false, kTo)) == 1; }));
}
