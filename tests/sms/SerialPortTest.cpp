#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>

#include <QDir>
#include <QFile>

#include "platform/Profile.h"
#include "platform/SerialPort.h"
#include "platform/Tick.h"
#include "support/TestSupport.h"

namespace {

// A pty pair: the test writes and reads the master, the port under test opens the slave.
struct Pty
{
    Pty() { openpty(&master, &slave, name, nullptr, nullptr); }
    ~Pty() { close(slave), close(master); }
    void Put(const QByteArray& data) const
    {
        ASSERT_EQ(write(master, data, data.size()), data.size());
    }
    QByteArray Take(int size) const
    {
        QByteArray got;
        fcntl(master, F_SETFL, O_NONBLOCK);
        WaitUntil([&] {
            char buf[256];
            got.append(buf, std::max<ssize_t>(read(master, buf, sizeof buf), 0));
            return got.size() >= size;
        });
        return got;
    }
    QString Device() const { return QString::fromLocal8Bit(name); }
    int master = -1;
    int slave = -1;
    char name[256] = {};
};

} // namespace

TEST(SerialPort, Names_ComNumbersAndDeviceOrder)
{
    const std::pair<int, const char*> names[] = {
        {1, "COM1"}, {9, "COM9"}, {10, "\\\\.\\COM10"}, {12, "\\\\.\\COM12"}};
    for (const auto& [n, name] : names) {
        EXPECT_EQ(SerialPortName(n - 1), name);
        EXPECT_EQ(SerialPortNumber(name), n);
    }
    EXPECT_EQ(SerialPortNumber("com3"), 3);
    EXPECT_EQ(SerialPortNumber("COM") + SerialPortNumber("LPT1"), 0);

    const QString dev = TestHome() + "/dev";
    QDir().mkpath(dev);
    for (const char* name : {"ttyS1", "ttyS0", "ttyUSB10", "ttyUSB2", "ttyACM0", "tty0"}) {
        QFile(dev + "/" + name).open(QIODevice::WriteOnly);
    }
    EXPECT_EQ(SerialDeviceList(dev),
              (QStringList{dev + "/ttyUSB2", dev + "/ttyUSB10", dev + "/ttyACM0", dev + "/ttyS0",
                           dev + "/ttyS1"}));
    EXPECT_EQ(ResolveSerialDevice("COM2", dev), dev + "/ttyUSB10");
    EXPECT_EQ(ResolveSerialDevice("\\\\.\\COM5", dev), dev + "/ttyS1");
    EXPECT_EQ(ResolveSerialDevice("COM6", dev), QString());
    EXPECT_EQ(ResolveSerialDevice("/dev/ttyX", dev), "/dev/ttyX");
    WriteProfileString("Ports", "COM6", "/dev/modem"); // the profile names a device
    EXPECT_EQ(ResolveSerialDevice("COM6", dev), "/dev/modem");
    DeleteProfileValue("Ports", "COM6");
}

TEST(SerialPort, OpenRawExclusive_ReadEndsAtGapCountTimeOutOrCancel)
{
    Pty pty;
    CSerialPort port;
    EXPECT_FALSE(port.Open("COM7", 9600, 8, 0, 0));       // no such device here
    EXPECT_FALSE(port.Open(pty.Device(), 9601, 8, 0, 0)); // a rate the line does not have
    ASSERT_TRUE(port.Open(pty.Device(), 9600, 8, 0, 0));
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slave, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    CSerialPort second;
    EXPECT_FALSE(second.Open(pty.Device(), 9600, 8, 0, 0)); // no sharing

    const QByteArray bytes("AT\r\n\x1a\x03\x11\x13\x7f", 9);
    EXPECT_EQ(port.Write(bytes.constData(), bytes.size()), 9u);
    EXPECT_EQ(pty.Take(9), bytes);
    pty.Put(bytes);
    char buf[32] = {};
    EXPECT_EQ(port.Read(buf, sizeof buf), 9u);
    EXPECT_EQ(QByteArray(buf, 9), bytes);

    EXPECT_TRUE(port.Close() && !port.Close());            // closing twice: the second says so
    EXPECT_TRUE(second.Open(pty.Device(), 9600, 7, 0, 2)); // two stop bits
    ASSERT_EQ(tcgetattr(pty.slave, &tio), 0);
    EXPECT_EQ(tio.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
    second.Close();

    // Reads end at a gap, a count, the time-out or a cancel; writes purge unread input.
    ASSERT_TRUE(port.Open(pty.Device(), 9600, 8, 0, 0));
    SerialTimeouts t;
    t.readConstantMs = 300;
    port.SetTimeouts(t);
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u); // nothing comes: empty after the time-out
    EXPECT_FALSE(port.Lost());

    pty.Put("first");
    EXPECT_EQ(port.Read(buf, sizeof buf), 5u);
    pty.Put("0123456789");
    EXPECT_EQ(port.Read(buf, 4), 4u); // the count ends it
    EXPECT_EQ(QByteArray(buf, 4), "0123");

    pty.Put("stale");
    SleepMs(20);
    EXPECT_EQ(port.Write("AT\r", 3), 3u);
    pty.Take(3);
    pty.Put("OK");
    EXPECT_EQ(QByteArray(buf, static_cast<int>(port.Read(buf, sizeof buf))), "OK");

    // A cancel ends every read, one begun after it too, until it is reset.
    t.readConstantMs = 60000;
    port.SetTimeouts(t);
    port.Cancel();
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);
    EXPECT_FALSE(port.Lost());
    port.ResetCancel();
    pty.Put("late");
    EXPECT_EQ(port.Read(buf, sizeof buf), 4u);

    close(std::exchange(pty.master, -1)); // the far side goes away: the read says so
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);
    EXPECT_TRUE(port.Lost());
}
