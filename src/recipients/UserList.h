#pragma once

#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include <QString>

#include "recipients/User.h"

class IAlarmChannels;

// The owning list of recipients, in the order they were added (the file order), with the
// fan-out of one alarm text to every channel. Every operation holds the list lock for its
// whole run; the lock is re-entrant.
class CUserList
{
public:
    explicit CUserList(IAlarmChannels* channels = nullptr);
    ~CUserList();
    CUserList(const CUserList&) = delete;
    CUserList& operator=(const CUserList&) = delete;

    // Sets the channels Dispatch queues at (null: Dispatch queues nothing).
    void SetChannels(IAlarmChannels* channels);

    // Appends user and takes ownership. Returns false (and appends nothing) for null.
    bool Add(CUser* user);
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

    // The list lock (held for a whole fan-out; taken before any channel's lock).
    std::recursive_mutex& Lock() const { return m_lock; }

private:
    CUser* FindBy(const QString& value, QString CUser::*field) const;

    mutable std::recursive_mutex m_lock;
    std::list<std::unique_ptr<CUser>> m_users;
    IAlarmChannels* m_channels = nullptr;
};
