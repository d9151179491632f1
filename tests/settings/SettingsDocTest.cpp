#include "settings/SettingsDoc.h"

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

#include <utility>
#include <vector>

#include <QDir>
#include <QFile>

#include "platform/Folders.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "recipients/UserList.h"
#include "settings/SettingsTarget.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

namespace {

// The application side, as CGatewayApp provides it.
class Target : public ISettingsTarget
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
    void OnSettingsPortLoaded(int port, const QString& name) override
    {
        ports.emplace_back(port, name);
    }

    std::vector<CUser> Users() const
    {
        std::vector<CUser> out;
        users.ForEach([&out](CUser& u) { out.push_back(u); });
        return out;
    }

    CUserList users;
    int comPort = 0;
    int voice = 0;
    QString sender = QStringLiteral("default@localhost");
    QString password = QStringLiteral("default");
    std::vector<std::pair<int, QString>> ports;
};

QString DataPath(const QString& name)
{
    return QDir(DataFolder()).filePath(name);
}

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

void FillGolden(Target& t)
{
    t.comPort = 2;
    t.voice = 1;
    t.sender = QStringLiteral("alarm@example.com");
    t.password = QStringLiteral("s3cr3t");
    t.users.Add(new CUser(QStringLiteral("Li & <Wei> \"A\" 'B'"), QStringLiteral("13800000000"),
                          QStringLiteral("li@example.com")));
    t.users.Add(new CUser(QStringLiteral("\u738B"), QString(), QStringLiteral("wang@example.com")));
}

} // namespace

TEST(SettingsDoc, Save_GoldenFileByteForByteAndStable)
{
    Target t;
    FillGolden(t);
    CDoc doc(t);
    const QString path = DataPath(QStringLiteral("golden.znr"));
    ASSERT_TRUE(doc.SaveAs(path));
    EXPECT_EQ(ReadBytes(path), kGolden);
    ASSERT_TRUE(doc.Save());
    EXPECT_EQ(ReadBytes(path), kGolden);
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("golden.znr"));

    // Loading it into a fresh application gives every value back.
    Target back;
    CDoc other(back);
    ASSERT_TRUE(other.OpenDocument(path));
    EXPECT_EQ(back.comPort, 2);
    EXPECT_EQ(back.voice, 1);
    EXPECT_EQ(back.sender, QStringLiteral("alarm@example.com"));
    EXPECT_EQ(back.password, QStringLiteral("s3cr3t"));
    ASSERT_EQ(back.ports.size(), 1u);
    EXPECT_EQ(back.ports[0].second, QStringLiteral("COM3"));
    const std::vector<CUser> users = back.Users();
    ASSERT_EQ(users.size(), 2u);
    EXPECT_EQ(users[0].Name, QStringLiteral("Li & <Wei> \"A\" 'B'"));
    EXPECT_EQ(users[0].Telephone, QStringLiteral("13800000000"));
    EXPECT_EQ(users[1].Name, QStringLiteral("\u738B"));
    EXPECT_EQ(users[1].Telephone, QString());
    EXPECT_EQ(users[1].Mail, QStringLiteral("wang@example.com"));
    EXPECT_FALSE(other.IsModified());
}

TEST(SettingsDoc, Save_EmptyListAndEmptyPassword)
{
    Target t;
    t.sender.clear();
    t.password.clear();
    CDoc doc(t);
    const QString path = DataPath(QStringLiteral("empty.znr"));
    ASSERT_TRUE(doc.SaveAs(path));
    EXPECT_EQ(ReadBytes(path), QByteArray("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                          "\r\n<SMS ComPort=\"0\" Voice=\"0\" E-Mail=\"\" "
                                          "Password=\"\">\r\n<UserList/>\r\n</SMS>\r\n"));
    Target back;
    back.users.Add(new CUser(QStringLiteral("old"), QString(), QString()));
    CDoc other(back);
    ASSERT_TRUE(other.OpenDocument(path));
    EXPECT_EQ(back.users.GetCount(), 0);
    EXPECT_EQ(back.password, QString());
    EXPECT_EQ(back.sender, QString());
}

TEST(SettingsDoc, Load_PortsValuesAndOddFiles)
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
    for (const auto& p : ports) {
        const QString path = DataPath(QStringLiteral("port.znr"));
        WriteBytes(path, QByteArray("<SMS ComPort=\"") + p.comPort + "\" Voice=\" -1\"/>");
        Target t;
        CDoc doc(t);
        ASSERT_TRUE(doc.OpenDocument(path));
        EXPECT_EQ(t.comPort, p.value) << p.comPort;
        ASSERT_EQ(t.ports.size(), 1u);
        EXPECT_EQ(t.ports[0].second, QString::fromLatin1(p.name));
        EXPECT_EQ(t.voice, -1);
        EXPECT_EQ(t.sender, QString()); // missing attributes read as empty
    }

    // A wrong root loads nothing: the list is emptied, the other settings stay.
    const QString wrong = DataPath(QStringLiteral("wrong.znr"));
    WriteBytes(wrong, "<Settings ComPort=\"3\"><UserList><GetUserResult Name=\"a\"/>"
                      "</UserList></Settings>");
    Target t;
    t.users.Add(new CUser(QStringLiteral("keep?"), QString(), QString()));
    CDoc doc(t);
    ASSERT_TRUE(doc.OpenDocument(wrong));
    EXPECT_EQ(t.users.GetCount(), 0);
    EXPECT_EQ(t.comPort, 0);
    EXPECT_TRUE(t.ports.empty());
    EXPECT_EQ(t.sender, QStringLiteral("default@localhost"));

    // Every child of UserList is a recipient, whatever its name; a UTF-16 file loads.
    QString text = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SMS Password="
                                  "\"YWJj=ZGVm\"><UserList><GetUserResult Name=\"a\"/><Other "
                                  "Phone=\"1\"/>text<x:y Mail=\"m\"></x:y></UserList></SMS>");
    QByteArray le("\xFF\xFE", 2);
    for (QChar c : text) {
        le.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    }
    const QString utf16 = DataPath(QStringLiteral("utf16.znr"));
    WriteBytes(utf16, le);
    ASSERT_TRUE(doc.OpenDocument(utf16));
    const std::vector<CUser> users = t.Users();
    ASSERT_EQ(users.size(), 3u);
    EXPECT_EQ(users[1].Telephone, QStringLiteral("1"));
    EXPECT_EQ(users[2].Mail, QStringLiteral("m"));
    EXPECT_EQ(t.password, QStringLiteral("abc")); // decoding stops at '='

    // A file that cannot be opened is refused and changes nothing.
    EXPECT_FALSE(doc.OpenDocument(DataPath(QStringLiteral("missing.znr"))));
    EXPECT_EQ(t.users.GetCount(), 3);
}

TEST(SettingsDoc, ModifiedMark_OnceAndClearedBySave)
{
    Target t;
    CDoc doc(t);
    EXPECT_EQ(CDoc::Instance(), &doc);
    doc.NewDocument();
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("Untitled"));
    doc.SetModifiedMark(true);
    doc.SetModifiedMark(true);
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("Untitled *"));
    EXPECT_TRUE(doc.IsModified());

    // No path and no file-name prompt: the save is cancelled and the mark stays.
    EXPECT_FALSE(doc.Save());
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("Untitled *"));
    EXPECT_TRUE(doc.IsModified());

    const QString path = DataPath(QStringLiteral("mark.znr"));
    doc.SetFileNamePrompt([&path](const QString&) { return path; });
    ASSERT_TRUE(doc.Save());
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("mark.znr"));
    EXPECT_FALSE(doc.IsModified());

    // A failed write keeps the good file and the mark.
    const QByteArray good = ReadBytes(path);
    t.users.Add(new CUser(QStringLiteral("n"), QStringLiteral("1"), QString()));
    doc.SetModifiedMark(true);
    {
        FileSizeLimit limit(good.size());
        EXPECT_FALSE(doc.Save());
    }
    EXPECT_TRUE(doc.IsModified());
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("mark.znr *"));
    EXPECT_EQ(ReadBytes(path), good);

    // The save prompt decides whether New may go on.
    doc.SetModifiedMark(true);
    doc.SetSavePrompt([](const QString&) { return CDocument::SaveAnswer::Cancel; });
    EXPECT_FALSE(doc.NewDocument());
    EXPECT_EQ(t.users.GetCount(), 1);
    doc.SetSavePrompt([](const QString&) { return CDocument::SaveAnswer::Discard; });
    EXPECT_TRUE(doc.NewDocument());
    EXPECT_EQ(t.users.GetCount(), 0);
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("Untitled"));
}

TEST(SettingsDoc, Startup_ChoiceAndRecentFiles)
{
    // Nothing anywhere: a new, empty document.
    for (const QString& f : QDir(DataFolder()).entryList({QStringLiteral("*.znr")})) {
        QFile::remove(DataPath(f));
    }
    for (const ProfileStringKey& key : kProfileRecentFiles) {
        WriteProfileString(key, QString());
    }
    Target t;
    {
        CDoc doc(t);
        const CDoc::StartupResult none = doc.OpenAtStartup();
        EXPECT_TRUE(none.path.isEmpty());
        EXPECT_FALSE(none.opened);
        EXPECT_EQ(doc.GetTitle(), QStringLiteral("Untitled"));
    }

    // The first *.znr of the data folder by name.
    Target values;
    values.comPort = 5;
    CDoc writer(values);
    ASSERT_TRUE(writer.SaveSettings(DataPath(QStringLiteral("b.znr"))));
    ASSERT_TRUE(writer.SaveSettings(DataPath(QStringLiteral("a.znr"))));
    EXPECT_EQ(CDoc::ChooseStartupFile(), DataPath(QStringLiteral("a.znr")));

    // The recent list: most recent first, at most four, kept in the profile.
    const QString other = QDir(TestHome()).filePath(QStringLiteral("other.znr"));
    ASSERT_TRUE(writer.SaveSettings(other));
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
    CDoc doc(t);
    const CDoc::StartupResult result = doc.OpenAtStartup(other);
    EXPECT_TRUE(result.opened);
    EXPECT_EQ(t.comPort, 5);
    EXPECT_EQ(GetProfileString(kProfileRecentFiles[0]), other);

    // A named file that cannot be opened leaves a new document.
    const CDoc::StartupResult missing = doc.OpenAtStartup(DataPath(QStringLiteral("no.znr")));
    EXPECT_FALSE(missing.opened);
    EXPECT_EQ(doc.GetTitle(), QStringLiteral("Untitled"));
}
