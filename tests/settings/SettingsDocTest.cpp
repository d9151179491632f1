#include "settings/SettingsDoc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include "platform/Folders.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "recipients/AlarmChannels.h"
#include "recipients/UserList.h"
#include "settings/SettingsTarget.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

namespace {

// The application side, as CGatewayApp provides it; its channels note which telephone
// numbers each alarm text was sent to.
class Target : public ISettingsTarget, public IAlarmChannels
{
public:
    CUserList& SettingsUsers() override { return users; }
    int SettingsComPort() const override { return comPort; }
    void SetSettingsComPort(int port) override { comPort = port; }
    int SettingsVoice() const override { return voice; }
    void SetSettingsVoice(int v) override { voice = v; }
    QString SettingsMailSender() const override { return sender; }
    void SetSettingsMailSender(const QString& s) override { sender = s; }
    QString SettingsMailPassword() const override { return password; }
    void SetSettingsMailPassword(const QString& p) override { password = p; }
    void OnSettingsPortLoaded(int, const QString& name) override { ports << name; }

    void QueueSms(const QString& tel, const QString& text) override
    {
        std::lock_guard lock(mutex);
        sent[text] << tel;
    }
    void QueueMail(const QString&, const QString&) override {}
    void QueueSpeech(const QString&) override {}
    bool VoiceEnabled() const override { return false; }

    QStringList Names() const
    {
        QStringList out;
        users.ForEach([&out](CUser& u) { out << u.Name + u'|' + u.Telephone + u'|' + u.Mail; });
        return out;
    }

    CUserList users{this};
    int comPort = 0;
    int voice = 0;
    QString sender = QStringLiteral("default@localhost");
    QString password = QStringLiteral("default");
    QStringList ports;
    std::mutex mutex;
    std::map<QString, QStringList> sent;
};

class SettingsDoc : public ::testing::Test
{
protected:
    static QString DataPath(const QString& name) { return QDir(DataFolder()).filePath(name); }
    static QStringList Numbered(const QString& prefix, int count)
    {
        QStringList out;
        for (int i = 0; i < count; ++i) {
            out << prefix + QString::number(i);
        }
        return out;
    }
    // Writes a file of count recipients named prefix0, prefix1, ... with telephone = name.
    QString WriteUsers(const QString& name, const QString& prefix, int count)
    {
        Target source;
        for (const QString& n : Numbered(prefix, count)) {
            source.users.Add(std::make_unique<CUser>(n, n, QString()));
        }
        EXPECT_TRUE(CDoc(source).SaveSettings(DataPath(name)));
        return DataPath(name);
    }

    Target t;
    CDoc doc{t};
};

const QByteArray kGolden =
    "\xEF\xBB\xBF"
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<SMS ComPort=\"2\" Voice=\"1\" E-Mail=\"alarm@example.com\" Password=\"czNjcjN0\">\r\n"
    "<UserList>\r\n"
    "<GetUserResult Name=\"Li &amp; &lt;Wei&gt; &quot;A&quot; &apos;B&apos;\" "
    "Phone=\"13800000000\" Mail=\"li@example.com\"/>\r\n"
    "<GetUserResult Name=\"\xE7\x8E\x8B\" Phone=\"\" Mail=\"wang@example.com\"/>\r\n"
    "</UserList>\r\n"
    "</SMS>\r\n";

} // namespace

TEST_F(SettingsDoc, Save_GoldenFileByteForByteStableAndLoadedBack)
{
    t.comPort = 2;
    t.voice = 1;
    t.sender = QStringLiteral("alarm@example.com");
    t.password = QStringLiteral("s3cr3t");
    t.users.Add(std::make_unique<CUser>(QStringLiteral("Li & <Wei> \"A\" 'B'"),
                                        QStringLiteral("13800000000"),
                                        QStringLiteral("li@example.com")));
    t.users.Add(std::make_unique<CUser>(QStringLiteral("\u738B"), QString(),
                                        QStringLiteral("wang@example.com")));
    const QString path = DataPath(QStringLiteral("golden.znr"));
    ASSERT_TRUE(doc.SaveAs(path));
    EXPECT_EQ(ReadBytes(path), kGolden);
    ASSERT_TRUE(doc.Save());
    EXPECT_EQ(ReadBytes(path), kGolden);

    Target back;
    CDoc other(back);
    ASSERT_TRUE(other.OpenDocument(path));
    EXPECT_EQ(back.comPort, 2);
    EXPECT_EQ(back.voice, 1);
    EXPECT_EQ(back.sender, t.sender);
    EXPECT_EQ(back.password, t.password);
    EXPECT_EQ(back.ports, QStringList{QStringLiteral("COM3")});
    EXPECT_EQ(back.Names(), t.Names());
    EXPECT_FALSE(other.IsModified());

    // No recipients and no password: an empty UserList element and an empty attribute.
    t.users.Clear();
    t.password.clear();
    ASSERT_TRUE(doc.Save());
    EXPECT_TRUE(ReadBytes(path).endsWith("Password=\"\">\r\n<UserList/>\r\n</SMS>\r\n"));
    ASSERT_TRUE(other.OpenDocument(path));
    EXPECT_EQ(back.users.GetCount(), 0);
    EXPECT_EQ(back.password, QString());
}

TEST_F(SettingsDoc, Load_PortsValuesAndEveryChildOfUserList)
{
    const struct
    {
        const char* comPort;
        int value;
        const char* name;
    } ports[] = {
        {"8", 8, "COM9"},
        {"9", 9, "\\\\.\\COM10"},
        {" +4", 4, "COM5"},
        {"x", 0, "COM1"},
        {"", 0, "COM1"},
        {"12abc", 12, "\\\\.\\COM13"},
        {"99999999999", 2147483647, "\\\\.\\COM2147483648"},
    };
    const QString path = DataPath(QStringLiteral("port.znr"));
    for (const auto& p : ports) {
        WriteBytes(path, QByteArray("<SMS ComPort=\"") + p.comPort + "\" Voice=\" -1\"/>");
        t.ports.clear();
        ASSERT_TRUE(doc.OpenDocument(path));
        EXPECT_EQ(t.comPort, p.value) << p.comPort;
        EXPECT_EQ(t.ports, QStringList{QString::fromLatin1(p.name)});
        EXPECT_EQ(t.voice, -1);
        EXPECT_EQ(t.sender, QString()); // missing attributes read as empty
    }

    // Every child of UserList is a recipient, whatever its name; a UTF-16 file loads.
    const QString text = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SMS Password=\"YWJj=ZGVm\"><UserList>"
        "<GetUserResult Name=\"a\"/><Other Phone=\"1\"/>text<x:y "
        "Mail=\"m\"></x:y></UserList></SMS>");
    QByteArray le("\xFF\xFE", 2);
    le.append(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    WriteBytes(path, le);
    ASSERT_TRUE(doc.OpenDocument(path));
    EXPECT_EQ(t.Names(), (QStringList{"a||", "|1|", "||m"}));
    EXPECT_EQ(t.password, QStringLiteral("abc")); // decoding stops at '='
}

// Files that cannot be used are refused: no success is claimed, the recipients go, the
// other settings stay, the file is left alone and the document is a new one.
TEST_F(SettingsDoc, Load_UnusableFilesAreReportedAsFailures)
{
    const QByteArray good =
        ReadBytes(WriteUsers(QStringLiteral("good.znr"), QStringLiteral("u"), 3));
    QByteArray deep = "<SMS ComPort=\"4\"><UserList>";
    for (int i = 0; i < 100000; ++i) {
        deep += "<a>";
    }
    const struct
    {
        const char* name;
        QByteArray bytes;
    } unusable[] = {
        {"truncated.znr", good.left(good.size() - 20)},
        {"binary.znr", QByteArray("\x7F"
                                  "ELF\x02\x01\x01\0\0<\x01\xFF\xFE",
                                  16)},
        {"empty.znr", QByteArray()},
        {"wrong-root.znr", "<Settings ComPort=\"3\"><UserList><GetUserResult Name=\"a\"/>"
                           "</UserList></Settings>"},
        {"two-roots.znr", "<SMS ComPort=\"3\"/><SMS ComPort=\"5\"/>"},
        {"nested.znr", deep},
    };
    QLoggingCategory::setFilterRules(QStringLiteral("zunaro.settings.debug=true"));
    static QStringList logged;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext& context, const QString& message) {
            if (QByteArray(context.category) == "zunaro.settings") {
                logged << message;
            }
        });
    for (const auto& c : unusable) {
        const QString path = DataPath(QString::fromLatin1(c.name));
        WriteBytes(path, c.bytes);
        ASSERT_TRUE(doc.OpenDocument(DataPath(QStringLiteral("good.znr"))));
        logged.clear();
        const CDoc::StartupResult result = doc.OpenAtStartup(path);
        EXPECT_EQ(result.path, path);
        EXPECT_FALSE(result.opened) << c.name;
        EXPECT_EQ(t.users.GetCount(), 0) << c.name;
        EXPECT_EQ(t.comPort, 0) << c.name;
        EXPECT_EQ(doc.GetTitle(), QStringLiteral("Untitled")) << c.name;
        EXPECT_EQ(doc.GetPathName(), QString()) << c.name;
        EXPECT_EQ(ReadBytes(path), c.bytes) << c.name;
        ASSERT_EQ(logged.size(), 1) << c.name;
        EXPECT_TRUE(logged[0].startsWith(QStringLiteral("cannot use"))) << c.name;
    }
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());

    // Over the size the engine reads: refused before it is read.
    const QString big = DataPath(QStringLiteral("big.znr"));
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(200LL * 1024 * 1024));
    }
    EXPECT_FALSE(doc.OpenAtStartup(big).opened);
    QFile::remove(big);

    // A file that cannot be opened changes nothing.
    ASSERT_TRUE(doc.OpenDocument(DataPath(QStringLiteral("good.znr"))));
    EXPECT_FALSE(doc.OpenDocument(DataPath(QStringLiteral("missing.znr"))));
    EXPECT_EQ(t.users.GetCount(), 3);
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("good.znr"));
}

// File > Open while alarms are fanned out on another thread: every fan-out serves the
// whole old list or the whole new one.
TEST_F(SettingsDoc, Load_FanOutDuringOpenSeesAWholeList)
{
    const QString a = WriteUsers(QStringLiteral("a.znr"), QStringLiteral("a"), 50);
    const QString b = WriteUsers(QStringLiteral("b.znr"), QStringLiteral("b"), 80);
    ASSERT_TRUE(doc.OpenDocument(a));
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        for (int i = 0; !stop; ++i) {
            t.users.Dispatch(QString::number(i));
        }
    });
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(doc.OpenDocument(i % 2 ? a : b));
    }
    stop = true;
    reader.join();
    const QStringList listA = Numbered(QStringLiteral("a"), 50);
    const QStringList listB = Numbered(QStringLiteral("b"), 80);
    ASSERT_GT(t.sent.size(), 30u);
    for (const auto& [alarm, tels] : t.sent) {
        ASSERT_TRUE(tels == listA || tels == listB) << alarm.toStdString() << ": " << tels.size();
    }
}

TEST_F(SettingsDoc, ModifiedMark_OnceAndClearedBySave)
{
    EXPECT_EQ(CDoc::Instance(), &doc);
    doc.NewDocument();
    doc.SetModifiedMark(true);
    doc.SetModifiedMark(true);
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("Untitled *"));
    // No path and no file-name prompt: the save is cancelled and the mark stays.
    EXPECT_FALSE(doc.Save());
    EXPECT_TRUE(doc.IsModified());

    const QString path = DataPath(QStringLiteral("mark.znr"));
    doc.SetFileNamePrompt([&path](const QString&) { return path; });
    ASSERT_TRUE(doc.Save());
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("mark.znr"));
    EXPECT_FALSE(doc.IsModified());

    // A failed write keeps the good file and the mark.
    const QByteArray good = ReadBytes(path);
    t.users.Add(std::make_unique<CUser>(QStringLiteral("n"), QStringLiteral("1"), QString()));
    doc.SetModifiedMark(true);
    {
        FileSizeLimit limit(good.size());
        EXPECT_FALSE(doc.Save());
    }
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("mark.znr *"));
    EXPECT_EQ(ReadBytes(path), good);

    // The save prompt decides whether New may go on.
    doc.SetSavePrompt([](const QString&) { return CDocument::SaveAnswer::Cancel; });
    EXPECT_FALSE(doc.NewDocument());
    EXPECT_EQ(t.users.GetCount(), 1);
    doc.SetSavePrompt([](const QString&) { return CDocument::SaveAnswer::Discard; });
    EXPECT_TRUE(doc.NewDocument());
    EXPECT_EQ(t.users.GetCount(), 0);
}

TEST_F(SettingsDoc, Startup_ChoiceAndRecentFiles)
{
    for (const QString& f : QDir(DataFolder()).entryList({QStringLiteral("*.znr")})) {
        QFile::remove(DataPath(f));
    }
    for (const ProfileStringKey& key : kProfileRecentFiles) {
        WriteProfileString(key, QString());
    }
    const CDoc::StartupResult none = doc.OpenAtStartup();
    EXPECT_TRUE(none.path.isEmpty());
    EXPECT_FALSE(none.opened);

    // The first *.znr of the data folder by name.
    t.comPort = 5;
    ASSERT_TRUE(doc.SaveSettings(DataPath(QStringLiteral("b.znr"))));
    ASSERT_TRUE(doc.SaveSettings(DataPath(QStringLiteral("a.znr"))));
    EXPECT_EQ(CDoc::ChooseStartupFile(), DataPath(QStringLiteral("a.znr")));

    // The recent list: most recent first, at most four, kept in the profile.
    const QString other = QDir(TestHome()).filePath(QStringLiteral("other.znr"));
    ASSERT_TRUE(doc.SaveSettings(other));
    CRecentFileList recent;
    for (int i = 0; i < 5; ++i) {
        recent.Add(QDir(TestHome()).filePath(QStringLiteral("gone%1.znr").arg(i)));
    }
    recent.Add(other);
    CRecentFileList reread;
    reread.Load();
    ASSERT_EQ(reread.Files().size(), 4);
    EXPECT_EQ(reread.At(0), other);
    EXPECT_TRUE(reread.At(1).endsWith(QStringLiteral("gone4.znr")));
    EXPECT_EQ(CDoc::ChooseStartupFile(), other);
    // A recent file that no longer exists: the data folder's first file instead.
    recent.Add(QDir(TestHome()).filePath(QStringLiteral("vanished.znr")));
    EXPECT_EQ(CDoc::ChooseStartupFile(), DataPath(QStringLiteral("a.znr")));

    // The command line wins; opening it loads the settings and adds it to the list.
    t.comPort = 0;
    EXPECT_TRUE(doc.OpenAtStartup(other).opened);
    EXPECT_EQ(t.comPort, 5);
    EXPECT_EQ(GetProfileString(kProfileRecentFiles[0]), other);
    EXPECT_FALSE(doc.OpenAtStartup(DataPath(QStringLiteral("no.znr"))).opened);
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("Untitled"));
}
