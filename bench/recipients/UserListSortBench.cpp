#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include <QApplication>
#include <QHeaderView>
#include <QLocale>
#include <QTableView>

#include "recipients/DlgUserList.h"
#include "recipients/User.h"
#include "recipients/UserList.h"

namespace {

// The shown User List with n recipients of distinct numbers in a scrambled order, as an
// import leaves them.
struct ShownList
{
    explicit ShownList(int n)
    {
        for (int i = 0; i < n; ++i) {
            const int k = (i * 7919) % n;
            users.Add(
                std::make_unique<CUser>(QStringLiteral("User %1").arg(k),
                                        QStringLiteral("139%1").arg(k, 8, 10, QLatin1Char('0')),
                                        QStringLiteral("user%1@example.cn").arg(k)));
        }
        dialog.resize(600, 400);
        dialog.show();
        QApplication::processEvents();
    }
    CUserList users;
    CDlgUserList dialog{users, [] {}};
};

// One click on the Telephone header of the shown list: the rows are sorted (ascending and
// descending in turn) and the visible part is painted.
void BM_SortByTelephone(benchmark::State& state)
{
    ShownList shown(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        shown.dialog.SortBy(2);
        shown.dialog.List()->viewport()->repaint();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SortByTelephone)->Arg(10000)->Unit(benchmark::kMillisecond);

// One page of scrolling through the shown list: the texts of the rows that come into view
// are made and painted.
void BM_ScrollPage(benchmark::State& state)
{
    ShownList shown(static_cast<int>(state.range(0)));
    QTableView* list = shown.dialog.List();
    int row = 0;
    for (auto _ : state) {
        row = (row + 15) % static_cast<int>(state.range(0));
        list->scrollTo(shown.dialog.Model().index(row, 0), QAbstractItemView::PositionAtTop);
        list->viewport()->repaint();
    }
}
BENCHMARK(BM_ScrollPage)->Arg(10000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
