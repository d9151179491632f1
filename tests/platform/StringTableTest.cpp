#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/StringTable.h"
#include "support/QtPrinters.h"

namespace {

const QString kEnglish5002 = QStringLiteral("SMS Count: %d");
const QString kGerman5002 = QStringLiteral("Anzahl SMS: %d");

QString GermanCatalog(unsigned id)
{
    return id == 5002 ? kGerman5002 : QString();
}

} // namespace

TEST(StringTable, LoadString_EnglishThenCatalogWithFallback)
{
    SetStringCatalog({});
    EXPECT_EQ(LoadString(61234), "Failed to initialize Zunaro.");
    EXPECT_EQ(LoadString(5002), kEnglish5002);
    EXPECT_TRUE(LoadString(59999).isEmpty());

    SetStringCatalog(GermanCatalog);
    EXPECT_EQ(LoadString(5002), kGerman5002);
    EXPECT_EQ(LoadEnglishString(5002), kEnglish5002);
    EXPECT_EQ(LoadString(61234), "Failed to initialize Zunaro.");
    EXPECT_TRUE(LoadString(59999).isEmpty());
    SetStringCatalog({});
    EXPECT_EQ(LoadString(5002), kEnglish5002);
}

TEST(StringTable, Catalog_SwitchedWhileOtherThreadsLoad)
{
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 3; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                const QString s = LoadString(5002);
                wrong += s != kEnglish5002 && s != kGerman5002;
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        SetStringCatalog(i % 2 == 0 ? GermanCatalog : std::function<QString(unsigned)>());
    }
    stop = true;
    for (std::thread& t : readers) {
        t.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    SetStringCatalog({});
}

TEST(StringTable, FormatText_Placeholders)
{
    const struct
    {
        const char* pattern;
        QStringList args;
        const char* expected;
    } cases[] = {
        {"SMS Count: %d", {"3", "surplus"}, "SMS Count: 3"},
        {"%s sent to %s", {"Alarm", "+4912345"}, "Alarm sent to +4912345"},
        {"%u of %ls", {"2", "COM3"}, "2 of COM3"},
        {"100%% done, %%d", {"x"}, "100% done, %d"},
        {"%s and %d", {"one"}, "one and %d"},
        {"%s", {"50%s"}, "50%s"}, // an argument is never expanded again
        {"odd %x and trailing %", {"a"}, "odd %x and trailing %"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatText(c.pattern, c.args), c.expected) << c.pattern;
    }
}
