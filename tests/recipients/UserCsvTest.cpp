#include "recipients/UserCsv.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <QDir>
#include <QFile>

#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "recipients/UserList.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

namespace {

QString Path(const QString& name)
{
    return QDir(TestHome()).filePath(name);
}

std::vector<CUser> Users(const CUserList& list)
{
    std::vector<CUser> out;
    list.ForEach([&out](CUser& u) { out.push_back(u); });
    return out;
}

} // namespace

TEST(UserCsv, Export_ShownOrderUnquotedCrLf)
{
    CUserList list;
    list.Add(
        std::make_unique<CUser>(QStringLiteral("Zed"), QStringLiteral("13800000001"), QString()));
    list.Add(
        std::make_unique<CUser>(QStringLiteral("Amy, Jr"), QString(), QStringLiteral("a@x.cn")));
    const QString path = Path(QStringLiteral("UserList.CSV"));
    ASSERT_TRUE(ExportUsersCsv(list, path));
    EXPECT_EQ(ReadBytes(path), QByteArray("ID,Name,Telephone,Mail\r\n1,Zed,13800000001,\r\n"
                                          "2,Amy, Jr,,a@x.cn\r\n"));

    // The order shown (sorted by name) gets IDs 1, 2, ...
    const std::vector<CUser> users = Users(list);
    ASSERT_TRUE(ExportUsersCsv({&users[1], &users[0]}, path));
    EXPECT_TRUE(ReadBytes(path).startsWith("ID,Name,Telephone,Mail\r\n1,Amy, Jr,,a@x.cn\r\n2,Zed"));

    EXPECT_FALSE(ExportUsersCsv(list, Path(QStringLiteral("list.txt"))));
    EXPECT_FALSE(QFile::exists(Path(QStringLiteral("list.txt"))));
    EXPECT_FALSE(ExportUsersCsv(list, Path(QStringLiteral("no/dir/x.csv"))));
}

TEST(UserCsv, Import_UpdatesInPlaceAndAddsAfterTheWholeFile)
{
    CUserList list;
    list.Add(std::make_unique<CUser>(QStringLiteral("Ann"), QStringLiteral("111"),
                                     QStringLiteral("old@x")));
    const QString path = Path(QStringLiteral("in.csv"));
    WriteBytes(path, "id,NAME,telephone,MAIL\r\n"
                     "7,ann,13900000000,new@x\r\n"
                     "x,Bob,1,b@x\n"
                     "3,,2,nobody@x\r\n"
                     "4,Bob,22\r\n"
                     "5,Cid,33,c@x,extra\r\n"
                     "6,Smith, John,44,s@x\r\n"
                     "lonely\r\n"
                     "8,Lost,55,l@x");
    const CsvImportResult r = ImportUsersCsv(list, path);
    ASSERT_TRUE(r.read);
    EXPECT_EQ(r.updated, 1);
    ASSERT_EQ(r.added.size(), 4u);
    const std::vector<CUser> users = Users(list);
    ASSERT_EQ(users.size(), 5u);
    EXPECT_EQ(users[0].Name, QStringLiteral("Ann")); // updated in place, name kept
    EXPECT_EQ(users[0].Telephone, QStringLiteral("13900000000"));
    EXPECT_EQ(users[0].Mail, QStringLiteral("new@x"));
    // Both Bob lines make a user: new users join only after the whole file.
    EXPECT_EQ(users[1].Name, QStringLiteral("Bob"));
    EXPECT_EQ(users[2].Name, QStringLiteral("Bob"));
    EXPECT_EQ(users[2].Telephone, QStringLiteral("22"));
    EXPECT_EQ(users[2].Mail, QString());
    EXPECT_EQ(users[3].Mail, QStringLiteral("c@x"));
    // A comma in a name splits it.
    EXPECT_EQ(users[4].Name, QStringLiteral("Smith"));
    EXPECT_EQ(users[4].Telephone, QStringLiteral(" John"));

    // Export then import changes nothing.
    const QString round = Path(QStringLiteral("round.csv"));
    ASSERT_TRUE(ExportUsersCsv(list, round));
    const CsvImportResult again = ImportUsersCsv(list, round);
    EXPECT_EQ(again.added.size(), 0u);
    EXPECT_EQ(list.GetCount(), 5);
}

TEST(UserCsv, Import_RefusedFilesChangeNothing)
{
    const struct
    {
        const char* name;
        QByteArray bytes;
    } refused[] = {
        {"spaces.csv", " ID,Name,Telephone,Mail\r\n1,A,1,a@x\r\n"},
        {"other.csv", "Name,Telephone\r\n1,A,1,a@x\r\n"},
        {"noeol.csv", "ID,Name,Telephone,Mail"},
        {"wrong.txt", "ID,Name,Telephone,Mail\r\n1,A,1,a@x\r\n"},
        {"bom16.csv", "\xFF\xFEI\0D\0"},
    };
    for (const auto& c : refused) {
        CUserList list;
        const QString path = Path(QString::fromLatin1(c.name));
        WriteBytes(path, c.bytes);
        EXPECT_FALSE(ImportUsersCsv(list, path).read) << c.name;
        EXPECT_EQ(list.GetCount(), 0) << c.name;
    }
    CUserList list;
    EXPECT_FALSE(ImportUsersCsv(list, Path(QStringLiteral("missing.csv"))).read);
    EXPECT_FALSE(ImportUsersCsv(list, TestHome() + QStringLiteral("/dir.csv")).read);
}

TEST(UserCsv, CodePages_AnsiAndUtf8Mark)
{
    // A UTF-8 file with a byte order mark, as spreadsheet programs save it.
    CUserList list;
    const QString bom = Path(QStringLiteral("bom.csv"));
    WriteBytes(bom, "\xEF\xBB\xBFID,Name,Telephone,Mail\r\n1,\xE7\x8E\x8B,1,w@x\r\n");
    ASSERT_TRUE(ImportUsersCsv(list, bom).read);
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_EQ(Users(list)[0].Name, QStringLiteral("\u738B"));

    // Files of a Chinese Windows: the ANSI code page set to 936.
    WriteProfileString(kProfileCodePage, QStringLiteral("936"));
    ReloadCodePages();
    const QString gbk = Path(QStringLiteral("gbk.csv"));
    ASSERT_TRUE(ExportUsersCsv(list, gbk));
    EXPECT_EQ(ReadBytes(gbk), QByteArray("ID,Name,Telephone,Mail\r\n1,\xCD\xF5,1,w@x\r\n"));
    CUserList back;
    ASSERT_TRUE(ImportUsersCsv(back, gbk).read);
    EXPECT_EQ(Users(back)[0].Name, QStringLiteral("\u738B"));
    WriteProfileString(kProfileCodePage, QString());
    ReloadCodePages();
}
