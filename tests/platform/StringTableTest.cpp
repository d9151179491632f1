#include <gtest/gtest.h>

#include "platform/StringTable.h"
#include "support/QtPrinters.h"

TEST(StringTable, FormatText_Placeholders)
{
    const char* cases[][3] = {
        {"SMS Count: %d", "3", "SMS Count: 3"}, // a surplus argument is ignored
        {"%s sent to %ls", "Alarm", "Alarm sent to +4912345"},
        {"100%% done, %%d %u", "7", "100% done, %d 7"},
        {"%s %s and %d", "50%s", "50%s +4912345 and %d"}, // not expanded again; missing stays
        {"odd %x and trailing %", "a", "odd %x and trailing %"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatText(c[0], {c[1], "+4912345"}), c[2]) << c[0];
    }
}
