#pragma once

// The ids of the string table, each named once in res/StringTable_en.inc: every caller uses
// these names, and two entries can never share an id (StringTable.cpp checks that at compile
// time).

#define ZUNARO_STRING(name, id, text) inline constexpr unsigned name = id;
#include "StringTable_en.inc"
#undef ZUNARO_STRING
