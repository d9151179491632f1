#pragma once

#include <ostream>

#include <QByteArray>
#include <QString>

// Readable GoogleTest output for Qt strings (found by argument-dependent lookup).
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QByteArray& b, std::ostream* os)
{
    *os << (b.isNull() ? "null" : '"' + b.toPercentEncoding(" ").toStdString() + '"');
}
