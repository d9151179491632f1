#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "recipients/AlarmChannels.h"
#include "recipients/UserList.h"

namespace {

using Requests = std::vector<QString>;

// The application's channels as the list sees them: every request in the order made.
class UserList : public ::testing::Test, public IAlarmChannels
{
protected:
    void QueueSms(const QString& tel, const QString& text) override
    {
        requests.push_back("sms " + tel + u' ' + text);
    }
    void QueueMail(const QString& to, const QString& text) override
    {
        requests.push_back("mail " + to + u' ' + text);
    }
    void QueueSpeech(const QString& text) override { requests.push_back("speech " + text); }
    bool VoiceEnabled() const override { return voice; }

    CUser* Add(const QString& name, const QString& tel, const QString& mail)
    {
        auto user = std::make_unique<CUser>(name, tel, mail);
        CUser* raw = user.get();
        users.Add(std::move(user));
        return raw;
    }

    bool voice = false;
    Requests requests;
    CUserList users{this};
};

} // namespace

TEST_F(UserList, Dispatch_SmsThenMailPerUserInListOrderThenSpeech)
{
    voice = true;
    Add("First", "13800000001", QString());
    Add("Second", QString(), "second@example.org");
    Add("Third", "13800000003", "third@example.org");
    Add("Twin", "13800000001", QString()); // duplicates are served too
    users.Dispatch("Fire");
    EXPECT_EQ(requests, (Requests{"sms 13800000001 Fire", "mail second@example.org Fire",
                                  "sms 13800000003 Fire", "mail third@example.org Fire",
                                  "sms 13800000001 Fire", "speech Fire"}));

    // An empty list speaks only with voice on.
    users.Clear();
    requests.clear();
    users.Dispatch("spoken");
    voice = false;
    users.Dispatch("quiet");
    EXPECT_EQ(requests, Requests{"speech spoken"});
}

TEST_F(UserList, Find_IgnoresCaseNotSpaces)
{
    Add("Other", QString(), QString());
    CUser* anna = Add("Anna Li", "13900000000", "Anna@Example.org");
    EXPECT_EQ(users.FindByMail("anna@example.ORG"), anna);
    EXPECT_EQ(users.FindByMail(" anna@example.org"), nullptr);
    EXPECT_EQ(users.FindByName("ANNA LI"), anna);
    EXPECT_EQ(users.FindByTelephone("1390000000"), nullptr);
}

TEST_F(UserList, Edits_OnlyUsersOfTheListAreChangedOrDeleted)
{
    EXPECT_FALSE(users.Add(nullptr));
    CUser* a = Add("a", "1", QString());
    Add("b", "2", QString());
    CUser stranger("s", "3", QString());
    users.Remove(&stranger); // not in the list: left alone
    EXPECT_FALSE(users.Update(&stranger, CUser("x", "9", QString())));
    EXPECT_TRUE(users.Update(a, CUser("a2", "11", "a@x")));
    EXPECT_EQ(users.FindByTelephone("11"), a);
    EXPECT_EQ(a->Mail, "a@x");

    CUserList::Users more;
    more.push_back(std::make_unique<CUser>("c", "3", QString()));
    users.Append(std::move(more));
    users.Remove(a);
    users.Dispatch("x");
    EXPECT_EQ(requests, (Requests{"sms 2 x", "sms 3 x"}));

    CUserList::Users fresh;
    fresh.push_back(std::make_unique<CUser>("d", "4", QString()));
    users.Replace(std::move(fresh));
    requests.clear();
    users.Dispatch("y");
    EXPECT_EQ(requests, Requests{"sms 4 y"});
}
