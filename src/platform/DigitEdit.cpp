#include "platform/DigitEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>

bool IsAllDigits(const QString& text)
{
    if (text.isEmpty()) {
        return false;
    }
    // ASCII digits only: full-width or other scripts' digits would make a number that no
    // modem can dial.
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return false;
        }
    }
    return true;
}

CDigitEdit::CDigitEdit(QWidget* parent) : QLineEdit(parent)
{
    setAcceptDrops(false);
}

bool CDigitEdit::InsertIfDigits(const QString& text)
{
    if (!IsAllDigits(text)) {
        QApplication::beep();
        return false;
    }
    insert(text);
    return true;
}

bool CDigitEdit::PasteDigits()
{
    if (isReadOnly()) {
        return false;
    }
    const QMimeData* data = QApplication::clipboard()->mimeData();
    return InsertIfDigits(data && data->hasText() ? data->text() : QString());
}

void CDigitEdit::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Paste)) {
        PasteDigits();
        event->accept();
        return;
    }
    const QString text = event->text();
    // Keys without text (arrows, Home) and control characters (Backspace, Tab) edit as usual.
    if (!text.isEmpty() && text.front().unicode() >= 32 && !IsAllDigits(text)) {
        QApplication::beep();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void CDigitEdit::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu* menu = createStandardContextMenu();
    for (QAction* action : menu->actions()) {
        if (action->objectName() == QLatin1String("edit-paste")) {
            action->disconnect();
            connect(action, &QAction::triggered, this, &CDigitEdit::PasteDigits);
        }
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void CDigitEdit::mouseReleaseEvent(QMouseEvent* event)
{
    // The selection paste of the middle button obeys the same rule as any other paste.
    if (event->button() == Qt::MiddleButton && QApplication::clipboard()->supportsSelection()) {
        if (!isReadOnly()) {
            InsertIfDigits(QApplication::clipboard()->text(QClipboard::Selection));
        }
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void CDigitEdit::inputMethodEvent(QInputMethodEvent* event)
{
    const QString commit = event->commitString();
    if (!commit.isEmpty() && !IsAllDigits(commit)) {
        QApplication::beep();
        QInputMethodEvent cleared(event->preeditString(), event->attributes());
        QLineEdit::inputMethodEvent(&cleared);
        return;
    }
    QLineEdit::inputMethodEvent(event);
}
