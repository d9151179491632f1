#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "capture/AlarmCounter.h"
#include "capture/AlarmText.h"
#include "capture/PrintData.h"
#include "capture/RawPrintServer.h"
#include "eventlog/EventLogFile.h"
#include "support/TestSupport.h"

namespace {

struct Case
{
    const char* name;
    QByteArray input;
    QString expected;
    bool utf8 = false;
};

// Every byte value, high first and NUL last.
QByteArray Descending()
{
    QByteArray all(256, '\0');
    for (int i = 0; i < 256; ++i) {
        all[i] = static_cast<char>(255 - i);
    }
    return all;
}

// The application's side of the callback: the print buffer and the fan-out it hands on to.
struct Owner : IPrintDataOwner
{
    const char* PrintBuffer() const override { return buffer; }
    void DispatchAlarm(const QString& text) override
    {
        dispatched.push_back(text); // one chunk at a time: the listener never overlaps them
        ++count;
    }

    char buffer[8200] = {};
    std::vector<QString> dispatched;
    std::atomic<std::size_t> count{0};
};

} // namespace

TEST(AlarmText, Chunks_CutTrimmedAndDecoded)
{
    const Case cases[] = {
        // 8-bit chunks: widened byte by byte, trailing non-printables cut, then the trims.
        {"cut and trailing one", "ALARM 1\r\n\f", u"ALARM"_qs},
        {"every trailing one", "Pump 11", u"Pump"_qs},
        {"leading runs of own char only", "\r\n\r\nText", u"\r\nText"_qs},
        {"trim order", "Tank high\r\n\xB5\xDA\x20\x31", u"Tank high"_qs},
        {"high byte cut at end", "Hot\xE9", u"Hot"_qs},
        {"high byte kept inside", "Caf\xE9 open", QString::fromLatin1("Caf\xE9 open")},
        {"only control bytes", "\r\n\f", QString()},
        {"one inside is kept", "Line 1 up", u"Line 1 up"_qs},
        {"digits other than one", "Zone 21\r\n", u"Zone 2"_qs},
        {"NUL ends the text", QByteArray("Door open 1\0garbage\r\n", 21), u"Door open"_qs},
        {"stray Latin-1 byte", "\xC3\xA9t\xE9 ok", QString::fromLatin1("\xC3\xA9t\xE9 ok")},
        {"overlong is not UTF-8", "A\xC0\xAF", u"A"_qs},
        {"empty", QByteArray(), QString()},
        {"every byte value", Descending(), QString::fromLatin1(Descending().left(256 - 32 - 1))},
        // UTF-8 chunks: decoded, cut and trimmed by character.
        {"accents", "Temp\xC3\xA9rature \xC3\xA9lev\xC3\xA9\x65 1\r\n", u"Température élevée"_qs,
         true},
        {"final non-ASCII letter", "Haute temp\xC3\xA9rature \xC3\xA9", u"Haute température é"_qs,
         true},
        {"trim order", "Tank high\r\n\xC2\xB5\xC3\x9A 1", u"Tank high"_qs, true},
        {"CJK", "\xE6\xB0\xB4\xE4\xBD\x8D\xE9\xAB\x98 1\r\n\f", u"水位高"_qs, true},
        {"astral character", "Pump \xF0\x9F\x94\xA5\r\n", u"Pump 🔥"_qs, true},
        {"C1 control cut", "Valve \xC3\xA9\xC2\x85", u"Valve é"_qs, true},
        // A character split between two receives: the cut parts are dropped.
        {"split at the end", "Niveau \xC3\xA9lev\xC3", u"Niveau élev"_qs, true},
        {"split at the start", "\xA9 haut \xC3\xA9t\xC3\xA9", u"haut été"_qs, true},
    };
    for (const Case& c : cases) {
        const std::size_t size = static_cast<std::size_t>(c.input.size());
        EXPECT_EQ(MakeAlarmText(c.input.constData(), size), c.expected) << c.name;
        EXPECT_EQ(IsUtf8Chunk(c.input.constData(), size), c.utf8) << c.name;
    }
}

TEST(PrintData, JobInChunks_OneAlarmEachLoggedDispatchedAndCounted)
{
    EventCollector events;
    ResetAlarmCounter();
    Owner owner;
    const std::uint16_t port = FreePort();
    CRawPrintServer server(&owner, &OnPrintData, port, owner.buffer, sizeof owner.buffer,
                           0x7F000001, ListenerTiming{.chunkGapMs = 5});
    ASSERT_TRUE(WaitUntil([&] { return server.ListenerStatus() == ListenerAccepting; }));
    const SOCKET s = ConnectLoopback(port);
    ASSERT_NE(s, INVALID_SOCKET);
    // One chunk each: nothing printable is still an (empty) alarm; a forged log line stays
    // in the alarm, never in its log line.
    const char* parts[] = {"ALARM 1\r\n\f", "\r\n\f", "Level high\r\n1/1/16,0:00:00,Sent!\r\n"};
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(SendAll(s, parts[i]));
        ASSERT_TRUE(WaitUntil([&] { return owner.count == i + 1; }));
    }
    closesocket(s);
    EXPECT_TRUE(server.Stop());
    OnPrintData(&owner, INVALID_SOCKET, 0); // an empty chunk is no alarm at all

    const std::vector<QString> expected{"ALARM", QString(), "Level high\r\n1/1/16,0:00:00,Sent!"};
    EXPECT_EQ(owner.dispatched, expected); // the listener has stopped
    EXPECT_EQ(AlarmCounterValue(), 3);
    std::vector<QString> logged;
    for (const EventRecord& r : events.Records()) {
        if (r.type == EventType::Information && !r.text.startsWith("Succeed")) {
            logged.push_back(r.text);
            EXPECT_FALSE(FormatLogLine(r).contains(u'\n') || FormatLogLine(r).contains(u'\r'));
        }
    }
    EXPECT_EQ(logged, expected);
}
