#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "recipients/AlarmChannels.h"
#include "recipients/UserList.h"

namespace {

// The application's channels as the list sees them: every request in the order made.
class Channels : public IAlarmChannels
{
public:
    void QueueSms(const QString& tel, const QString& text) override { Add("sms " + tel, text); }
    void QueueMail(const QString& to, const QString& text) override { Add("mail " + to, text); }
    void QueueSpeech(const QString& text) override { Add("speech", text); }
    bool VoiceEnabled() const override { return voice; }

    std::vector<QString> Requests()
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    std::atomic<bool> voice{false};

private:
    void Add(const QString& what, const QString& text)
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(what + u' ' + text);
    }
    std::mutex m_mutex;
    std::vector<QString> m_requests;
};

using Requests = std::vector<QString>;

} // namespace

TEST(UserList, Dispatch_OrderSmsThenMailPerUserThenSpeech)
{
    Channels channels;
    channels.voice = true;
    CUserList users(&channels);
    users.Add(new CUser("First", "13800000001", QString()));
    users.Add(new CUser("Second", QString(), "second@example.org"));
    users.Add(new CUser("Third", "13800000003", "third@example.org"));
    users.Add(new CUser("Twin", "13800000001", QString())); // duplicates are served too
    users.Dispatch("Fire");
    EXPECT_EQ(channels.Requests(), (Requests{"sms 13800000001 Fire", "mail second@example.org Fire",
                                             "sms 13800000003 Fire", "mail third@example.org Fire",
                                             "sms 13800000001 Fire", "speech Fire"}));
}

TEST(UserList, Dispatch_EmptyListSpeaksOnlyWithVoice)
{
    Channels channels;
    CUserList users(&channels);
    users.Dispatch("quiet");
    EXPECT_TRUE(channels.Requests().empty());
    channels.voice = true;
    users.Dispatch("spoken");
    EXPECT_EQ(channels.Requests(), (Requests{"speech spoken"}));
}

TEST(UserList, Find_IgnoresCaseNotSpaces)
{
    CUserList users;
    CUser* u = new CUser("Anna Li", "13900000000", "Anna@Example.org");
    users.Add(new CUser("Other", QString(), QString()));
    users.Add(u);
    EXPECT_EQ(users.FindByMail("anna@example.ORG"), u);
    EXPECT_EQ(users.FindByMail(" anna@example.org"), nullptr);
    EXPECT_EQ(users.FindByName("ANNA LI"), u);
    EXPECT_EQ(users.FindByTelephone("1390000000"), nullptr);
}

TEST(UserList, AddRemoveClear_OwnershipRules)
{
    CUserList users;
    EXPECT_FALSE(users.Add(nullptr));
    CUser* a = new CUser("a", "1", QString());
    EXPECT_TRUE(users.Add(a));
    users.Add(new CUser("b", "2", QString()));
    CUser stranger("s", "3", QString());
    users.Remove(&stranger); // not in the list: left alone, nothing deleted
    EXPECT_EQ(users.GetCount(), 2);
    users.Remove(a);
    EXPECT_EQ(users.GetCount(), 1);
    EXPECT_EQ(users.FindByName("a"), nullptr);
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
            // A settings load holds the list lock over its whole edit.
            std::lock_guard lock(users.Lock());
            users.Clear();
            for (int i = 0; i < 3; ++i) {
                users.Add(new CUser(QString::number(i), QString::number(i), QString()));
            }
        }
    });
    for (int i = 0; i < 300; ++i) {
        users.Dispatch("x");
    }
    stop = true;
    editor.join();
    // Under the list lock a fan-out sees 0 or 3 users, never a list half cleared or filled.
    const Requests r = channels.Requests();
    ASSERT_EQ(r.size() % 3, 0u);
    for (std::size_t i = 0; i < r.size(); i += 3) {
        EXPECT_EQ(r[i], "sms 0 x");
        EXPECT_EQ(r[i + 2], "sms 2 x");
    }
}
