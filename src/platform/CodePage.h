#pragma once

#include <QByteArray>
#include <QString>

// The 8-bit code pages of the program: the ANSI code page (CP_ACP), which is the codeset of
// the user's locale (UTF-8 on current systems; a C/POSIX locale counts as UTF-8) unless the
// profile's "Setting"/"CodePage" names another (for example CP936), and the OEM code page,
// which is the ANSI one unless "Setting"/"OemCodePage" names another. Conversions run
// through iconv.

enum class CodePage
{
    Ansi,
    Oem
};

// Returns the iconv name of the code page ("UTF-8", "CP936", ...).
QByteArray CodesetName(CodePage page);
// Turns a profile value ("936", "cp936", "65001", "UTF-8", "GBK") into an iconv name.
// Returns an empty array for an empty value.
QByteArray NormalizeCodesetName(const QString& value);
// Forgets the cached code page names so that the next conversion reads the profile and
// locale again.
void ReloadCodePages();

// Converts wide text into the named codeset. A character the codeset cannot hold becomes
// replacement; with replacement 0 such a character makes the conversion fail. Returns a
// null QByteArray (isNull()) on failure, a non-null one otherwise (empty for empty text).
QByteArray WideToCodeset(const QString& text, const QByteArray& codeset, char replacement = 0);
// Converts bytes of the named codeset into wide text; a byte sequence that is not valid
// in it becomes U+FFFD. An unknown codeset gives the bytes widened one to one.
QString CodesetToWide(const QByteArray& bytes, const QByteArray& codeset);

// Wide text into the ANSI or OEM code page; see WideToCodeset.
QByteArray WideToCodePage(const QString& text, CodePage page, char replacement = 0);
// ANSI or OEM bytes into wide text; see CodesetToWide.
QString CodePageToWide(const QByteArray& bytes, CodePage page);

// The shared wide-to-8-bit routine: converts into the code page that the platform's file
// functions use (the ANSI code page here; file names are bytes in the locale's codeset).
// Returns a new string, or a null QByteArray when the conversion fails.
QByteArray WideToFileCodePage(const QString& text);
