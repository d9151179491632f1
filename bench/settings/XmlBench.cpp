// CXmlDoc against pugixml on the same generated documents: bare parse throughput, and the
// settings file's own work (loading 100,000 recipients with their attribute reads, and
// building and saving such a file).
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include <QDir>
#include <QFile>
#include <QString>

#include <pugixml.hpp>

#include "recipients/User.h"
#include "settings/XmlDoc.h"

namespace {

enum Kind
{
    kSettings,
    kNested,
    kAttributes
};

QByteArray Generate(Kind kind, qsizetype bytes)
{
    QByteArray out("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n");
    int i = 0;
    switch (kind) {
    case kSettings:
        out += "<SMS ComPort=\"2\" Voice=\"1\" E-Mail=\"alarm@example.com\" "
               "Password=\"czNjcjN0\">\r\n<UserList>\r\n";
        while (out.size() < bytes) {
            out += "<GetUserResult Name=\"User " + QByteArray::number(i) +
                   " &amp; Co\" Phone=\"138" + QByteArray::number(10000000 + i) + "\" Mail=\"user" +
                   QByteArray::number(i) + "@example.com\"/>\r\n";
            ++i;
        }
        out += "</UserList>\r\n</SMS>\r\n";
        break;
    case kNested:
        out += "<root>\r\n";
        while (out.size() < bytes) {
            for (int d = 0; d < 200; ++d) {
                out += "<level d=\"" + QByteArray::number(d) + "\">";
            }
            out += "text";
            for (int d = 0; d < 200; ++d) {
                out += "</level>";
            }
            out += "\r\n";
        }
        out += "</root>\r\n";
        break;
    case kAttributes:
        out += "<root>\r\n";
        while (out.size() < bytes) {
            out += "<item";
            for (int a = 0; a < 16; ++a) {
                out += " attribute" + QByteArray::number(a) + "=\"value " +
                       QByteArray::number(i * 16 + a) + "\"";
            }
            out += "/>\r\n";
            ++i;
        }
        out += "</root>\r\n";
        break;
    }
    return out;
}

const QByteArray& Document(Kind kind, qsizetype bytes)
{
    static std::map<std::pair<int, qsizetype>, QByteArray> cache;
    QByteArray& doc = cache[{kind, bytes}];
    if (doc.isEmpty()) {
        doc = Generate(kind, bytes);
    }
    return doc;
}

QString FileOf(Kind kind, qsizetype bytes)
{
    const QString path = QDir::temp().filePath(
        QStringLiteral("zunaro-xmlbench-%1-%2.xml").arg(int(kind)).arg(bytes));
    if (!QFile::exists(path)) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly)) {
            f.write(Document(kind, bytes));
        }
    }
    return path;
}

void BM_CXmlDoc_SetText(benchmark::State& state)
{
    const QByteArray& bytes = Document(Kind(state.range(0)), state.range(1));
    const QString text = QString::fromUtf8(bytes);
    for (auto _ : state) {
        CXmlDoc doc;
        benchmark::DoNotOptimize(doc.SetText(text));
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void BM_Pugixml_LoadBuffer(benchmark::State& state)
{
    const QByteArray& bytes = Document(Kind(state.range(0)), state.range(1));
    for (auto _ : state) {
        pugi::xml_document doc;
        benchmark::DoNotOptimize(doc.load_buffer(bytes.constData(), std::size_t(bytes.size())));
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void BM_CXmlDoc_LoadFile(benchmark::State& state)
{
    const qsizetype size = Document(Kind(state.range(0)), state.range(1)).size();
    const QString path = FileOf(Kind(state.range(0)), state.range(1));
    for (auto _ : state) {
        CXmlDoc doc;
        benchmark::DoNotOptimize(doc.LoadFile(path));
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void BM_Pugixml_LoadFile(benchmark::State& state)
{
    const qsizetype size = Document(Kind(state.range(0)), state.range(1)).size();
    const QByteArray path = QFile::encodeName(FileOf(Kind(state.range(0)), state.range(1)));
    for (auto _ : state) {
        pugi::xml_document doc;
        benchmark::DoNotOptimize(doc.load_file(path.constData()));
    }
    state.SetBytesProcessed(state.iterations() * size);
}

void Sizes(benchmark::internal::Benchmark* b)
{
    for (int kind : {kSettings, kNested, kAttributes}) {
        for (qsizetype size : {qsizetype(1) << 20, qsizetype(50) << 20}) {
            b->Args({kind, size});
        }
    }
    b->ArgNames({"kind", "bytes"})->Unit(benchmark::kMillisecond);
}

constexpr int kRecipients = 100000;

const QString kName = QStringLiteral("Name");
const QString kPhone = QStringLiteral("Phone");
const QString kMail = QStringLiteral("Mail");

std::vector<CUser> Recipients()
{
    std::vector<CUser> users;
    for (int i = 0; i < kRecipients; ++i) {
        users.emplace_back(QStringLiteral("User %1 & Co").arg(i),
                           QStringLiteral("138%1").arg(10000000 + i),
                           QStringLiteral("user%1@example.com").arg(i));
    }
    return users;
}

// A settings file with kRecipients recipients, as the settings document writes it.
QString SettingsFile()
{
    const QString path = QDir::temp().filePath(QStringLiteral("zunaro-xmlbench-settings.znr"));
    if (!QFile::exists(path)) {
        CXmlDoc doc(XmlFlagUtf8Bom);
        doc.SetText(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"));
        doc.AddElement(QStringLiteral("SMS"));
        doc.EnterElement();
        doc.AddElement(QStringLiteral("UserList"));
        for (const CUser& u : Recipients()) {
            doc.EnterElement();
            doc.AddElement(QStringLiteral("GetUserResult"),
                           {{kName, u.Name}, {kPhone, u.Telephone}, {kMail, u.Mail}});
            doc.LeaveElement();
        }
        doc.SaveFile(path);
    }
    return path;
}

// What the settings load does with the engine: every recipient with its three attributes.
void BM_CXmlDoc_SettingsLoad(benchmark::State& state)
{
    const QString path = SettingsFile();
    for (auto _ : state) {
        std::vector<CUser> users;
        CXmlDoc doc(XmlFlagUtf8Bom);
        doc.LoadFile(path);
        doc.FindElement(QStringLiteral("SMS"));
        doc.EnterElement();
        doc.FindElement(QStringLiteral("UserList"));
        doc.EnterElement();
        while (doc.FindElement(QString())) {
            users.emplace_back(doc.GetAttribute(kName), doc.GetAttribute(kPhone),
                               doc.GetAttribute(kMail));
        }
        benchmark::DoNotOptimize(users.data());
    }
    state.SetItemsProcessed(state.iterations() * kRecipients);
}

// The same with pugixml, ending in the same wide strings.
void BM_Pugixml_SettingsLoad(benchmark::State& state)
{
    const QByteArray path = QFile::encodeName(SettingsFile());
    for (auto _ : state) {
        std::vector<CUser> users;
        pugi::xml_document doc;
        doc.load_file(path.constData());
        for (pugi::xml_node u : doc.child("SMS").child("UserList").children()) {
            users.emplace_back(QString::fromUtf8(u.attribute("Name").value()),
                               QString::fromUtf8(u.attribute("Phone").value()),
                               QString::fromUtf8(u.attribute("Mail").value()));
        }
        benchmark::DoNotOptimize(users.data());
    }
    state.SetItemsProcessed(state.iterations() * kRecipients);
}

// pugixml's own attribute reads, left as UTF-8 (what the load above costs without the
// conversion every caller of the settings needs).
void BM_Pugixml_SettingsLoadUtf8(benchmark::State& state)
{
    const QByteArray path = QFile::encodeName(SettingsFile());
    for (auto _ : state) {
        std::size_t bytes = 0;
        pugi::xml_document doc;
        doc.load_file(path.constData());
        for (pugi::xml_node u : doc.child("SMS").child("UserList").children()) {
            bytes += std::strlen(u.attribute("Name").value()) +
                     std::strlen(u.attribute("Phone").value()) +
                     std::strlen(u.attribute("Mail").value());
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations() * kRecipients);
}

void BM_CXmlDoc_SettingsSave(benchmark::State& state)
{
    const std::vector<CUser> users = Recipients();
    const QString path = QDir::temp().filePath(QStringLiteral("zunaro-xmlbench-save.znr"));
    for (auto _ : state) {
        CXmlDoc doc(XmlFlagUtf8Bom);
        doc.SetText(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"));
        doc.AddElement(QStringLiteral("SMS"));
        doc.EnterElement();
        doc.AddElement(QStringLiteral("UserList"));
        for (const CUser& u : users) {
            doc.EnterElement();
            doc.AddElement(QStringLiteral("GetUserResult"),
                           {{kName, u.Name}, {kPhone, u.Telephone}, {kMail, u.Mail}});
            doc.LeaveElement();
        }
        benchmark::DoNotOptimize(doc.SaveFile(path));
    }
    state.SetItemsProcessed(state.iterations() * kRecipients);
}

void BM_Pugixml_SettingsSave(benchmark::State& state)
{
    const std::vector<CUser> users = Recipients();
    const QByteArray path =
        QFile::encodeName(QDir::temp().filePath(QStringLiteral("zunaro-xmlbench-save-pugi.znr")));
    for (auto _ : state) {
        pugi::xml_document doc;
        pugi::xml_node decl = doc.append_child(pugi::node_declaration);
        decl.append_attribute("version") = "1.0";
        decl.append_attribute("encoding") = "UTF-8";
        pugi::xml_node list = doc.append_child("SMS").append_child("UserList");
        for (const CUser& u : users) {
            pugi::xml_node e = list.append_child("GetUserResult");
            e.append_attribute("Name") = u.Name.toUtf8().constData();
            e.append_attribute("Phone") = u.Telephone.toUtf8().constData();
            e.append_attribute("Mail") = u.Mail.toUtf8().constData();
        }
        benchmark::DoNotOptimize(doc.save_file(path.constData(), "",
                                               pugi::format_indent | pugi::format_write_bom,
                                               pugi::encoding_utf8));
    }
    state.SetItemsProcessed(state.iterations() * kRecipients);
}

} // namespace

BENCHMARK(BM_CXmlDoc_SetText)->Apply(Sizes);
BENCHMARK(BM_Pugixml_LoadBuffer)->Apply(Sizes);
BENCHMARK(BM_CXmlDoc_LoadFile)->Apply(Sizes);
BENCHMARK(BM_Pugixml_LoadFile)->Apply(Sizes);

BENCHMARK(BM_CXmlDoc_SettingsLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pugixml_SettingsLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pugixml_SettingsLoadUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CXmlDoc_SettingsSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pugixml_SettingsSave)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
