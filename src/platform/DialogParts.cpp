#include "platform/DialogParts.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

#include "platform/StringIds.h"
#include "platform/StringTable.h"

QDialogButtonBox* OkCancelButtons(QDialog* dialog, bool withCancel)
{
    // Made inside the dialog, so that the dialog keeps OK as its default button.
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton(LoadString(kIdsButtonOk), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    if (withCancel) {
        buttons->addButton(LoadString(kIdsButtonCancel), QDialogButtonBox::RejectRole)
            ->setObjectName(QStringLiteral("cancel"));
        QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    }
    return buttons;
}

QLabel* BuddyLabel(unsigned id, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(LoadString(id), parent);
    label->setBuddy(buddy);
    return label;
}
