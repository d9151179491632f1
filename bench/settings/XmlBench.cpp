// Parse throughput of CXmlDoc against pugixml on the same generated documents.
#include <benchmark/benchmark.h>

#include <map>
#include <utility>

#include <QDir>
#include <QFile>
#include <QString>

#include <pugixml.hpp>

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

} // namespace

BENCHMARK(BM_CXmlDoc_SetText)->Apply(Sizes);
BENCHMARK(BM_Pugixml_LoadBuffer)->Apply(Sizes);
BENCHMARK(BM_CXmlDoc_LoadFile)->Apply(Sizes);
BENCHMARK(BM_Pugixml_LoadFile)->Apply(Sizes);

BENCHMARK_MAIN();
