#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QStringList>

#include "platform/Outbox.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "support/TestSupport.h"

namespace {

class OutboxTest : public ::testing::Test
{
protected:
    // A fresh outbox object on the test's folder, opened; capacity 0 = the profile's.
    std::unique_ptr<COutbox> Open(int capacity = 0)
    {
        auto box = std::make_unique<COutbox>(
            m_folder,
            [this](const QString& text) {
                std::lock_guard<std::mutex> guard(m_lock);
                m_errors << text;
            },
            capacity);
        QString error;
        EXPECT_TRUE(box->Open(&error)) << error.toStdString();
        return box;
    }

    // Appends count requests and returns them as Pending should, with the journal's size
    // after each one (the record boundaries).
    std::vector<OutboxMessage> Fill(COutbox& box, int count, std::vector<qint64>* ends = nullptr)
    {
        std::vector<OutboxMessage> out;
        for (int i = 0; i < count; ++i) {
            OutboxMessage m{0, i % 2 ? OutboxChannel::Mail : OutboxChannel::Sms,
                            QStringLiteral("+4917%1").arg(i),
                            QStringLiteral("Alarm %1: Kessel Ü € 🔥").arg(i)};
            EXPECT_TRUE(box.Append(m.channel, m.recipient, m.text, &m.id));
            out.push_back(m);
            if (ends) {
                ends->push_back(QFileInfo(box.FilePath()).size());
            }
        }
        return out;
    }

    QStringList Errors()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_errors;
    }

    const QString m_folder = FreshFolder(QStringLiteral("outbox"));
    std::mutex m_lock;
    QStringList m_errors;
};

} // namespace

// Removals survive the journal's rewrites and a reopen, and a number is never handed out
// twice, not even after a rewrite dropped every record of it.
TEST_F(OutboxTest, AppendRemoveCompactReopen_KeepsLiveRequestsInOrder)
{
    auto box = Open();
    const std::vector<OutboxMessage> all = Fill(*box, 200);
    const qint64 full = QFileInfo(box->FilePath()).size();
    std::vector<OutboxMessage> live;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i % 10 == 3) {
            live.push_back(all[i]);
        } else {
            ASSERT_TRUE(box->Remove(all[i].id));
        }
    }
    EXPECT_FALSE(box->Remove(all[0].id)); // twice
    EXPECT_FALSE(box->Remove(9999));
    EXPECT_LT(QFileInfo(box->FilePath()).size(), full / 2);
    EXPECT_EQ(box->Pending(), live);

    box = Open();
    EXPECT_EQ(box->Pending(), live);
    std::uint64_t id = 0;
    ASSERT_TRUE(box->Append(OutboxChannel::Sms, QStringLiteral("110"), QString(), &id));
    EXPECT_GT(id, all.back().id); // the last request was removed, its number stays used
    EXPECT_EQ(box->Count(), static_cast<int>(live.size()) + 1);
    EXPECT_FALSE(QFileInfo::exists(box->FilePath() + QStringLiteral(".new")));
    EXPECT_TRUE(Errors().isEmpty()) << Errors().join('\n').toStdString();
}

// Damage to the journal costs the damaged request only: the others come back whole, the
// damage is reported once, and the journal takes new requests afterwards.
TEST_F(OutboxTest, Damage_SkipsTheDamagedRecordOnlyAndReportsItOnce)
{
    enum Op
    {
        Truncate,
        Flip,
        Zero
    };
    // The damage is done at offset from boundary `at` of the journal (0 = end of the header,
    // i = end of request i - 1); lost is the request it costs, -1 = all.
    const struct
    {
        const char* name;
        int at, offset;
        Op op;
        int lost;
    } cases[] = {
        {"torn last record", 4, -3, Truncate, 3},
        {"only the start of the last record", 3, 5, Truncate, 3},
        {"flipped byte in a text", 2, -2, Flip, 1},
        {"flipped byte in a length", 1, 5, Flip, 1},
        {"zeroed middle record", 2, 0, Zero, 2},
        {"torn header", 0, -10, Truncate, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FreshFolder(QStringLiteral("outbox"));
        m_errors.clear();
        std::vector<qint64> bounds;
        std::vector<OutboxMessage> all;
        {
            auto box = Open();
            bounds.push_back(QFileInfo(box->FilePath()).size());
            all = Fill(*box, 4, &bounds);
        }
        const QString path = m_folder + QStringLiteral("/outbox.journal");
        QByteArray bytes = ReadBytes(path);
        const qint64 pos = bounds[c.at] + c.offset;
        if (c.op == Truncate) {
            bytes.truncate(pos);
        } else if (c.op == Flip) {
            bytes[pos] = static_cast<char>(bytes[pos] ^ 0x01);
        } else {
            bytes.replace(pos, bounds[c.at + 1] - pos, QByteArray(bounds[c.at + 1] - pos, '\0'));
        }
        WriteBytes(path, bytes);
        std::vector<OutboxMessage> expected;
        for (int i = 0; i < 4 && c.lost >= 0; ++i) {
            if (i != c.lost) {
                expected.push_back(all[i]);
            }
        }

        auto box = Open();
        EXPECT_EQ(box->Pending(), expected);
        EXPECT_EQ(Errors().size(), 1) << Errors().join('\n').toStdString();
        expected.push_back(Fill(*box, 1).front());
        box = Open();
        EXPECT_EQ(box->Pending(), expected);
        EXPECT_EQ(Errors().size(), 1); // not again
    }
}

// Refused requests leave the outbox as it was: a full outbox, a request too long, a write
// the disk refuses halfway.
TEST_F(OutboxTest, Refusals_LeaveTheStoredRequestsIntact)
{
    auto box = Open(3);
    std::vector<OutboxMessage> all = Fill(*box, 3);
    for (const QString& text : {QStringLiteral("4th"), QString(COutbox::kMaxMessageBytes, 'x')}) {
        QString error; // full, then too long
        EXPECT_FALSE(box->Append(OutboxChannel::Sms, QStringLiteral("1"), text, nullptr, &error));
        EXPECT_FALSE(error.isEmpty());
    }
    ASSERT_TRUE(box->Remove(all[0].id));
    all.erase(all.begin());
    all.push_back(Fill(*box, 1).front());
    EXPECT_EQ(box->Pending(), all);

    ASSERT_TRUE(WriteProfileInt(kProfileOutboxMaxMessages, 2));
    box = Open(); // a smaller bound drops nothing already stored
    EXPECT_EQ(box->Pending(), all);
    EXPECT_FALSE(box->Append(OutboxChannel::Sms, QStringLiteral("1"), QStringLiteral("x")));

    ASSERT_TRUE(WriteProfileInt(kProfileOutboxMaxMessages, -5));
    box = Open();
    EXPECT_EQ(box->Capacity(), kProfileOutboxMaxMessages.defaultValue);
    DeleteProfileValue(kProfileOutboxMaxMessages.section, kProfileOutboxMaxMessages.key);
    {
        FileSizeLimit limit(QFileInfo(box->FilePath()).size() + 20);
        QString error;
        EXPECT_FALSE(box->Append(OutboxChannel::Mail, QStringLiteral("b@example.com"),
                                 QString(200, 'y'), nullptr, &error));
        EXPECT_FALSE(error.isEmpty());
    }
    all.push_back(Fill(*box, 1).front()); // follows the whole records, not the torn one
    box = Open();
    EXPECT_EQ(box->Pending(), all);
    EXPECT_TRUE(Errors().isEmpty()) << Errors().join('\n').toStdString();
}

TEST_F(OutboxTest, Threads_EveryAppendAndRemoveCounts)
{
    auto box = Open();
    constexpr int kThreads = 4;
    constexpr int kEach = 40;
    std::mutex lock;
    std::vector<OutboxMessage> kept;
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kEach; ++i) {
                    OutboxMessage m{0, OutboxChannel::Sms, QString::number(t), QString::number(i)};
                    ASSERT_TRUE(box->Append(m.channel, m.recipient, m.text, &m.id));
                    if (i % 4 == 0) {
                        std::lock_guard<std::mutex> guard(lock);
                        kept.push_back(m);
                    } else {
                        ASSERT_TRUE(box->Remove(m.id));
                    }
                    (void)box->Pending();
                }
            });
        }
    }
    std::sort(kept.begin(), kept.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    EXPECT_EQ(box->Pending(), kept);
    box = Open();
    EXPECT_EQ(box->Pending(), kept);
    EXPECT_TRUE(Errors().isEmpty());
}
