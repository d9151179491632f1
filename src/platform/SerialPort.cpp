#include "platform/SerialPort.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QFile>
#include <QRegularExpression>

#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/Tick.h"

namespace {

bool SpeedOf(unsigned baud, speed_t& speed)
{
    static const struct
    {
        unsigned rate;
        speed_t speed;
    } kRates[] = {{110, B110},       {300, B300},      {600, B600},       {1200, B1200},
                  {2400, B2400},     {4800, B4800},    {9600, B9600},     {19200, B19200},
                  {38400, B38400},   {57600, B57600},  {115200, B115200}, {230400, B230400},
                  {460800, B460800}, {921600, B921600}};
    for (const auto& r : kRates) {
        if (r.rate == baud) {
            speed = r.speed;
            return true;
        }
    }
    return false;
}

bool Configure(int fd, unsigned baudRate, unsigned byteSize, unsigned parity, unsigned stopBits)
{
    speed_t speed{};
    if (!SpeedOf(baudRate, speed) || byteSize < 5 || byteSize > 8 || parity > 4 || stopBits > 2) {
        return false;
    }
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    static const tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= kSizes[byteSize - 5] | CLOCAL | CREAD;
    switch (parity) {
    case 1: // odd
        tio.c_cflag |= PARENB | PARODD;
        break;
    case 2: // even
        tio.c_cflag |= PARENB;
        break;
    case 3: // mark
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case 4: // space
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (parity != 0) {
        tio.c_iflag |= INPCK;
    }
    if (stopBits != 0) { // one and a half stop bits exist only as two on termios
        tio.c_cflag |= CSTOPB;
    }
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    // Reads never block in the driver: poll decides how long to wait.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0 ||
        tcsetattr(fd, TCSANOW, &tio) != 0) {
        return false;
    }
    // DTR and RTS stay low, as the line settings ask; devices without modem lines (ptys)
    // refuse this, which is harmless.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
    // Output still on its way from the port's last holder is left to go out: it may be the
    // ESC that frees a modem from a message prompt.
    return tcflush(fd, TCIFLUSH) == 0;
}

int RemainingMs(std::uint64_t deadline)
{
    const std::uint64_t now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
}

// One candidate device: its group (ttyUSB, ttyACM, ttyS) and number, for the natural order.
struct Candidate
{
    int group;
    unsigned long long number;
    std::string name;
    bool operator<(const Candidate& o) const
    {
        return group != o.group     ? group < o.group
               : number != o.number ? number < o.number
                                    : name < o.name;
    }
};

// Reads the folder with readdir: the worker resolves a missing port on every retry, and a
// directory scan of /dev must stay cheap.
std::vector<Candidate> ScanDevices(const QString& devFolder)
{
    static const char* const kGroups[] = {"ttyUSB", "ttyACM", "ttyS"};
    std::vector<Candidate> found;
    DIR* dir = opendir(QFile::encodeName(devFolder).constData());
    if (!dir) {
        return found;
    }
    while (const dirent* e = readdir(dir)) {
        const std::string_view name(e->d_name);
        for (int g = 0; g < 3; ++g) {
            const std::string_view prefix(kGroups[g]);
            if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) {
                continue;
            }
            const std::string_view digits = name.substr(prefix.size());
            unsigned long long number = 0;
            const auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), number);
            if (ec == std::errc() && end == digits.data() + digits.size()) {
                found.push_back({g, number, std::string(name)});
            }
            break;
        }
    }
    closedir(dir);
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

CSerialPort::CSerialPort() : m_cancelFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CSerialPort::~CSerialPort()
{
    Close();
    if (m_cancelFd >= 0) {
        ::close(m_cancelFd);
    }
}

void CSerialPort::Cancel()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_cancelFd, &one, sizeof one);
}

void CSerialPort::ResetCancel()
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_cancelFd, &count, sizeof count);
}

bool CSerialPort::Open(const QString& portName, unsigned baudRate, unsigned byteSize,
                       unsigned parity, unsigned stopBits)
{
    if (IsOpen()) {
        return true;
    }
    const QString device = ResolveSerialDevice(portName);
    if (device.isEmpty()) {
        return false;
    }
    const int fd =
        ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    // No sharing: an advisory lock keeps out other programs that lock (and a second
    // instance of this one), TIOCEXCL refuses further opens of the device.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 || !isatty(fd) || ioctl(fd, TIOCEXCL) != 0 ||
        !Configure(fd, baudRate, byteSize, parity, stopBits)) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_lost = false;
    m_device = device;
    return true;
}

bool CSerialPort::Close()
{
    if (m_fd < 0) {
        return false;
    }
    ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
    m_lost = false;
    m_device.clear();
    return true;
}

std::size_t CSerialPort::Write(const void* data, std::size_t count)
{
    if (m_fd < 0) {
        return 0;
    }
    tcflush(m_fd, TCIFLUSH);
    const std::uint64_t deadline =
        GetTickCount64() + count * static_cast<std::uint64_t>(m_timeouts.writeMultiplierMs) +
        static_cast<std::uint64_t>(m_timeouts.writeConstantMs);
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(m_fd, p + done, count - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            m_lost = true;
            break;
        }
        const int left = RemainingMs(deadline);
        if (left == 0) {
            break;
        }
        pollfd pfd[2] = {{m_fd, POLLOUT, 0}, {m_cancelFd, POLLIN, 0}};
        const int r = poll(pfd, 2, left);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r > 0 && (pfd[1].revents & POLLIN)) {
            break; // cancelled
        }
        if (r < 0 || (r > 0 && (pfd[0].revents & (POLLHUP | POLLERR | POLLNVAL)))) {
            m_lost = true;
            break;
        }
    }
    return done;
}

std::size_t CSerialPort::Read(void* buffer, std::size_t count)
{
    if (m_fd < 0 || count == 0) {
        return 0;
    }
    const std::uint64_t deadline = GetTickCount64() +
                                   count * static_cast<std::uint64_t>(m_timeouts.readMultiplierMs) +
                                   static_cast<std::uint64_t>(m_timeouts.readConstantMs);
    char* p = static_cast<char*>(buffer);
    std::size_t got = 0;
    while (got < count) {
        const int left = RemainingMs(deadline);
        if (left == 0) {
            break;
        }
        // Before the first byte only the total time-out counts; after it the gap between
        // bytes ends the read as well.
        const int wait = got == 0 ? left : std::min(left, std::max(m_timeouts.intervalMs, 1));
        pollfd pfd[2] = {{m_fd, POLLIN, 0}, {m_cancelFd, POLLIN, 0}};
        const int r = poll(pfd, 2, wait);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_lost = true;
            break;
        }
        if (r == 0 || (pfd[1].revents & POLLIN)) {
            break; // the gap or the total time-out passed, or the read was cancelled
        }
        if (pfd[0].revents & POLLIN) {
            const ssize_t n = ::read(m_fd, p + got, count - got);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            m_lost = true; // end of file or an error: the device is gone
            break;
        }
        if (pfd[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            m_lost = true;
            break;
        }
    }
    return got;
}

QString SerialPortName(int index)
{
    const qint64 n = qint64(index) + 1; // the settings file may hold INT_MAX
    return n <= 9 ? QStringLiteral("COM%1").arg(n) : QStringLiteral("\\\\.\\COM%1").arg(n);
}

int SerialPortNumber(const QString& portName)
{
    static const QRegularExpression re(QStringLiteral("^(?:\\\\\\\\\\.\\\\)?COM([0-9]{1,3})$"),
                                       QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(portName);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

QStringList SerialDeviceList(const QString& devFolder)
{
    QStringList all;
    const QString prefix = devFolder.endsWith(u'/') ? devFolder : devFolder + u'/';
    for (const Candidate& c : ScanDevices(devFolder)) {
        all.append(prefix + QFile::decodeName(c.name.c_str()));
    }
    return all;
}

QString ResolveSerialDevice(const QString& portName, const QString& devFolder)
{
    if (portName.startsWith(u'/')) {
        return portName;
    }
    const int n = SerialPortNumber(portName);
    if (n <= 0) {
        return {};
    }
    const QString key = QString::fromLatin1(kProfilePortDevice.key) + QString::number(n);
    const QString configured =
        GetProfileString(QString::fromLatin1(kProfilePortDevice.section), key);
    if (!configured.isEmpty()) {
        return configured;
    }
    const std::vector<Candidate> devices = ScanDevices(devFolder);
    if (static_cast<std::size_t>(n) > devices.size()) {
        return {};
    }
    const QString prefix = devFolder.endsWith(u'/') ? devFolder : devFolder + u'/';
    return prefix + QFile::decodeName(devices[static_cast<std::size_t>(n) - 1].name.c_str());
}
