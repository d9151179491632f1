#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

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
    Pty()
    {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            device = QString::fromLocal8Bit(name);
        }
    }
    ~Pty()
    {
        CloseMaster();
        if (slave >= 0) {
            close(slave);
        }
    }
    void CloseMaster()
    {
        if (master >= 0) {
            close(master);
            master = -1;
        }
    }
    void Put(const QByteArray& data) const
    {
        ASSERT_EQ(write(master, data.constData(), data.size()), data.size());
    }
    QByteArray Take(int size, int timeoutMs = 2000) const
    {
        QByteArray got;
        WaitUntil(
            [&] {
                char buf[256];
                fcntl(master, F_SETFL, O_NONBLOCK);
                const ssize_t n = read(master, buf, sizeof buf);
                if (n > 0) {
                    got.append(buf, n);
                }
                return got.size() >= size;
            },
            timeoutMs);
        return got;
    }
    int master = -1;
    int slave = -1;
    QString device;
};

SerialTimeouts Short()
{
    SerialTimeouts t;
    t.readConstantMs = 300;
    t.writeConstantMs = 300;
    return t;
}

void Touch(const QString& path)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
}

} // namespace

TEST(SerialPort, Names_ComNumbersAndDeviceOrder)
{
    EXPECT_EQ(SerialPortName(0), "COM1");
    EXPECT_EQ(SerialPortName(8), "COM9");
    EXPECT_EQ(SerialPortName(9), "\\\\.\\COM10");
    EXPECT_EQ(SerialPortNumber("com3"), 3);
    EXPECT_EQ(SerialPortNumber("\\\\.\\COM12"), 12);
    EXPECT_EQ(SerialPortNumber("COM"), 0);
    EXPECT_EQ(SerialPortNumber("LPT1"), 0);

    const QString dev = TestHome() + "/dev";
    QDir().mkpath(dev);
    for (const char* name : {"ttyS1", "ttyS0", "ttyUSB10", "ttyUSB2", "ttyACM0", "tty0"}) {
        Touch(dev + "/" + name);
    }
    EXPECT_EQ(SerialDeviceList(dev),
              (QStringList{dev + "/ttyUSB2", dev + "/ttyUSB10", dev + "/ttyACM0", dev + "/ttyS0",
                           dev + "/ttyS1"}));
    EXPECT_EQ(ResolveSerialDevice("COM2", dev), dev + "/ttyUSB10");
    EXPECT_EQ(ResolveSerialDevice("\\\\.\\COM5", dev), dev + "/ttyS1");
    EXPECT_EQ(ResolveSerialDevice("COM6", dev), QString());
    EXPECT_EQ(ResolveSerialDevice("/dev/ttyX", dev), "/dev/ttyX");
    // The profile names a device for a port.
    WriteProfileString("Ports", "COM6", "/dev/modem");
    EXPECT_EQ(ResolveSerialDevice("COM6", dev), "/dev/modem");
    DeleteProfileValue("Ports", "COM6");
}

TEST(SerialPort, OpenRawExclusiveAndMissing)
{
    Pty pty;
    ASSERT_FALSE(pty.device.isEmpty());
    CSerialPort port;
    EXPECT_FALSE(port.Open("COM7", 9600, 8, 0, 0));     // no such device here
    EXPECT_FALSE(port.Open(pty.device, 9601, 8, 0, 0)); // a rate the line does not have
    ASSERT_TRUE(port.Open(pty.device, 9600, 8, 0, 0));
    EXPECT_TRUE(port.IsOpen());

    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slave, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);

    CSerialPort second;
    EXPECT_FALSE(second.Open(pty.device, 9600, 8, 0, 0)); // no sharing

    // Control characters pass unchanged both ways.
    const QByteArray bytes("AT\r\n\x1a\x03\x11\x13\x7f", 9);
    EXPECT_EQ(port.Write(bytes.constData(), bytes.size()), 9u);
    EXPECT_EQ(pty.Take(9), bytes);
    pty.Put(bytes);
    char buf[32] = {};
    EXPECT_EQ(port.Read(buf, sizeof buf), 9u);
    EXPECT_EQ(QByteArray(buf, 9), bytes);

    EXPECT_TRUE(port.Close());
    EXPECT_FALSE(port.Close());
    // Two stop bits (a pty keeps no parity, so that setting cannot be seen here).
    EXPECT_TRUE(second.Open(pty.device, 9600, 7, 0, 2));
    ASSERT_EQ(tcgetattr(pty.slave, &tio), 0);
    EXPECT_EQ(tio.c_cflag & CSTOPB, static_cast<tcflag_t>(CSTOPB));
}

TEST(SerialPort, ReadEndsAtGapCountOrTimeOut_WritePurgesInput)
{
    Pty pty;
    CSerialPort port;
    ASSERT_TRUE(port.Open(pty.device, 9600, 8, 0, 0));
    port.SetTimeouts(Short());
    char buf[64] = {};

    // Nothing comes: the read ends empty after its total time-out.
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);
    EXPECT_FALSE(port.Lost());

    // A pause in the data ends a read; the rest comes with the next one.
    pty.Put("first");
    EXPECT_EQ(port.Read(buf, sizeof buf), 5u);
    pty.Put("\r\n> ");
    EXPECT_EQ(port.Read(buf, 4), 4u);
    EXPECT_EQ(QByteArray(buf, 4), "\r\n> ");
    pty.Put("0123456789");
    EXPECT_EQ(port.Read(buf, 4), 4u); // the count ends it
    EXPECT_EQ(QByteArray(buf, 4), "0123");

    // Unread input is discarded before a write, so the next read sees only the answer.
    pty.Put("stale");
    SleepMs(20);
    EXPECT_EQ(port.Write("AT\r", 3), 3u);
    pty.Take(3);
    pty.Put("OK");
    const std::size_t n = port.Read(buf, sizeof buf);
    EXPECT_EQ(QByteArray(buf, static_cast<int>(n)), "OK");

    // The far side goes away: the read says so instead of waiting.
    pty.CloseMaster();
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);
    EXPECT_TRUE(port.Lost());
    EXPECT_TRUE(port.Close());
}
