#pragma once

#include <functional>
#include <memory>

#include <QDialog>
#include <QString>

#include "mail/MailQueue.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// What the E-Mail dialog needs from its opener, as functions, so that the mail folder knows
// nothing of the application or the recipient dialogs.
struct MailDialogHost
{
    // The account every mail logs in with now (the settings' sender mailbox and password).
    std::function<MailAccount()> account;
    // Makes sender and password the account of every later mail, at once.
    std::function<void(const QString& sender, const QString& password)> setAccount;
    // Queues one mail at the mail worker; done is told its outcome on whatever thread.
    std::function<void(const QString& address, const QString& text, MailDone done)> queueMail;
    // Shows the recipient list modally over parent.
    std::function<void(QWidget* parent)> openUserList;
    // Marks the settings document modified, so that the next save writes the account.
    std::function<void()> markModified;
};

// The modal "E-Mail" dialog: the sender mailbox and password of the alarm mails, the
// outgoing server, and a test mail to an address of the user's choice. Send makes the typed
// account and server take effect at once and hands the test mail to the mail worker; the
// dialog shows the outcome when it comes and may be closed at any time meanwhile. OK also
// makes the account the settings' (marking the document modified); Cancel keeps what Send
// already applied and nothing else.
class CDlgMail : public QDialog
{
    Q_OBJECT

public:
    // The text of every test mail (it names the support address).
    static QString TestMailText();
    // The port a security choice (0 none, 1 STARTTLS, 2 TLS) normally uses.
    static int DefaultPort(int security);

    // Fills the fields from host.account() and the profile.
    explicit CDlgMail(MailDialogHost host, QWidget* parent = nullptr);
    // Forgets a test mail still under way: its outcome is then only the event line.
    ~CDlgMail() override;

    QString SenderMailbox() const;
    QString SenderPassword() const;
    QString TestRecipient() const;
    // The status line: what the last test mail is doing or how it ended.
    QString StatusText() const;
    // True while a test mail is under way (Send is disabled meanwhile).
    bool Sending() const { return m_sending; }

public slots:
    // Copies the account to the settings, marks the document modified, stores the server.
    void accept() override;

private:
    void Send();
    void SecurityChosen(int security);
    void ShowOutcome(bool sent, const QString& address);
    void FitStatus();
    // Writes the server fields to the profile; an unusable port becomes the security's.
    void StoreServer();

    struct Relay;
    MailDialogHost m_host;
    std::shared_ptr<Relay> m_relay; // carries outcomes back while the dialog lives
    QLineEdit* m_sender = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_to = nullptr;
    QPushButton* m_users = nullptr;
    QPushButton* m_send = nullptr;
    QLabel* m_status = nullptr;
    QLineEdit* m_server = nullptr;
    QLineEdit* m_port = nullptr;
    QComboBox* m_security = nullptr;
    QCheckBox* m_verify = nullptr;
    QLineEdit* m_caFile = nullptr;
    bool m_portTyped = false; // the user typed a port: it no longer follows the security
    bool m_sending = false;
};
