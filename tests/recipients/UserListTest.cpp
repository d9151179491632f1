#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <QStringList>

#include "recipients/AlarmChannels.h"
#include "recipients/UserList.h"

namespace {

// The application's channels as seen from the list: every request in the order made.
class Channels : public IAlarmChannels
{
public:
    void QueueSms(const QString& telephone, const QString& text) override
    {
        Record(u"sms "_qs + telephone + u' ' + text);
    }
    void QueueMail(const QString& address, const QString& text) override
    {
        Record(u"mail "_qs + address + u' ' + text);
    }
    void QueueSpeech(const QString& text) override { Record(u"speech "_qs + text); }
    bool VoiceEnabled() const override { return voice; }

    std::vector<QString> Requests()
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    std::atomic<bool> voice{false};

private:
    void Record(const QString& r)
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(r);
    }
    std::mutex m_mutex;
    std::vector<QString> m_requests;
};

} // namespace

TEST(UserList, Dispatch_OrderSmsThenMailPerUserThenSpeech)
{
    Channels channels;
    channels.voice = true;
    CUserList users(&channels);
    users.Add(new CUser(u"First"_qs, u"13800000001"_qs, QString()));
    users.Add(new CUser(u"Second"_qs, QString(), u"second@example.org"_qs));
    users.Add(new CUser(u"Third"_qs, u"13800000003"_qs, u"third@example.org"_qs));
    users.Dispatch(u"Fire"_qs);
    EXPECT_EQ(channels.Requests(), (std::vector<QString>{
                                       u"sms 13800000001 Fire"_qs,
                                       u"mail second@example.org Fire"_qs,
                                       u"sms 13800000003 Fire"_qs,
                                       u"mail third@example.org Fire"_qs,
                                       u"speech Fire"_qs,
                                   }));
}

TEST(UserList, Dispatch_EmptyListAndVoiceSwitch)
{
    Channels channels;
    CUserList users(&channels);
    users.Dispatch(u"quiet"_qs);
    EXPECT_TRUE(channels.Requests().empty());
    channels.voice = true;
    users.Dispatch(u"spoken"_qs);
    EXPECT_EQ(channels.Requests(), (std::vector<QString>{u"speech spoken"_qs}));
    // No channels at all: nothing to queue at, and no crash.
    CUserList alone;
    alone.Add(new CUser(u"A"_qs, u"1"_qs, u"a@b"_qs));
    alone.Dispatch(u"x"_qs);
}

TEST(UserList, Dispatch_DuplicateNumbersBothServed)
{
    Channels channels;
    CUserList users(&channels);
    users.Add(new CUser(u"A"_qs, u"555"_qs, QString()));
    users.Add(new CUser(u"B"_qs, u"555"_qs, QString()));
    users.Dispatch(u"t"_qs);
    EXPECT_EQ(channels.Requests(), (std::vector<QString>{u"sms 555 t"_qs, u"sms 555 t"_qs}));
}

TEST(UserList, Find_IgnoresCaseNotSpaces)
{
    CUserList users;
    CUser* u = new CUser(u"Anna Li"_qs, u"13900000000"_qs, u"Anna@Example.org"_qs);
    users.Add(new CUser(u"Other"_qs, QString(), QString()));
    users.Add(u);
    EXPECT_EQ(users.FindByMail(u"anna@example.ORG"_qs), u);
    EXPECT_EQ(users.FindByMail(u" anna@example.org"_qs), nullptr);
    EXPECT_EQ(users.FindByName(u"ANNA LI"_qs), u);
    EXPECT_EQ(users.FindByTelephone(u"13900000000"_qs), u);
    EXPECT_EQ(users.FindByTelephone(u"1390000000"_qs), nullptr);
    // An empty field matches a user whose field is empty: the first such from the head.
    EXPECT_EQ(users.FindByTelephone(QString())->Name, u"Other"_qs);
}

TEST(UserList, AddRemoveClear_OwnershipRules)
{
    CUserList users;
    EXPECT_FALSE(users.Add(nullptr));
    EXPECT_EQ(users.GetCount(), 0);
    CUser* a = new CUser(u"a"_qs, u"1"_qs, QString());
    EXPECT_TRUE(users.Add(a));
    EXPECT_TRUE(users.Add(new CUser(u"b"_qs, u"2"_qs, QString())));
    CUser stranger(u"s"_qs, u"3"_qs, QString());
    users.Remove(&stranger); // not in the list: left alone, nothing deleted
    EXPECT_EQ(users.GetCount(), 2);
    users.Remove(a);
    EXPECT_EQ(users.GetCount(), 1);
    EXPECT_EQ(users.FindByName(u"a"_qs), nullptr);
    QStringList names;
    users.ForEach([&](CUser& u) { names << u.Name; });
    EXPECT_EQ(names, QStringList{u"b"_qs});
    users.Clear();
    EXPECT_EQ(users.GetCount(), 0);
}

TEST(UserList, DispatchWhileEditing_EachFanOutSeesAWholeList)
{
    Channels channels;
    CUserList users(&channels);
    std::atomic<bool> stop{false};
    std::thread editor([&] {
        while (!stop) {
            users.Clear();
            for (int i = 0; i < 3; ++i) {
                users.Add(new CUser(QString::number(i), QString::number(i), QString()));
            }
        }
    });
    for (int i = 0; i < 300; ++i) {
        users.Dispatch(u"x"_qs);
    }
    stop = true;
    editor.join();
    // Under the list lock a fan-out sees 0 or 3 users, never a list half cleared or filled.
    const std::vector<QString> r = channels.Requests();
    ASSERT_EQ(r.size() % 3, 0u);
    for (std::size_t i = 0; i < r.size(); i += 3) {
        EXPECT_EQ(r[i], u"sms 0 x"_qs);
        EXPECT_EQ(r[i + 2], u"sms 2 x"_qs);
    }
}
