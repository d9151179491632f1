#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <QString>

class QTranslator;

// One language the program can show: its language id, the base name of its catalogue file
// (Lang/<base name>.qm) and the locale whose names the Setting dialog shows for it.
struct LanguageEntry
{
    std::uint16_t langId;
    const char* baseName;
    const char* locale;
};

// The user-interface language. English is built in; every other language of the table
// becomes available when its catalogue Lang/<base name>.qm (base name in any letter case)
// is found in the language folder. Selecting a language hands its catalogue to the string
// table (LoadString), so every later text comes from it, on any thread; ids the catalogue
// lacks stay English.
class CLangResource
{
public:
    static constexpr std::uint16_t kEnglish = 1033;
    static constexpr std::size_t kLanguageCount = 39;
    // The string every usable catalogue translates (the language's own name).
    static constexpr unsigned kProbeId = 10078;

    CLangResource();
    ~CLangResource();
    CLangResource(const CLangResource&) = delete;
    CLangResource& operator=(const CLangResource&) = delete;

    // The program's one instance, used by the start-up, the main window and its dialogs.
    static CLangResource& Instance();
    // The fixed table of languages, in the order the Setting dialog lists them.
    static std::span<const LanguageEntry, kLanguageCount> LanguageTable();
    // The language id of the user's message locale (LC_ALL, else LC_MESSAGES, else LANG):
    // the table entry of the same language and territory, else the first of the same
    // language; 0 for the C locale or a language the table does not have.
    static std::uint16_t ThreadLanguage();
    // The language's own name as the locale data gives it ("Deutsch", "简体中文"), with its
    // territory added where two table entries would otherwise read the same; empty for an
    // id the table does not have.
    static QString LanguageName(std::uint16_t langId);

    // The folder searched for catalogues (ResourceFolder()/Lang at start-up).
    void SetLanguageFolder(const QString& folder);
    // Chooses requested (0 = none stored), else the user's message locale, else English, and
    // makes it the string table's language. A catalogue that cannot be read, or that lacks
    // string 10078, counts as missing. Never fails: English is the last resort.
    void SelectLanguage(unsigned requested);
    // The ids of the available languages, in table order (English always among them).
    std::vector<std::uint16_t> AvailableLanguages();
    // The language in use.
    std::uint16_t CurrentLanguage() const { return m_current; }

private:
    void ScanLanguageFolder();
    bool LoadLanguageLibrary(unsigned langId);
    QString ProbeText() const;

    QString m_folder;
    std::uint16_t m_current = kEnglish;
    std::shared_ptr<const QTranslator> m_library; // null while English is in use
    std::array<QString, kLanguageCount> m_files;  // catalogue path of each available entry
    bool m_scanned = false;
};

// The language at start-up: the catalogues of ResourceFolder()/Lang and the profile's
// "Setting"/"Language" choice. Used by the windowed and the headless program alike.
void SelectStartupLanguage(CLangResource& languages = CLangResource::Instance());
