#pragma once

#include <functional>
#include <vector>

#include <QString>
#include <QStringList>

// Every text of the string table is loaded through LoadString, so that a language catalogue
// can stand in for the built-in English table without touching any caller.

// Returns the text of string id in the current language; falls back to the built-in
// English text, and to an empty string for an unknown id. Safe on any thread.
QString LoadString(unsigned id);
// Returns the built-in English text of id, or an empty string.
QString LoadEnglishString(unsigned id);
// Returns every id of the built-in English table, in table order.
std::vector<unsigned> EnglishStringIds();
// Installs the lookup of the current language: it returns the translated text of an id, or
// an empty string when the catalogue has none. An empty function returns to English.
void SetStringCatalog(std::function<QString(unsigned id)> lookup);

// Fills a string-table text as its format strings expect: each %s, %d, %u or
// %ls takes the next argument as it stands; "%%" is one '%'. A missing argument leaves the
// placeholder as it is; surplus arguments are ignored.
QString FormatText(const QString& pattern, const QStringList& args);
