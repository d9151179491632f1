#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QProcess>
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

// Writes the texts as an id-based .ts and compiles it into folder/fileName with lrelease.
void MakeCatalogue(const QString& folder, const QString& fileName, const Texts& texts)
{
    QString ts = u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE TS>\n<TS version=\"2.1\">"
                 "<context><name></name>\n"_qs;
    for (const auto& [id, text] : texts) {
        ts += QStringLiteral("<message id=\"%1\"><source>%2</source><translation>%3"
                             "</translation></message>\n")
                  .arg(id)
                  .arg(LoadEnglishString(id).toHtmlEscaped(), text.toHtmlEscaped());
    }
    const QString source = folder + u'/' + fileName + u".ts"_qs;
    WriteBytes(source, (ts + u"</context></TS>\n"_qs).toUtf8());
    const QString lrelease = QLibraryInfo::path(QLibraryInfo::BinariesPath) + u"/lrelease"_qs;
    ASSERT_EQ(QProcess::execute(lrelease, {u"-idbased"_qs, u"-silent"_qs, source, u"-qm"_qs,
                                           folder + u'/' + fileName}),
              0);
    QFile::remove(source);
}

// A language's own name and "Ready", the probe present unless withProbe is false.
Texts Small(const QString& name, const QString& ready, bool withProbe = true)
{
    Texts texts{{kIdsReady, ready}};
    if (withProbe) {
        texts[kIdsLanguageCheck] = name;
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

// The build tree's folder of the shipped catalogues and the sources they are made from.
QString BuiltLangFolder()
{
    return ProgramFolder() + u"/../Lang"_qs;
}
QString SourceLangFolder()
{
    const QString source = qEnvironmentVariable("ZUNARO_SOURCE_DIR");
    return (source.isEmpty() ? ProgramFolder() + u"/../.."_qs : source) + u"/res/lang"_qs;
}
QStringList Sources(const QString& folder, const QString& language)
{
    QStringList paths;
    for (const QString& name : QDir(folder).entryList({u"*."_qs + language + u".ts"_qs})) {
        paths << folder + u'/' + name;
    }
    return paths;
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
    // A resource folder whose Lang/ holds the catalogues, each made from its texts.
    static QString Resources(const QString& name, const std::map<QString, Texts>& catalogues)
    {
        const QString folder = FreshFolder(name);
        if (!catalogues.empty()) {
            QDir().mkpath(folder + u"/Lang"_qs);
        }
        for (const auto& [file, texts] : catalogues) {
            MakeCatalogue(folder + u"/Lang"_qs, file, texts);
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
        std::map<QString, Texts> catalogues;
        int profile; // 0: none stored
        const char* locale;
        std::uint16_t expected;
        std::vector<std::uint16_t> available;
        QString ready; // "Ready" as it reads then
    };
    const Case cases[] = {
        {"no_lang_folder", {}, 1031, "de_DE.UTF-8", 1033, {1033}, u"Ready"_qs},
        {"german_profile",
         {{u"de_DE.qm"_qs, Small(u"Deutsch"_qs, u"Bereit"_qs)}},
         1031,
         "C",
         1031,
         {1031, 1033},
         u"Bereit"_qs},
        {"french_locale",
         {{u"fr_FR.qm"_qs, Small(u"Français"_qs, u"Prêt"_qs)}},
         0,
         "fr_FR.UTF-8",
         1036,
         {1033, 1036},
         u"Prêt"_qs},
        {"same_language_locale",
         {{u"fr_FR.qm"_qs, Small(u"Français"_qs, u"Prêt"_qs)}},
         1031,
         "fr_CA.UTF-8",
         1036,
         {1033, 1036},
         u"Prêt"_qs},
        {"letter_case",
         {{u"DE_de.qm"_qs, Small(u"Deutsch"_qs, u"Bereit"_qs)}},
         1031,
         "C",
         1031,
         {1031, 1033},
         u"Bereit"_qs},
        {"no_probe",
         {{u"de_DE.qm"_qs, Small(u"Deutsch"_qs, u"Bereit"_qs, false)}},
         1031,
         "C",
         1033,
         {1031, 1033},
         u"Ready"_qs},
        {"unknown_file",
         {{u"xx_XX.qm"_qs, Small(u"X"_qs, u"X"_qs)}},
         0,
         "C",
         1033,
         {1033},
         u"Ready"_qs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qputenv("ZUNARO_RESOURCES", Resources(QString::fromLatin1(c.name), c.catalogues).toUtf8());
        qputenv("LC_ALL", c.locale);
        if (c.profile != 0) {
            WriteProfileInt(kProfileLanguage, c.profile);
        } else {
            DeleteProfileValue(u"Setting"_qs, u"Language"_qs);
        }
        CLangResource languages;
        SelectStartupLanguage(languages);
        EXPECT_EQ(languages.CurrentLanguage(), c.expected);
        EXPECT_EQ(languages.AvailableLanguages(), c.available);
        EXPECT_EQ(LoadString(kIdsReady), c.ready);
        EXPECT_EQ(LoadString(kIdsSmsCount), u"SMS Count: %d"_qs); // missing ids stay English
        EXPECT_EQ(StoredLanguage(), c.profile != 0);
    }
}

TEST_F(Languages, Switch_WorkersReadOneLanguageOrTheOther)
{
    const QString de =
        Resources(u"threads"_qs, {{u"de_DE.qm"_qs, Small(u"Deutsch"_qs, u"Bereit"_qs)}});
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
    const QString de =
        Resources(u"dialog"_qs, {{u"de_DE.qm"_qs, Small(u"Deutsch"_qs, u"Bereit"_qs)}});
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

TEST_F(Languages, Switch_RetitlesMenusPanesAndColumnsAtOnce)
{
    const Texts german{{kIdsLanguageCheck, u"Deutsch"_qs},
                       {kIdsMenuFile, u"&Datei"_qs},
                       {kIdsMenuCopy, u"&Kopieren\tCtrl+C"_qs},
                       {kIdsTrayExit, u"Beenden"_qs},
                       {kIdsReady, u"Bereit"_qs},
                       {kIdsSmsCount, u"SMS-Anzahl: %d"_qs},
                       {kIdsPrinterPane, u"Alarmdrucker"_qs},
                       {kIdsColumnDate, u"Datum"_qs},
                       {kIdsColumnTime, u"Uhrzeit"_qs},
                       {kIdsColumnEvent, u"Ereignis"_qs}};
    const QString folder = Resources(u"frame"_qs, {{u"de_DE.qm"_qs, german}});
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
                                    u"Bereit"_qs, u"SMS-Anzahl: 0"_qs, u"Datum"_qs, u"Uhrzeit"_qs,
                                    u"Ereignis"_qs, u"1"_qs}));
    EXPECT_EQ(frame->View()->columnWidth(CEventListModel::ColumnEvent), 80);
    languages.SelectLanguage(1033);
    frame->ApplyLanguage();
    EXPECT_EQ(shown(),
              (QStringList{u"&File"_qs, u"&Copy"_qs, u"Ctrl+C"_qs, u"Exit"_qs, u"Ready"_qs,
                           u"SMS Count: 0"_qs, u"Date"_qs, u"Time"_qs, u"Event"_qs, u"0"_qs}));
}

TEST_F(Languages, TrayDoubleClick_IgnoredWhileAModalDialogIsOpen)
{
    CWindowed program;
    CMainFrame* frame = program.Frame();
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
    for (const QString& language : {u"de_DE"_qs, u"zh_CN"_qs}) {
        SCOPED_TRACE(language.toStdString());
        EXPECT_EQ(CatalogueFaults(BuiltLangFolder() + u'/' + language + u".qm"_qs,
                                  Sources(SourceLangFolder(), language))
                      .join(u", "_qs)
                      .toStdString(),
                  std::string());
    }
}

TEST_F(Languages, Catalogues_CheckFindsEachFault)
{
    Texts complete;
    for (unsigned id : EnglishStringIds()) {
        complete[id] = LoadEnglishString(id);
    }
    const auto without = [&](unsigned id) {
        Texts t = complete;
        t.erase(id);
        return t;
    };
    const auto with = [&](unsigned id, const QString& text) {
        Texts t = complete;
        t[id] = text;
        return t;
    };
    struct Case
    {
        const char* name;
        std::vector<Texts> sources; // the first is compiled, all are checked as .ts
        QStringList faults;
    };
    const Case cases[] = {
        {"complete", {complete}, {}},
        {"missing", {without(kIdsQuitConfirm)}, {u"10079 missing"_qs}},
        {"lost_s", {with(kIdsLoadFailed, u"Laden fehlgeschlagen"_qs)}, {u"108 placeholders"_qs}},
        {"added_d", {with(kIdsReady, u"Bereit %d"_qs)}, {u"57345 placeholders"_qs}},
        {"keys", {with(kIdsMenuCopy, u"&Kopieren\tStrg+C"_qs)}, {u"62426 accelerator"_qs}},
        {"two_files", {complete, {{kIdsReady, u"Bereit"_qs}}}, {u"57345 twice"_qs}},
        {"unknown_id", {complete, {{65000, u"X"_qs}}}, {u"65000 unknown"_qs}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = FreshFolder(QString::fromLatin1(c.name));
        MakeCatalogue(folder, u"de_DE.qm"_qs, c.sources.front());
        QStringList ts;
        for (std::size_t i = 0; i < c.sources.size(); ++i) {
            ts << folder + QStringLiteral("/area%1.de_DE.ts").arg(i);
            QString xml = u"<TS><context><name></name>"_qs;
            for (const auto& [id, text] : c.sources[i]) {
                xml += QStringLiteral("<message id=\"%1\"><translation>%2</translation></message>")
                           .arg(id)
                           .arg(text.toHtmlEscaped());
            }
            WriteBytes(ts.last(), (xml + u"</context></TS>"_qs).toUtf8());
        }
        EXPECT_EQ(CatalogueFaults(folder + u"/de_DE.qm"_qs, ts).join(u", "_qs).toStdString(),
                  c.faults.join(u", "_qs).toStdString());
    }
}

TEST_F(Languages, Headless_FollowsTheProfileLanguage)
{
    const QString resources =
        Resources(u"headless"_qs, {{u"de_DE.qm"_qs,
                                    {{kIdsLanguageCheck, u"Deutsch"_qs},
                                     {kIdsLoadSucceeded, u"'%s' erfolgreich geladen!"_qs}}}});
    const QString file = qEnvironmentVariable("ZUNARO_HOME") + u"/Lang.znr"_qs;
    WriteSettingsFile(file);
    WriteProfileInt(kProfileLanguage, 1031);
    WriteProfileString(u"Ports"_qs, u"COM1"_qs, u"/nonexistent/zunaro-modem"_qs);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"ZUNARO_RESOURCES"_qs, resources);
    Program program(FreePort(), {file}, env);
    EXPECT_TRUE(program.WaitForLine(u"'"_qs + file + u"' erfolgreich geladen!"_qs))
        << program.Output().toStdString();
    program.Process().terminate();
    EXPECT_TRUE(program.Process().waitForFinished(10000));
}
