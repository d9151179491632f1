#pragma once

#include <QLineEdit>

// A line edit that takes the digits 0 to 9 only: a typed character other than a digit or a
// control key is refused with a beep, and a paste (keyboard, context menu, middle button or
// input method) goes in only when every character of it is a digit; otherwise it beeps and
// inserts nothing. Text set by the program is taken as it is, so a number imported with other
// characters can still be edited down.
class CDigitEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit CDigitEdit(QWidget* parent = nullptr);

    // Pastes the clipboard's text if it is digits only; otherwise beeps. Returns whether it
    // pasted.
    bool PasteDigits();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    bool InsertIfDigits(const QString& text);
};

// Whether text is not empty and every character of it is an ASCII digit 0 to 9.
bool IsAllDigits(const QString& text);
