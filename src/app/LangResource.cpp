#include "app/LangResource.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QThread>
#include <QTranslator>

#include "platform/Folders.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringTable.h"

namespace {

// Base names are the catalogue file names; the locales are what the platform's locale data
// knows them by (Basque, Breton, Czech, Japanese and Ukrainian have base names of their own,
// "es_AS" stands for the Spanish of the Americas).
constexpr std::array<LanguageEntry, CLangResource::kLanguageCount> kLanguages = {{
    {14337, "ar_AE", "ar_AE"},  {1069, "ba_BA", "eu_ES"},  {1026, "bg_BG", "bg_BG"},
    {1027, "ca_ES", "ca_ES"},   {1029, "cz_CZ", "cs_CZ"},  {1030, "da_DK", "da_DK"},
    {1031, "de_DE", "de_DE"},   {1032, "el_GR", "el_GR"},  {1033, "en_US", "en_US"},
    {1034, "es_ES_T", "es_ES"}, {2305, "es_AS", "es_419"}, {1061, "et_EE", "et_EE"},
    {1035, "fi_FI", "fi_FI"},   {1036, "fr_FR", "fr_FR"},  {1150, "fr_BR", "br_FR"},
    {1037, "he_IL", "he_IL"},   {1038, "hu_HU", "hu_HU"},  {1040, "it_IT", "it_IT"},
    {1041, "jp_JP", "ja_JP"},   {1042, "ko_KR", "ko_KR"},  {1063, "lt_LT", "lt_LT"},
    {1062, "lv_LV", "lv_LV"},   {1082, "mt_MT", "mt_MT"},  {1044, "nb_NO", "nb_NO"},
    {2068, "nn_NO", "nn_NO"},   {1043, "nl_NL", "nl_NL"},  {1045, "pl_PL", "pl_PL"},
    {1046, "pt_BR", "pt_BR"},   {2070, "pt_PT", "pt_PT"},  {1048, "ro_RO", "ro_RO"},
    {1049, "ru_RU", "ru_RU"},   {1060, "sl_SI", "sl_SI"},  {1052, "sq_AL", "sq_AL"},
    {1053, "sv_SE", "sv_SE"},   {1055, "tr_TR", "tr_TR"},  {1058, "ua_UA", "uk_UA"},
    {2052, "zh_CN", "zh_CN"},   {1028, "zh_TW", "zh_TW"},  {1066, "vi_VN", "vi_VN"},
}};

QLocale EntryLocale(const LanguageEntry& e)
{
    return QLocale(QString::fromLatin1(e.locale));
}

const LanguageEntry* FindEntry(unsigned langId)
{
    for (const LanguageEntry& e : kLanguages) {
        if (e.langId == (langId & 0xFFFFu)) {
            return &e;
        }
    }
    return nullptr;
}

// The text of id in catalogue, or an empty string when it has none.
QString Translate(const QTranslator& catalogue, unsigned id)
{
    return catalogue.translate("", QByteArray::number(id).constData());
}

} // namespace

CLangResource::CLangResource() = default;

CLangResource::~CLangResource() = default;

CLangResource& CLangResource::Instance()
{
    static CLangResource instance;
    return instance;
}

std::span<const LanguageEntry, CLangResource::kLanguageCount> CLangResource::LanguageTable()
{
    return kLanguages;
}

std::uint16_t CLangResource::ThreadLanguage()
{
    QString name;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        name = qEnvironmentVariable(variable);
        if (!name.isEmpty()) {
            break;
        }
    }
    // "de_AT.UTF-8@euro" names the locale de_AT.
    name = name.section(u'.', 0, 0).section(u'@', 0, 0);
    if (name.isEmpty() || name == u"C" || name == u"POSIX") {
        return 0;
    }
    const QLocale locale(name);
    if (locale.language() == QLocale::C) {
        return 0;
    }
    const LanguageEntry* sameLanguage = nullptr;
    for (const LanguageEntry& e : kLanguages) {
        const QLocale entry = EntryLocale(e);
        if (entry.language() != locale.language()) {
            continue;
        }
        if (entry.territory() == locale.territory()) {
            return e.langId;
        }
        if (!sameLanguage) {
            sameLanguage = &e;
        }
    }
    return sameLanguage ? sameLanguage->langId : 0;
}

QString CLangResource::LanguageName(std::uint16_t langId)
{
    const LanguageEntry* entry = FindEntry(langId);
    if (!entry) {
        return {};
    }
    const QLocale locale = EntryLocale(*entry);
    const QString name = locale.nativeLanguageName();
    for (const LanguageEntry& other : kLanguages) {
        if (&other != entry && EntryLocale(other).nativeLanguageName() == name) {
            return QStringLiteral("%1 (%2)").arg(name, locale.nativeTerritoryName());
        }
    }
    return name;
}

void CLangResource::SetLanguageFolder(const QString& folder)
{
    m_folder = folder;
}

void CLangResource::ScanLanguageFolder()
{
    if (m_scanned) {
        return;
    }
    m_scanned = true;
    const QFileInfoList files = QDir(m_folder).entryInfoList(
        {QStringLiteral("*.qm")}, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& file : files) {
        const QString base = file.completeBaseName();
        for (std::size_t i = 0; i < kLanguages.size(); ++i) {
            if (base.compare(QLatin1String(kLanguages[i].baseName), Qt::CaseInsensitive) == 0) {
                if (m_files[i].isEmpty()) {
                    m_files[i] = file.absoluteFilePath();
                }
                break;
            }
        }
    }
}

std::vector<std::uint16_t> CLangResource::AvailableLanguages()
{
    ScanLanguageFolder();
    std::vector<std::uint16_t> ids;
    for (std::size_t i = 0; i < kLanguages.size(); ++i) {
        if (kLanguages[i].langId == kEnglish || !m_files[i].isEmpty()) {
            ids.push_back(kLanguages[i].langId);
        }
    }
    return ids;
}

bool CLangResource::LoadLanguageLibrary(unsigned langId)
{
    const LanguageEntry* entry = FindEntry(langId);
    if (!entry) {
        return false;
    }
    const QString& file = m_files[static_cast<std::size_t>(entry - kLanguages.data())];
    if (entry->langId != kEnglish && file.isEmpty()) {
        return false; // not available
    }
    m_library.reset();
    if (entry->langId == kEnglish) {
        return true;
    }
    // A worker may hold the last reference: the catalogue is then deleted by the thread that
    // made it, as every QObject must be.
    std::shared_ptr<QTranslator> catalogue(new QTranslator, [](QTranslator* t) {
        if (t->thread() == QThread::currentThread()) {
            delete t;
        } else {
            t->deleteLater();
        }
    });
    if (!catalogue->load(file)) {
        return false;
    }
    m_library = std::move(catalogue);
    return true;
}

QString CLangResource::ProbeText() const
{
    return m_library ? Translate(*m_library, kProbeId) : LoadEnglishString(kProbeId);
}

void CLangResource::SelectLanguage(unsigned requested)
{
    m_current = static_cast<std::uint16_t>(requested & 0xFFFFu);
    ScanLanguageFolder();
    if (requested == 0 || !LoadLanguageLibrary(requested)) {
        const std::uint16_t thread = ThreadLanguage();
        if (thread != 0 && LoadLanguageLibrary(thread)) {
            m_current = thread;
        } else {
            LoadLanguageLibrary(kEnglish);
            m_current = kEnglish;
        }
    }
    if (ProbeText().isEmpty()) {
        LoadLanguageLibrary(kEnglish);
        m_current = kEnglish;
    }
    if (!m_library) {
        SetStringCatalog({});
        return;
    }
    // The string table keeps its own reference: a thread that is loading a text while the
    // language changes finishes with the catalogue it started with.
    SetStringCatalog([catalogue = m_library](unsigned id) { return Translate(*catalogue, id); });
}

void SelectStartupLanguage(CLangResource& languages)
{
    languages.SetLanguageFolder(ResourceFolder() + QStringLiteral("/Lang"));
    languages.SelectLanguage(static_cast<unsigned>(GetProfileInt(kProfileLanguage)));
}
