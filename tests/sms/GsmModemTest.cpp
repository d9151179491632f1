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
class SmsChannels : public IAlarmChannels
{
public:
    explicit SmsChannels(CModemSlot& slot) : m_slot(slot) {}
    void QueueSms(const QString& telephone, const QString& text) override
    {
        m_slot.QueueSms(telephone, text);
    }
    void QueueMail(const QString&, const QString&) override {}
    void QueueSpeech(const QString&) override {}
    bool VoiceEnabled() const override { return false; }

private:
    CModemSlot& m_slot;
};

const QString kOpenPort = QStringLiteral("Open Port: COM1");
const QString kConnected = QStringLiteral("连接GSM-MODEM成功！");
const QString kSendWarning = QStringLiteral("短信猫连续发送失败次数超标,疑似欠费,请确认！");
const QString kReceiveWarning = QStringLiteral("短信猫连续收取短信失败次数超标,疑似欠费,请确认！");
const QString kDeleted = QStringLiteral("短信猫从收件箱删除1条短信");
const QString kDeleteFailed = QStringLiteral("短信猫删除短信失败");
const QString kLost = QStringLiteral("Lost the serial port COM1.");

QString Sent(const QString& number, const QString& text)
{
    return QStringLiteral("短信猫向号码") + number + QStringLiteral("发送消息：") + text +
           QStringLiteral("成功！");
}
QString GivenUp(const QString& number, const QString& text)
{
    return QStringLiteral("短信猫向号码") + number + QStringLiteral("发送消息：") + text +
           QStringLiteral("失败！");
}
QString Received(const QString& text)
{
    return QStringLiteral("短信猫 接收到消息：") + text;
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

std::vector<QString> Texts(EventCollector& events)
{
    std::vector<QString> texts;
    for (const EventRecord& r : events.Records()) {
        texts.push_back(r.text);
    }
    return texts;
}

class GsmModemTest : public ::testing::Test
{
protected:
    void SetUp() override { ModemSim::Prepare(); }

    bool WaitFor(int type, const QString& text, int count = 1, int timeoutMs = 15000)
    {
        return WaitUntil([&] { return events.Count(type, text) >= count; }, timeoutMs);
    }
    static std::unique_ptr<CGsmModem> Modem(const ModemTiming& timing = FastTiming())
    {
        return std::make_unique<CGsmModem>(QStringLiteral("COM1"), 9600, 8, 0, 0, timing);
    }

    EventCollector events;
};

} // namespace

TEST_F(GsmModemTest, Dispatch_AlarmReachesModemAsExactPdu)
{
    ModemSim sim;
    ASSERT_TRUE(sim.Started());
    CModemSlot slot(FastTiming());
    SmsChannels channels(slot);
    CUserList users(&channels);
    users.Add(std::make_unique<CUser>("National", "13000000001", QString()));
    users.Add(std::make_unique<CUser>("International", "+8613000000001", QString()));
    users.Add(std::make_unique<CUser>("Mail only", QString(), "a@example.org"));

    slot.Replace(0);
    EXPECT_EQ(events.Count(0, kOpenPort), 1);
    EXPECT_EQ(events.Count(0, kConnected), 1);
    EXPECT_TRUE(ModemSim::Transcript().startsWith("AT\rATE0\rAT+CMGF=0\rAT+CSCA?\r"));

    users.Dispatch("ALARM");
    ASSERT_TRUE(WaitFor(0, Sent("8613000000001", "ALARM"), 2));
    const QByteArray exchange =
        "AT+CMGS=25\r0891683108000005F011000D91683100000000F10008000A0041004C00410052004D\x1a";
    EXPECT_EQ(ModemSim::Transcript().count(exchange), 2);

    // 71 characters go out as their first 70, each two octets in UCS2.
    const QString seventyOne = QString(70, QChar(0x8B66)) + QStringLiteral("X");
    slot.QueueSms("13000000001", seventyOne);
    ASSERT_TRUE(WaitFor(0, Sent("8613000000001", seventyOne.left(70))));
    const QByteArray longPdu = "AT+CMGS=155\r0891683108000005F011000D91683100000000F10008008C" +
                               QByteArray("8B66").repeated(70) + "\x1a";
    EXPECT_TRUE(ModemSim::Transcript().contains(longPdu));

    slot.Clear();
    EXPECT_FALSE(slot.HasModem());
    users.Dispatch("after"); // no modem: nothing happens
    for (const EventRecord& r : events.Records()) {
        EXPECT_EQ(r.type, 0) << r.text.toStdString();
        EXPECT_FALSE(r.text.contains("after"));
    }
}

TEST_F(GsmModemTest, NoSmsc_NothingQueuedNothingPosted)
{
    SimOptions options;
    options.smsc.clear(); // the simulator answers AT+CSCA? with ERROR
    ModemSim sim(options);
    ASSERT_TRUE(sim.Started());
    auto modem = Modem();
    EXPECT_TRUE(modem->SmscNumber().isEmpty());
    modem->QueueSms("13000000001", "ALARM");
    EXPECT_EQ(modem->PendingCount(), 0);
    // The set-up runs again on every Init until the SMSC number comes.
    EXPECT_TRUE(WaitUntil([] { return ModemSim::Transcript().count("AT+CSCA?\r") >= 3; }));
    modem.reset();
    EXPECT_FALSE(ModemSim::Transcript().contains("AT+CMGS"));
    EXPECT_EQ(Texts(events), std::vector<QString>{kOpenPort});
}

TEST_F(GsmModemTest, NeverConfirmed_FiveWritesThenFailureAndCreditWarning)
{
    SimOptions options;
    options.rules << "PDU=silent";
    ModemSim sim(options);
    ASSERT_TRUE(sim.Started());
    ModemTiming timing = FastTiming();
    timing.sendWaitMs = 20;
    auto modem = Modem(timing);
    for (const char* text : {"m1", "m2", "m3"}) {
        modem->QueueSms("13000000001", text);
    }
    ASSERT_TRUE(WaitFor(0, GivenUp("8613000000001", "m3"), 1, 60000));
    modem.reset();
    EXPECT_EQ(ModemSim::Transcript().count("\x1a"), 15);
    const std::vector<QString> texts = Texts(events);
    const std::vector<QString> expected{kOpenPort,
                                        kConnected,
                                        GivenUp("8613000000001", "m1"),
                                        GivenUp("8613000000001", "m2"),
                                        GivenUp("8613000000001", "m3"),
                                        kSendWarning};
    EXPECT_EQ(texts, expected);
}

TEST_F(GsmModemTest, ListingErrors_ReceiveWarningOnce)
{
    SimOptions options;
    options.rules << "AT+CMGL=error";
    ModemSim sim(options);
    ASSERT_TRUE(sim.Started());
    auto modem = Modem();
    ASSERT_TRUE(WaitUntil([] { return ModemSim::Transcript().count("AT+CMGL=0\r") >= 9; }));
    modem.reset();
    EXPECT_EQ(events.Count(0, kReceiveWarning), 1);
}

TEST_F(GsmModemTest, Inbox_TwoMessagesReportedAndDeletedInOrder_DeleteErrorRetried)
{
    SimOptions options;
    options.inbox = {{3, kHelloPdu}, {7, kChinesePdu}};
    // The listing comes in small pieces; the first two deletes are refused.
    options.rules << "AT+CMGL=split:15*1"
                  << "AT+CMGD=error*2";
    ModemSim sim(options);
    ASSERT_TRUE(sim.Started());
    auto modem = Modem();
    ASSERT_TRUE(WaitFor(0, kDeleted, 2));
    // A further listing finds the inbox empty.
    const int listings = ModemSim::Transcript().count("AT+CMGL=0\r");
    ASSERT_TRUE(WaitUntil([&] { return ModemSim::Transcript().count("AT+CMGL=0\r") > listings; }));
    modem.reset();

    const std::vector<QString> expected{kOpenPort,
                                        kConnected,
                                        Received("hellohello"),
                                        Received("你好，世界"),
                                        kDeleteFailed,
                                        kDeleteFailed,
                                        kDeleted,
                                        kDeleted};
    EXPECT_EQ(Texts(events), expected);
    const QByteArray t = ModemSim::Transcript();
    const qsizetype last3 = t.lastIndexOf("AT+CMGD=3\r");
    EXPECT_EQ(t.count("AT+CMGD=3\r"), 3);
    EXPECT_EQ(t.count("AT+CMGD=7\r"), 1);
    EXPECT_GT(t.indexOf("AT+CMGD=7\r"), last3);
}

TEST_F(GsmModemTest, BadInput_FloodThenLongListingWithBigIndexes)
{
    SimOptions options;
    for (int i = 1; i <= 39; ++i) {
        options.inbox.emplace_back(i, DeliverPdu8Bit("M" + QByteArray::number(i)));
    }
    options.inbox.emplace_back(300, DeliverPdu8Bit("M300"));
    // First a reply beyond every bound, then the inbox.
    options.rules << "AT+CMGL=flood:20000*1";
    ModemSim sim(options);
    ASSERT_TRUE(sim.Started());
    ModemTiming timing = FastTiming();
    timing.listTimeoutMs = 20000; // the flood ends at the reply bound, not at the time-out
    auto modem = Modem(timing);
    ASSERT_TRUE(WaitFor(0, kDeleted, 40, 30000));
    modem.reset();

    EXPECT_EQ(events.Count(1, "The modem's reply was longer than 16384 characters and was "
                              "discarded."),
              1);
    for (int i = 1; i <= 39; ++i) {
        EXPECT_EQ(events.Count(0, Received("M" + QString::number(i))), 1) << i;
    }
    EXPECT_EQ(events.Count(0, Received("M300")), 1);
    EXPECT_TRUE(ModemSim::Transcript().contains("AT+CMGD=300\r"));
}

TEST_F(GsmModemTest, BadInput_EndlessGarbageNeverConnects)
{
    SimOptions options;
    options.garbageStream = true;
    ModemSim sim(options);
    ASSERT_TRUE(sim.Started());
    auto modem = Modem();
    modem->QueueSms("13000000001", "x");
    EXPECT_TRUE(WaitUntil([] { return ModemSim::Transcript().count("AT\r") >= 3; }));
    modem.reset();
    EXPECT_EQ(events.Count(0, kConnected), 0);
    EXPECT_FALSE(ModemSim::Transcript().contains("AT+CMGS"));
}

TEST_F(GsmModemTest, Device_AppearsAfterStart_UnpluggedMidSendRecovers)
{
    auto modem = Modem(); // nothing at COM1 yet: the worker keeps trying
    SleepMs(100);
    EXPECT_TRUE(events.Records().empty());

    SimOptions unplugging;
    unplugging.rules << "PDU=hangup";
    auto first = std::make_unique<ModemSim>(unplugging);
    ASSERT_TRUE(first->Started());
    ASSERT_TRUE(WaitFor(0, kConnected));
    modem->QueueSms("13000000001", "Fire");
    ASSERT_TRUE(WaitFor(1, kLost));
    first.reset();

    ModemSim second;
    ASSERT_TRUE(second.Started());
    ASSERT_TRUE(WaitFor(0, Sent("8613000000001", "Fire")));
    modem.reset();
    EXPECT_EQ(events.Count(0, kOpenPort), 2);
    EXPECT_EQ(events.Count(0, kConnected), 2);
    EXPECT_EQ(events.Count(0, GivenUp("8613000000001", "Fire")), 0);
}

TEST_F(GsmModemTest, Refusals_FullQueueBadNumbers_StopDuringSendWait)
{
    SimOptions options;
    options.rules << "AT+CMGS=silent";
    ModemSim sim(options);
    ASSERT_TRUE(sim.Started());
    ModemTiming timing = FastTiming();
    timing.sendWaitMs = 10000; // the worker holds the first message
    auto modem = Modem(timing);
    ASSERT_FALSE(modem->SmscNumber().isEmpty());
    for (int i = 0; i < 40; ++i) {
        modem->QueueSms("13000000001", QStringLiteral("msg %1").arg(i));
    }
    modem->QueueSms("+86abc", "x");
    modem->QueueSms("1234567890123456", "y");
    EXPECT_EQ(modem->PendingCount(), CGsmModem::kSendRingSize);
    const auto refused = [this](int i) {
        return events.Count(1, QStringLiteral("SMS queue is full: 'msg %1' to '13000000001' was "
                                              "refused.")
                                   .arg(i));
    };
    EXPECT_EQ(refused(39), 1);
    EXPECT_EQ(refused(0), 0);
    int total = 0;
    for (int i = 0; i < 40; ++i) {
        total += refused(i);
    }
    EXPECT_GE(total, 7); // 32 wait, at most one is in the worker's hands
    EXPECT_LE(total, 8);
    EXPECT_EQ(events.Count(1, "SMS to '+86abc' refused: the telephone number is not valid. "
                              "Text: 'x'"),
              1);
    EXPECT_EQ(events.Count(1, "SMS to '1234567890123456' refused: the telephone number is not "
                              "valid. Text: 'y'"),
              1);

    // The worker sits in its ten-second send wait; a stop cuts it short.
    ASSERT_TRUE(WaitUntil([] { return ModemSim::Transcript().contains("AT+CMGS="); }));
    std::atomic<bool> done{false};
    std::thread stopper([&] {
        modem.reset();
        done = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }, 8000));
    stopper.join();
}

TEST_F(GsmModemTest, Slot_ReplacedWhileFanOutRuns)
{
    ModemSim sim;
    ASSERT_TRUE(sim.Started());
    CModemSlot slot(FastTiming());
    SmsChannels channels(slot);
    CUserList users(&channels);
    users.Add(std::make_unique<CUser>("A", "13000000001", QString()));
    std::atomic<bool> stop{false};
    std::atomic<int> fanOuts{0};
    std::thread fanOut([&] {
        while (!stop) {
            users.Dispatch("tick");
            ++fanOuts;
            SleepMs(1);
        }
    });
    for (int i = 0; i < 3; ++i) {
        slot.Replace(0);
        const int before = fanOuts;
        EXPECT_TRUE(WaitUntil([&] { return fanOuts > before + 5; }));
    }
    slot.Clear();
    stop = true;
    fanOut.join();
    EXPECT_FALSE(slot.HasModem());
    EXPECT_EQ(events.Count(0, kConnected), 3);
}
