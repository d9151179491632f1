#pragma once

#include <cstddef>

#include <QString>
#include <QStringList>

// Port time-outs: a read of n bytes ends when n bytes came, when the
// gap after a received byte exceeds intervalMs, or after n * readMultiplierMs +
// readConstantMs in all; a write gives up after n * writeMultiplierMs + writeConstantMs.
struct SerialTimeouts
{
    int intervalMs = 3;
    int readMultiplierMs = 1;
    int readConstantMs = 1500;
    int writeMultiplierMs = 1;
    int writeConstantMs = 1500;
};

// One serial device opened through termios in raw mode (no echo, no line editing, no
// flow control, no character translation), exclusively. Windows port names (COM1 ...,
// \\.\COM10) are resolved to devices when the port is opened; see ResolveSerialDevice.
// One thread does the port's I/O; Cancel and ResetCancel may be called from any thread, so
// that a worker blocked in a read or write can be told to stop.
class CSerialPort
{
public:
    CSerialPort();
    ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // Opens and configures the port: baud rate, byte size (5 to 8), parity (0 none, 1 odd,
    // 2 even, 3 mark, 4 space) and stop bits (0 one, 1 one and a half, 2 two) as the Windows
    // DCB has them, then discards pending input. Returns false when the name
    // stands for no device, the device cannot be opened or is held by another program, or
    // a setting is refused; the port is then closed.
    bool Open(const QString& portName, unsigned baudRate, unsigned byteSize, unsigned parity,
              unsigned stopBits);
    // Closes the device. Returns false when none was open.
    bool Close();
    bool IsOpen() const { return m_fd >= 0; }
    // The device path the port was opened on.
    QString DevicePath() const { return m_device; }

    void SetTimeouts(const SerialTimeouts& timeouts) { m_timeouts = timeouts; }
    const SerialTimeouts& Timeouts() const { return m_timeouts; }

    // Discards unread input, then writes count bytes. Returns the bytes written (0 when no
    // port is open; fewer than count when the write time-out passed or the device failed).
    std::size_t Write(const void* data, std::size_t count);
    // One read bounded by the time-outs. Returns the bytes read (0 when no port is open,
    // nothing came in time or the device failed).
    std::size_t Read(void* buffer, std::size_t count);
    // True once the device went away under an open port (unplugged, the far side of a pty
    // closed, an I/O error). The port stays open until Close.
    bool Lost() const { return m_lost; }

    // Ends the current read or write at once and every later one as soon as it starts,
    // until ResetCancel; the bytes moved so far are returned. Opening and closing go on.
    void Cancel();
    // Lets reads and writes wait again.
    void ResetCancel();

private:
    // Readable while cancelled (an eventfd: one counter, safe from any thread).
    int m_cancelFd = -1;
    int m_fd = -1;
    bool m_lost = false;
    QString m_device;
    SerialTimeouts m_timeouts;
};

// The port name of a zero-based port index: "COM1" to "COM9", "\\.\COM10" from the tenth.
QString SerialPortName(int index);
// Number n of a port name "COMn" or "\\.\COMn" (case ignored), or 0 for any other name.
int SerialPortNumber(const QString& portName);
// The device a port name stands for: the profile's "Ports"/"COMn" when set; otherwise the
// n-th device of devFolder's ttyUSB*, ttyACM*, ttyS* (each group in natural order). A name
// that is already a path is returned as it stands. Returns an empty string when there is
// no such device.
QString ResolveSerialDevice(const QString& portName, const QString& devFolder = "/dev");
// The candidate devices of devFolder in the order COMn counts them.
QStringList SerialDeviceList(const QString& devFolder = "/dev");
