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
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
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
    const auto answer = [&texts](QWidget* w) {
        texts << (qobject_cast<QMessageBox*>(w) ? static_cast<QMessageBox*>(w)->text() : "?");
        qobject_cast<QDialog*>(w)->reject();
    };
    WhileModal(answer, act);
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
        for (const auto* key : {&kProfileUserName, &kProfileUserPhone, &kProfileUserMail}) {
            DeleteProfileValue(key->section, key->key);
        }
        users.Add(std::make_unique<CUser>("Wang", "13900000002", "wang@example.cn"));
        users.Add(std::make_unique<CUser>("anna", "13900000003", QString()));
        users.Add(std::make_unique<CUser>("Bob", "0086-BJ-7788", "bob@example.com"));
        list.resize(600, 260);
        list.show();
    }
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
    // Activates the list and sends it a key, as a user types it.
    void Press(const QKeySequence& key)
    {
        list.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&list));
        QTest::keySequence(list.List(), key);
    }
    QString Csv(const char* name) const { return QDir(TestHome()).filePath(name); }

    CUserList users;
    int modified = 0;
    CDlgUserList list{users, [this] { ++modified; }};
};

} // namespace

// The faults in their order, each with its message box; the dialog stays open and nothing is
// stored. A user keeps its own number; another user's number or address (any letter case,
// as imported numbers may hold letters) is refused. The last confirmed values (the built-in
// ones first) are the presets of the next new user.
TEST_F(RecipientDialogs, UserDialog_ChecksInOrderAndPresets)
{
    const struct
    {
        int edited; // row of the user edited, -1 for a new user
        const char* telephone;
        const char* mail;
        unsigned fault; // 0: accepted
    } table[] = {
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
    EXPECT_EQ(CDlgUser(users).NameEdit()->text(), "UserName");
    for (const auto& c : table) {
        const std::string row = std::to_string(c.edited) + ' ' + c.telephone + ' ' + c.mail;
        CUser* edited = list.Model().UserAt(c.edited);
        const QString before = edited ? edited->Telephone : QString();
        auto dialog = edited ? std::make_unique<CDlgUser>(users, edited, &list)
                             : std::make_unique<CDlgUser>(users, &list);
        dialog->TelephoneEdit()->setText(c.telephone);
        dialog->MailEdit()->setText(c.mail);
        if (c.edited == 1 && c.fault == 0) {
            Screenshot(*dialog, "DlgUser.png");
        }
        const QStringList shown = MessagesDuring([&] { dialog->accept(); });
        EXPECT_EQ(shown, c.fault ? QStringList{LoadString(c.fault)} : QStringList()) << row;
        EXPECT_EQ(dialog->result(), c.fault ? QDialog::Rejected : QDialog::Accepted) << row;
        EXPECT_EQ(dialog->TakeNewUser() != nullptr, !edited && !c.fault) << row;
        EXPECT_TRUE(!edited || edited->Telephone == (c.fault ? before : c.telephone)) << row;
    }
    EXPECT_EQ(users.GetCount(), 3);
    CDlgUser next(users);
    EXPECT_EQ(next.NameEdit()->text() + next.TelephoneEdit()->text() + next.MailEdit()->text(),
              "anna13900000004anna@example.cn");
}

// A header click sorts ascending, the same header again descending; another column keeps
// the direction; the ID column keeps the order. IDs always count 1, 2, 3 from the top, and
// the selection follows its user.
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
    EXPECT_EQ(Column(1).value(list.List()->selectionModel()->selectedRows().value(0).row()), "Bob");
    Screenshot(list, "DlgUserList.png");
}

// The context menu offers what the list and its selection allow, with the prompts in the
// frame's status bar; Ctrl+C copies the number.
TEST_F(RecipientDialogs, ContextMenu_EnabledByState)
{
    const auto enabled = [this] {
        delete list.BuildContextMenu();
        QString out;
        for (const int c : {32839, 32840, 32841, 32814, 32815, 32816, 32817}) {
            out += list.Action(CDlgUserList::Command(c))->isEnabled() ? u'1' : u'0';
        }
        return out;
    };
    Select({1});
    EXPECT_EQ(enabled(), "1111111");
    Press(QKeySequence::Copy); // the command's shortcut, not the view's copy of a cell
    EXPECT_EQ(QApplication::clipboard()->text(), "13900000003");
    list.Action(CDlgUserList::CommandCopyMail)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QString());
    QMainWindow frame; // the prompts show in the status bar of the window below
    frame.statusBar();
    CDlgUserList below(
        users, [] {}, &frame);
    below.Action(CDlgUserList::CommandNew)->showStatusText();
    EXPECT_EQ(frame.statusBar()->currentMessage(), "New user");
    Select({});
    EXPECT_EQ(enabled(), "1001100");
    users.Clear();
    list.Fill();
    EXPECT_EQ(enabled(), "1000100");
}

// New, Properties and Delete change the list and mark the document modified; Delete asks
// nothing; Cancel changes nothing.
TEST_F(RecipientDialogs, Commands_EditListAndMarkModified)
{
    const auto answerUser = [](const char* telephone, bool ok) {
        return [=](QWidget* w) {
            auto* dialog = qobject_cast<CDlgUser*>(w);
            ASSERT_NE(dialog, nullptr);
            dialog->TelephoneEdit()->setText(telephone);
            ok ? dialog->accept() : dialog->reject();
        };
    };
    WhileModal(answerUser("13900000005", false), [&] { list.NewUser(); });
    EXPECT_EQ(users.GetCount() * 10 + modified, 30);
    WhileModal(answerUser("13900000005", true), [&] { list.NewUser(); });
    EXPECT_EQ(users.GetCount() * 10 + modified, 41);
    EXPECT_EQ(Column(2).value(3), "13900000005");
    Select({0});
    WhileModal(answerUser("13900000006", true), [&] { Press(Qt::Key_Return); }); // Properties
    EXPECT_EQ(Column(2).value(0) + QString::number(modified), "139000000062");
    Select({0, 2});
    EXPECT_EQ(MessagesDuring([&] { Press(Qt::Key_Delete); }), QStringList());
    EXPECT_EQ(Column(1), QStringList({"anna", "UserName"}));
    EXPECT_EQ(users.GetCount() * 10 + modified, 23);
}

// Export writes the order shown; importing that file changes nothing and marks nothing; a
// file that adds or changes recipients marks the document; a file that cannot be read or
// written says so. The file dialogs carry their titles, filter and folder.
TEST_F(RecipientDialogs, Csv_ExportImportThroughFileDialogs)
{
    const QString folder = FreshFolder("csv");
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
    WhileModal(answerFile(folder + "/Sorted"), [&] { list.ExportCsv(); });
    EXPECT_EQ(ReadBytes(folder + "/Sorted.csv"),
              "ID,Name,Telephone,Mail\r\n1,anna,13900000003,\r\n2,Bob,0086-BJ-7788,bob@example.com"
              "\r\n3,Wang,13900000002,wang@example.cn\r\n");
    WhileModal(answerFile(folder + "/Sorted.csv"), [&] { list.ImportCsv(); });
    EXPECT_EQ(seen, QStringList({"Export to Excel", "CSV Files (*.csv)", folder,
                                 "Import from Excel", "CSV Files (*.csv)", folder}));
    EXPECT_EQ(users.GetCount() * 10 + modified, 30);

    WriteBytes(Csv("more.csv"), "ID,Name,Telephone,Mail\r\n1,Bob,13900000008,\r\n2,Eve,,e@x\r\n");
    EXPECT_TRUE(list.ImportFrom(Csv("more.csv")));
    EXPECT_EQ(Column(1), QStringList({"anna", "Bob", "Wang", "Eve"}));
    EXPECT_EQ(Column(2).value(1) + QString::number(modified), "139000000081");
    WriteBytes(Csv("bad.csv"), "Name,Telephone\r\nZed,1\r\n");
    const QStringList failures = MessagesDuring([&] {
        EXPECT_FALSE(list.ImportFrom(Csv("bad.csv")));
        EXPECT_FALSE(list.ExportTo(Csv("no/such/folder/x.csv")));
    });
    ASSERT_EQ(failures.size(), 2);
    EXPECT_TRUE(failures[0].contains(Csv("bad.csv")) && failures[1].contains("x.csv"));
    EXPECT_EQ(users.GetCount() * 10 + modified, 41);
}
