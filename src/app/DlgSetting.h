#pragma once

#include <QDialog>

class CLangResource;
class QComboBox;
class QPushButton;

// The Setting dialog: the available languages, each under its own name, with the language in
// use selected. OK switches to the chosen language and stores it in the profile; Default
// switches back to English. Choosing the language already in use closes as Cancel and
// writes nothing, so the caller rebuilds its texts only after a real switch.
class CDlgSetting : public QDialog
{
    Q_OBJECT

public:
    // languages must outlive the dialog.
    explicit CDlgSetting(CLangResource& languages, QWidget* parent = nullptr);

    QComboBox* LanguageList() const { return m_list; }
    QPushButton* DefaultButton() const { return m_default; }

    void accept() override;

private:
    void SwitchTo(unsigned langId);

    CLangResource& m_languages;
    QComboBox* m_list = nullptr;
    QPushButton* m_default = nullptr;
};
