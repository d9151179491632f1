#include "recipients/DlgUser.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "platform/DialogParts.h"
#include "platform/DigitEdit.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "recipients/User.h"
#include "recipients/UserList.h"

namespace {

// Shortest telephone number the dialog accepts (a mobile number without country code).
constexpr int kMinTelephoneLength = 11;

} // namespace

void ShowUserMessage(QWidget* parent, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, LoadString(kIdsAppTitle), text, QMessageBox::Ok, parent);
    LabelMessageBoxButtons(box);
    box.exec();
}

CDlgUser::CDlgUser(CUserList& users, QWidget* parent) : QDialog(parent), m_users(users)
{
    Build(GetProfileString(kProfileUserName), GetProfileString(kProfileUserPhone),
          GetProfileString(kProfileUserMail));
}

CDlgUser::CDlgUser(CUserList& users, CUser* user, QWidget* parent)
    : QDialog(parent), m_users(users), m_user(user)
{
    Build(user->Name, user->Telephone, user->Mail);
}

CDlgUser::~CDlgUser() = default;

void CDlgUser::Build(const QString& name, const QString& telephone, const QString& mail)
{
    setWindowTitle(LoadString(kIdsUserTitle));
    m_name = new QLineEdit(name, this);
    m_telephone = new CDigitEdit(this);
    m_telephone->setText(telephone);
    m_mail = new QLineEdit(mail, this);
    for (QLineEdit* edit : {m_name, static_cast<QLineEdit*>(m_telephone), m_mail}) {
        edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 32);
    }

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    const auto addRow = [this, form](unsigned labelId, QLineEdit* edit) {
        form->addRow(BuddyLabel(labelId, edit, this), edit);
    };
    addRow(kIdsUserNameLabel, m_name);
    addRow(kIdsUserTelephoneLabel, m_telephone);
    addRow(kIdsUserMailLabel, m_mail);

    QDialogButtonBox* buttons = OkCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    setTabOrder(m_name, m_telephone);
    setTabOrder(m_telephone, m_mail);
    m_name->setFocus();
    m_name->selectAll();
}

unsigned CDlgUser::Check(const QString& telephone, const QString& mail) const
{
    if (telephone.isEmpty() && mail.isEmpty()) {
        return kIdsUserEmpty;
    }
    if (!telephone.isEmpty() && telephone.size() < kMinTelephoneLength) {
        return kIdsTelephoneError;
    }
    if (!mail.isEmpty() && !mail.contains(u'@')) {
        return kIdsMailError;
    }
    if (!telephone.isEmpty()) {
        const CUser* other = m_users.FindByTelephone(telephone);
        if (other != nullptr && other != m_user) {
            return kIdsTelephoneExists;
        }
    }
    if (!mail.isEmpty()) {
        const CUser* other = m_users.FindByMail(mail);
        if (other != nullptr && other != m_user) {
            return kIdsMailExists;
        }
    }
    return 0;
}

void CDlgUser::accept()
{
    const CUser values(m_name->text(), m_telephone->text(), m_mail->text());
    if (const unsigned fault = Check(values.Telephone, values.Mail)) {
        ShowUserMessage(this, LoadString(fault));
        return;
    }
    if (m_user != nullptr) {
        m_users.Update(m_user, values);
    } else {
        m_newUser = std::make_unique<CUser>(values);
    }
    WriteProfileString(kProfileUserName, values.Name);
    WriteProfileString(kProfileUserPhone, values.Telephone);
    WriteProfileString(kProfileUserMail, values.Mail);
    QDialog::accept();
}

std::unique_ptr<CUser> CDlgUser::TakeNewUser()
{
    return std::move(m_newUser);
}
