#include "mail/DlgMail.h"

#include <algorithm>
#include <iterator>
#include <mutex>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "mail/SmtpSession.h"
#include "platform/DialogParts.h"
#include "platform/DigitEdit.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

// The outcome of a test mail arrives on the mail worker's thread, possibly after the dialog
// is gone: it reaches the dialog only through this, which the dialog disowns when it ends.
struct CDlgMail::Relay
{
    std::mutex lock;
    CDlgMail* dialog = nullptr; // guarded by lock; null once the dialog is destroyed
};

namespace {

constexpr int kEditWidth = 240; // room for a mailbox address or a host name

QLineEdit* Edit(const char* name, QLineEdit* edit = new QLineEdit)
{
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMinimumWidth(kEditWidth);
    return edit;
}

} // namespace

QString CDlgMail::TestMailText()
{
    return QStringLiteral("This is a Test Mail from Zunaro.exe, and our support mail address is ") +
           QString::fromLatin1(kProfileMailTestRecipient.defaultValue) + QLatin1Char('.');
}

int CDlgMail::DefaultPort(int security)
{
    switch (security) {
    case CSmtpSession::SecurityStartTls:
        return 587;
    case CSmtpSession::SecurityImplicitTls:
        return 465;
    default:
        return 25;
    }
}

CDlgMail::CDlgMail(MailDialogHost host, QWidget* parent)
    : QDialog(parent), m_host(std::move(host)), m_relay(std::make_shared<Relay>())
{
    m_relay->dialog = this;
    setWindowTitle(LoadString(kIdsMailDlgTitle));

    const MailAccount account = m_host.account ? m_host.account() : MailAccount{};
    m_sender = Edit("sender");
    m_sender->setText(account.sender);
    m_password = Edit("password");
    m_password->setEchoMode(QLineEdit::Password);
    m_password->setText(account.password);
    auto* accountForm = new QFormLayout;
    accountForm->addRow(BuddyLabel(kIdsMailDlgSender, m_sender), m_sender);
    accountForm->addRow(BuddyLabel(kIdsMailDlgPassword, m_password), m_password);

    m_to = Edit("to");
    m_to->setText(GetProfileString(kProfileMailTestRecipient));
    m_users = new QPushButton(LoadString(kIdsMailDlgUsers));
    m_users->setObjectName(QStringLiteral("users"));
    m_users->setToolTip(LoadString(kIdsMailDlgUsersTip));
    m_send = new QPushButton(LoadString(kIdsMailDlgSend));
    m_send->setObjectName(QStringLiteral("send"));
    m_status = new QLabel;
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_status->setMinimumHeight(2 * m_status->fontMetrics().lineSpacing());
    auto* testBox = new QGroupBox(LoadString(kIdsMailDlgTestGroup));
    auto* testGrid = new QGridLayout(testBox);
    testGrid->addWidget(BuddyLabel(kIdsMailDlgTo, m_to), 0, 0);
    testGrid->addWidget(m_to, 0, 1);
    testGrid->addWidget(m_users, 0, 2);
    testGrid->addWidget(m_send, 1, 2);
    testGrid->addWidget(m_status, 2, 0, 1, 3);
    testGrid->setColumnStretch(1, 1);

    int security = GetProfileInt(kProfileMailSecurity);
    if (security < CSmtpSession::SecurityNone || security > CSmtpSession::SecurityImplicitTls) {
        security = CSmtpSession::SecurityNone;
    }
    int port = GetProfileInt(kProfileMailPort);
    if (port < 1 || port > 65535) {
        port = DefaultPort(security);
    }
    m_portTyped = port != DefaultPort(security);
    m_server = Edit("server");
    m_server->setText(GetProfileString(kProfileMailServer));
    m_port = Edit("port", new CDigitEdit);
    m_port->setMaxLength(5);
    m_port->setMinimumWidth(0);
    m_port->setMaximumWidth(m_port->fontMetrics().horizontalAdvance(QStringLiteral("0000000")));
    m_port->setText(QString::number(port));
    m_security = new QComboBox;
    m_security->setObjectName(QStringLiteral("security"));
    m_security->addItems({LoadString(kIdsMailDlgSecurityNone),
                          LoadString(kIdsMailDlgSecurityStartTls),
                          LoadString(kIdsMailDlgSecurityTls)});
    m_security->setCurrentIndex(security);
    m_verify = new QCheckBox(LoadString(kIdsMailDlgVerify));
    m_verify->setObjectName(QStringLiteral("verify"));
    m_verify->setChecked(GetProfileInt(kProfileMailVerifyCertificate) != 0);
    m_caFile = Edit("caFile");
    m_caFile->setText(GetProfileString(kProfileMailCaFile));
    auto* serverBox = new QGroupBox(LoadString(kIdsMailDlgServerGroup));
    auto* serverForm = new QFormLayout(serverBox);
    serverForm->addRow(BuddyLabel(kIdsMailDlgServer, m_server), m_server);
    serverForm->addRow(BuddyLabel(kIdsMailDlgPort, m_port), m_port);
    serverForm->addRow(BuddyLabel(kIdsMailDlgSecurity, m_security), m_security);
    serverForm->addRow(QString(), m_verify);
    serverForm->addRow(BuddyLabel(kIdsMailDlgCaFile, m_caFile), m_caFile);

    QDialogButtonBox* buttons = OkCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(accountForm);
    layout->addWidget(testBox);
    layout->addWidget(serverBox);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    auto* ok = buttons->findChild<QPushButton*>(QStringLiteral("ok"));

    QWidget* order[] = {m_sender, m_password, m_to,     m_users,  m_send, m_server,
                        m_port,   m_security, m_verify, m_caFile, ok};
    for (std::size_t i = 1; i < std::size(order); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    connect(m_send, &QPushButton::clicked, this, &CDlgMail::Send);
    connect(m_users, &QPushButton::clicked, this, [this] {
        if (m_host.openUserList) {
            m_host.openUserList(this); // only a look-up: the To address stays as typed
        }
    });
    connect(m_port, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_portTyped = !text.isEmpty(); });
    connect(m_security, &QComboBox::currentIndexChanged, this, &CDlgMail::SecurityChosen);
    SecurityChosen(security);
}

CDlgMail::~CDlgMail()
{
    std::lock_guard<std::mutex> guard(m_relay->lock);
    m_relay->dialog = nullptr;
}

QString CDlgMail::SenderMailbox() const
{
    return m_sender->text();
}

QString CDlgMail::SenderPassword() const
{
    return m_password->text();
}

QString CDlgMail::TestRecipient() const
{
    return m_to->text();
}

QString CDlgMail::StatusText() const
{
    return m_status->text();
}

void CDlgMail::accept()
{
    StoreServer();
    if (m_host.setAccount) {
        m_host.setAccount(SenderMailbox(), SenderPassword());
    }
    if (m_host.markModified) {
        m_host.markModified();
    }
    QDialog::accept();
}

void CDlgMail::Send()
{
    const QString to = TestRecipient();
    // Remembered for the next opening, also when the dialog is cancelled.
    WriteProfileString(kProfileMailTestRecipient, to);
    StoreServer();
    // The test goes out with the account as typed, and the mail worker keeps it from now on.
    if (m_host.setAccount) {
        m_host.setAccount(SenderMailbox(), SenderPassword());
    }
    if (!m_host.queueMail) {
        return;
    }
    m_sending = true;
    m_send->setEnabled(false);
    m_status->setText(FormatText(LoadString(kIdsMailDlgSending), {to}));
    FitStatus();
    m_host.queueMail(to, TestMailText(), [relay = m_relay, to](bool sent) {
        std::lock_guard<std::mutex> guard(relay->lock);
        if (CDlgMail* dialog = relay->dialog) {
            // Posted while the dialog surely lives; Qt drops it if the dialog goes first.
            QMetaObject::invokeMethod(
                dialog, [dialog, sent, to] { dialog->ShowOutcome(sent, to); },
                Qt::QueuedConnection);
        }
    });
}

void CDlgMail::ShowOutcome(bool sent, const QString& address)
{
    m_sending = false;
    m_send->setEnabled(true);
    m_status->setText(
        FormatText(LoadString(sent ? kIdsMailDlgSent : kIdsMailDlgFailed), {address}));
    FitStatus();
}

void CDlgMail::FitStatus()
{
    // A long address wraps the status line: the dialog grows rather than cut it off.
    if (const int needed = heightForWidth(width()); needed > height()) {
        resize(width(), needed);
    }
}

void CDlgMail::SecurityChosen(int security)
{
    if (!m_portTyped) {
        m_port->setText(QString::number(DefaultPort(security)));
    }
    const bool tls = security != CSmtpSession::SecurityNone;
    m_verify->setEnabled(tls);
    m_caFile->setEnabled(tls);
}

void CDlgMail::StoreServer()
{
    const int security = std::max(0, m_security->currentIndex());
    bool ok = false;
    int port = m_port->text().toInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        port = DefaultPort(security);
    }
    const QString server = m_server->text().trimmed();
    WriteProfileString(kProfileMailServer,
                       server.isEmpty() ? QString::fromLatin1(kProfileMailServer.defaultValue)
                                        : server);
    WriteProfileInt(kProfileMailPort, port);
    WriteProfileInt(kProfileMailSecurity, security);
    WriteProfileInt(kProfileMailVerifyCertificate, m_verify->isChecked() ? 1 : 0);
    WriteProfileString(kProfileMailCaFile, m_caFile->text().trimmed());
}
