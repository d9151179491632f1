#include "platform/DialogParts.h"

#include <utility>

#include <QAbstractButton>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
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

void LabelMessageBoxButtons(QMessageBox& box)
{
    const std::pair<QMessageBox::StandardButton, unsigned> labels[] = {
        {QMessageBox::Ok, kIdsButtonOk},
        {QMessageBox::Yes, kIdsButtonYes},
        {QMessageBox::No, kIdsButtonNo},
        {QMessageBox::Cancel, kIdsButtonCancel}};
    for (const auto& [button, text] : labels) {
        if (QAbstractButton* b = box.button(button)) {
            b->setText(LoadString(text));
        }
    }
}

QLabel* BuddyLabel(unsigned id, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(LoadString(id), parent);
    label->setBuddy(buddy);
    return label;
}
