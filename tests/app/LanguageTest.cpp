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
#include <QStatusBar>
#include <QTranslator>
#include <QXmlStreamReader>

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

// Runs a program and returns its exit status. fork() and exec(), not QProcess: the thread
// sanitizer follows fork(), while the clone() that QProcess uses leaves it with a wrong picture
// of the locks the test process holds afterwards.
int Run(const QStringList& args)
{
    std::vector<QByteArray> bytes;
    std::vector<char*> argv;
    for (const QString& a : args) {
        bytes.push_back(a.toLocal8Bit());
    }
    for (QByteArray& b : bytes) {
        argv.push_back(b.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status)
                                                                           : -1;
}

// Compiles the texts into the catalogue path with lrelease.
void MakeCatalogue(const QString& path, const Texts& texts)
{
    WriteTs(path + u".ts"_qs, texts);
    const QString lrelease = QLibraryInfo::path(QLibraryInfo::BinariesPath) + u"/lrelease"_qs;
    ASSERT_EQ(Run({lrelease, u"-idbased"_qs, u"-silent"_qs, path + u".ts"_qs, u"-qm"_qs, path}), 0);
}

// A small catalogue: the language's own name unless withProbe is false, and "Bereit".
Texts Small(bool withProbe = true)
{
    Texts texts{{kIdsReady, u"Bereit"_qs}};
    if (withProbe) {
        texts[kIdsLanguageCheck] = u"Deutsch"_qs;
    }
    return texts;
}

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

// What is wrong with a language's catalogue and its .ts sources, one line per fault.
QStringList CatalogueFaults(const QString& qm, const QStringList& sources)
{
    QStringList faults;
    QTranslator catalogue;
    if (!catalogue.load(qm)) {
        return {u"unreadable "_qs + qm};
    }
    for (unsigned id : EnglishStringIds()) {
        const QString english = LoadEnglishString(id);
        const QString text = catalogue.translate("", QByteArray::number(id).constData());
        if (text.isEmpty()) {
            faults << QStringLiteral("%1 missing").arg(id);
        } else if (Placeholders(text) != Placeholders(english)) {
            faults << QStringLiteral("%1 placeholders").arg(id);
        } else if (text.section(u'\t', 1) != english.section(u'\t', 1)) {
            faults << QStringLiteral("%1 accelerator").arg(id);
        }
    }
    std::map<QString, QString> origin; // id -> the .ts that gave it first
    for (const QString& path : sources) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        for (QXmlStreamReader xml(&file); !xml.atEnd();) {
            if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != u"message") {
                continue;
            }
            const QString id = xml.attributes().value(u"id"_qs).toString();
            if (LoadEnglishString(id.toUInt()).isEmpty()) {
                faults << id + u" unknown"_qs;
            } else if (!origin.emplace(id, path).second) {
                faults << id + u" twice"_qs;
            }
        }
    }
    return faults;
}

// The build tree's folder of the shipped catalogues.
QString BuiltLangFolder()
{
    return ProgramFolder() + u"/../Lang"_qs;
}

// Every test starts in English with a fresh resource folder and no stored language, and
// leaves the locale variables and the string table as it found them.
class Languages : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DeleteProfileValue(u"Setting"_qs, u"Language"_qs);
        for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            m_saved[name] = qgetenv(name);
            qunsetenv(name);
        }
    }
    void TearDown() override
    {
        SetStringCatalog({});
        qunsetenv("ZUNARO_RESOURCES");
        for (const auto& [name, value] : m_saved) {
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
        }
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
    static bool StoredLanguage() { return GetProfileInt(u"Setting"_qs, u"Language"_qs, -1) != -1; }

private:
    std::map<const char*, QByteArray> m_saved;
};

} // namespace

TEST_F(Languages, Startup_ProfileThenLocaleThenEnglish)
{
    struct Case
    {
        const char* name;
        const char* file; // one catalogue, made by Small(probe); empty: no Lang folder
        bool probe;
        int profile; // 0: none stored
        const char* locale;
        std::uint16_t expected;
        std::vector<std::uint16_t> available;
    };
    const Case cases[] = {
        {"no_lang_folder", "", true, 1031, "de_DE.UTF-8", 1033, {1033}},
        {"german_profile", "de_DE.qm", true, 1031, "C", 1031, {1031, 1033}},
        {"french_locale", "fr_FR.qm", true, 0, "fr_FR.UTF-8", 1036, {1033, 1036}},
        {"same_language_locale", "fr_FR.qm", true, 1031, "fr_CA.UTF-8", 1036, {1033, 1036}},
        {"letter_case", "DE_de.qm", true, 1031, "C", 1031, {1031, 1033}},
        {"no_probe", "de_DE.qm", false, 1031, "C", 1033, {1031, 1033}},
        {"unknown_file", "xx_XX.qm", true, 0, "C", 1033, {1033}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder =
            Resources(QString::fromLatin1(c.name), QString::fromLatin1(c.file), Small(c.probe));
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
        EXPECT_EQ(StoredLanguage(), c.profile != 0);
    }
}

TEST_F(Languages, Switch_WorkersReadOneLanguageOrTheOther)
{
    const QString de = Resources(u"threads"_qs, u"de_DE.qm"_qs, Small());
    CLangResource languages;
    languages.SetLanguageFolder(de + u"/Lang"_qs);
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
    const QString de = Resources(u"dialog"_qs, u"de_DE.qm"_qs, Small());
    CLangResource languages;
    languages.SetLanguageFolder(de + u"/Lang"_qs);
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
                          {"german_again", 0, QDialog::Rejected, 1031, 1031},
                          {"default_in_german", -1, QDialog::Accepted, 1033, 1033}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CDlgSetting dialog(languages);
        ASSERT_EQ(dialog.LanguageList()->count(), 2);
        EXPECT_EQ(dialog.LanguageList()->itemText(0), u"Deutsch"_qs);
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

    // The shipped languages, shown in their own names (the README's picture).
    CLangResource shipped;
    shipped.SetLanguageFolder(BuiltLangFolder());
    shipped.SelectLanguage(1033);
    CDlgSetting dialog(shipped);
    QStringList names;
    for (int i = 0; i < dialog.LanguageList()->count(); ++i) {
        names << dialog.LanguageList()->itemText(i);
    }
    EXPECT_EQ(names, (QStringList{u"Deutsch"_qs, u"American English"_qs, u"简体中文"_qs}));
    const QString shots = qEnvironmentVariable("ZUNARO_SCREENSHOTS");
    if (!shots.isEmpty()) {
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
    const QString folder = Resources(u"frame"_qs, u"de_DE.qm"_qs, german);
    CLangResource languages;
    languages.SetLanguageFolder(folder + u"/Lang"_qs);
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
    languages.SelectLanguage(1031);
    frame->ApplyLanguage();
    EXPECT_EQ(shown(), (QStringList{u"&Datei"_qs, u"&Kopieren"_qs, u"Ctrl+C"_qs, u"Beenden"_qs,
                                    u"&Symbolleiste"_qs, u"Bereit"_qs, u"SMS-Anzahl: 0"_qs,
                                    u"Datum"_qs, u"Uhrzeit"_qs, u"Ereignis"_qs, u"1"_qs}));
    EXPECT_EQ(frame->View()->columnWidth(CEventListModel::ColumnEvent), 80);
    languages.SelectLanguage(1033);
    frame->ApplyLanguage();
    EXPECT_EQ(shown(), (QStringList{u"&File"_qs, u"&Copy"_qs, u"Ctrl+C"_qs, u"Exit"_qs,
                                    u"&Toolbar"_qs, u"Ready"_qs, u"SMS Count: 0"_qs, u"Date"_qs,
                                    u"Time"_qs, u"Event"_qs, u"0"_qs}));

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

TEST_F(Languages, Catalogues_ShippedOnesAreComplete)
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
        const QString qm = BuiltLangFolder() + u'/' + language + u".qm"_qs;
        EXPECT_EQ(CatalogueFaults(qm, ts).join(u", "_qs).toStdString(), "");
    }
}

// Each fault in a catalogue that is otherwise the English table, alone and as found.
TEST_F(Languages, Catalogues_CheckFindsEachFault)
{
    Texts complete;
    for (unsigned id : EnglishStringIds()) {
        complete[id] = LoadEnglishString(id);
    }
    const auto with = [&](unsigned id, const QString& text) {
        Texts t = complete;
        if (text.isNull()) {
            t.erase(id);
        } else {
            t[id] = text;
        }
        return t;
    };
    struct Case
    {
        const char* name;
        std::vector<Texts> sources; // the first is the catalogue, all are its .ts files
        const char* faults;
    };
    const Case cases[] = {
        {"complete", {complete}, ""},
        {"missing", {with(kIdsQuitConfirm, QString())}, "10079 missing"},
        {"lost_s", {with(kIdsLoadFailed, u"Laden fehlgeschlagen"_qs)}, "108 placeholders"},
        {"added_d", {with(kIdsReady, u"Bereit %d"_qs)}, "57345 placeholders"},
        {"keys", {with(kIdsMenuCopy, u"&Kopieren\tStrg+C"_qs)}, "62426 accelerator"},
        {"two_files", {complete, {{kIdsReady, u"Bereit"_qs}}}, "57345 twice"},
        {"unknown_id", {complete, {{65000, u"X"_qs}}}, "65000 unknown"},
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
