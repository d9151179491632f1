#include "recipients/UserCsv.h"

#include <cstdio>
#include <memory>
#include <utility>

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "platform/CodePage.h"
#include "recipients/User.h"
#include "recipients/UserList.h"

namespace {

const QString kHeader = QStringLiteral("ID,Name,Telephone,Mail");

bool IsCsvPath(const QString& path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0;
}

// Text-mode output: every line feed becomes CR LF.
QByteArray AnsiLine(const QString& line)
{
    QByteArray bytes = WideToCodePage(line, CodePage::Ansi, '?');
    bytes.append("\r\n");
    return bytes;
}

} // namespace

bool ExportUsersCsv(const std::vector<const CUser*>& rows, const QString& path)
{
    if (!IsCsvPath(path)) {
        return false;
    }
    QByteArray out = AnsiLine(kHeader);
    int id = 0;
    for (const CUser* user : rows) {
        if (user == nullptr) {
            continue;
        }
        ++id;
        out += AnsiLine(QString::number(id) + QLatin1Char(',') + user->Name + QLatin1Char(',') +
                        user->Telephone + QLatin1Char(',') + user->Mail);
    }
    const QByteArray native = QFile::encodeName(path);
    std::FILE* f = std::fopen(native.constData(), "wb");
    if (f == nullptr) {
        return false;
    }
    bool ok =
        std::fwrite(out.constData(), 1, std::size_t(out.size()), f) == std::size_t(out.size());
    ok = std::fflush(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

bool ExportUsersCsv(const CUserList& users, const QString& path)
{
    std::vector<const CUser*> rows;
    users.ForEach([&rows](CUser& user) { rows.push_back(&user); });
    return ExportUsersCsv(rows, path);
}

CsvImportResult ImportUsersCsv(CUserList& users, const QString& path)
{
    CsvImportResult result;
    if (!IsCsvPath(path) || QFileInfo(path).isDir()) {
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxCsvBytes) {
        return result;
    }
    QByteArray bytes = file.read(kMaxCsvBytes + 1);
    if (bytes.size() > kMaxCsvBytes) {
        return result;
    }
    bytes.replace("\r\n", "\n");
    // Spreadsheet programs save UTF-8 with a byte order mark.
    QString text;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(bytes.constData() + 3, bytes.size() - 3);
    } else {
        text = CodePageToWide(bytes, CodePage::Ansi);
    }
    const qsizetype headerEnd = text.indexOf(u'\n');
    if (headerEnd < 0 || QStringView(text).left(headerEnd).compare(kHeader, Qt::CaseInsensitive)) {
        return result;
    }
    result.read = true;

    CUserList::Users collected;
    qsizetype from = headerEnd + 1;
    for (;;) {
        const qsizetype end = text.indexOf(u'\n', from);
        if (end < 0) {
            break; // a last piece without line feed is not read
        }
        const QStringList fields = text.mid(from, end - from).split(u',');
        from = end + 1;
        const QString name = fields.value(1);
        if (name.isEmpty()) {
            continue;
        }
        if (CUser* user = users.FindByName(name)) {
            users.Update(user, CUser(user->Name, fields.value(2), fields.value(3)));
            ++result.updated;
        } else {
            collected.push_back(std::make_unique<CUser>(name, fields.value(2), fields.value(3)));
            result.added.push_back(collected.back().get());
        }
    }
    users.Append(std::move(collected));
    return result;
}
