#include "app/DlgSetting.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/LangResource.h"
#include "platform/DialogParts.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

namespace {

// Room for the longer language names without the list growing with every catalogue.
constexpr int kListMinimumChars = 20;

} // namespace

CDlgSetting::CDlgSetting(CLangResource& languages, QWidget* parent)
    : QDialog(parent), m_languages(languages)
{
    setWindowTitle(LoadString(kIdsSettingTitle));
    m_list = new QComboBox(this);
    m_list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_list->setMinimumContentsLength(kListMinimumChars);
    for (std::uint16_t id : m_languages.AvailableLanguages()) {
        m_list->addItem(CLangResource::LanguageName(id), id);
    }
    m_list->setCurrentIndex(m_list->findData(m_languages.CurrentLanguage()));
    QLabel* label = BuddyLabel(kIdsSettingLanguage, m_list, this);

    QDialogButtonBox* buttons = OkCancelButtons(this);
    m_default = buttons->addButton(LoadString(kIdsSettingDefault), QDialogButtonBox::ResetRole);
    m_default->setAutoDefault(false);
    connect(m_default, &QPushButton::clicked, this, [this] { SwitchTo(CLangResource::kEnglish); });

    auto* form = new QFormLayout;
    form->addRow(label, m_list);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CDlgSetting::accept()
{
    if (m_list->currentIndex() < 0) {
        reject();
        return;
    }
    SwitchTo(m_list->currentData().toUInt());
}

void CDlgSetting::SwitchTo(unsigned langId)
{
    if (langId == m_languages.CurrentLanguage()) {
        reject();
        return;
    }
    m_languages.SelectLanguage(langId);
    WriteProfileInt(kProfileLanguage, static_cast<int>(langId));
    QDialog::accept();
}
