#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include "capture/AlarmText.h"

namespace {

QString Alarm(const QByteArray& bytes)
{
    return MakeAlarmText(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

struct TrimCase
{
    const char* name;
    QByteArray input;
    QString expected;
};

} // namespace

TEST(AlarmText, Trims_ByteExamples)
{
    const TrimCase cases[] = {
        {"cut and trailing one", QByteArray("ALARM 1\r\n\f"), u"ALARM"_qs},
        {"every trailing one", QByteArray("Pump 11"), u"Pump"_qs},
        {"leading runs of own char only", QByteArray("\r\n\r\nText"), u"\r\nText"_qs},
        {"trim order", QByteArray("Tank high\r\n\xB5\xDA\x20\x31"), u"Tank high"_qs},
        {"high byte cut at end", QByteArray("Hot\xE9"), u"Hot"_qs},
        {"high byte kept inside", QByteArray("Caf\xE9 open"), QString::fromLatin1("Caf\xE9 open")},
        {"only control bytes", QByteArray("\r\n\f"), QString()},
        {"leading spaces", QByteArray("   Fire\r\n"), u"Fire"_qs},
        {"one inside is kept", QByteArray("Line 1 up"), u"Line 1 up"_qs},
        {"digits other than one", QByteArray("Zone 21\r\n"), u"Zone 2"_qs},
    };
    for (const TrimCase& c : cases) {
        EXPECT_EQ(Alarm(c.input), c.expected) << c.name;
    }
}

TEST(AlarmText, Nul_EndsTheText)
{
    EXPECT_EQ(Alarm(QByteArray("Door open 1\0garbage\r\n", 21)), u"Door open"_qs);
    EXPECT_EQ(Alarm(QByteArray("\0\0\0", 3)), QString());
    // NUL before the trailing cut: the cut still acts on the whole chunk first.
    EXPECT_EQ(Alarm(QByteArray("A\0B\xFF", 4)), u"A"_qs);
}

TEST(AlarmText, Utf8_DecodedAndTrimmedByCharacter)
{
    const TrimCase cases[] = {
        {"accents kept at the end", QByteArray("Temp\xC3\xA9rature \xC3\xA9lev\xC3\xA9\x65 1\r\n"),
         u"Température élevée"_qs},
        {"final non-ASCII letter kept", QByteArray("Haute temp\xC3\xA9rature \xC3\xA9"),
         u"Haute température é"_qs},
        {"trim order on characters", QByteArray("Tank high\r\n\xC2\xB5\xC3\x9A 1"),
         u"Tank high"_qs},
        {"CJK", QByteArray("\xE6\xB0\xB4\xE4\xBD\x8D\xE9\xAB\x98 1\r\n\f"), u"水位高"_qs},
        {"astral character kept", QByteArray("Pump \xF0\x9F\x94\xA5\r\n"), u"Pump 🔥"_qs},
        {"C1 control cut", QByteArray("Valve \xC3\xA9\xC2\x85"), u"Valve é"_qs},
    };
    for (const TrimCase& c : cases) {
        EXPECT_TRUE(IsUtf8Chunk(c.input.constData(), static_cast<std::size_t>(c.input.size())))
            << c.name;
        EXPECT_EQ(Alarm(c.input), c.expected) << c.name;
    }
}

TEST(AlarmText, Utf8_CutCharactersAtChunkEdgesDropped)
{
    // "é" split between two 8200-byte receives: C3 ends one chunk, A9 starts the next.
    EXPECT_EQ(Alarm(QByteArray("Niveau \xC3\xA9lev\xC3")), u"Niveau élev"_qs);
    EXPECT_EQ(Alarm(QByteArray("\xA9 haut \xC3\xA9t\xC3\xA9")), u"haut été"_qs);
}

TEST(AlarmText, NotUtf8_WidenedByteByByte)
{
    // Valid UTF-8 needs every byte in a sequence: a stray Latin-1 byte makes the whole
    // chunk 8-bit, even beside a valid sequence.
    const QByteArray mixed("\xC3\xA9t\xE9 ok");
    EXPECT_FALSE(IsUtf8Chunk(mixed.constData(), static_cast<std::size_t>(mixed.size())));
    EXPECT_EQ(Alarm(mixed), QString::fromLatin1("\xC3\xA9t\xE9 ok"));
    // Overlong and surrogate encodings are not UTF-8.
    EXPECT_EQ(Alarm(QByteArray("A\xC0\xAF")).size(), 1);
    EXPECT_EQ(Alarm(QByteArray("X\xED\xA0\x80Y")), QString::fromLatin1("X\xED\xA0\x80Y"));
    // Plain ASCII stays byte mode, where only 0x20 to 0x7E count as printable.
    EXPECT_FALSE(IsUtf8Chunk("ALARM", 5));
}

TEST(AlarmText, Binary_NeverReadsPastTheChunk)
{
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<char>(255 - i);
    }
    // Every byte value, high first so the NUL comes last: the text keeps bytes up to the
    // last printable one (0x20 ... 0x7E region ends at 0x20 going down), widened one to one.
    const QString text = Alarm(all);
    ASSERT_EQ(text.size(), 256 - 32 - 1);
    EXPECT_EQ(text[0], QChar(0xFF));
    EXPECT_EQ(text.back(), QChar(u'!'));
    EXPECT_EQ(Alarm(QByteArray()), QString());
}
