#include "settings/SettingsDoc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <QDir>
#include <QFile>

#include "platform/Folders.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "recipients/AlarmChannels.h"
#include "recipients/UserList.h"
#include "settings/SettingsTarget.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

namespace {

// The application side; its channels note the telephone numbers each alarm text went to.
class SettingsDoc : public ::testing::Test, public ISettingsTarget, public IAlarmChannels
{
protected:
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

    static QString DataPath(const QString& name) { return QDir(DataFolder()).filePath(name); }
    // The recipients as "name|telephone|mail" rows.
    QStringList Rows() const
    {
        QStringList out;
        users.ForEach([&out](CUser& u) { out << u.Name + u'|' + u.Telephone + u'|' + u.Mail; });
        return out;
    }
    // Writes recipients with the telephone numbers prefix0, prefix1, ...; returns those.
    static QStringList WriteUsers(const QString& name, const char* prefix, int count)
    {
        QStringList numbers;
        QByteArray xml = "<SMS><UserList>";
        for (int i = 0; i < count; ++i) {
            numbers << QLatin1String(prefix) + QString::number(i);
            xml += "<GetUserResult Phone=\"" + numbers.last().toLatin1() + "\"/>";
        }
        WriteBytes(DataPath(name), xml + "</UserList></SMS>");
        return numbers;
    }

    CUserList users{this};
    int comPort = 0;
    int voice = 0;
    QString sender = "default@localhost";
    QString password = "default";
    QStringList ports;
    std::mutex mutex;
    std::map<QString, QStringList> sent;
    CDoc doc{*this};
};

const QByteArray kGolden =
    "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<SMS ComPort=\"2\" Voice=\"1\" E-Mail=\"alarm@example.com\" Password=\"czNjcjN0\">\r\n"
    "<UserList>\r\n"
    "<GetUserResult Name=\"Li &amp; &lt;Wei&gt; &quot;A&quot; &apos;B&apos;\" "
    "Phone=\"13800000000\" Mail=\"li@example.com\"/>\r\n"
    "<GetUserResult Name=\"\xE7\x8E\x8B\" Phone=\"\" Mail=\"wang@example.com\"/>\r\n"
    "</UserList>\r\n</SMS>\r\n";

} // namespace

TEST_F(SettingsDoc, Save_GoldenFileByteForByteStableAndLoadedBack)
{
    sender = "alarm@example.com";
    password = "s3cr3t";
    users.Add(std::make_unique<CUser>("Li & <Wei> \"A\" 'B'", "13800000000", "li@example.com"));
    users.Add(std::make_unique<CUser>("\u738B", QString(), "wang@example.com"));
    comPort = 2;
    voice = 1;
    const QString path = DataPath("golden.znr");
    ASSERT_TRUE(doc.SaveAs(path));
    EXPECT_EQ(ReadBytes(path), kGolden);
    ASSERT_TRUE(doc.Save());
    EXPECT_EQ(ReadBytes(path), kGolden);
    const QStringList rows = Rows();
    comPort = voice = 0;
    sender = password = QString();
    ASSERT_TRUE(doc.OpenDocument(path));
    EXPECT_EQ(QStringList({QString::number(comPort), QString::number(voice), sender, password}),
              QStringList({"2", "1", "alarm@example.com", "s3cr3t"}));
    EXPECT_EQ(ports, QStringList{"COM3"});
    EXPECT_EQ(Rows(), rows);
    // No recipients and no password: an empty UserList element and an empty attribute.
    users.Clear();
    password.clear();
    ASSERT_TRUE(doc.Save());
    EXPECT_TRUE(ReadBytes(path).endsWith("Password=\"\">\r\n<UserList/>\r\n</SMS>\r\n"));
    ASSERT_TRUE(doc.OpenDocument(path));
    EXPECT_TRUE(Rows().isEmpty() && password.isEmpty());
}

TEST_F(SettingsDoc, Load_PortsValuesAndEveryChildOfUserList)
{
    // Value of ComPort, the port it stands for, and the port's name.
    const char* const cases[][3] = {{"8", "8", "COM9"},
                                    {"9", "9", "\\\\.\\COM10"},
                                    {" +4", "4", "COM5"},
                                    {"x", "0", "COM1"},
                                    {"99999999999", "2147483647", "\\\\.\\COM2147483648"}};
    const QString path = DataPath("port.znr");
    for (const auto& c : cases) {
        WriteBytes(path, QByteArray("<SMS ComPort=\"") + c[0] + "\" Voice=\" -1\"/>");
        ports.clear();
        ASSERT_TRUE(doc.OpenDocument(path));
        EXPECT_EQ(QString::number(comPort), c[1]) << c[0];
        EXPECT_EQ(ports, QStringList{c[2]});
        EXPECT_TRUE(voice == -1 && sender.isEmpty()); // missing attributes read as empty
    }
    // Every child of UserList is a recipient, whatever its name.
    WriteBytes(path, "<SMS Password=\"YWJj=ZGVm\"><UserList><GetUserResult Name=\"a\"/><Other "
                     "Phone=\"1\"/>text<x:y Mail=\"m\"></x:y></UserList></SMS>");
    ASSERT_TRUE(doc.OpenDocument(path));
    EXPECT_EQ(Rows(), (QStringList{"a||", "|1|", "||m"}));
    EXPECT_EQ(password, "abc"); // decoding stops at '='
}

// Unusable files: no success claimed, no recipients, the file left alone, a new document.
TEST_F(SettingsDoc, Load_UnusableFilesAreReportedAsFailures)
{
    const QString good = DataPath("good.znr");
    WriteUsers("good.znr", "u", 3);
    const struct
    {
        const char* name;
        QByteArray bytes;
    } unusable[] = {
        {"truncated.znr", ReadBytes(good).chopped(20)},
        {"binary.znr", QByteArray("\x7F\x45LF\x02\x01\x01\0\0<\x01\xFF\xFE", 13)},
        {"empty.znr", QByteArray()},
        {"wrong-root.znr",
         "<Settings ComPort=\"3\"><UserList><GetUserResult/></UserList></Settings>"},
        {"two-roots.znr", "<SMS ComPort=\"3\"/><SMS ComPort=\"5\"/>"},
        {"nested.znr", "<SMS ComPort=\"4\"><UserList>" + QByteArray("<a>").repeated(100000)},
    };
    for (const auto& c : unusable) {
        const QString path = DataPath(QString::fromLatin1(c.name));
        WriteBytes(path, c.bytes);
        ASSERT_TRUE(doc.OpenDocument(good));
        const CDoc::StartupResult result = doc.OpenAtStartup(path);
        EXPECT_TRUE(result.path == path && !result.opened) << c.name;
        EXPECT_EQ(users.GetCount() + comPort, 0) << c.name;
        EXPECT_EQ(doc.GetPathName() + doc.GetTitle(), "Untitled") << c.name;
        EXPECT_EQ(ReadBytes(path), c.bytes) << c.name;
    }
    // Over the size the engine reads: refused before it is read.
    QFile big(DataPath("big.znr"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(200LL * 1024 * 1024));
    EXPECT_FALSE(doc.OpenAtStartup(big.fileName()).opened);
    big.remove();
    // A file that cannot be opened changes nothing.
    ASSERT_TRUE(doc.OpenDocument(good));
    EXPECT_FALSE(doc.OpenDocument(DataPath("missing.znr")));
    EXPECT_TRUE(users.GetCount() == 3 && doc.GetTitle() == "good.znr");
}

// File > Open during fan-outs on another thread: each serves the whole old or new list.
TEST_F(SettingsDoc, Load_FanOutDuringOpenSeesAWholeList)
{
    const QStringList listA = WriteUsers("a.znr", "a", 50);
    const QStringList listB = WriteUsers("b.znr", "b", 80);
    const QString a = DataPath("a.znr"), b = DataPath("b.znr");
    ASSERT_TRUE(doc.OpenDocument(a));
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        for (int i = 0; !stop; ++i) {
            users.Dispatch(QString::number(i));
        }
    });
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(doc.OpenDocument(i % 2 ? a : b));
    }
    stop = true;
    reader.join();
    ASSERT_GT(sent.size(), 30u);
    for (const auto& [alarm, tels] : sent) {
        ASSERT_TRUE(tels == listA || tels == listB) << alarm.toStdString() << ": " << tels.size();
    }
}

TEST_F(SettingsDoc, ModifiedMarkSaveAndStartupChoice)
{
    for (const QString& f : QDir(DataFolder()).entryList({"*.znr"})) {
        QFile::remove(DataPath(f));
    }
    doc.SetModifiedMark(true);
    doc.SetModifiedMark(true);
    EXPECT_EQ(doc.GetTitle(), "Untitled *");
    const QString path = DataPath("b.znr");
    doc.SetFileNamePrompt([&path](const QString&) { return path; });
    comPort = 5;
    ASSERT_TRUE(doc.Save());
    EXPECT_EQ(doc.GetTitle(), "b.znr");
    // A failed write keeps the good file and the mark.
    const QByteArray good = ReadBytes(path);
    users.Add(std::make_unique<CUser>("n", "1", QString()));
    doc.SetModifiedMark(true);
    {
        FileSizeLimit limit(good.size());
        EXPECT_FALSE(doc.Save());
    }
    EXPECT_EQ(doc.GetTitle(), "b.znr *");
    EXPECT_EQ(ReadBytes(path), good);
    // Start-up: the command line, else the first recent file, else the data folder's first.
    const QString other = QDir(TestHome()).filePath("other.znr");
    ASSERT_TRUE(doc.SaveSettings(other));
    ASSERT_TRUE(doc.SaveSettings(DataPath("a.znr")));
    EXPECT_EQ(CDoc::ChooseStartupFile(), path);
    doc.RecentFiles().Add(QDir(TestHome()).filePath("vanished.znr"));
    EXPECT_EQ(CDoc::ChooseStartupFile(), DataPath("a.znr"));
    comPort = 0;
    EXPECT_TRUE(doc.OpenAtStartup(other).opened && comPort == 5);
    EXPECT_EQ(GetProfileString(kProfileRecentFiles[0]), other);
}
