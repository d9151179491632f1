#pragma once

#include <cstddef>

#include <QString>

// Makes the alarm text of one print chunk: trailing non-printable characters cut, the text
// ended at the first NUL, then the fixed trims (leading CR, LF, space; trailing space, '1',
// space, U+00DA, U+00B5, LF, CR, each removing one run at its end).
//
// A chunk that is valid UTF-8 and holds at least one multi-byte sequence is decoded as
// UTF-8 (a sequence cut by the chunk's end, and continuation bytes of one cut by its
// start, are dropped); printable then means any printable Unicode character. Any other
// chunk is widened byte by byte (byte 0xB5 becomes U+00B5), and printable means the
// classic-locale bytes 0x20 to 0x7E.
QString MakeAlarmText(const char* data, std::size_t count);

// Returns true when the chunk would be decoded as UTF-8 by MakeAlarmText.
bool IsUtf8Chunk(const char* data, std::size_t count);
