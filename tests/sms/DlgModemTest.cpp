#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "ModemSim.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "sms/DlgModem.h"
#include "sms/GsmModem.h"
#include "support/TestSupport.h"

namespace {

const QString kSent = QStringLiteral("短信猫向号码8613000000001发送消息：测试成功！");
// "测试" to 8613000000001 in UCS2, behind the simulator's SMSC +8613800000500.
const QByteArray kTestPdu =
    "AT+CMGS=19\r0891683108000005F011000D91683100000000F1000800046D4B8BD5\x1a";

// The dialog as the frame opens it, with the frame's side recorded: the ports stored, the
// modified marks, the recipient list openings.
class DlgModemTest : public ::testing::Test
{
protected:
    void SetUp() override { WriteProfileString("Ports", "COM3", ModemSim::Link()); }

    std::unique_ptr<CDlgModem> Open(int comPort)
    {
        ModemDialogHooks hooks;
        hooks.comPort = comPort;
        hooks.storeComPort = [this](int port) { stored.push_back(port); };
        hooks.markModified = [this] { ++modified; };
        hooks.openUserList = [this](QWidget* parent) { userListParents.push_back(parent); };
        auto dialog = std::make_unique<CDlgModem>(*slot, std::move(hooks));
        dialog->show();
        return dialog;
    }
    template <typename W> static W* Child(const CDlgModem& dialog, const char* name)
    {
        return dialog.findChild<W*>(QString::fromLatin1(name));
    }
    static void Fill(const CDlgModem& dialog, int port, const QString& phone, const QString& text)
    {
        Child<QComboBox>(dialog, "port")->setCurrentIndex(port);
        Child<QLineEdit>(dialog, "phone")->setText(phone);
        Child<QLineEdit>(dialog, "text")->setText(text);
    }

    EventCollector ev;
    std::unique_ptr<CModemSlot> slot = std::make_unique<CModemSlot>();
    std::vector<int> stored;
    int modified = 0;
    std::vector<QWidget*> userListParents;
};

} // namespace

// A short number or an empty text is one error line (and the dialog's status line) and leaves
// the modem alone; the Phone field refuses letters and '+'.
TEST_F(DlgModemTest, Send_ShortNumberOrEmptyText_ErrorLineAndNoDriver)
{
    const struct
    {
        const char* phone;
        const char* text;
        unsigned error;
    } cases[] = {{"1300000000", "x", kIdsTelephoneWrong},
                 {"", "x", kIdsTelephoneWrong},
                 {"1300000000", "", kIdsTelephoneWrong},
                 {"13000000001", "", kIdsSmsTextEmpty}};
    auto dialog = Open(0);
    QStringList errors;
    for (const auto& c : cases) {
        Fill(*dialog, 2, c.phone, c.text);
        QTest::mouseClick(Child<QPushButton>(*dialog, "send"), Qt::LeftButton);
        errors << LoadString(c.error);
        EXPECT_EQ(Child<QLabel>(*dialog, "status")->text(), errors.last());
    }
    EXPECT_EQ(TextsOf(ev.Records()), errors);
    EXPECT_EQ(ev.Count(EventType::Error, errors.last()), 1); // error lines, not information
    EXPECT_FALSE(slot->HasModem());
    auto* phone = Child<QLineEdit>(*dialog, "phone");
    phone->clear();
    QTest::keyClicks(phone, "+86 13a0");
    EXPECT_EQ(phone->text(), "86130");
}

// Send on COM3 returns before the modem is set up and puts the exact PDU on the pty; Cancel
// afterwards keeps that driver, stores no port, marks nothing and keeps the old profile values.
TEST_F(DlgModemTest, Send_ExactPduOnPty_CancelKeepsDriverAndPort)
{
    ModemSim sim;
    ASSERT_TRUE(sim.Started());
    auto dialog = Open(0);
    auto* port = Child<QComboBox>(*dialog, "port");
    EXPECT_EQ(port->itemText(2), "COM3 (" + ModemSim::Link() + ")");
    WriteProfileString("Ports", "COM9", "/dev/ttyModem9"); // plugged in while the dialog is open
    port->showPopup();
    EXPECT_EQ(port->itemText(8), "COM9 (/dev/ttyModem9)");
    port->hidePopup();
    Fill(*dialog, 2, "13000000001", QStringLiteral("测试"));
    ASSERT_TRUE(dialog->SendTest());
    EXPECT_TRUE(slot->HasModem());
    dialog->reject();
    dialog.reset();
    EXPECT_TRUE(WaitUntil([&] { return ev.Count(EventType::Information, kSent) == 1; }, 15000));
    EXPECT_TRUE(ModemSim::Transcript().contains(kTestPdu)) << ModemSim::Transcript().toStdString();
    EXPECT_EQ(ev.Count(EventType::Information, "Open Port: COM3"), 1);
    EXPECT_TRUE(stored.empty());
    EXPECT_EQ(modified, 0);
    EXPECT_EQ(GetProfileString(kProfileDtuTelephone), kProfileDtuTelephone.defaultValue);
    EXPECT_EQ(GetProfileString(kProfileDtuMessage), kProfileDtuMessage.defaultValue);
}

// OK stores the port, marks modified once, keeps the test values and moves the driver only
// when it is elsewhere; "..." opens the recipient list over the dialog.
TEST_F(DlgModemTest, Ok_StoresPortAndValues_MovesDriverOnlyWhenElsewhere)
{
    const struct
    {
        const char* name;
        int comPort, chosen;
        bool sendFirst;
        int setUps; // modem set-ups seen (AT+CSCA?) when it is over
    } cases[] = {{"same port, beyond COM9", 11, 11, false, 0},
                 {"other port", 0, 2, false, 1},
                 {"other port after a test send there", 0, 2, true, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        slot = std::make_unique<CModemSlot>(); // before the simulator: no driver left on it
        ModemSim sim;
        stored.clear();
        modified = 0;
        auto dialog = Open(c.comPort);
        DeleteProfileValue("DTU", "MESSAGE");
        Fill(*dialog, c.chosen, "13000000001", QStringLiteral("测试"));
        if (c.sendFirst) {
            ASSERT_TRUE(dialog->SendTest());
            ASSERT_TRUE(
                WaitUntil([&] { return ModemSim::Transcript().contains(kTestPdu); }, 15000));
        }
        QTest::keyClick(dialog.get(), Qt::Key_Return);
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(stored, std::vector<int>{c.chosen});
        EXPECT_EQ(modified, 1);
        EXPECT_EQ(GetProfileString(kProfileDtuMessage), QStringLiteral("测试"));
        EXPECT_EQ(slot->HasModem(), c.setUps > 0);
        if (c.setUps > 0) { // two listings after the last set-up: no further one came
            const qsizetype listings = ModemSim::Transcript().count("AT+CMGL=");
            EXPECT_TRUE(WaitUntil(
                [&] { return ModemSim::Transcript().count("AT+CMGL=") >= listings + 2; }, 15000));
        }
        EXPECT_EQ(ModemSim::Transcript().count("AT+CSCA?"), c.setUps);
    }
    auto dialog = Open(0);
    QTest::mouseClick(Child<QPushButton>(*dialog, "users"), Qt::LeftButton);
    EXPECT_EQ(userListParents, std::vector<QWidget*>{dialog.get()});

    if (const QString folder = qEnvironmentVariable("ZUNARO_SCREENSHOTS"); !folder.isEmpty()) {
        WriteProfileString("Ports", "COM1", "/dev/ttyUSB0");
        WriteProfileString("Ports", "COM2", "/dev/ttyACM0");
        dialog = Open(0);
        Fill(*dialog, 0, "13912345678", kProfileDtuMessage.defaultValue);
        dialog->adjustSize();
        EXPECT_TRUE(dialog->grab().save(QDir(folder).filePath("DlgModem.png")));
    }
}
