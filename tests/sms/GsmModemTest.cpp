#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "ModemSim.h"
#include "platform/Tick.h"
#include "recipients/AlarmChannels.h"
#include "recipients/UserList.h"
#include "sms/GsmModem.h"
#include "support/TestSupport.h"

namespace {

// The application's channels as far as SMS goes: every SMS request goes to the modem slot.
struct SmsChannels : IAlarmChannels
{
    explicit SmsChannels(CModemSlot& s) : slot(s) {}
    void QueueSms(const QString& tel, const QString& text) override { slot.QueueSms(tel, text); }
    void QueueMail(const QString&, const QString&) override {}
    void QueueSpeech(const QString&) override {}
    bool VoiceEnabled() const override { return false; }
    CModemSlot& slot;
};

const QString kOpenPort = QStringLiteral("Open Port: COM1");
const QString kConnected = QStringLiteral("连接GSM-MODEM成功！");
const QString kSendWarning = QStringLiteral("短信猫连续发送失败次数超标,疑似欠费,请确认！");
const QString kReceiveWarning = QStringLiteral("短信猫连续收取短信失败次数超标,疑似欠费,请确认！");
const QString kDeleted = QStringLiteral("短信猫从收件箱删除1条短信");
const QString kDeleteFailed = QStringLiteral("短信猫删除短信失败");
const QString kLost = QStringLiteral("Lost the serial port COM1.");
const QString kNumber = QStringLiteral("8613000000001");

QString Sent(const QString& text, const QString& outcome = QStringLiteral("成功！"))
{
    return QStringLiteral("短信猫向号码") + kNumber + QStringLiteral("发送消息：") + text + outcome;
}
QString GivenUp(const QString& text)
{
    return Sent(text, QStringLiteral("失败！"));
}
QString Received(const QString& text)
{
    return QStringLiteral("短信猫 接收到消息：") + text;
}
QString NotSent(const QString& text)
{
    return QStringLiteral("SMS to '%1' not sent: the modem driver stopped first. Text: '%2'")
        .arg(kNumber, text);
}
QString Refused(const QString& text)
{
    return QStringLiteral("SMS queue is full: '%1' to '13000000001' was refused.").arg(text);
}

// An SMS-DELIVER of 8-bit text without an SMSC part, as the simulator lists it.
QString DeliverPdu8Bit(const QByteArray& text)
{
    return QStringLiteral("00240D91683118886666F5000421103041255223%1%2")
        .arg(text.size(), 2, 16, QChar(u'0'))
        .arg(QString::fromLatin1(text.toHex().toUpper()));
}

const char kHelloPdu[] = "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37";
const char kChinesePdu[] =
    "0891683108200505F0240D91683118886666F50008211030412552230A4F60597DFF0C4E16754C";

// Pauses short enough for tests; the code paths are the driver's own.
ModemTiming FastTiming(int readMs = 1000, int sendWaitMs = 100)
{
    ModemTiming t;
    t.stopPollMs = 5;
    t.idlePauseMs = t.sendRetryPauseMs = t.deletePauseMs = 20;
    t.listPauseMs = 10;
    t.deleteRetryPauseMs = 30;
    t.listTimeoutMs = 1500;
    t.sendWaitMs = sendWaitMs;
    t.readConstantMs = readMs;
    return t;
}

class GsmModemTest : public ::testing::Test
{
protected:
    bool WaitFor(int type, const QString& text, int count = 1, int timeoutMs = 15000)
    {
        return WaitUntil([&] { return ev->Count(type, text) >= count; }, timeoutMs);
    }
    static bool WaitForSim(const QByteArray& what, int count = 1)
    {
        return WaitUntil([&] { return ModemSim::Transcript().count(what) >= count; }, 15000);
    }
    static std::unique_ptr<CGsmModem> Modem(const ModemTiming& timing = FastTiming())
    {
        return std::make_unique<CGsmModem>(QStringLiteral("COM1"), 9600, 8, 0, 0, timing);
    }
    // Destroys the driver on another thread; false when that takes longer than timeoutMs.
    static bool StopsWithin(std::unique_ptr<CGsmModem>& modem, int timeoutMs)
    {
        std::atomic<bool> done{false};
        std::thread stopper([&] {
            modem.reset();
            done = true;
        });
        const bool stopped = WaitUntil([&] { return done.load(); }, timeoutMs);
        stopper.join();
        return stopped;
    }
    std::vector<QString> Texts(int type = -1)
    {
        std::vector<QString> texts;
        for (const EventRecord& r : ev->Records()) {
            if (type < 0 || r.type == type) {
                texts.push_back(r.text);
            }
        }
        return texts;
    }

    std::unique_ptr<EventCollector> ev = std::make_unique<EventCollector>();
};

} // namespace

TEST_F(GsmModemTest, Dispatch_AlarmReachesModemAsExactPdu)
{
    ModemSim sim;
    CModemSlot slot(FastTiming());
    SmsChannels channels(slot);
    CUserList users(&channels);
    users.Add(new CUser("National", "13000000001", QString()));
    users.Add(new CUser("International", "+8613000000001", QString()));
    users.Add(new CUser("Mail only", QString(), "a@example.org"));

    slot.Replace(0);
    ASSERT_TRUE(WaitFor(0, kConnected));
    EXPECT_EQ(ev->Count(0, kOpenPort), 1);
    EXPECT_TRUE(ModemSim::Transcript().startsWith("AT\rATE0\rAT+CMGF=0\rAT+CSCA?\r"));

    users.Dispatch("ALARM");
    ASSERT_TRUE(WaitFor(0, Sent("ALARM"), 2));
    const QByteArray exchange =
        "AT+CMGS=25\r0891683108000005F011000D91683100000000F10008000A0041004C00410052004D\x1a";
    EXPECT_EQ(ModemSim::Transcript().count(exchange), 2);

    slot.Clear();
    EXPECT_FALSE(slot.HasModem());
    users.Dispatch("after"); // no modem: nothing happens
    EXPECT_EQ(Texts(1), std::vector<QString>());
    EXPECT_EQ(ev->Count(0, Sent("after")), 0);
}

// Requests made while the modem is not ready wait and go out once it is; Replace returns
// without waiting for the set-up.
TEST_F(GsmModemTest, NotReadyYet_RequestsWaitAndAreSentOnceReady)
{
    const struct
    {
        const char* name;
        QStringList rules;
        bool slowSetUp; // the set-up cannot be done before 800 ms
    } cases[] = {{"late first answer", {"AT=late:800*1"}, true},
                 {"silent, then healthy", {"AT=silent*2"}, true},
                 {"garbage, then healthy", {"AT=garbage*2"}, false},
                 {"no SMSC at first", {"AT+CSCA?=error*2"}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ev = std::make_unique<EventCollector>(); // each case counts its own events
        ModemSim sim(c.rules);
        CModemSlot slot(FastTiming());
        slot.Replace(0);
        slot.QueueSms("13000000001", "early 1");
        slot.QueueSms("13000000001", "early 2");
        if (c.slowSetUp) {
            EXPECT_EQ(ev->Count(0, kConnected), 0);
        }
        EXPECT_TRUE(WaitFor(0, Sent("early 2")));
        slot.Clear();
        EXPECT_EQ(ev->Count(0, Sent("early 1")), 1);
        const QByteArray t = ModemSim::Transcript();
        EXPECT_LT(t.indexOf("AT+CSCA?\r"), t.indexOf("AT+CMGS="));
        EXPECT_EQ(Texts(1), std::vector<QString>());
    }
}

// A device that never gets ready: the stop cuts the read short and reports what waits.
TEST_F(GsmModemTest, NeverReady_StopEndsAtOnceAndReportsWaiting)
{
    SimOptions noSmsc;
    noSmsc.smsc.clear(); // the simulator answers AT+CSCA? with ERROR
    const struct
    {
        const char* name;
        SimOptions options;
        QByteArray seen; // the simulator has had this three times
    } cases[] = {{"silent", QStringList{"AT=silent"}, "AT\r"},
                 {"no SMSC", noSmsc, "AT+CSCA?\r"},
                 {"garbage", QStringList{"AT=garbage"}, "AT\r"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ev = std::make_unique<EventCollector>(); // each case counts its own events
        ModemSim sim(c.options);
        auto modem = Modem(FastTiming(2000));
        modem->QueueSms("13000000001", "w1");
        modem->QueueSms("13000000001", "w2");
        EXPECT_EQ(modem->PendingCount(), 2);
        EXPECT_TRUE(WaitForSim(c.seen, 3)); // the set-up runs again on every Init
        // Stopped in the middle of a read that would last 2 s.
        ASSERT_TRUE(WaitForSim(c.seen, ModemSim::Transcript().count(c.seen) + 1));
        EXPECT_TRUE(StopsWithin(modem, 1500));
        EXPECT_FALSE(ModemSim::Transcript().contains("AT+CMGS"));
        EXPECT_EQ(ev->Count(0, kConnected), 0);
        EXPECT_EQ(Texts(1), (std::vector<QString>{NotSent("w1"), NotSent("w2")}));
    }
}

TEST_F(GsmModemTest, NeverConfirmed_FiveWritesThenFailureAndCreditWarning)
{
    ModemSim sim(QStringList{"PDU=silent"});
    auto modem = Modem(FastTiming(600, 20));
    for (const char* text : {"m1", "m2", "m3"}) {
        modem->QueueSms("13000000001", text);
    }
    ASSERT_TRUE(WaitFor(0, GivenUp("m3"), 1, 60000));
    modem.reset();
    EXPECT_EQ(ModemSim::Transcript().count("\x1a"), 15);
    EXPECT_EQ(Texts(), (std::vector<QString>{kOpenPort, kConnected, GivenUp("m1"), GivenUp("m2"),
                                             GivenUp("m3"), kSendWarning}));
}

TEST_F(GsmModemTest, Inbox_ListingErrorsWarnOnce_MessagesReportedAndDeletedInOrder)
{
    SimOptions options;
    options.inbox = {{3, kHelloPdu}, {7, kChinesePdu}};
    // Six listings fail, the next comes in small pieces; the first two deletes are refused.
    options.rules << "AT+CMGL=error*6"
                  << "AT+CMGL=split:15*1"
                  << "AT+CMGD=error*2";
    ModemSim sim(options);
    auto modem = Modem();
    ASSERT_TRUE(WaitFor(0, kDeleted, 2));
    // A further listing finds the inbox empty.
    ASSERT_TRUE(WaitForSim("AT+CMGL=0\r", ModemSim::Transcript().count("AT+CMGL=0\r") + 1));
    modem.reset();

    EXPECT_EQ(Texts(), (std::vector<QString>{kOpenPort, kConnected, kReceiveWarning,
                                             Received("hellohello"), Received("你好，世界"),
                                             kDeleteFailed, kDeleteFailed, kDeleted, kDeleted}));
    const QByteArray t = ModemSim::Transcript();
    EXPECT_EQ(t.count("AT+CMGD=3\r"), 3);
    EXPECT_EQ(t.count("AT+CMGD=7\r"), 1);
    EXPECT_GT(t.indexOf("AT+CMGD=7\r"), t.lastIndexOf("AT+CMGD=3\r"));
}

TEST_F(GsmModemTest, BadInput_FloodThenLongListingWithBigIndexes)
{
    SimOptions options;
    for (int i = 1; i <= 39; ++i) {
        options.inbox.emplace_back(i, DeliverPdu8Bit("M" + QByteArray::number(i)));
    }
    options.inbox.emplace_back(300, DeliverPdu8Bit("M300"));
    options.rules << "AT+CMGL=flood:20000*1"; // first a reply beyond every bound
    ModemSim sim(options);
    ModemTiming timing = FastTiming();
    timing.listTimeoutMs = 20000; // the flood ends at the reply bound, not at the time-out
    auto modem = Modem(timing);
    ASSERT_TRUE(WaitFor(0, kDeleted, 40, 30000));
    modem.reset();

    EXPECT_EQ(ev->Count(1, "The modem's reply was longer than 16384 characters and was "
                           "discarded."),
              1);
    for (int i = 1; i <= 39; ++i) {
        EXPECT_EQ(ev->Count(0, Received("M" + QString::number(i))), 1) << i;
    }
    EXPECT_EQ(ev->Count(0, Received("M300")), 1);
    EXPECT_TRUE(ModemSim::Transcript().contains("AT+CMGD=300\r"));
}

TEST_F(GsmModemTest, Device_AppearsAfterStart_UnpluggedMidSendRecovers)
{
    auto modem = Modem(); // nothing at COM1 yet: the worker keeps trying
    SleepMs(100);
    EXPECT_TRUE(ev->Records().empty());

    auto first = std::make_unique<ModemSim>(QStringList{"PDU=hangup"});
    ASSERT_TRUE(WaitFor(0, kConnected));
    modem->QueueSms("13000000001", "Fire");
    ASSERT_TRUE(WaitFor(1, kLost));
    first.reset();

    ModemSim second;
    ASSERT_TRUE(WaitFor(0, Sent("Fire")));
    modem.reset();
    EXPECT_EQ(ev->Count(0, kOpenPort), 2);
    EXPECT_EQ(ev->Count(0, kConnected), 2);
    EXPECT_EQ(ev->Count(0, GivenUp("Fire")), 0);
}

TEST_F(GsmModemTest, Refusals_FullQueueBadNumbers_StopDuringSendWaitReportsTheRest)
{
    ModemSim sim(QStringList{"AT+CMGS=silent"});
    auto modem = Modem(FastTiming(1000, 10000)); // the worker holds the first message
    ASSERT_TRUE(WaitFor(0, kConnected));
    for (int i = 0; i < 40; ++i) {
        modem->QueueSms("13000000001", QStringLiteral("msg %1").arg(i));
    }
    modem->QueueSms("+86abc", "x");
    modem->QueueSms("1234567890123456", "x");
    EXPECT_EQ(modem->PendingCount(), CGsmModem::kSendRingSize);
    EXPECT_EQ(ev->Count(1, Refused("msg 39")), 1);
    EXPECT_EQ(ev->Count(1, Refused("msg 0")), 0);
    for (const char* number : {"+86abc", "1234567890123456"}) {
        EXPECT_EQ(ev->Count(1, QStringLiteral("SMS to '%1' refused: the telephone number is not "
                                              "valid. Text: 'x'")
                                   .arg(number)),
                  1);
    }

    // The worker sits in its ten-second send wait; a stop cuts it short, and every message
    // is either refused or reported as not sent, the one in the worker's hands included.
    ASSERT_TRUE(WaitForSim("AT+CMGS="));
    EXPECT_TRUE(StopsWithin(modem, 1500));
    for (int i = 0; i < 40; ++i) {
        const QString text = QStringLiteral("msg %1").arg(i);
        EXPECT_EQ(ev->Count(1, Refused(text)) + ev->Count(1, NotSent(text)), 1) << i;
    }
}

TEST_F(GsmModemTest, Slot_ReplaceHandsWaitingMessagesToTheNewDriver)
{
    ModemSim sim(QStringList{"AT+CMGS=silent*3"}); // the first sends are never prompted
    CModemSlot slot(FastTiming());
    slot.Replace(0);
    ASSERT_TRUE(WaitFor(0, kConnected));
    for (const char* text : {"h1", "h2", "h3"}) {
        slot.QueueSms("13000000001", text);
    }
    ASSERT_TRUE(WaitForSim("AT+CMGS="));
    slot.Replace(0); // h1 is in the old driver's hands, h2 and h3 wait in its queue
    for (const char* text : {"h1", "h2", "h3"}) {
        EXPECT_TRUE(WaitFor(0, Sent(text))) << text;
    }
    slot.Clear();
    EXPECT_EQ(ev->Count(0, kConnected), 2);
    EXPECT_EQ(Texts(1), std::vector<QString>());
}

TEST_F(GsmModemTest, Slot_ReplacedWhileFanOutRuns_EveryRequestAccountedFor)
{
    ModemSim sim;
    CModemSlot slot(FastTiming());
    SmsChannels channels(slot);
    CUserList users(&channels);
    users.Add(new CUser("A", "13000000001", QString()));
    slot.Replace(0);
    std::atomic<bool> stop{false};
    std::atomic<int> fanOuts{0};
    std::thread fanOut([&] {
        while (!stop) {
            users.Dispatch("tick");
            ++fanOuts;
            SleepMs(2);
        }
    });
    for (int i = 0; i < 3; ++i) {
        const int before = fanOuts;
        EXPECT_TRUE(WaitUntil([&] { return fanOuts > before + 20; }));
        slot.Replace(0);
    }
    EXPECT_TRUE(WaitFor(0, Sent("tick")));
    stop = true;
    fanOut.join();
    slot.Clear();
    EXPECT_FALSE(slot.HasModem());
    EXPECT_EQ(ev->Count(0, Sent("tick")) + ev->Count(1, NotSent("tick")) +
                  ev->Count(1, Refused("tick")),
              fanOuts.load());
}
