#include "sms/DlgModem.h"

#include <algorithm>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "eventlog/EventSink.h"
#include "platform/DialogParts.h"
#include "platform/DigitEdit.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/SerialPort.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "sms/GsmModem.h"

namespace {

// The port list; the device behind each name is looked up again whenever the list opens, so
// a modem plugged in while the dialog is open shows up.
class CPortCombo : public QComboBox
{
public:
    using QComboBox::QComboBox;

    void showPopup() override
    {
        for (int i = 0; i < count(); ++i) {
            setItemText(i, CDlgModem::PortItemText(i));
        }
        QComboBox::showPopup();
    }
};

} // namespace

CDlgModem::CDlgModem(CModemSlot& modem, ModemDialogHooks hooks, QWidget* parent)
    : QDialog(parent), m_modem(modem), m_hooks(std::move(hooks))
{
    setWindowTitle(LoadString(kIdsModemDlgTitle));

    m_port = new CPortCombo(this);
    m_port->setObjectName(QStringLiteral("port"));
    // A settings file may name a port beyond COM9: it is offered too, so OK keeps it.
    const int current = std::max(0, m_hooks.comPort);
    for (int i = 0; i < std::max(kPortCount, current + 1); ++i) {
        m_port->addItem(PortItemText(i));
    }
    m_port->setCurrentIndex(current);

    m_phone = new CDigitEdit(this);
    m_phone->setObjectName(QStringLiteral("phone"));
    m_phone->setText(GetProfileString(kProfileDtuTelephone));
    m_text = new QLineEdit(this);
    m_text->setObjectName(QStringLiteral("text"));
    m_text->setText(GetProfileString(kProfileDtuMessage));
    m_text->setMinimumWidth(fontMetrics().averageCharWidth() * 36);

    auto* users = new QPushButton(LoadString(kIdsModemDlgBrowse), this);
    users->setObjectName(QStringLiteral("users"));
    users->setToolTip(LoadString(kIdsModemDlgUserList));
    users->setAccessibleName(LoadString(kIdsModemDlgUserList));
    users->setAutoDefault(false);
    auto* send = new QPushButton(LoadString(kIdsModemDlgSend), this);
    send->setObjectName(QStringLiteral("send"));
    send->setAutoDefault(false);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("status"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    QDialogButtonBox* buttons = OkCancelButtons(this);

    auto* grid = new QGridLayout;
    grid->addWidget(BuddyLabel(kIdsModemDlgPort, m_port, this), 0, 0);
    grid->addWidget(m_port, 0, 1, 1, 2);
    grid->addWidget(BuddyLabel(kIdsModemDlgPhone, m_phone, this), 1, 0);
    grid->addWidget(m_phone, 1, 1);
    grid->addWidget(users, 1, 2);
    grid->addWidget(BuddyLabel(kIdsModemDlgText, m_text, this), 2, 0);
    grid->addWidget(m_text, 2, 1);
    grid->addWidget(send, 2, 2);
    grid->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(m_status);
    layout->addStretch();
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetMinimumSize);

    setTabOrder(m_port, m_phone);
    setTabOrder(m_phone, users);
    setTabOrder(users, m_text);
    setTabOrder(m_text, send);
    setTabOrder(send, buttons);

    connect(send, &QPushButton::clicked, this, [this] { SendTest(); });
    connect(users, &QPushButton::clicked, this, [this] {
        if (m_hooks.openUserList) {
            m_hooks.openUserList(this);
        }
    });
}

int CDlgModem::PortIndex() const
{
    return std::max(0, m_port->currentIndex());
}

QString CDlgModem::PortItemText(int index)
{
    const QString name = SerialPortName(index);
    const QString device = ResolveSerialDevice(name);
    return device.isEmpty() ? FormatText(LoadString(kIdsModemDlgPortNone), {name})
                            : FormatText(LoadString(kIdsModemDlgPortDevice), {name, device});
}

bool CDlgModem::SendTest()
{
    const QString phone = m_phone->text();
    const QString text = m_text->text();
    const unsigned problem = phone.size() < kMinPhoneLength ? kIdsTelephoneWrong
                             : text.isEmpty()               ? kIdsSmsTextEmpty
                                                            : 0;
    if (problem != 0) {
        EventSink(EventType::Error, LoadString(problem));
        ShowStatus(LoadString(problem));
        return false;
    }
    // The new driver sets the modem up on its own thread; the message waits in its queue
    // until the modem is ready, so nothing here waits for the port.
    const int port = PortIndex();
    m_modem.Replace(port);
    m_sentPort = port;
    m_modem.QueueSms(phone, text);
    ShowStatus(FormatText(LoadString(kIdsModemDlgQueued), {phone, m_port->currentText()}));
    return true;
}

void CDlgModem::accept()
{
    WriteProfileString(kProfileDtuTelephone, m_phone->text());
    WriteProfileString(kProfileDtuMessage, m_text->text());
    const int port = PortIndex();
    // Alarms go out on the port the settings name: the driver moves there unless it is there
    // already (on the settings' port, or where a test send of this dialog put it).
    if (port != (m_sentPort >= 0 ? m_sentPort : m_hooks.comPort)) {
        m_modem.Replace(port);
    }
    if (m_hooks.storeComPort) {
        m_hooks.storeComPort(port);
    }
    if (m_hooks.markModified) {
        m_hooks.markModified();
    }
    QDialog::accept();
}

void CDlgModem::ShowStatus(const QString& text)
{
    m_status->setText(text);
}
