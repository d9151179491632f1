#include "platform/Outbox.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QtEndian>

#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

// The journal: a header (magic, the next sequence number at the time it was written, and
// a checksum of both), then records. A record is a marker, the length of its body, a
// CRC-32 over that length and the body, and the body: a kind byte and the sequence
// number, then for a request its channel byte and the recipient and text as
// length-prefixed UTF-8. Numbers are little-endian.

namespace {

constexpr char kMagic[8] = {'Z', 'N', 'O', 'U', 'T', 'B', 'X', '1'};
constexpr int kHeaderBytes = 8 + 8 + 4;
constexpr std::uint32_t kMarker = 0x52424F5A; // "ZOBR" on disk
constexpr int kRecordHeadBytes = 12;
constexpr std::uint8_t kKindMessage = 1;
constexpr std::uint8_t kKindTombstone = 2;
// A body never exceeds one request at its largest plus its fixed fields.
constexpr std::uint32_t kMaxBodyBytes = COutbox::kMaxMessageBytes + 1 + 8 + 1 + 4 + 4;
// A rewrite pays three syncs; it waits until the tombstones are many and outnumber the
// live requests.
constexpr int kCompactMinTombstones = 64;
constexpr int kMaxCapacity = 1000000;
const char* const kFileName = "outbox.journal";
const char* const kTempName = "outbox.journal.new";

std::array<std::uint32_t, 256> MakeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[i] = c;
    }
    return table;
}

std::uint32_t Crc32(const char* data, std::size_t size)
{
    static const std::array<std::uint32_t, 256> table = MakeCrcTable();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        c = table[(c ^ static_cast<std::uint8_t>(data[i])) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

template <typename T> void Put(QByteArray& out, T value)
{
    char bytes[sizeof(T)];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

template <typename T> T Get(const char* at)
{
    return qFromLittleEndian<T>(at);
}

QByteArray Header(std::uint64_t nextId)
{
    QByteArray out(kMagic, sizeof kMagic);
    Put(out, nextId);
    Put(out, Crc32(out.constData(), out.size()));
    return out;
}

QByteArray Record(const QByteArray& body)
{
    QByteArray out;
    out.reserve(kRecordHeadBytes + body.size());
    Put(out, kMarker);
    Put(out, static_cast<std::uint32_t>(body.size()));
    QByteArray summed = out.mid(4);
    summed.append(body);
    Put(out, Crc32(summed.constData(), summed.size()));
    out.append(body);
    return out;
}

QByteArray MessageBody(const OutboxMessage& m)
{
    const QByteArray recipient = m.recipient.toUtf8();
    const QByteArray text = m.text.toUtf8();
    QByteArray body;
    Put(body, kKindMessage);
    Put(body, m.id);
    Put(body, static_cast<std::uint8_t>(m.channel));
    Put(body, static_cast<std::uint32_t>(recipient.size()));
    body.append(recipient);
    Put(body, static_cast<std::uint32_t>(text.size()));
    body.append(text);
    return body;
}

QByteArray TombstoneBody(std::uint64_t id)
{
    QByteArray body;
    Put(body, kKindTombstone);
    Put(body, id);
    return body;
}

// One record read back: a request or a tombstone.
struct Parsed
{
    std::uint8_t kind = 0;
    OutboxMessage message;
    int size = 0; // bytes of the whole record
};

// Reads the record at data[pos]. Returns false when it is cut short, its checksum fails
// or its body does not hold exactly what its kind needs.
bool ParseRecord(const QByteArray& data, qsizetype pos, Parsed* out)
{
    const char* p = data.constData() + pos;
    const qsizetype left = data.size() - pos;
    if (left < kRecordHeadBytes || Get<std::uint32_t>(p) != kMarker) {
        return false;
    }
    const std::uint32_t length = Get<std::uint32_t>(p + 4);
    if (length > kMaxBodyBytes || length > left - kRecordHeadBytes) {
        return false;
    }
    QByteArray summed(p + 4, 4);
    summed.append(p + kRecordHeadBytes, length);
    if (Crc32(summed.constData(), summed.size()) != Get<std::uint32_t>(p + 8)) {
        return false;
    }
    const char* b = p + kRecordHeadBytes;
    const char* const end = b + length;
    if (end - b < 9) {
        return false;
    }
    out->kind = static_cast<std::uint8_t>(*b);
    out->message.id = Get<std::uint64_t>(b + 1);
    b += 9;
    out->size = kRecordHeadBytes + static_cast<int>(length);
    if (out->kind == kKindTombstone) {
        return b == end;
    }
    if (out->kind != kKindMessage || end - b < 1) {
        return false;
    }
    const auto channel = static_cast<std::uint8_t>(*b++);
    if (channel != static_cast<std::uint8_t>(OutboxChannel::Sms) &&
        channel != static_cast<std::uint8_t>(OutboxChannel::Mail)) {
        return false;
    }
    out->message.channel = static_cast<OutboxChannel>(channel);
    QString* const fields[] = {&out->message.recipient, &out->message.text};
    for (QString* field : fields) {
        if (end - b < 4) {
            return false;
        }
        const std::uint32_t n = Get<std::uint32_t>(b);
        b += 4;
        if (n > static_cast<std::uint32_t>(end - b)) {
            return false;
        }
        *field = QString::fromUtf8(b, n);
        b += n;
    }
    return b == end;
}

bool WriteAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

bool ReadAll(int fd, QByteArray* out)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    out->resize(static_cast<qsizetype>(st.st_size));
    qsizetype done = 0;
    while (done < out->size()) {
        const ssize_t n =
            ::pread(fd, out->data() + done, static_cast<size_t>(out->size() - done), done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break; // shrank meanwhile: what was read is all there is
        }
        done += n;
    }
    out->resize(done);
    return true;
}

bool SyncFolder(const QString& folder)
{
    const int dir =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return false;
    }
    const bool ok = ::fsync(dir) == 0;
    const int saved = errno;
    ::close(dir);
    errno = saved;
    return ok;
}

void SetError(QString* error, QString text)
{
    if (error) {
        *error = std::move(text);
    }
}

QString ErrnoText()
{
    return qt_error_string(errno);
}

int CapacityFrom(int requested)
{
    const int value = requested > 0 ? requested : GetProfileInt(kProfileOutboxMaxMessages);
    if (value < 1) {
        return kProfileOutboxMaxMessages.defaultValue;
    }
    return value > kMaxCapacity ? kMaxCapacity : value;
}

} // namespace

COutbox::COutbox(QString folder, ErrorReport onError, int maxMessages)
    : m_folder(std::move(folder)), m_onError(std::move(onError)),
      m_capacity(CapacityFrom(maxMessages))
{
}

COutbox::~COutbox()
{
    Close();
}

QString COutbox::FilePath() const
{
    return QDir(m_folder).filePath(QString::fromLatin1(kFileName));
}

void COutbox::Report(const QString& text) const
{
    if (m_onError) {
        m_onError(text);
    }
}

void COutbox::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

bool COutbox::Open(QString* error)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    Close();
    m_live.clear();
    m_tombstones = 0;
    const QString path = FilePath();
    const auto fail = [&](unsigned id) {
        SetError(error, FormatText(LoadString(id), {path, ErrnoText()}));
        Close();
        return false;
    };
    if (!QDir().mkpath(m_folder)) {
        errno = ENOENT;
        return fail(kIdsOutboxCannotOpen);
    }
    const QByteArray name = QFile::encodeName(path);
    m_fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CLOEXEC);
    if (m_fd < 0 && errno == ENOENT) {
        // A new journal: its header and its name in the folder reach the disk first.
        m_fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (m_fd < 0 || !WriteAll(m_fd, Header(m_nextId)) || ::fdatasync(m_fd) != 0 ||
            !SyncFolder(m_folder)) {
            return fail(kIdsOutboxCannotOpen);
        }
        return true;
    }
    QByteArray data;
    if (m_fd < 0 || !ReadAll(m_fd, &data)) {
        return fail(kIdsOutboxCannotOpen);
    }

    bool damaged = false;
    qsizetype pos = 0;
    if (data.size() >= kHeaderBytes && std::memcmp(data.constData(), kMagic, sizeof kMagic) == 0 &&
        Crc32(data.constData(), 16) == Get<std::uint32_t>(data.constData() + 16)) {
        m_nextId = std::max(m_nextId, Get<std::uint64_t>(data.constData() + 8));
        pos = kHeaderBytes;
    } else if (!data.isEmpty()) {
        damaged = true;
        Report(FormatText(LoadString(kIdsOutboxDamaged),
                          {path, QString::number(0),
                           QString::number(std::min<qsizetype>(data.size(), kHeaderBytes))}));
        pos = std::min<qsizetype>(data.size(), kHeaderBytes);
    }
    while (pos < data.size()) {
        Parsed r;
        if (!ParseRecord(data, pos, &r)) {
            // Skip to the next record that reads back whole: everything after a damaged
            // stretch is as good as the checksums say.
            qsizetype next = pos + 1;
            for (; next < data.size(); ++next) {
                if (data.size() - next < kRecordHeadBytes) {
                    next = data.size();
                    break;
                }
                Parsed probe;
                if (Get<std::uint32_t>(data.constData() + next) == kMarker &&
                    ParseRecord(data, next, &probe)) {
                    break;
                }
            }
            damaged = true;
            Report(FormatText(LoadString(kIdsOutboxDamaged),
                              {path, QString::number(pos), QString::number(next - pos)}));
            pos = next;
            continue;
        }
        pos += r.size;
        m_nextId = std::max(m_nextId, r.message.id + 1);
        if (r.kind == kKindTombstone) {
            ++m_tombstones;
            m_live.erase(r.message.id);
        } else {
            m_live[r.message.id] = std::move(r.message);
        }
    }
    if (data.isEmpty() || damaged) {
        // A journal cut before its header reached the disk gets one; a damaged one is
        // rewritten without the damage, so that it is reported this once only.
        QString why;
        if (!Rewrite(&why)) {
            Report(why);
        }
    } else {
        MaybeCompact();
    }
    return m_fd >= 0 || fail(kIdsOutboxCannotOpen);
}

bool COutbox::AppendRecord(const QByteArray& record, QString* error)
{
    struct stat st
    {
    };
    if (::fstat(m_fd, &st) != 0 || !WriteAll(m_fd, record) || ::fdatasync(m_fd) != 0) {
        const QString why = ErrnoText();
        // Cut a partial record off, so that the next one follows whole records.
        if (st.st_size > 0 && ::ftruncate(m_fd, st.st_size) == 0) {
            ::fdatasync(m_fd);
        }
        SetError(error, FormatText(LoadString(kIdsOutboxCannotWrite), {FilePath(), why}));
        return false;
    }
    return true;
}

bool COutbox::Append(OutboxChannel channel, const QString& recipient, const QString& text,
                     std::uint64_t* id, QString* error)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_fd < 0) {
        errno = EBADF;
        SetError(error, FormatText(LoadString(kIdsOutboxCannotWrite), {FilePath(), ErrnoText()}));
        return false;
    }
    if (static_cast<int>(m_live.size()) >= m_capacity) {
        SetError(error, FormatText(LoadString(kIdsOutboxFull), {QString::number(m_capacity)}));
        return false;
    }
    OutboxMessage m{m_nextId, channel, recipient, text};
    const QByteArray body = MessageBody(m);
    if (body.size() > static_cast<qsizetype>(kMaxBodyBytes)) {
        SetError(error,
                 FormatText(LoadString(kIdsOutboxTooLong),
                            {QString::number(body.size()), QString::number(kMaxMessageBytes)}));
        return false;
    }
    if (!AppendRecord(Record(body), error)) {
        return false;
    }
    ++m_nextId;
    if (id) {
        *id = m.id;
    }
    m_live.emplace(m.id, std::move(m));
    return true;
}

bool COutbox::Remove(std::uint64_t id, QString* error)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_live.erase(id) == 0) {
        return false;
    }
    if (m_fd < 0 || !AppendRecord(Record(TombstoneBody(id)), error)) {
        return false;
    }
    ++m_tombstones;
    MaybeCompact();
    return true;
}

void COutbox::MaybeCompact()
{
    if (m_tombstones < kCompactMinTombstones || m_tombstones < static_cast<int>(m_live.size())) {
        return;
    }
    QString why;
    if (!Rewrite(&why)) {
        Report(why);
    }
}

bool COutbox::Rewrite(QString* error)
{
    const QString temp = QDir(m_folder).filePath(QString::fromLatin1(kTempName));
    const QByteArray tempName = QFile::encodeName(temp);
    QByteArray content = Header(m_nextId);
    for (const auto& [id, m] : m_live) {
        content.append(Record(MessageBody(m)));
    }
    const int fd = ::open(tempName.constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const bool ok = fd >= 0 && WriteAll(fd, content) && ::fsync(fd) == 0 &&
                    ::rename(tempName.constData(), QFile::encodeName(FilePath()).constData()) == 0;
    const QString why = ErrnoText();
    if (!ok) {
        if (fd >= 0) {
            ::close(fd);
        }
        ::unlink(tempName.constData());
        SetError(error, FormatText(LoadString(kIdsOutboxCannotWrite), {FilePath(), why}));
        return false;
    }
    // The new journal is in place; its descriptor (opened without O_APPEND) goes on at its end.
    Close();
    m_fd = fd;
    ::fcntl(m_fd, F_SETFL, O_APPEND);
    m_tombstones = 0;
    if (!SyncFolder(m_folder)) {
        // The rename may not survive a power cut; then the old journal, which holds the
        // same requests plus tombstones, comes back. Nothing is lost.
        SetError(error, FormatText(LoadString(kIdsOutboxCannotWrite), {m_folder, ErrnoText()}));
        return false;
    }
    return true;
}

std::vector<OutboxMessage> COutbox::Pending() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    std::vector<OutboxMessage> out;
    out.reserve(m_live.size());
    for (const auto& [id, m] : m_live) {
        out.push_back(m);
    }
    return out;
}

int COutbox::Count() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return static_cast<int>(m_live.size());
}
