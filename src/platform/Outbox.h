#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include <QString>

// The channel an outbox request goes out on.
enum class OutboxChannel : std::uint8_t
{
    Sms = 1,
    Mail = 2
};

// One request waiting in the outbox: its sequence number (rising, never reused within a
// journal), channel, recipient (telephone number or mail address) and alarm text.
struct OutboxMessage
{
    std::uint64_t id = 0;
    OutboxChannel channel = OutboxChannel::Sms;
    QString recipient;
    QString text;

    bool operator==(const OutboxMessage&) const = default;
};

// The persistent outbox: every request is appended to a journal file in a folder before
// anyone relies on it, and a confirmed or finally failed request is removed by appending a
// tombstone. Each record carries its length and a checksum, so a record torn by a power
// cut or damaged on disk is found at open, skipped and reported, never handed out garbled.
// When tombstones dominate, the journal is rewritten with the live requests only (a
// temporary file, synced and renamed over the old one). Every call may come from any
// thread; one process at a time uses a folder's journal.
class COutbox
{
public:
    using ErrorReport = std::function<void(const QString& text)>;

    // Largest recipient plus text, in UTF-8 bytes, of one request.
    static constexpr int kMaxMessageBytes = 64 * 1024;

    // The journal lives in folder (created when missing). onError receives one text per
    // damaged stretch of the journal found at open and per failed rewrite; it is called
    // with the outbox's lock held, so it must not call back into the outbox. maxMessages
    // below 1 takes profile "Outbox"/"MaxMessages".
    COutbox(QString folder, ErrorReport onError, int maxMessages = 0);
    ~COutbox();
    COutbox(const COutbox&) = delete;
    COutbox& operator=(const COutbox&) = delete;

    // Opens (or creates) the journal and reads the requests left in it. Returns false with
    // *error set when the folder or file cannot be used; damage inside the journal is not
    // a failure: it is reported through onError once and the journal rewritten without it.
    bool Open(QString* error = nullptr);
    // Stores a request and returns once it reached the disk, with its number in *id.
    // Returns false with *error set when the outbox is not open, is full (nothing older
    // is dropped), the request is longer than kMaxMessageBytes, or the write fails.
    bool Append(OutboxChannel channel, const QString& recipient, const QString& text,
                std::uint64_t* id = nullptr, QString* error = nullptr);
    // Removes request id (its tombstone reaches the disk before the call returns). Returns
    // false for an unknown id, or with *error set when the tombstone cannot be written:
    // the request is then gone from Pending but may come back at the next open.
    bool Remove(std::uint64_t id, QString* error = nullptr);
    // The requests not yet removed, oldest first.
    std::vector<OutboxMessage> Pending() const;
    // How many requests are waiting.
    int Count() const;
    // The bound on waiting requests.
    int Capacity() const { return m_capacity; }
    // Full path of the journal file.
    QString FilePath() const;

private:
    bool AppendRecord(const QByteArray& record, QString* error);
    bool Rewrite(QString* error);
    void MaybeCompact();
    void Close();
    void Report(const QString& text) const;

    const QString m_folder;
    const ErrorReport m_onError;
    const int m_capacity;
    mutable std::mutex m_mutex;
    int m_fd = -1;
    std::uint64_t m_nextId = 1;
    // Tombstones in the journal now: a rewrite drops them all.
    int m_tombstones = 0;
    std::map<std::uint64_t, OutboxMessage> m_live;
};
