#include "platform/DigitEdit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTest>

#include "support/QtPrinters.h"

// Letters, '+', spaces and digits of other scripts (a full-width digit from a Chinese input
// method) never reach a telephone number, typed or pasted; a paste goes in whole or not at
// all, by keyboard, menu or input method. Text the program sets (an imported number) stays.
TEST(DigitEdit, OnlyAsciiDigitsGoIn)
{
    const struct
    {
        bool paste;
        QString input;
        QString expected; // starting from "1"
    } table[] = {
        {false, "38", "138"},
        {false, "a+", "1"},
        {false, "2 x3", "123"},
        {false, "\uFF12\u0663", "1"},
        {true, "3800138000", "13800138000"},
        {true, "138abc", "1"},
        {true, "+8613800138000", "1"},
        {true, "", "1"},
        {true, "\uFF11\uFF13", "1"},
    };
    CDigitEdit edit;
    edit.show();
    for (const auto& e : table) {
        const std::string row = e.input.toStdString();
        edit.setText("1");
        if (!e.paste) {
            for (const QChar c : e.input) { // as a keyboard or an input method's key sends it
                QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, c);
                QApplication::sendEvent(&edit, &key);
            }
            EXPECT_EQ(edit.text(), e.expected) << row;
            continue;
        }
        QApplication::clipboard()->setText(e.input);
        QTest::keySequence(&edit, QKeySequence::Paste);
        EXPECT_EQ(edit.text(), e.expected) << row << " (keyboard)";
        edit.setText("1");
        EXPECT_EQ(edit.PasteDigits(), e.expected != "1") << row;
        EXPECT_EQ(edit.text(), e.expected) << row << " (menu)";
        edit.setText("1");
        QInputMethodEvent commit;
        commit.setCommitString(e.input);
        QApplication::sendEvent(&edit, &commit);
        EXPECT_EQ(edit.text(), e.expected) << row << " (input method)";
    }
    edit.setText("+86 138");
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), "+86 13");
}
