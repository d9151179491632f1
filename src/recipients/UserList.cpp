#include "recipients/UserList.h"

#include <algorithm>
#include <utility>

#include "recipients/AlarmChannels.h"

CUserList::CUserList(IAlarmChannels* channels) : m_channels(channels) {}

CUserList::~CUserList()
{
    Clear();
}

void CUserList::SetChannels(IAlarmChannels* channels)
{
    std::lock_guard lock(m_lock);
    m_channels = channels;
}

bool CUserList::Add(std::unique_ptr<CUser> user)
{
    if (!user) {
        return false;
    }
    std::lock_guard lock(m_lock);
    m_users.push_back(std::move(user));
    return true;
}

void CUserList::Append(Users users)
{
    std::lock_guard lock(m_lock);
    m_users.splice(m_users.end(), users);
}

void CUserList::Replace(Users users)
{
    {
        std::lock_guard lock(m_lock);
        m_users.swap(users);
    }
    // users now holds the old list: deleted here, outside the lock.
}

bool CUserList::Update(CUser* user, const CUser& values)
{
    std::lock_guard lock(m_lock);
    for (const auto& u : m_users) {
        if (u.get() == user) {
            u->Name = values.Name;
            u->Telephone = values.Telephone;
            u->Mail = values.Mail;
            return true;
        }
    }
    return false;
}

void CUserList::Remove(CUser* user)
{
    std::lock_guard lock(m_lock);
    auto it = std::find_if(m_users.begin(), m_users.end(),
                           [user](const std::unique_ptr<CUser>& u) { return u.get() == user; });
    if (it != m_users.end()) {
        m_users.erase(it);
    }
}

void CUserList::Clear()
{
    std::lock_guard lock(m_lock);
    while (!m_users.empty()) {
        m_users.pop_front();
    }
}

CUser* CUserList::FindBy(const QString& value, QString CUser::*field) const
{
    std::lock_guard lock(m_lock);
    for (const auto& u : m_users) {
        if (((*u).*field).compare(value, Qt::CaseInsensitive) == 0) {
            return u.get();
        }
    }
    return nullptr;
}

CUser* CUserList::FindByName(const QString& name) const
{
    return FindBy(name, &CUser::Name);
}

CUser* CUserList::FindByTelephone(const QString& telephone) const
{
    return FindBy(telephone, &CUser::Telephone);
}

CUser* CUserList::FindByMail(const QString& mail) const
{
    return FindBy(mail, &CUser::Mail);
}

int CUserList::GetCount() const
{
    std::lock_guard lock(m_lock);
    return static_cast<int>(m_users.size());
}

void CUserList::ForEach(const std::function<void(CUser&)>& fn) const
{
    std::lock_guard lock(m_lock);
    for (const auto& u : m_users) {
        fn(*u);
    }
}

void CUserList::Dispatch(const QString& text)
{
    std::lock_guard lock(m_lock);
    if (m_channels == nullptr) {
        return;
    }
    for (const auto& u : m_users) {
        if (!u->Telephone.isEmpty()) {
            m_channels->QueueSms(u->Telephone, text);
        }
        if (!u->Mail.isEmpty()) {
            m_channels->QueueMail(u->Mail, text);
        }
    }
    if (m_channels->VoiceEnabled()) {
        m_channels->QueueSpeech(text);
    }
}
