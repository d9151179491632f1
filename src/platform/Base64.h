#pragma once

#include <QByteArray>

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks). Serves SMTP
// authentication, attachments and the stored password.

// Returns the Base64 text of data.
QByteArray Base64Encode(const QByteArray& data);
// Returns the bytes of text. Decoding stops at the first "=" or at the first character
// outside the alphabet; a trailing group of two or three characters gives one or two
// bytes, a lone trailing character gives none.
QByteArray Base64Decode(const QByteArray& text);
