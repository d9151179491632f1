#include "recipients/UserCsv.h"

#include <gtest/gtest.h>

#include <memory>

#include <QDir>
#include <QFile>

#include "platform/CodePage.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "recipients/UserList.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

namespace {

class UserCsv : public ::testing::Test
{
protected:
    static QString Path(const QString& name) { return QDir(TestHome()).filePath(name); }
    // The list as "name|telephone|mail" rows.
    QStringList Rows() const
    {
        QStringList out;
        list.ForEach([&out](CUser& u) { out << u.Name + u'|' + u.Telephone + u'|' + u.Mail; });
        return out;
    }

    CUserList list;
};

} // namespace

TEST_F(UserCsv, ExportAndImport_RowsAsTheyAre)
{
    const CUser zed("Zed", "13800000001", QString());
    const CUser amy("Amy, Jr", QString(), "a@x.cn");
    ASSERT_TRUE(ExportUsersCsv({&amy, &zed}, Path("UserList.CSV"))); // shown order: IDs 1, 2, ..
    EXPECT_EQ(ReadBytes(Path("UserList.CSV")),
              "ID,Name,Telephone,Mail\r\n1,Amy, Jr,,a@x.cn\r\n2,Zed,13800000001,\r\n");
    EXPECT_FALSE(ExportUsersCsv(list, Path("list.txt")) || QFile::exists(Path("list.txt")));
    EXPECT_FALSE(ExportUsersCsv(list, Path("no/dir/x.csv")));
    list.Add(std::make_unique<CUser>("Ann", "111", "old@x"));
    const QString path = Path("in.csv");
    WriteBytes(path, "id,NAME,telephone,MAIL\r\n7,ann,13900000000,new@x\r\nx,Bob,1,b@x\n"
                     "3,,2,nobody@x\r\n4,Bob,22\r\n5,Cid,33,c@x,extra\r\n6,Smith, John,44,s@x\r\n"
                     "lonely\r\n8,Lost,55,l@x");
    const CsvImportResult r = ImportUsersCsv(list, path);
    EXPECT_TRUE(r.read && r.updated == 1 && r.added.size() == 4u);
    // Updated in place with the name kept; both Bob lines make a user (new users join only
    // after the whole file); a comma in a name splits it; a last line without end is not read.
    EXPECT_EQ(Rows(), (QStringList{"Ann|13900000000|new@x", "Bob|1|b@x", "Bob|22|", "Cid|33|c@x",
                                   "Smith| John|44"}));
    // Export then import changes nothing.
    ASSERT_TRUE(ExportUsersCsv(list, Path("round.csv")));
    EXPECT_EQ(ImportUsersCsv(list, Path("round.csv")).added.size(), 0u);
    EXPECT_EQ(list.GetCount(), 5);
}

TEST_F(UserCsv, Import_RefusedFilesChangeNothing)
{
    const char* const names[] = {"spaces.csv", "other.csv", "noeol.csv", "wrong.txt", "bom16.csv"};
    const QByteArray bytes[] = {" ID,Name,Telephone,Mail\r\n1,A,1,a@x\r\n",
                                "Name,Telephone\r\n1,A,1,a@x\r\n", "ID,Name,Telephone,Mail",
                                "ID,Name,Telephone,Mail\r\n1,A,1,a@x\r\n", "\xFF\xFEI\0D\0"};
    for (int i = 0; i < 5; ++i) {
        WriteBytes(Path(names[i]), bytes[i]);
        EXPECT_FALSE(ImportUsersCsv(list, Path(names[i])).read) << names[i];
    }
    EXPECT_FALSE(ImportUsersCsv(list, Path("missing.csv")).read ||
                 ImportUsersCsv(list, TestHome() + "/dir.csv").read);
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(UserCsv, CodePages_AnsiAndUtf8Mark)
{
    // A UTF-8 file with a byte order mark, as spreadsheet programs save it.
    WriteBytes(Path("bom.csv"), "\xEF\xBB\xBFID,Name,Telephone,Mail\r\n1,\xE7\x8E\x8B,1,w@x\r\n");
    ASSERT_TRUE(ImportUsersCsv(list, Path("bom.csv")).read);
    // Files of a Chinese Windows: the ANSI code page set to 936.
    WriteProfileString(kProfileCodePage, "936");
    ReloadCodePages();
    ASSERT_TRUE(ExportUsersCsv(list, Path("gbk.csv")));
    EXPECT_EQ(ReadBytes(Path("gbk.csv")), "ID,Name,Telephone,Mail\r\n1,\xCD\xF5,1,w@x\r\n");
    list.Clear();
    ASSERT_TRUE(ImportUsersCsv(list, Path("gbk.csv")).read);
    EXPECT_EQ(Rows(), QStringList{"\u738B|1|w@x"});
    WriteProfileString(kProfileCodePage, QString());
    ReloadCodePages();
}
