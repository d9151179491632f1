#include "platform/StringTable.h"

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>

namespace {

struct Entry
{
    unsigned id;
    const char* text;
};

#define ZUNARO_STRING(name, id, text) Entry{id, text},
constexpr Entry kEnglish[] = {
#include "StringTable_en.inc"
};
#undef ZUNARO_STRING

constexpr bool IdsAreUnique()
{
    std::array<unsigned, std::size(kEnglish)> ids{};
    for (std::size_t i = 0; i < ids.size(); ++i) {
        ids[i] = kEnglish[i].id;
    }
    std::sort(ids.begin(), ids.end());
    return std::adjacent_find(ids.begin(), ids.end()) == ids.end();
}
static_assert(IdsAreUnique(), "two entries of the string table share an id");

// Readers copy the pointer under the lock and look up outside it: a switch never waits for a
// lookup, and a lookup finishes with the catalogue it started with.
using Catalog = std::function<QString(unsigned)>;
std::mutex g_catalogMutex;
std::shared_ptr<const Catalog> g_catalog;

} // namespace

QString LoadEnglishString(unsigned id)
{
    for (const Entry& e : kEnglish) {
        if (e.id == id) {
            return QString::fromUtf8(e.text);
        }
    }
    return {};
}

std::vector<unsigned> EnglishStringIds()
{
    std::vector<unsigned> ids;
    ids.reserve(std::size(kEnglish));
    for (const Entry& e : kEnglish) {
        ids.push_back(e.id);
    }
    return ids;
}

QString LoadString(unsigned id)
{
    std::shared_ptr<const Catalog> catalog;
    {
        std::lock_guard lock(g_catalogMutex);
        catalog = g_catalog;
    }
    if (catalog) {
        QString text = (*catalog)(id);
        if (!text.isEmpty()) {
            return text;
        }
    }
    return LoadEnglishString(id);
}

void SetStringCatalog(std::function<QString(unsigned id)> lookup)
{
    std::shared_ptr<const Catalog> next;
    if (lookup) {
        next = std::make_shared<const Catalog>(std::move(lookup));
    }
    std::lock_guard lock(g_catalogMutex);
    g_catalog.swap(next); // the previous catalogue is released after the lock
}

QString FormatText(const QString& pattern, const QStringList& args)
{
    QString out;
    out.reserve(pattern.size() + 64);
    qsizetype next = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c != QLatin1Char('%') || i + 1 >= pattern.size()) {
            out += c;
            continue;
        }
        const QChar f = pattern[i + 1];
        if (f == QLatin1Char('%')) {
            out += QLatin1Char('%');
            ++i;
            continue;
        }
        qsizetype len = 0;
        if (f == QLatin1Char('s') || f == QLatin1Char('d') || f == QLatin1Char('u')) {
            len = 2;
        } else if (f == QLatin1Char('l') && i + 2 < pattern.size() &&
                   pattern[i + 2] == QLatin1Char('s')) {
            len = 3;
        }
        if (len == 0 || next >= args.size()) {
            out += c;
            continue;
        }
        out += args[next++];
        i += len - 1;
    }
    return out;
}
