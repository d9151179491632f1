#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include "eventlog/EventListModel.h"
#include "eventlog/EventSink.h"
#include "eventlog/EventStore.h"
#include "eventlog/LocaleTime.h"
#include "eventlog/LocaleWatcher.h"
#include "eventlog/TextFile.h"
#include "platform/Profile.h"
#include "support/TestSupport.h"

namespace {

// Follows the model's row signals the way a view does; a wrong range shows as a count that
// differs from rowCount().
class RowShadow
{
public:
    explicit RowShadow(CEventListModel& model) : m_model(model)
    {
        QObject::connect(&model, &QAbstractItemModel::rowsInserted,
                         [this](const QModelIndex&, int first, int last) {
                             EXPECT_EQ(first, m_rows) << "rows must be appended at the end";
                             m_rows += last - first + 1;
                             ++m_signals;
                         });
        QObject::connect(&model, &QAbstractItemModel::rowsRemoved,
                         [this](const QModelIndex&, int first, int last) {
                             EXPECT_EQ(first, 0) << "the oldest rows go first";
                             m_rows -= last - first + 1;
                             ++m_signals;
                         });
        QObject::connect(&model, &QAbstractItemModel::modelReset, [this] {
            m_rows = m_model.rowCount();
            ++m_signals;
        });
    }
    int rows() const { return m_rows; }
    int signalCount() const { return m_signals; }

private:
    CEventListModel& m_model;
    int m_rows = 0;
    int m_signals = 0;
};

QStringList Texts(const CEventListModel& model)
{
    QStringList out;
    for (const EventRecord& r : model.Shown()) {
        out << r.text;
    }
    return out;
}

QStringList Numbers(int from, int to)
{
    QStringList out;
    for (int i = from; i < to; ++i) {
        out << QString::number(i);
    }
    return out;
}

QStringList ReadLog(const QString& path)
{
    CTextFile in;
    QStringList lines;
    if (!in.Open(path, CTextFile::modeRead | CTextFile::typeText)) {
        return lines;
    }
    QString line;
    while (in.ReadString(line)) {
        lines << line;
    }
    return lines;
}

} // namespace

TEST(EventListModel, BurstOf1100_Last1024InOrderAndInTheRunLog)
{
    CEventStore store;
    RegisterEventStore(&store);
    CEventListModel model(store);
    RowShadow shadow(model);
    for (int i = 0; i < 1100; ++i) {
        EventSink(i % 3 == 0 ? 1 : 0, QString::number(i));
    }
    std::vector<EventRecord> taken;
    EXPECT_EQ(model.TimerStep(&taken), 1100u);
    UnregisterEventStore(&store);
    ASSERT_EQ(taken.size(), 1100u); // every event reaches the headless output
    EXPECT_EQ(taken.front().text, u"0"_qs);
    EXPECT_EQ(model.rowCount(), 1024);
    EXPECT_EQ(shadow.rows(), 1024);
    EXPECT_EQ(shadow.signalCount(), 1); // one batch
    EXPECT_EQ(Texts(model), Numbers(76, 1100));

    const QString folder = TestHome() + QStringLiteral("/burst");
    QDir().mkpath(folder);
    const QStringList lines = ReadLog(model.WriteRunLog(folder));
    ASSERT_EQ(lines.size(), 1025);
    for (int i = 0; i < 1024; ++i) {
        ASSERT_TRUE(lines[i].endsWith(u',' + QString::number(76 + i))) << lines[i].toStdString();
        ASSERT_EQ(lines[i], CEventListModel::LineText(model.Shown()[static_cast<std::size_t>(i)]));
    }
    EXPECT_TRUE(lines[1024].endsWith(u",Quit Zunaro normally!"_qs));
}

TEST(EventListModel, LaterTicks_OldestLinesPushedOut)
{
    CEventStore store;
    CEventListModel model(store);
    RowShadow shadow(model);
    EXPECT_EQ(model.TimerStep(), 0u); // nothing pending: no signal
    EXPECT_EQ(shadow.signalCount(), 0);
    for (int i = 0; i < 1000; ++i) {
        store.AddEvent(0, QString::number(i));
    }
    model.TimerStep();
    for (int i = 1000; i < 1030; ++i) {
        store.AddEvent(0, QString::number(i));
    }
    model.TimerStep();
    EXPECT_EQ(shadow.rows(), 1024);
    EXPECT_EQ(Texts(model), Numbers(6, 1030));
    // A second full burst replaces every old line.
    for (int i = 2000; i < 4000; ++i) {
        store.AddEvent(1, QString::number(i));
    }
    model.TimerStep();
    EXPECT_EQ(shadow.rows(), 1024);
    EXPECT_EQ(Texts(model), Numbers(4000 - 1024, 4000));
}

TEST(EventListModel, ClearDuringBurst_PendingStayForTheNextTick)
{
    CEventStore store;
    CEventListModel model(store);
    RowShadow shadow(model);
    EXPECT_FALSE(model.HasLines());
    for (int i = 0; i < 10; ++i) {
        store.AddEvent(0, QString::number(i));
    }
    model.TimerStep();
    for (int i = 10; i < 15; ++i) {
        store.AddEvent(0, QString::number(i));
    }
    EXPECT_TRUE(model.HasLines());
    model.ClearMessages();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(shadow.rows(), 0);
    EXPECT_FALSE(model.HasLines());
    model.TimerStep();
    EXPECT_EQ(Texts(model), Numbers(10, 15));
    EXPECT_EQ(shadow.rows(), 5);
}

TEST(EventListModel, Data_TextsOnDemandImagesAndHeaders)
{
    WriteProfileInt(QStringLiteral("intl"), QStringLiteral("iDate"), 2);
    WriteProfileString(QStringLiteral("intl"), QStringLiteral("sDate"), QStringLiteral("-"));
    WriteProfileString(QStringLiteral("intl"), QStringLiteral("sShortDate"),
                       QStringLiteral("yyyy-MM-dd"));
    WriteProfileInt(QStringLiteral("intl"), QStringLiteral("iTime"), 1);
    WriteProfileInt(QStringLiteral("intl"), QStringLiteral("iTLZero"), 1);
    WriteProfileString(QStringLiteral("intl"), QStringLiteral("sTime"), QStringLiteral(":"));
    CLocaleTime::ReadLocaleSettings();

    CEventStore store;
    CEventListModel model(store);
    store.AddEvent(0, u"info, with comma"_qs);
    store.AddEvent(1, u"error"_qs);
    store.AddEvent(7, u"other type"_qs);
    model.TimerStep();
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.columnCount(), 3);
    const EventRecord& first = model.Shown()[0];
    EXPECT_EQ(model.data(model.index(0, 0)).toString(), CLocaleTime::DateText(first.time));
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), CLocaleTime::TimeText(first.time));
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), u"info, with comma"_qs);
    EXPECT_EQ(CEventListModel::LineText(first), model.data(model.index(0, 0)).toString() + u',' +
                                                    model.data(model.index(0, 1)).toString() +
                                                    u",info, with comma"_qs);
    const int images[] = {0, 1, 1};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(model.data(model.index(row, 0), CEventListModel::ImageIndexRole).toInt(),
                  images[row]);
    }
    EXPECT_EQ(model.data(model.index(2, 0), CEventListModel::TypeRole).toInt(), 7);
    EXPECT_FALSE(model.data(model.index(3, 0)).isValid());
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), u"Date"_qs);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), u"Time"_qs);
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), u"Event"_qs);

    // A regional-settings change repaints the date and time columns.
    int repaints = 0;
    QObject::connect(&model, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& tl, const QModelIndex& br) {
                         EXPECT_EQ(tl, model.index(0, 0));
                         EXPECT_EQ(br, model.index(2, 1));
                         ++repaints;
                     });
    WriteProfileString(QStringLiteral("intl"), QStringLiteral("sDate"), QStringLiteral("/"));
    EXPECT_TRUE(WaitUntil([&] {
        QCoreApplication::processEvents();
        return repaints > 0;
    }));
    EXPECT_EQ(model.data(model.index(0, 0)).toString().at(4), u'/');
}

TEST(EventListModel, CopyText_FirstSelectedInListOrder)
{
    CEventStore store;
    CEventListModel model(store);
    for (const char16_t* t : {u"zero", u"one", u"two", u"three"}) {
        store.AddEvent(0, QString::fromUtf16(t));
    }
    model.TimerStep();
    EXPECT_TRUE(model.CopyText({}).isEmpty());
    EXPECT_EQ(model.CopyText({3, 1}), u"one"_qs);
    EXPECT_EQ(model.CopyText({2}), u"two"_qs);
    EXPECT_TRUE(model.CopyText({9, -1}).isEmpty());
}

TEST(EventListModel, ProfileEntries_WidthsAndErrorsOnly)
{
    const QString s = QStringLiteral("Event View");
    for (const char* key : {"0", "1", "2"}) {
        DeleteProfileValue(s, QString::fromLatin1(key));
    }
    EXPECT_EQ(CEventListModel::ColumnWidths(), (std::array<int, 3>{120, 120, 120}));
    EXPECT_EQ(CEventListModel::ColumnWidths(true), (std::array<int, 3>{120, 120, 80}));
    WriteProfileInt(s, QStringLiteral("0"), -5);
    WriteProfileString(s, QStringLiteral("1"), QStringLiteral("wide"));
    WriteProfileInt(s, QStringLiteral("2"), 300);
    EXPECT_EQ(CEventListModel::ColumnWidths(), (std::array<int, 3>{120, 120, 300}));
    CEventListModel::SaveColumnWidths({90, 100, 400});
    EXPECT_EQ(CEventListModel::ColumnWidths(true), (std::array<int, 3>{90, 100, 400}));

    CEventStore store;
    {
        CEventListModel model(store);
        WriteProfileInt(s, QStringLiteral("Log Errors Only"), 1);
        model.LoadSettings();
        EXPECT_TRUE(model.IsErrorsOnly());
        store.AddEvent(0, u"dropped"_qs);
        store.AddEvent(1, u"kept"_qs);
        EXPECT_FALSE(model.ToggleErrorsOnly());
        model.SaveSettings();
        model.TimerStep();
        EXPECT_EQ(Texts(model), QStringList{u"kept"_qs});
    }
    EXPECT_EQ(GetProfileInt(s, QStringLiteral("Log Errors Only"), -1), 0);
}

TEST(EventListModel, Timer_MovesPendingWithoutBeingCalled)
{
    CEventStore store;
    CEventListModel model(store);
    model.StartTimer();
    store.AddEvent(1, u"from the timer"_qs);
    EXPECT_TRUE(WaitUntil([&] {
        QCoreApplication::processEvents();
        return model.rowCount() == 1;
    }));
    model.StopTimer();
}
