#include "platform/DigitEdit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTest>

#include "support/QtPrinters.h"

namespace {

struct Entry
{
    const char* what;
    QString input;
    QString expected; // the edit's text afterwards, starting from "1"
};

class DigitEditInput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        edit.setText(QStringLiteral("1"));
        edit.show();
        edit.setFocus();
    }
    CDigitEdit edit;
};

} // namespace

// Letters, '+', spaces and digits of other scripts (a full-width digit from a Chinese input
// method) never reach a telephone number; digits and editing keys do.
TEST_F(DigitEditInput, Typed_OnlyAsciiDigits)
{
    const Entry table[] = {
        {"digits", QStringLiteral("38"), QStringLiteral("138")},
        {"letter and plus", QStringLiteral("a+"), QStringLiteral("1")},
        {"mixed", QStringLiteral("2 x3"), QStringLiteral("123")},
        {"full-width", QStringLiteral("\uFF12\u0663"), QStringLiteral("1")},
    };
    for (const Entry& e : table) {
        edit.setText(QStringLiteral("1"));
        for (const QChar c : e.input) { // as a keyboard or an input method's key delivers it
            QKeyEvent key(QEvent::KeyPress, c.isDigit() ? Qt::Key_0 : Qt::Key_A, Qt::NoModifier, c);
            QApplication::sendEvent(&edit, &key);
        }
        EXPECT_EQ(edit.text(), e.expected) << e.what;
    }
    QTest::keyClick(&edit, Qt::Key_Backspace);
    EXPECT_EQ(edit.text(), QString());
}

// Every way of pasting goes in whole or not at all.
TEST_F(DigitEditInput, Paste_WholeOrNothing)
{
    const Entry table[] = {
        {"eleven digits", QStringLiteral("3800138000"), QStringLiteral("13800138000")},
        {"digits and letters", QStringLiteral("138abc"), QStringLiteral("1")},
        {"number with plus", QStringLiteral("+8613800138000"), QStringLiteral("1")},
        {"empty", QString(), QStringLiteral("1")},
        {"full-width", QStringLiteral("\uFF11\uFF13"), QStringLiteral("1")},
    };
    for (const Entry& e : table) {
        QApplication::clipboard()->setText(e.input);
        edit.setText(QStringLiteral("1"));
        QTest::keySequence(&edit, QKeySequence::Paste);
        EXPECT_EQ(edit.text(), e.expected) << e.what << " (keyboard)";
        edit.setText(QStringLiteral("1"));
        EXPECT_EQ(edit.PasteDigits(), e.expected != QStringLiteral("1")) << e.what;
        EXPECT_EQ(edit.text(), e.expected) << e.what << " (menu)";
        edit.setText(QStringLiteral("1"));
        QInputMethodEvent commit;
        commit.setCommitString(e.input);
        QApplication::sendEvent(&edit, &commit);
        EXPECT_EQ(edit.text(), e.expected) << e.what << " (input method)";
    }
    // Text the program sets (an imported number) stays as it is, so it can be edited down.
    edit.setText(QStringLiteral("+86 138"));
    EXPECT_EQ(edit.text(), QStringLiteral("+86 138"));
}
