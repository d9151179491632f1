#pragma once

#include <QByteArray>
#include <QStringView>

// Look-up tables of the XML engine: the HTML 4 named character references and the
// encoding-name aliases.

// Code point of the named character reference (case-sensitive, without '&' and ';'), or -1.
int NamedEntityCodePoint(QStringView name);
// Windows code page number of an encoding name ("utf-8", "GBK", "iso-8859-1", ...; case
// ignored), or 0 when the name is not known.
int CodePageOfEncoding(QStringView name);
// iconv name of a Windows code page number ("CP936", "ISO-8859-1", ...); empty when the
// number is not one the engine knows.
QByteArray IconvNameOfCodePage(int codePage);
