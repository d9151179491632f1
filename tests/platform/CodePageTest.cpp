#include <tuple>
#include <utility>

#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "support/QtPrinters.h"

namespace {

// Sets the profile's ANSI code page (empty: the locale's) and makes the next call read it.
void SetAnsiCodePage(const QString& value)
{
    WriteProfileString(kProfileCodePage, value);
    ReloadCodePages();
}

} // namespace

TEST(CodePage, NormalizeCodesetName_ProfileValues)
{
    const char* cases[][2] = {{"936", "CP936"}, {"65001", "UTF-8"}, {"cp1252", "CP1252"},
                              {" gbk ", "GBK"}, {"20127", "ASCII"}, {"28591", "ISO-8859-1"},
                              {"  ", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(NormalizeCodesetName(c[0]), QByteArray(c[1])) << c[0];
    }
}

TEST(CodePage, Ansi_Utf8ByDefaultAndForCLocale)
{
    SetAnsiCodePage({});
    const QString text = QStringLiteral("Alarm \u00e9\u4e2d\U0001F600");
    EXPECT_EQ(WideToCodePage(text, CodePage::Ansi), text.toUtf8());
    EXPECT_EQ(CodePageToWide(text.toUtf8(), CodePage::Oem), text);

    const QByteArray saved = qgetenv("LC_ALL");
    for (const char* locale : {"C", "POSIX"}) { // codeset ANSI_X3.4-1968
        qputenv("LC_ALL", locale);
        ReloadCodePages();
        EXPECT_EQ(CodesetName(CodePage::Ansi), "UTF-8") << locale;
    }
    saved.isNull() ? qunsetenv("LC_ALL") : qputenv("LC_ALL", saved);
    ReloadCodePages();
}

TEST(CodePage, Ansi_FromProfile)
{
    SetAnsiCodePage("936");
    EXPECT_EQ(CodesetName(CodePage::Oem), "CP936"); // OEM follows ANSI unless set
    const QString text = QStringLiteral("\u4e2d\u6587 OK");
    EXPECT_EQ(WideToCodePage(text, CodePage::Ansi), "\xD6\xD0\xCE\xC4 OK");
    EXPECT_EQ(CodePageToWide("\xD6\xD0\xCE\xC4 OK", CodePage::Ansi), text);

    SetAnsiCodePage("1252"); // a file name the code page cannot hold
    EXPECT_TRUE(WideToFileCodePage(QStringLiteral("\u4e2d.znr")).isNull());
    EXPECT_EQ(WideToFileCodePage(QStringLiteral("Caf\u00e9.znr")), "Caf\xE9.znr");
    SetAnsiCodePage({});
}

TEST(CodePage, WideToCodeset_UnrepresentableCharacterAndEmptyText)
{
    // With '#' as replacement; strict conversion fails where the result holds a '#'.
    const std::pair<QString, QByteArray> cases[] = {
        {QStringLiteral("caf\u00e9 \u20ac"), "caf\xE9 \x80"},
        {QStringLiteral("a\u4e2db"), "a#b"},
        {QStringLiteral("a\U0001F600b"), "a#b"}, // one '#' for a surrogate pair
        {QStringLiteral("\u03a9\u03a9"), "##"}};
    for (const auto& [text, replaced] : cases) {
        EXPECT_EQ(WideToCodeset(text, "CP1252", '#'), replaced);
        EXPECT_EQ(WideToCodeset(text, "CP1252").isNull(), replaced.contains('#'))
            << replaced.constData();
    }
    for (const char* codeset : {"UTF-8", "CP1252", "CP936"}) { // empty text is not a failure
        const QByteArray out = WideToCodeset(QString(), codeset);
        EXPECT_TRUE(!out.isNull() && out.isEmpty()) << codeset;
    }
}

TEST(CodePage, InvalidBytes_DecodeToReplacementCharacter)
{
    const std::tuple<const char*, QByteArray, QString> cases[] = {
        {"UTF-8", "a\xFF!", QStringLiteral("a\ufffd!")},
        {"CP1252", "a\x81!", QStringLiteral("a\ufffd!")},
        {"CP936", "a\xFF!", QStringLiteral("a\ufffd!")},
        {"CP936", "\xD6\xD0\xD6", QStringLiteral("\u4e2d\ufffd")}}; // cut at the end
    for (const auto& [codeset, bytes, expected] : cases) {
        EXPECT_EQ(CodesetToWide(bytes, codeset), expected) << codeset;
    }
}
