// Saving and loading the settings document with many recipients.
#include <benchmark/benchmark.h>

#include <memory>

#include <QDir>
#include <QFile>

#include "recipients/UserList.h"
#include "settings/SettingsDoc.h"
#include "settings/SettingsTarget.h"

namespace {

class Target : public ISettingsTarget
{
public:
    CUserList& SettingsUsers() override { return users; }
    int SettingsComPort() const override { return 1; }
    void SetSettingsComPort(int) override {}
    int SettingsVoice() const override { return 1; }
    void SetSettingsVoice(int) override {}
    QString SettingsMailSender() const override { return QStringLiteral("alarm@example.com"); }
    void SetSettingsMailSender(const QString&) override {}
    QString SettingsMailPassword() const override { return QStringLiteral("secret"); }
    void SetSettingsMailPassword(const QString&) override {}
    void OnSettingsPortLoaded(int, const QString&) override {}

    CUserList users;
};

void Fill(CUserList& users, int count)
{
    users.Clear();
    for (int i = 0; i < count; ++i) {
        users.Add(std::make_unique<CUser>(QStringLiteral("User %1 <&>").arg(i),
                                          QStringLiteral("138%1").arg(10000000 + i),
                                          QStringLiteral("user%1@example.com").arg(i)));
    }
}

QString PathFor(int count)
{
    return QDir::temp().filePath(QStringLiteral("zunaro-settingsbench-%1.znr").arg(count));
}

void BM_SettingsSave(benchmark::State& state)
{
    const int count = int(state.range(0));
    Target target;
    Fill(target.users, count);
    CDoc doc(target);
    for (auto _ : state) {
        benchmark::DoNotOptimize(doc.SaveSettings(PathFor(count)));
    }
    state.SetComplexityN(count);
}

void BM_SettingsLoad(benchmark::State& state)
{
    const int count = int(state.range(0));
    Target target;
    Fill(target.users, count);
    CDoc doc(target);
    doc.SaveSettings(PathFor(count));
    for (auto _ : state) {
        state.PauseTiming(); // emptying the list belongs to DeleteContents, not to loading
        target.users.Clear();
        state.ResumeTiming();
        benchmark::DoNotOptimize(doc.LoadSettings(PathFor(count)));
    }
    state.SetComplexityN(count);
}

} // namespace

BENCHMARK(BM_SettingsSave)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);
BENCHMARK(BM_SettingsLoad)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

BENCHMARK_MAIN();
