#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QRegularExpression>

#include "eventlog/EventListModel.h"
#include "eventlog/EventSink.h"
#include "eventlog/EventStore.h"
#include "eventlog/LocaleTime.h"
#include "platform/Profile.h"
#include "support/TestSupport.h"

namespace {

QStringList Numbers(int from, int to)
{
    QStringList out;
    for (int i = from; i < to; ++i) {
        out << QString::number(i);
    }
    return out;
}

// A model over its own store, with the row count a view would follow from its signals.
class EventListModel : public testing::Test
{
protected:
    EventListModel()
    {
        const auto follow = [this](int sign) {
            return [this, sign](const QModelIndex&, int first, int last) {
                // Rows are appended at the end and the oldest removed from the start.
                EXPECT_EQ(first, sign > 0 ? rows : 0);
                rows += sign * (last - first + 1);
                ++batches;
            };
        };
        QObject::connect(&model, &QAbstractItemModel::rowsInserted, follow(1));
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved, follow(-1));
        QObject::connect(&model, &QAbstractItemModel::modelReset, [this] {
            rows = model.rowCount();
            ++batches;
        });
    }
    void Post(int from, int to, EventType type = EventType::Information)
    {
        for (int i = from; i < to; ++i) {
            store.AddEvent(type, QString::number(i));
        }
    }
    QStringList Texts() const { return TextsOf(model.Shown()); }

    CEventStore store;
    CEventListModel model{store};
    int rows = 0;
    int batches = 0;
};

} // namespace

TEST_F(EventListModel, BurstOf1100_Last1024InOrderAndInTheRunLog)
{
    RegisterEventStore(&store);
    for (int i = 0; i < 1100; ++i) {
        EventSink(i % 3 == 0 ? EventType::Error : EventType::Information, QString::number(i));
    }
    UnregisterEventStore(&store);
    std::vector<EventRecord> taken;
    EXPECT_EQ(model.TimerStep(&taken), 1100u);
    ASSERT_EQ(taken.size(), 1100u); // every event reaches the headless output
    EXPECT_TRUE(rows == 1024 && batches == 1);
    EXPECT_EQ(Texts(), Numbers(76, 1100));
    // The run log holds the lines shown, then the closing line.
    const QStringList written = ReadTextLines(model.WriteRunLog(FreshFolder(u"burst"_qs)));
    ASSERT_EQ(written.size(), 1025);
    EXPECT_EQ(written.mid(0, 1024).replaceInStrings(QRegularExpression(u"^[^,]*,[^,]*,"_qs), {}),
              Numbers(76, 1100));
    EXPECT_TRUE(written.last().endsWith(u",Quit Zunaro normally!"_qs));
}

TEST_F(EventListModel, LaterTicks_OldestPushedOut)
{
    EXPECT_TRUE(model.TimerStep() == 0u && batches == 0); // nothing pending: no signal
    Post(0, 1000);
    model.TimerStep();
    Post(1000, 1030, EventType::Error);
    model.TimerStep();
    EXPECT_TRUE(Texts() == Numbers(6, 1030) && rows == 1024); // the 6 oldest made room
}

TEST_F(EventListModel, Data_TextsMadeOnDemandAndImages)
{
    UseGermanDates();
    store.AddEvent(EventType::Information, u"info, with comma"_qs);
    store.AddEvent(EventType::Error, u"error"_qs);
    store.AddEvent(EventType::Error, u"another error"_qs);
    store.AddEvent(EventType::Information, u"two\nlines"_qs);
    model.TimerStep();
    const EventRecord& first = model.Shown()[0];
    const auto text = [&](int row, int column) {
        return model.index(row, column).data().toString();
    };
    EXPECT_EQ(text(0, 0), CLocaleTime::DateText(first.time));
    EXPECT_EQ(text(0, 1), CLocaleTime::TimeText(first.time));
    EXPECT_EQ(CEventListModel::LineText(first), text(0, 0) + u',' + text(0, 1) + u',' + text(0, 2));
    EXPECT_EQ(text(3, 2), u"two\nlines"_qs); // the list keeps the text; its log line does not
    EXPECT_EQ(CEventListModel::LineText(model.Shown()[3]).section(u',', 2), u"two lines"_qs);
    for (const int row : {0, 1, 2}) { // the error icon on error lines
        EXPECT_EQ(model.index(row, 0).data(CEventListModel::ImageIndexRole).toInt(), row ? 1 : 0);
    }

    // A regional-settings change repaints the date and time columns.
    int repaints = 0;
    QObject::connect(&model, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& tl, const QModelIndex& br) {
                         EXPECT_EQ(tl, model.index(0, 0));
                         EXPECT_EQ(br, model.index(3, 1));
                         ++repaints;
                     });
    WriteProfileString(QStringLiteral("intl"), QStringLiteral("sDate"), QStringLiteral("/"));
    EXPECT_TRUE(WaitUntil([&] {
        QCoreApplication::processEvents();
        return repaints > 0;
    }));
}

TEST_F(EventListModel, ErrorsOnly_KeptInTheProfile)
{
    const QString section = u"Event View"_qs, key = u"Log Errors Only"_qs;
    WriteProfileInt(section, key, 1);
    model.LoadSettings();
    store.AddEvent(EventType::Information, u"dropped"_qs);
    store.AddEvent(EventType::Error, u"kept"_qs);
    EXPECT_FALSE(model.ToggleErrorsOnly());
    model.SaveSettings();
    EXPECT_EQ(GetProfileInt(section, key, -1), 0);
    model.TimerStep();
    EXPECT_EQ(Texts(), QStringList{u"kept"_qs});
}
