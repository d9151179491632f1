#include <gtest/gtest.h>

#include <memory>

#include <QStringList>

#include "recipients/AlarmChannels.h"
#include "recipients/UserList.h"
#include "support/QtPrinters.h"

namespace {

// The application's channels as the list sees them: every request in the order made.
class UserList : public ::testing::Test, public IAlarmChannels
{
protected:
    void QueueSms(const QString& tel, const QString& text) override { Note("sms " + tel, text); }
    void QueueMail(const QString& to, const QString& text) override { Note("mail " + to, text); }
    void QueueSpeech(const QString& text) override { Note("speech", text); }
    bool VoiceEnabled() const override { return voice; }
    void Note(const QString& what, const QString& text) { requests << what + u' ' + text; }

    CUser* Add(const QString& name, const QString& tel, const QString& mail)
    {
        users.Add(std::make_unique<CUser>(name, tel, mail));
        return users.FindByName(name);
    }

    bool voice = false;
    QStringList requests;
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
    EXPECT_EQ(requests, (QStringList{"sms 13800000001 Fire", "mail second@example.org Fire",
                                     "sms 13800000003 Fire", "mail third@example.org Fire",
                                     "sms 13800000001 Fire", "speech Fire"}));
    // An empty list speaks only with voice on.
    users.Clear();
    users.Dispatch("spoken");
    voice = false;
    users.Dispatch("quiet");
    EXPECT_EQ(requests.mid(6), QStringList{"speech spoken"});
}

TEST_F(UserList, FindAndEdits_OnlyUsersOfTheList)
{
    Add("Other", QString(), QString());
    CUser* anna = Add("Anna Li", "13900000000", "Anna@Example.org");
    EXPECT_EQ(users.FindByMail("anna@example.ORG"), anna); // case ignored, spaces not
    EXPECT_FALSE(users.FindByMail(" anna@example.org") || users.FindByTelephone("1390000000"));

    EXPECT_FALSE(users.Add(nullptr));
    CUser stranger("s", "3", QString());
    users.Remove(&stranger); // not in the list: left alone
    EXPECT_FALSE(users.Update(&stranger, CUser("x", "9", QString())));
    EXPECT_TRUE(users.Update(anna, CUser("Anna", "11", "a@x")));
    EXPECT_EQ(users.FindByTelephone("11"), anna);
    users.Remove(users.FindByName("Other"));
    users.Dispatch("x");
    EXPECT_EQ(requests, (QStringList{"sms 11 x", "mail a@x x"}));

    CUserList::Users fresh;
    fresh.push_back(std::make_unique<CUser>("d", "4", QString()));
    users.Replace(std::move(fresh));
    requests.clear();
    users.Dispatch("y");
    EXPECT_EQ(requests, QStringList{"sms 4 y"});
}
