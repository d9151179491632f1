#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStatusBar>
#include <QTranslator>

#include "app/DlgSetting.h"
#include "app/LangResource.h"
#include "app/MainFrame.h"
#include "app/ProgramProcess.h"
#include "app/Windowed.h"
#include "eventlog/EventView.h"
#include "platform/Folders.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"

namespace {

using Texts = std::map<unsigned, QString>;

// Writes the texts as an id-based .ts at path.
void WriteTs(const QString& path, const Texts& texts)
{
    QString ts = u"<?xml version=\"1.0\" encoding=\"utf-8\"?><TS version=\"2.1\"><context>"_qs;
    for (const auto& [id, text] : texts) {
        ts += QStringLiteral("<message id=\"%1\"><source>%2</source><translation>%3"
                             "</translation></message>\n")
                  .arg(id)
                  .arg(LoadEnglishString(id).toHtmlEscaped(), text.toHtmlEscaped());
    }
    WriteBytes(path, (ts + u"</context></TS>\n"_qs).toUtf8());
}

// Compiles the texts into the catalogue at path with lrelease. fork() and exec(), not
// QProcess: the thread sanitizer follows fork(), not the clone() that QProcess uses.
void MakeCatalogue(const QString& path, const Texts& texts)
{
    WriteTs(path + u".ts"_qs, texts);
    const QByteArray lrelease =
        (QLibraryInfo::path(QLibraryInfo::BinariesPath) + u"/lrelease"_qs).toLocal8Bit();
    const QByteArray ts = (path + u".ts"_qs).toLocal8Bit(), qm = path.toLocal8Bit();
    const pid_t pid = fork();
    if (pid == 0) {
        execl(lrelease.constData(), "lrelease", "-idbased", "-silent", ts.constData(), "-qm",
              qm.constData(), nullptr);
        _exit(127);
    }
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_EQ(status, 0) << "lrelease " << ts.constData();
}

// A usable catalogue names its language in it; this one has one text besides.
const Texts kGerman{{kIdsLanguageCheck, u"Deutsch"_qs}, {kIdsReady, u"Bereit"_qs}};

// The placeholders FormatText fills, in order.
QStringList Placeholders(const QString& text)
{
    static const QRegularExpression re(u"%(ls|s|d|u|%)"_qs);
    QStringList out;
    for (auto it = re.globalMatch(text); it.hasNext();) {
        out << it.next().captured();
    }
    return out;
}

// What is wrong with a language's catalogue and its .ts sources, one line per fault. (The
// keys after a menu text's tab are not checked: menus take them from the English table.)
QStringList CatalogueFaults(const QString& qm, const QStringList& sources)
{
    QTranslator catalogue;
    if (!catalogue.load(qm)) {
        return {u"unreadable "_qs + qm};
    }
    QStringList faults;
    for (unsigned id : EnglishStringIds()) {
        const QString text = catalogue.translate("", QByteArray::number(id).constData());
        if (text.isEmpty()) {
            faults << QStringLiteral("%1 missing").arg(id);
        } else if (Placeholders(text) != Placeholders(LoadEnglishString(id))) {
            faults << QStringLiteral("%1 placeholders").arg(id);
        }
    }
    static const QRegularExpression message(u"<message\\s[^>]*\\bid=\"(\\d+)\""_qs);
    QSet<QString> ids; // an id in two .ts files: which text wins depends on the build
    for (const QString& path : sources) {
        for (auto it = message.globalMatch(QString::fromUtf8(ReadBytes(path))); it.hasNext();) {
            const QString id = it.next().captured(1);
            if (ids.contains(id)) {
                faults << id + u" twice"_qs;
            }
            ids.insert(id);
        }
    }
    return faults;
}

// Every test starts in English with no stored language, and leaves English behind.
class Languages : public ::testing::Test
{
protected:
    void SetUp() override { DeleteProfileValue(u"Setting"_qs, u"Language"_qs); }
    void TearDown() override
    {
        SetStringCatalog({});
        qunsetenv("ZUNARO_RESOURCES");
        qunsetenv("LC_ALL");
    }
    // A resource folder whose Lang/ holds the one catalogue file made from texts (no Lang/
    // for an empty file name).
    static QString Resources(const QString& name, const QString& file, const Texts& texts)
    {
        const QString folder = FreshFolder(name);
        if (!file.isEmpty()) {
            QDir().mkpath(folder + u"/Lang"_qs);
            MakeCatalogue(folder + u"/Lang/"_qs + file, texts);
        }
        return folder;
    }
};

} // namespace

TEST_F(Languages, Startup_ProfileThenLocaleThenEnglish)
{
    struct Case
    {
        const char* name;
        const char* file; // the one catalogue; empty: no Lang folder
        Texts texts;
        int profile; // 0: none stored
        const char* locale;
        std::uint16_t expected;
        std::vector<std::uint16_t> available;
    };
    const Case cases[] = {
        {"no_lang_folder", "", kGerman, 1031, "de_DE.UTF-8", 1033, {1033}},
        {"german_profile", "de_DE.qm", kGerman, 1031, "C", 1031, {1031, 1033}},
        {"french_locale", "fr_FR.qm", kGerman, 0, "fr_FR.UTF-8", 1036, {1033, 1036}},
        {"same_language_locale", "fr_FR.qm", kGerman, 1031, "fr_CA.UTF-8", 1036, {1033, 1036}},
        {"letter_case", "DE_de.qm", kGerman, 1031, "C", 1031, {1031, 1033}},
        {"without_name", "de_DE.qm", {{kIdsReady, u"Bereit"_qs}}, 1031, "C", 1033, {1031, 1033}},
        {"unknown_file", "xx_XX.qm", kGerman, 0, "C", 1033, {1033}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder =
            Resources(QString::fromLatin1(c.name), QString::fromLatin1(c.file), c.texts);
        qputenv("ZUNARO_RESOURCES", folder.toUtf8());
        qputenv("LC_ALL", c.locale);
        DeleteProfileValue(u"Setting"_qs, u"Language"_qs);
        if (c.profile != 0) {
            WriteProfileInt(kProfileLanguage, c.profile);
        }
        CLangResource languages;
        SelectStartupLanguage(languages);
        EXPECT_EQ(languages.CurrentLanguage(), c.expected);
        EXPECT_EQ(languages.AvailableLanguages(), c.available);
        EXPECT_EQ(LoadString(kIdsReady), c.expected == 1033 ? u"Ready"_qs : u"Bereit"_qs);
        EXPECT_EQ(LoadString(kIdsSmsCount), u"SMS Count: %d"_qs); // missing ids stay English
        EXPECT_EQ(GetProfileInt(u"Setting"_qs, u"Language"_qs, 0), c.profile);
    }
}

TEST_F(Languages, Switch_WorkersReadOneLanguageOrTheOther)
{
    CLangResource languages;
    languages.SetLanguageFolder(Resources(u"threads"_qs, u"de_DE.qm"_qs, kGerman) + u"/Lang"_qs);
    std::atomic<bool> stop = false;
    std::atomic<int> torn = 0;
    std::thread worker([&] {
        while (!stop) {
            const QString text = LoadString(kIdsReady);
            torn += text != u"Ready"_qs && text != u"Bereit"_qs;
        }
    });
    for (int i = 0; i < 200; ++i) {
        languages.SelectLanguage(i % 2 ? 1033 : 1031);
    }
    stop = true;
    worker.join();
    EXPECT_EQ(torn, 0);
}

TEST_F(Languages, SettingDialog_OnlyARealSwitchIsStored)
{
    CLangResource languages;
    languages.SetLanguageFolder(Resources(u"dialog"_qs, u"de_DE.qm"_qs, kGerman) + u"/Lang"_qs);
    languages.SelectLanguage(1033);
    struct Case
    {
        const char* name;
        int pick; // index in the list; -1: the Default button
        int result;
        std::uint16_t current;
        int stored; // -1: nothing written
    };
    const Case cases[] = {{"english_again", 1, QDialog::Rejected, 1033, -1},
                          {"default_in_english", -1, QDialog::Rejected, 1033, -1},
                          {"to_german", 0, QDialog::Accepted, 1031, 1031},
                          {"default_in_german", -1, QDialog::Accepted, 1033, 1033}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDlgSetting dialog(languages);
        ASSERT_EQ(dialog.LanguageList()->count(), 2);
        EXPECT_EQ(dialog.LanguageList()->itemText(0), u"Deutsch"_qs); // its own name
        if (c.pick < 0) {
            dialog.DefaultButton()->click();
        } else {
            dialog.LanguageList()->setCurrentIndex(c.pick);
            dialog.accept();
        }
        EXPECT_EQ(dialog.result(), c.result);
        EXPECT_EQ(languages.CurrentLanguage(), c.current);
        EXPECT_EQ(GetProfileInt(u"Setting"_qs, u"Language"_qs, -1), c.stored);
    }

    // The README's picture: the shipped languages.
    if (const QString shots = qEnvironmentVariable("ZUNARO_SCREENSHOTS"); !shots.isEmpty()) {
        CLangResource shipped;
        shipped.SetLanguageFolder(ProgramFolder() + u"/../Lang"_qs);
        shipped.SelectLanguage(1033);
        CDlgSetting dialog(shipped);
        dialog.show();
        QApplication::processEvents();
        EXPECT_TRUE(dialog.grab().save(shots + u"/DlgSetting.png"_qs));
    }
}

TEST_F(Languages, Frame_SwitchRetitlesAtOnce_TrayWaitsForModalDialog)
{
    const Texts german{
        {kIdsLanguageCheck, u"Deutsch"_qs},      {kIdsMenuFile, u"&Datei"_qs},
        {kIdsMenuCopy, u"&Kopieren\tCtrl+C"_qs}, {kIdsMenuToolbar, u"&Symbolleiste"_qs},
        {kIdsTrayExit, u"Beenden"_qs},           {kIdsReady, u"Bereit"_qs},
        {kIdsSmsCount, u"SMS-Anzahl: %d"_qs},    {kIdsPrinterPane, u"Alarmdrucker"_qs},
        {kIdsColumnDate, u"Datum"_qs},           {kIdsColumnTime, u"Uhrzeit"_qs},
        {kIdsColumnEvent, u"Ereignis"_qs},       {kIdsToolbarTitle, u"Werkzeuge"_qs}};
    CLangResource languages;
    languages.SetLanguageFolder(Resources(u"frame"_qs, u"de_DE.qm"_qs, german) + u"/Lang"_qs);
    CWindowed program;
    CMainFrame* frame = program.Frame();
    const auto shown = [frame] {
        const QHeaderView* header = frame->View()->horizontalHeader();
        QStringList texts{frame->menuBar()->actions().first()->text(),
                          frame->Action(CMainFrame::CommandCopy)->text(),
                          frame->Action(CMainFrame::CommandCopy)->shortcut().toString(),
                          frame->Action(CMainFrame::CommandTrayExit)->text(),
                          frame->Action(CMainFrame::CommandToolbar)->text(),
                          frame->statusBar()->currentMessage(),
                          frame->SmsCountText()};
        for (int i = 0; i < 3; ++i) {
            texts << header->model()->headerData(i, Qt::Horizontal).toString();
        }
        const QList<QLabel*> panes = frame->statusBar()->findChildren<QLabel*>();
        return texts << QString::number(std::ranges::count_if(
                   panes, [](QLabel* l) { return l->text() == u"Alarmdrucker"_qs; }));
    };
    languages.SelectLanguage(1033);
    frame->ApplyLanguage();
    const QStringList english = shown();
    languages.SelectLanguage(1031);
    frame->ApplyLanguage();
    EXPECT_EQ(shown(), (QStringList{u"&Datei"_qs, u"&Kopieren"_qs, u"Ctrl+C"_qs, u"Beenden"_qs,
                                    u"&Symbolleiste"_qs, u"Bereit"_qs, u"SMS-Anzahl: 0"_qs,
                                    u"Datum"_qs, u"Uhrzeit"_qs, u"Ereignis"_qs, u"1"_qs}));
    EXPECT_EQ(frame->View()->columnWidth(CEventListModel::ColumnEvent), 80);
    languages.SelectLanguage(1033);
    frame->ApplyLanguage();
    EXPECT_EQ(shown(), english);

    // The tray's double-click leaves the window alone while a modal dialog is open.
    frame->showNormal();
    QDialog dialog(frame);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.show();
    frame->OnTrayActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(frame->isVisible());
    dialog.hide();
    frame->OnTrayActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(frame->isVisible());
}

// The check of the shipped catalogues, and that check shown each fault it looks for in a
// catalogue that is otherwise the English table.
TEST_F(Languages, Catalogues_ShippedOnesAreComplete_CheckFindsEachFault)
{
    const QString source =
        qEnvironmentVariable("ZUNARO_SOURCE_DIR", ProgramFolder() + u"/../.."_qs);
    for (const QString& language : {u"de_DE"_qs, u"zh_CN"_qs}) {
        SCOPED_TRACE(language.toStdString());
        QDir sources(source + u"/res/lang"_qs);
        QStringList ts;
        for (const QString& name : sources.entryList({u"*."_qs + language + u".ts"_qs})) {
            ts << sources.filePath(name);
        }
        const QString qm = ProgramFolder() + u"/../Lang/"_qs + language + u".qm"_qs;
        EXPECT_EQ(CatalogueFaults(qm, ts).join(u", "_qs).toStdString(), "");
    }

    Texts complete;
    for (unsigned id : EnglishStringIds()) {
        complete[id] = LoadEnglishString(id);
    }
    const auto with = [&](unsigned id, const QString& text) {
        Texts t = complete;
        t[id] = text;
        return t;
    };
    Texts incomplete = complete;
    incomplete.erase(kIdsQuitConfirm);
    struct Case
    {
        const char* name;
        std::vector<Texts> sources; // the first is the catalogue, all are its .ts files
        const char* faults;
    };
    const Case cases[] = {
        {"complete", {complete}, ""},
        {"missing", {incomplete}, "10079 missing"},
        {"lost_s", {with(kIdsLoadFailed, u"Laden fehlgeschlagen"_qs)}, "108 placeholders"},
        {"added_d", {with(kIdsReady, u"Bereit %d"_qs)}, "57345 placeholders"},
        {"two_files", {complete, {{kIdsReady, u"Bereit"_qs}}}, "57345 twice"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = FreshFolder(QString::fromLatin1(c.name));
        MakeCatalogue(folder + u"/de_DE.qm"_qs, c.sources.front());
        QStringList ts;
        for (std::size_t i = 0; i < c.sources.size(); ++i) {
            ts << folder + QStringLiteral("/area%1.de_DE.ts").arg(i);
            WriteTs(ts.last(), c.sources[i]);
        }
        EXPECT_EQ(CatalogueFaults(folder + u"/de_DE.qm"_qs, ts).join(u", "_qs).toStdString(),
                  c.faults);
    }
}

// The start-up lines of both programs are in the profile's language.
TEST_F(Languages, Programs_FollowTheProfileLanguage)
{
    const QString resources = Resources(
        u"programs"_qs, u"de_DE.qm"_qs,
        {{kIdsLanguageCheck, u"Deutsch"_qs}, {kIdsLoadSucceeded, u"'%s' erfolgreich geladen!"_qs}});
    const QString file = qEnvironmentVariable("ZUNARO_HOME") + u"/Lang.znr"_qs;
    WriteSettingsFile(file);
    WriteProfileInt(kProfileLanguage, 1031);
    WriteProfileString(u"Ports"_qs, u"COM1"_qs, u"/nonexistent/zunaro-modem"_qs);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"ZUNARO_RESOURCES"_qs, resources);
    for (bool headless : {true, false}) {
        SCOPED_TRACE(headless ? "headless" : "windowed");
        const std::uint16_t port = FreePort();
        Program program(port, {file}, env, headless);
        EXPECT_TRUE(WaitUntil(
            [&] {
                const SOCKET s = ConnectLoopback(port);
                return s != INVALID_SOCKET && closesocket(s) == 0;
            },
            20000));
        program.Process().terminate(); // the run log keeps the start-up's lines
        EXPECT_TRUE(program.Process().waitForFinished(20000));
        EXPECT_TRUE(RunLogText().contains(u"'"_qs + file + u"' erfolgreich geladen!"_qs))
            << RunLogText().toStdString();
    }
}
