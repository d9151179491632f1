#include <utility>

#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "support/QtPrinters.h"

TEST(CodePage, Ansi_Utf8UnderCLocaleElseFromProfile)
{
    const auto setAnsi = [](const QString& value) {
        WriteProfileString(kProfileCodePage, value);
        ReloadCodePages();
    };
    const QByteArray saved = qgetenv("LC_ALL");
    qputenv("LC_ALL", "C"); // codeset ANSI_X3.4-1968
    setAnsi({});
    const QString emoji = QStringLiteral("Alarm \u00e9\u4e2d\U0001F600");
    EXPECT_EQ(WideToCodePage(emoji, CodePage::Ansi), emoji.toUtf8());
    EXPECT_EQ(CodePageToWide(emoji.toUtf8(), CodePage::Oem), emoji);
    saved.isNull() ? qunsetenv("LC_ALL") : qputenv("LC_ALL", saved);

    setAnsi("936");
    EXPECT_EQ(CodesetName(CodePage::Oem), "CP936"); // OEM follows ANSI unless set
    const QString text = QStringLiteral("\u4e2d\u6587 OK");
    EXPECT_EQ(WideToCodePage(text, CodePage::Ansi), "\xD6\xD0\xCE\xC4 OK");
    EXPECT_EQ(CodePageToWide("\xD6\xD0\xCE\xC4 OK", CodePage::Ansi), text);
    setAnsi(" cp1252 ");
    EXPECT_TRUE(WideToFileCodePage(QStringLiteral("\u4e2d.znr")).isNull());
    EXPECT_EQ(WideToFileCodePage(QStringLiteral("Caf\u00e9.znr")), "Caf\xE9.znr");
    setAnsi({});
}

// Strict conversion fails exactly where the '#' replacement is needed; bytes a codeset does not
// have become the replacement character.
TEST(CodePage, Codesets_ReplacementFailureEmptyTextAndInvalidBytes)
{
    const std::pair<QString, QByteArray> cases[] = {
        {QStringLiteral("caf\u00e9 \u20ac"), "caf\xE9 \x80"},
        {QStringLiteral("a\u4e2db"), "a#b"},
        {QStringLiteral("a\U0001F600b"), "a#b"}}; // one '#' for a surrogate pair
    for (const auto& [text, replaced] : cases) {
        EXPECT_EQ(WideToCodeset(text, "CP1252", '#'), replaced);
        EXPECT_EQ(WideToCodeset(text, "CP1252").isNull(), replaced.contains('#'));
    }
    for (const char* codeset : {"UTF-8", "CP936"}) {
        const QByteArray out = WideToCodeset(QString(), codeset);
        EXPECT_TRUE(!out.isNull() && out.isEmpty()) << codeset;
    }
    const char* invalid[][3] = {{"UTF-8", "a\xFF!", "a\uFFFD!"},
                                {"CP1252", "a\x81!", "a\uFFFD!"},
                                {"CP936", "\xD6\xD0\xD6", "\u4E2D\uFFFD"}}; // cut at the end
    for (const auto& c : invalid) {
        EXPECT_EQ(CodesetToWide(c[1], c[0]), QString::fromUtf8(c[2])) << c[0];
    }
}
