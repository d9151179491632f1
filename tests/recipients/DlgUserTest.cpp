#include "recipients/DlgUser.h"
#include "recipients/DlgUserList.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QTableView>
#include <QTimer>

#include "platform/DigitEdit.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "recipients/User.h"
#include "recipients/UserList.h"
#include "support/QtPrinters.h"
#include "support/TestSupport.h"

namespace {

// Runs act while answer handles every modal window act opens (answer must close it).
void WhileModal(const std::function<void(QWidget*)>& answer, const std::function<void()>& act)
{
    QTimer timer;
    QWidget* handled = nullptr;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal != handled && modal->isVisible()) {
            handled = modal;
            answer(modal);
        }
    });
    timer.start(5);
    act();
}

// The texts of the message boxes act shows, each answered with OK.
QStringList MessagesDuring(const std::function<void()>& act)
{
    QStringList texts;
    WhileModal(
        [&texts](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            texts << (box ? box->text() : QStringLiteral("unexpected ") + w->windowTitle());
            qobject_cast<QDialog*>(w)->reject();
        },
        act);
    return texts;
}

// Saves the shown widget as a README picture when ZUNARO_SCREENSHOTS names a folder.
void Screenshot(QWidget& widget, const char* name)
{
    const QString folder = qEnvironmentVariable("ZUNARO_SCREENSHOTS");
    if (!folder.isEmpty()) {
        widget.show();
        QApplication::processEvents();
        EXPECT_TRUE(widget.grab().save(QDir(folder).filePath(QString::fromLatin1(name))));
    }
}

// Three recipients, as a settings file or an import leaves them, and the dialog on them.
class RecipientDialogs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        for (const ProfileStringKey* key :
             {&kProfileUserName, &kProfileUserPhone, &kProfileUserMail}) {
            DeleteProfileValue(key->section, key->key);
        }
        users.Add(std::make_unique<CUser>("Wang", "13900000002", "wang@example.cn"));
        users.Add(std::make_unique<CUser>("anna", "13900000003", QString()));
        users.Add(std::make_unique<CUser>("Bob", "0086-BJ-7788", "bob@example.com"));
        list.resize(600, 260);
        list.show();
    }
    CUser* UserAt(int i) { return list.Model().UserAt(i); }
    // One column's texts as the list shows them, top to bottom.
    QStringList Column(int column)
    {
        QStringList out;
        for (int r = 0; r < list.Model().rowCount(); ++r) {
            out << list.Model().index(r, column).data().toString();
        }
        return out;
    }
    void Select(std::initializer_list<int> rows)
    {
        list.List()->clearSelection();
        for (const int r : rows) {
            list.List()->selectionModel()->select(
                list.Model().index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    QString Csv(const char* name) const { return QDir(TestHome()).filePath(name); }

    CUserList users;
    int modified = 0;
    CDlgUserList list{users, [this] { ++modified; }};
};

struct CheckCase
{
    int edited; // row of the user edited, -1 for a new user
    const char* telephone;
    const char* mail;
    unsigned fault; // 0: accepted
};

} // namespace

// The faults in their order, each with its message box; the dialog stays open and nothing is
// stored. A user keeps its own number; another user's number or address (any letter case,
// as imported numbers may hold letters) is refused.
TEST_F(RecipientDialogs, UserDialog_ChecksInOrder)
{
    const CheckCase table[] = {
        {-1, "", "", kIdsUserEmpty},
        {-1, "1390000000", "x@y", kIdsTelephoneError},
        {-1, "13900000009", "nowhere", kIdsMailError},
        {-1, "1390000000", "nowhere", kIdsTelephoneError},
        {-1, "", "a@b", 0},
        {-1, "13900000003", "", kIdsTelephoneExists},
        {-1, "", "WANG@example.CN", kIdsMailExists},
        {0, "13900000002", "wang@example.cn", 0},
        {0, "13900000003", "wang@example.cn", kIdsTelephoneExists},
        {0, "0086-bj-7788", "", kIdsTelephoneExists},
        {1, "13900000003", "BOB@example.com", kIdsMailExists},
        {1, "13900000004", "anna@example.cn", 0},
    };
    for (const CheckCase& c : table) {
        const std::string row = std::to_string(c.edited) + ' ' + c.telephone + ' ' + c.mail;
        CUser* edited = c.edited < 0 ? nullptr : UserAt(c.edited);
        const CUser before = edited ? *edited : CUser();
        auto dialog = edited ? std::make_unique<CDlgUser>(users, edited, &list)
                             : std::make_unique<CDlgUser>(users, &list);
        dialog->TelephoneEdit()->setText(QString::fromUtf8(c.telephone));
        dialog->MailEdit()->setText(QString::fromUtf8(c.mail));
        const QStringList shown = MessagesDuring([&] { dialog->accept(); });
        EXPECT_EQ(shown, c.fault ? QStringList{LoadString(c.fault)} : QStringList()) << row;
        EXPECT_EQ(dialog->result(), c.fault ? QDialog::Rejected : QDialog::Accepted) << row;
        EXPECT_EQ(dialog->TakeNewUser() != nullptr, !edited && !c.fault) << row;
        if (edited) {
            EXPECT_EQ(edited->Telephone, c.fault ? before.Telephone : c.telephone) << row;
        }
    }
    EXPECT_EQ(users.GetCount(), 3);
}

// A new user starts from the values of the last confirmed dialog (the built-in ones first).
TEST_F(RecipientDialogs, UserDialog_PresetsFromLastConfirmed)
{
    CDlgUser first(users);
    EXPECT_EQ(first.NameEdit()->text(), GetProfileString(kProfileUserName));
    EXPECT_EQ(first.NameEdit()->text(), QStringLiteral("UserName"));
    EXPECT_EQ(first.TelephoneEdit()->text().size(), 11);
    first.NameEdit()->setText(QStringLiteral("Night shift"));
    first.TelephoneEdit()->setText(QStringLiteral("13900000077"));
    Screenshot(first, "DlgUser.png");
    first.accept();
    CDlgUser next(users);
    EXPECT_EQ(next.NameEdit()->text() + next.TelephoneEdit()->text() + next.MailEdit()->text(),
              QStringLiteral("Night shift13900000077"));
}

// A header click sorts ascending, the same header again descending; another column keeps
// the direction; the ID column keeps the order. IDs always count 1, 2, 3 from the top.
TEST_F(RecipientDialogs, List_SortsByHeaderClicks)
{
    const struct
    {
        int column;
        QStringList names;
    } clicks[] = {
        {2, {"Bob", "Wang", "anna"}}, {2, {"anna", "Wang", "Bob"}}, {0, {"anna", "Wang", "Bob"}},
        {1, {"Wang", "Bob", "anna"}}, {1, {"anna", "Bob", "Wang"}},
    };
    Select({2});
    for (const auto& click : clicks) {
        list.List()->horizontalHeader()->sectionClicked(click.column);
        EXPECT_EQ(Column(1), click.names) << click.column;
        EXPECT_EQ(Column(0), QStringList({"1", "2", "3"}));
    }
    const int selected = list.List()->selectionModel()->selectedRows().value(0).row();
    EXPECT_EQ(Column(1).value(selected), QStringLiteral("Bob")); // the selection follows
    Screenshot(list, "DlgUserList.png");
}

// The context menu offers what the list and its selection allow.
TEST_F(RecipientDialogs, ContextMenu_EnabledByState)
{
    using C = CDlgUserList;
    const auto enabled = [this] {
        delete list.BuildContextMenu();
        QString out;
        for (C::Command c :
             {C::CommandNew, C::CommandDelete, C::CommandProperties, C::CommandExportCsv,
              C::CommandImportCsv, C::CommandCopyTelephone, C::CommandCopyMail}) {
            out += list.Action(c)->isEnabled() ? u'1' : u'0';
        }
        return out;
    };
    Select({1});
    EXPECT_EQ(enabled(), QStringLiteral("1111111"));
    list.Action(C::CommandCopyTelephone)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("13900000003"));
    list.Action(C::CommandCopyMail)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QString());
    Select({});
    EXPECT_EQ(enabled(), QStringLiteral("1001100"));
    users.Clear();
    list.Fill();
    EXPECT_EQ(enabled(), QStringLiteral("1000100"));
}

// New, Properties and Delete change the list and mark the document modified; Delete asks
// nothing; Cancel changes nothing.
TEST_F(RecipientDialogs, Commands_EditListAndMarkModified)
{
    const auto answerUser = [](const char* telephone, bool ok) {
        return [=](QWidget* w) {
            auto* dialog = qobject_cast<CDlgUser*>(w);
            ASSERT_NE(dialog, nullptr);
            dialog->TelephoneEdit()->setText(QString::fromUtf8(telephone));
            ok ? dialog->accept() : dialog->reject();
        };
    };
    WhileModal(answerUser("13900000005", false), [&] { list.NewUser(); });
    EXPECT_EQ(users.GetCount() * 10 + modified, 30);
    WhileModal(answerUser("13900000005", true), [&] { list.NewUser(); });
    EXPECT_EQ(users.GetCount() * 10 + modified, 41);
    EXPECT_EQ(Column(2).value(3), QStringLiteral("13900000005"));
    Select({0});
    WhileModal(answerUser("13900000006", true), [&] { list.ShowProperties(); });
    EXPECT_EQ(Column(2).value(0), QStringLiteral("13900000006"));
    EXPECT_EQ(modified, 2);
    Select({0, 2});
    EXPECT_EQ(MessagesDuring([&] { list.Action(CDlgUserList::CommandDelete)->trigger(); }),
              QStringList());
    EXPECT_EQ(Column(1), QStringList({"anna", "UserName"}));
    EXPECT_EQ(users.GetCount() * 10 + modified, 23);
}

// Export writes the order shown; importing that file changes nothing and marks nothing; a
// file that adds or changes recipients marks the document; a file that cannot be read says
// so. The file dialogs carry their titles, filter and folder.
TEST_F(RecipientDialogs, Csv_ExportImportThroughFileDialogs)
{
    const QString folder = FreshFolder(QStringLiteral("csv"));
    WriteProfileString(kProfilePathsOpenFile, folder);
    QStringList seen;
    const auto answerFile = [&](const QString& path) {
        return [&seen, path](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(dialog, nullptr);
            seen << dialog->windowTitle() << dialog->nameFilters().join(u';')
                 << dialog->directory().absolutePath();
            dialog->selectFile(path);
            static_cast<QDialog*>(dialog)->accept(); // the file dialog's own accept
        };
    };
    list.SortBy(1);
    WhileModal(answerFile(folder + QStringLiteral("/Sorted")), [&] { list.ExportCsv(); });
    EXPECT_EQ(ReadBytes(folder + QStringLiteral("/Sorted.csv")),
              "ID,Name,Telephone,Mail\r\n1,anna,13900000003,\r\n2,Bob,0086-BJ-7788,bob@example.com"
              "\r\n3,Wang,13900000002,wang@example.cn\r\n");
    WhileModal(answerFile(folder + QStringLiteral("/Sorted.csv")), [&] { list.ImportCsv(); });
    EXPECT_EQ(seen, QStringList({"Export to Excel", "CSV Files (*.csv)", folder,
                                 "Import from Excel", "CSV Files (*.csv)", folder}));
    EXPECT_EQ(users.GetCount() * 10 + modified, 30);

    WriteBytes(Csv("more.csv"), "ID,Name,Telephone,Mail\r\n1,Bob,13900000008,\r\n2,Eve,,e@x\r\n");
    EXPECT_TRUE(list.ImportFrom(Csv("more.csv")));
    EXPECT_EQ(Column(1), QStringList({"anna", "Bob", "Wang", "Eve"}));
    EXPECT_EQ(Column(2).value(1), QStringLiteral("13900000008"));
    EXPECT_EQ(modified, 1);
    WriteBytes(Csv("bad.csv"), "Name,Telephone\r\nZed,1\r\n");
    const QStringList failures = MessagesDuring([&] {
        EXPECT_FALSE(list.ImportFrom(Csv("bad.csv")));
        EXPECT_FALSE(list.ExportTo(Csv("no/such/folder/x.csv")));
    });
    ASSERT_EQ(failures.size(), 2);
    EXPECT_TRUE(failures[0].contains(Csv("bad.csv")) && failures[1].contains("x.csv"));
    EXPECT_EQ(users.GetCount() * 10 + modified, 41);
}
