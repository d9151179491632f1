#pragma once

#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include <QString>

#include "recipients/User.h"

class IAlarmChannels;

// The owning list of recipients, in the order they were added (the file order), with the
// fan-out of one alarm text to every channel. Every operation, edits included, takes the
// list lock itself for its whole run, so a fan-out on another thread sees each edit whole.
class CUserList
{
public:
    // Users in list order; the list owns them.
    using Users = std::list<std::unique_ptr<CUser>>;

    explicit CUserList(IAlarmChannels* channels = nullptr);
    ~CUserList();
    CUserList(const CUserList&) = delete;
    CUserList& operator=(const CUserList&) = delete;

    // Sets the channels Dispatch queues at (null: Dispatch queues nothing).
    void SetChannels(IAlarmChannels* channels);

    // Appends user and takes ownership. Returns false (and appends nothing) for null.
    bool Add(std::unique_ptr<CUser> user);
    // Appends every user of users in order, in one step.
    void Append(Users users);
    // Makes users the whole list in one step; the old users are deleted after the lock is
    // released. A fan-out sees either the old list or the new one, never a mix.
    void Replace(Users users);
    // Gives user the name, telephone and mail of values. Returns false (nothing changed)
    // when user is not in the list.
    bool Update(CUser* user, const CUser& values);
    // Unlinks and deletes user when it is in the list; leaves any other pointer alone.
    void Remove(CUser* user);
    // Deletes every user.
    void Clear();
    // First user whose Name equals name ignoring case, or null. The pointer stays valid
    // until the user is removed (edits happen on the user-interface thread only).
    CUser* FindByName(const QString& name) const;
    CUser* FindByTelephone(const QString& telephone) const;
    CUser* FindByMail(const QString& mail) const;
    // Number of users.
    int GetCount() const;
    // Calls fn for every user, head to tail, under the lock.
    void ForEach(const std::function<void(CUser&)>& fn) const;

    // Fans text out: for each user in list order an SMS (when it has a telephone number)
    // and then a mail (when it has an address); after all users, one speech request when
    // voice is enabled. Only queues; posts no event.
    void Dispatch(const QString& text);

private:
    CUser* FindBy(const QString& value, QString CUser::*field) const;

    // Held for a whole fan-out and taken before any channel's lock; re-entrant.
    mutable std::recursive_mutex m_lock;
    Users m_users;
    IAlarmChannels* m_channels = nullptr;
};
