#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "ModemSim.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/Tick.h"
#include "sms/GsmModem.h"
#include "support/TestSupport.h"

namespace {

const QString kOpenPort = QStringLiteral("Open Port: COM1");
const QString kConnected = QStringLiteral("连接GSM-MODEM成功！");
const QString kSendWarning = QStringLiteral("短信猫连续发送失败次数超标,疑似欠费,请确认！");
const QString kReceiveWarning = QStringLiteral("短信猫连续收取短信失败次数超标,疑似欠费,请确认！");
const QString kDeleted = QStringLiteral("短信猫从收件箱删除1条短信");
const QString kDeleteFailed = QStringLiteral("短信猫删除短信失败");
const QString kSent = QStringLiteral("短信猫向号码8613000000001发送消息：%1成功！");
const QString kGivenUp = QStringLiteral("短信猫向号码8613000000001发送消息：%1失败！");
const QString kReceived = QStringLiteral("短信猫 接收到消息：%1");
const QString kNotSent =
    QStringLiteral("SMS to '8613000000001' not sent: the modem driver stopped first. Text: '%1'");
const QString kRefused = QStringLiteral("SMS queue is full: '%1' to '13000000001' was refused.");

const char kHelloPdu[] = "07917283010010F5040BC87238880900F10000993092516195800AE8329BFD4697D9EC37";
const char kChinesePdu[] =
    "0891683108200505F0240D91683118886666F50008211030412552230A4F60597DFF0C4E16754C";
const char kM300Pdu[] = "00240D91683118886666F5000421103041255223044D333030"; // no SMSC part

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
    void SetUp() override { ModemSim::Prepare(); }
    bool WaitFor(EventType type, const QString& text, int count = 1, int timeoutMs = 15000)
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
    // True when stop returns within timeoutMs: it was cut short, not waited out.
    static bool EndsWithin(const std::function<void()>& stop, int timeoutMs)
    {
        const std::uint64_t start = GetTickCount64();
        stop();
        return GetTickCount64() - start < static_cast<std::uint64_t>(timeoutMs);
    }
    std::vector<QString> Texts(EventType type) // the texts of the events of one type, in order
    {
        std::vector<QString> texts;
        for (const EventRecord& r : ev->Records()) {
            if (r.type == type) {
                texts.push_back(r.text);
            }
        }
        return texts;
    }

    std::unique_ptr<EventCollector> ev = std::make_unique<EventCollector>();
};

} // namespace

// Requests made before the modem is ready go out once it is, or are reported at the stop.
TEST_F(GsmModemTest, NotReady_RequestsWaitThenGoOutOrAreReportedAtStop)
{
    SimOptions noSmsc;
    noSmsc.smsc.clear(); // AT+CSCA? is answered with ERROR
    const struct
    {
        const char* name;
        SimOptions sim;
        bool slowSetUp;  // the set-up cannot be done before 800 ms
        QByteArray seen; // never ready: stopped once the simulator had this twice
    } cases[] = {{"late first answer", QStringList{"AT=late:800*1"}, true, {}},
                 {"silent, then healthy", QStringList{"AT=silent*2"}, true, {}},
                 {"garbage, then healthy", QStringList{"AT=garbage*2"}, false, {}},
                 {"no SMSC at first", QStringList{"AT+CSCA?=error*2"}, false, {}},
                 {"silent", QStringList{"AT=silent"}, true, "AT\r"},
                 {"no SMSC", noSmsc, false, "AT+CSCA?\r"},
                 {"garbage", QStringList{"AT=garbage"}, false, "AT\r"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ev = std::make_unique<EventCollector>(); // each case counts its own events
        ModemSim sim(c.sim);
        CModemSlot slot(FastTiming(2000));
        slot.Replace(0);
        slot.QueueSms("13000000001", "w1");
        slot.QueueSms("13000000001", "w2");
        EXPECT_TRUE(!c.slowSetUp || ev->Count(EventType::Information, kConnected) == 0);
        if (c.seen.isEmpty()) {
            EXPECT_TRUE(WaitFor(EventType::Information, kSent.arg("w2")));
            slot.Clear();
            EXPECT_EQ(Texts(EventType::Error), std::vector<QString>());
            EXPECT_EQ(ev->Count(EventType::Information, kSent.arg("w1")), 1);
            continue;
        }
        EXPECT_TRUE(WaitForSim(c.seen, 2)); // the set-up runs again on every Init
        ASSERT_TRUE(WaitForSim(c.seen, ModemSim::Transcript().count(c.seen) + 1));
        EXPECT_TRUE(EndsWithin([&] { slot.Clear(); }, 1500)); // in the middle of a 2 s read
        EXPECT_EQ(Texts(EventType::Error),
                  (std::vector<QString>{kNotSent.arg("w1"), kNotSent.arg("w2")}));
    }
}

TEST_F(GsmModemTest, NeverConfirmed_FiveWritesThenFailureAndCreditWarning)
{
    ModemSim sim(QStringList{"PDU=silent"});
    auto modem = Modem(FastTiming(600, 20));
    for (const char* text : {"m1", "m2", "m3"}) {
        modem->QueueSms("13000000001", text);
    }
    ASSERT_TRUE(WaitFor(EventType::Information, kGivenUp.arg("m3"), 1, 60000));
    modem.reset();
    EXPECT_EQ(ModemSim::Transcript().count("\x1a"), 15);
    EXPECT_EQ(Texts(EventType::Information),
              (std::vector<QString>{kOpenPort, kConnected, kGivenUp.arg("m1"), kGivenUp.arg("m2"),
                                    kGivenUp.arg("m3"), kSendWarning}));
}

TEST_F(GsmModemTest, Inbox_ErrorsWarnOnce_FloodDiscarded_MessagesReportedAndDeletedInOrder)
{
    SimOptions options(
        {"AT+CMGL=error*6", "AT+CMGL=flood:20000*1", "AT+CMGL=split:15*1", "AT+CMGD=error*2"});
    options.inbox = {{3, kHelloPdu}, {7, kChinesePdu}, {300, kM300Pdu}};
    ModemSim sim(options);
    ModemTiming timing = FastTiming();
    timing.listTimeoutMs = 20000; // the flood ends at the reply bound, not at the time-out
    auto modem = Modem(timing);
    ASSERT_TRUE(WaitFor(EventType::Information, kDeleted, 3, 30000));
    ASSERT_TRUE(WaitForSim("AT+CMGL=0\r", ModemSim::Transcript().count("AT+CMGL=0\r") + 1));
    modem.reset();
    EXPECT_EQ(
        Texts(EventType::Information),
        (std::vector<QString>{kOpenPort, kConnected, kReceiveWarning, kReceived.arg("hellohello"),
                              kReceived.arg("你好，世界"), kReceived.arg("M300"), kDeleteFailed,
                              kDeleteFailed, kDeleted, kDeleted, kDeleted}));
    EXPECT_EQ(Texts(EventType::Error),
              std::vector<QString>{
                  "The modem's reply was longer than 16384 characters and was discarded."});
    const QByteArray t = ModemSim::Transcript();
    EXPECT_EQ(t.count("AT+CMGD=3\r"), 3);
    EXPECT_LT(t.lastIndexOf("AT+CMGD=3\r"), t.indexOf("AT+CMGD=7\r"));
    EXPECT_LT(t.indexOf("AT+CMGD=7\r"), t.indexOf("AT+CMGD=300\r"));
}

TEST_F(GsmModemTest, Device_AppearsAfterStart_UnpluggedMidSendRecovers)
{
    auto modem = Modem(); // nothing at COM1 yet: the worker keeps trying
    auto first = std::make_unique<ModemSim>(QStringList{"PDU=hangup"});
    ASSERT_TRUE(WaitFor(EventType::Information, kConnected));
    modem->QueueSms("13000000001", "Fire");
    ASSERT_TRUE(WaitFor(EventType::Error, "Lost the serial port COM1."));
    first.reset();
    ModemSim second;
    ASSERT_TRUE(WaitFor(EventType::Information, kSent.arg("Fire")));
    modem.reset();
    EXPECT_EQ(Texts(EventType::Information), (std::vector<QString>{kOpenPort, kConnected, kOpenPort,
                                                                   kConnected, kSent.arg("Fire")}));
}

TEST_F(GsmModemTest, Refusals_FullQueueBadNumbers_StopDuringSendWaitReportsTheRest)
{
    ModemSim sim(QStringList{"AT+CMGS=silent"});
    auto modem = Modem(FastTiming(1000, 10000)); // the worker holds the first message
    ASSERT_TRUE(WaitFor(EventType::Information, kConnected));
    for (int i = 0; i < 40; ++i) {
        modem->QueueSms("13000000001", QStringLiteral("msg %1").arg(i));
    }
    modem->QueueSms("+86abc", "x");
    modem->QueueSms("1234567890123456", "x");
    EXPECT_EQ(modem->PendingCount(), CGsmModem::kSendRingSize);
    EXPECT_EQ(ev->Count(EventType::Error, kRefused.arg("msg 39")) -
                  ev->Count(EventType::Error, kRefused.arg("msg 0")),
              1);
    const QString badNumber("SMS to '%1' refused: the telephone number is not valid. Text: 'x'");
    EXPECT_EQ(ev->Count(EventType::Error, badNumber.arg("+86abc")) +
                  ev->Count(EventType::Error, badNumber.arg("1234567890123456")),
              2);
    // The worker sits in its ten-second send wait; a stop cuts it short, and every message
    // is either refused or reported as not sent, the one in the worker's hands included.
    ASSERT_TRUE(WaitForSim("AT+CMGS="));
    EXPECT_TRUE(EndsWithin([&] { modem.reset(); }, 1500));
    for (int i = 0; i < 40; ++i) {
        const QString text = QStringLiteral("msg %1").arg(i);
        EXPECT_EQ(ev->Count(EventType::Error, kRefused.arg(text)) +
                      ev->Count(EventType::Error, kNotSent.arg(text)),
                  1)
            << i;
    }
}

// Alarms keep coming from another thread while the driver is replaced under them; nothing
// waiting in a replaced driver is lost.
TEST_F(GsmModemTest, ReplacedWhileAlarmsComeIn_WaitingSentByTheSuccessor_ExactPdu)
{
    ModemSim sim;
    CModemSlot slot(FastTiming());
    slot.Replace(0);
    ASSERT_TRUE(WaitFor(EventType::Information, kConnected));
    EXPECT_TRUE(ModemSim::Transcript().contains("AT\rATE0\rAT+CMGF=0\rAT+CSCA?\r"));
    std::atomic<bool> stop{false};
    std::atomic<int> fanOuts{0};
    std::thread fanOut([&] {
        while (!stop) {
            slot.QueueSms("13000000001", "tick");
            ++fanOuts;
            SleepMs(2);
        }
    });
    for (int i = 0; i < 3; ++i) {
        const int before = fanOuts;
        EXPECT_TRUE(WaitUntil([&] { return fanOuts > before + 20; }));
        slot.Replace(0);
    }
    stop = true;
    fanOut.join();
    // Those waiting in a replaced driver, the one in its hands too, go out via its successor.
    const auto sentOrRefused = [&] {
        return ev->Count(EventType::Information, kSent.arg("tick")) +
               ev->Count(EventType::Error, kRefused.arg("tick"));
    };
    EXPECT_TRUE(WaitUntil([&] { return sentOrRefused() >= fanOuts; }, 30000));
    slot.Clear();
    EXPECT_FALSE(slot.HasModem());
    slot.QueueSms("13000000001", "after"); // no modem: nothing happens
    EXPECT_EQ(sentOrRefused(), fanOuts);
    EXPECT_EQ(ev->Count(EventType::Error, kNotSent.arg("tick")), 0);
    EXPECT_EQ(ev->Count(EventType::Information, kSent.arg("after")) +
                  ev->Count(EventType::Error, kNotSent.arg("after")),
              0);
    EXPECT_TRUE(ModemSim::Transcript().contains(
        "AT+CMGS=23\r0891683108000005F011000D91683100000000F100080008007400690063006B\x1a"));
}

// A long text goes out in parts that decode into it again (a surrogate pair at the first
// boundary moves whole into the second part); a part is retried as a message is, and the
// message is reported once, as a whole. Answers are judged as they arrive (late, in pieces,
// ERROR): all is done long before one ten-second time-out could have passed.
TEST_F(GsmModemTest, LongText_ConcatenatedParts_RetriedPerPart_ReportedOnce)
{
    const QString text = QString(66, QChar(0x8B66)) + QString::fromUcs4(U"\U0001F525") +
                         QString(65, u'y') + QString(17, u'z'); // 150 UTF-16 units
    const struct
    {
        QStringList rules;
        std::vector<int> numbers; // of the parts written, in order
        QString outcome;
    } cases[] = {{{"PDU=error*1", "PDU=late:200"}, {1, 1, 2, 3}, kSent.arg(text)},
                 {{"PDU=split:40*1", "PDU=error"}, {1, 2, 2, 2, 2, 2}, kGivenUp.arg(text)}};
    WriteProfileInt(kProfileSmsMaxParts, 3);
    for (const auto& c : cases) {
        ev = std::make_unique<EventCollector>();
        ModemSim sim(c.rules);
        auto modem = Modem(FastTiming(1000, 10000));
        modem->QueueSms("13000000001", text);
        ASSERT_TRUE(WaitFor(EventType::Information, c.outcome, 1, 9000));
        modem.reset();
        EXPECT_EQ(Texts(EventType::Information),
                  (std::vector<QString>{kOpenPort, kConnected, c.outcome}));
        std::vector<int> numbers;
        QString joined;
        for (const auto& [header, part] : SentParts(ModemSim::Transcript())) {
            EXPECT_EQ(header.left(10), "0500030103"); // reference 1 of 3 parts
            joined += numbers.empty() || numbers.back() != header.right(2).toInt() ? part : "";
            numbers.push_back(header.right(2).toInt());
        }
        EXPECT_EQ(numbers, c.numbers);
        EXPECT_EQ(joined, c.numbers.back() == 3 ? text : text.left(66 + 67));
    }
    WriteProfileInt(kProfileSmsMaxParts, 1);
}
