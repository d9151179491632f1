#pragma once

#include <QDialog>

class CStaticLink;

// The About box: the program's icon and name, the build line with the build date, a notice
// line and the link to the project's web page.
class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    CStaticLink* Link() const { return m_link; }

    // __DATE__ of this build as "Mar 25 2016" (the single-digit day without its padding).
    static QString BuildDate();
    // A compiler's date ("Mar  5 2016") in that form ("Mar 5 2016").
    static QString NormaliseDate(const char* compilerDate);

private:
    CStaticLink* m_link = nullptr;
};
