#pragma once

#include <memory>

#include <QDialog>

class CDigitEdit;
class CUser;
class CUserList;
class QLineEdit;

// The User dialog: Name, Telephone (digits only) and E-Mail of one recipient. OK checks the
// values in a fixed order and shows the first fault in a message box, leaving the dialog
// open; only values that pass are stored: an edited user is updated through the list (under
// its lock, so a fan-out never sees half an edit), a new user is made for the caller to add.
// The values of every confirmed dialog become the presets of the next new user.
class CDlgUser : public QDialog
{
    Q_OBJECT

public:
    // A new user, the fields preset from the profile section "User".
    explicit CDlgUser(CUserList& users, QWidget* parent = nullptr);
    // An existing user of users, the fields copied from it.
    CDlgUser(CUserList& users, CUser* user, QWidget* parent = nullptr);
    ~CDlgUser() override;

    // The string id of the first fault of these values, or 0 when they pass: both empty,
    // a telephone under 11 characters, a mail without '@', a telephone or a mail (any letter
    // case) that another user already has.
    unsigned Check(const QString& telephone, const QString& mail) const;
    // Checks the fields; on a fault shows its message and stays open, otherwise stores the
    // values, writes the presets and closes with OK.
    void accept() override;
    // After OK on a new user: the user made, for the caller to add (null otherwise or when
    // taken before).
    std::unique_ptr<CUser> TakeNewUser();

    QLineEdit* NameEdit() const { return m_name; }
    CDigitEdit* TelephoneEdit() const { return m_telephone; }
    QLineEdit* MailEdit() const { return m_mail; }

private:
    void Build(const QString& name, const QString& telephone, const QString& mail);

    CUserList& m_users;
    CUser* m_user = nullptr; // the user edited; null for a new one
    std::unique_ptr<CUser> m_newUser;
    QLineEdit* m_name = nullptr;
    CDigitEdit* m_telephone = nullptr;
    QLineEdit* m_mail = nullptr;
};

// Shows text in a message box with the program's title and an OK button over parent.
void ShowUserMessage(QWidget* parent, const QString& text);
