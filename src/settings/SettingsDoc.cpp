#include "settings/SettingsDoc.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

#include "platform/Base64.h"
#include "platform/CodePage.h"
#include "platform/Folders.h"
#include "platform/SerialPort.h"
#include "recipients/UserList.h"
#include "settings/SettingsTarget.h"
#include "settings/XmlDoc.h"

Q_LOGGING_CATEGORY(lcSettings, "zunaro.settings", QtCriticalMsg)

namespace {

CDoc* g_document = nullptr;

const QString kDeclaration = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
const QString kRoot = QStringLiteral("SMS");
const QString kUserList = QStringLiteral("UserList");
const QString kUser = QStringLiteral("GetUserResult");

// The integer of an attribute: optional leading white space and sign, then decimal
// digits; 0 when missing or not a number. Overlong digit runs saturate.
int AttributeInt(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace()) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = std::min<qint64>(value * 10 + (text[i].unicode() - u'0'), qint64(INT_MAX) + 1);
    }
    value = negative ? -value : std::min<qint64>(value, INT_MAX);
    return int(std::max<qint64>(value, INT_MIN));
}

QString DecodePassword(const QString& stored)
{
    QByteArray ansi = WideToCodePage(stored, CodePage::Ansi);
    if (ansi.isNull()) {
        ansi = stored.toLatin1();
    }
    QByteArray plain = Base64Decode(ansi);
    const qsizetype nul = plain.indexOf('\0');
    if (nul >= 0) {
        plain.truncate(nul);
    }
    return CodePageToWide(plain, CodePage::Ansi);
}

QString EncodePassword(const QString& password)
{
    return QString::fromLatin1(Base64Encode(WideToCodePage(password, CodePage::Ansi, '?')));
}

} // namespace

CDoc::CDoc(ISettingsTarget& target, QObject* parent) : CDocument(parent), m_target(target)
{
    g_document = this;
}

CDoc::~CDoc()
{
    if (g_document == this) {
        g_document = nullptr;
    }
}

CDoc* CDoc::Instance()
{
    return g_document;
}

void CDoc::SetModifiedMark(bool modified)
{
    const QString old = GetTitle();
    QString title = old;
    const QString mark = QStringLiteral(" *");
    if (modified) {
        if (!title.contains(mark)) {
            title += mark;
        }
    } else if (title.contains(mark)) {
        while (!title.isEmpty() && (title.endsWith(u' ') || title.endsWith(u'*'))) {
            title.chop(1);
        }
    }
    if (title != old) {
        SetTitle(title);
    }
    SetModifiedFlag(modified);
}

bool CDoc::LoadSettings(const QString& path)
{
    CXmlDoc xml(XmlFlagUtf8Bom);
    // An ill-formed file is refused whole: a truncated file would otherwise load as far as
    // it goes and the gateway would run with part of its recipients while saying all is well.
    if (!xml.LoadFile(path) || !xml.FindElement(kRoot)) {
        qCDebug(lcSettings).noquote().nospace() << "cannot use " << path << ":\n"
                                                << xml.GetResultReport();
        return false;
    }
    const int comPort = AttributeInt(xml.GetAttribute(QStringLiteral("ComPort")));
    m_target.SetSettingsComPort(comPort);
    m_target.OnSettingsPortLoaded(comPort, SerialPortName(comPort));
    m_target.SetSettingsVoice(AttributeInt(xml.GetAttribute(QStringLiteral("Voice"))));
    m_target.SetSettingsMailSender(xml.GetAttribute(QStringLiteral("E-Mail")));
    m_target.SetSettingsMailPassword(DecodePassword(xml.GetAttribute(QStringLiteral("Password"))));

    // The new list is built aside and swapped in whole, so that a fan-out running on a
    // reader thread meanwhile serves the old recipients or the new ones, never a part.
    CUserList::Users users;
    const QString name = QStringLiteral("Name");
    const QString phone = QStringLiteral("Phone");
    const QString mail = QStringLiteral("Mail");
    xml.EnterElement();
    if (xml.FindElement(kUserList)) {
        xml.EnterElement();
        while (xml.FindElement(QString())) {
            users.push_back(std::make_unique<CUser>(xml.GetAttribute(name), xml.GetAttribute(phone),
                                                    xml.GetAttribute(mail)));
        }
        xml.LeaveElement();
    }
    xml.LeaveElement();
    m_target.SettingsUsers().Replace(std::move(users));
    return true;
}

static void BuildInto(CXmlDoc& xml, ISettingsTarget& target)
{
    xml.SetText(kDeclaration);
    const QString comPort = QString::number(target.SettingsComPort());
    const QString voice = QString::number(target.SettingsVoice());
    const QString sender = target.SettingsMailSender();
    const QString password = EncodePassword(target.SettingsMailPassword());
    xml.AddElement(
        kRoot,
        {{u"ComPort", comPort}, {u"Voice", voice}, {u"E-Mail", sender}, {u"Password", password}});
    xml.EnterElement();
    xml.AddElement(kUserList);
    target.SettingsUsers().ForEach([&xml](CUser& user) {
        xml.EnterElement();
        xml.AddElement(kUser,
                       {{u"Name", user.Name}, {u"Phone", user.Telephone}, {u"Mail", user.Mail}});
        xml.LeaveElement();
    });
    xml.LeaveElement();
}

QString CDoc::BuildSettings() const
{
    CXmlDoc xml(XmlFlagUtf8Bom);
    BuildInto(xml, m_target);
    return xml.GetText();
}

bool CDoc::SaveSettings(const QString& path)
{
    CXmlDoc xml(XmlFlagUtf8Bom);
    BuildInto(xml, m_target);
    return xml.SaveFile(path);
}

QString CDoc::ChooseStartupFile(const QString& commandLineFile)
{
    if (!commandLineFile.isEmpty()) {
        return commandLineFile;
    }
    CRecentFileList recent;
    recent.Load();
    const QString first = recent.At(0);
    if (!first.isEmpty() && QFileInfo(first).isFile()) {
        return first;
    }
    const QDir data(DataFolder());
    const QStringList found =
        data.entryList({QStringLiteral("*.znr")}, QDir::Files | QDir::Readable, QDir::Name);
    if (!found.isEmpty()) {
        return data.filePath(found.first());
    }
    return QString();
}

CDoc::StartupResult CDoc::OpenAtStartup(const QString& commandLineFile)
{
    StartupResult result;
    result.path = ChooseStartupFile(commandLineFile);
    if (!result.path.isEmpty()) {
        result.opened = OpenDocument(result.path);
    }
    if (!result.opened) {
        NewDocument();
    }
    return result;
}

void CDoc::DeleteContents()
{
    emit busy(true);
    UpdateAllViews(kHintDeleteContents);
    if (!m_loading) {
        m_target.SettingsUsers().Clear();
    }
    CDocument::DeleteContents();
    emit busy(false);
}

bool CDoc::OnNewDocument()
{
    if (!CDocument::OnNewDocument()) {
        return false;
    }
    SetModifiedMark(false);
    return true;
}

bool CDoc::OnOpenDocument(const QString& path)
{
    // The load replaces the recipients in one step; emptying them first would let a
    // fan-out in between see no recipients at all.
    m_loading = true;
    const bool readable = CDocument::OnOpenDocument(path);
    m_loading = false;
    if (!readable) {
        return false;
    }
    if (!LoadSettings(path)) {
        // An unusable file leaves a new, empty document: no recipients, and no path that a
        // later Save could write over the file with.
        OnNewDocument();
        return false;
    }
    return true;
}

bool CDoc::OnSaveDocument(const QString& path)
{
    if (!SaveSettings(path)) {
        return false;
    }
    SetModifiedMark(false);
    return true;
}

bool CDoc::DoFileSave()
{
    const bool wasModified = IsModified();
    SetModifiedMark(false);
    if (!CDocument::DoFileSave()) {
        if (wasModified) {
            SetModifiedMark(true);
        }
        return false;
    }
    return true;
}
