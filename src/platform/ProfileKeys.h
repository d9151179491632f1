#pragma once

// The one table of profile entries: section, key and default. Every reader and writer of
// the profile names its entry here.

struct ProfileIntKey
{
    const char* section;
    const char* key;
    int defaultValue;
};

struct ProfileStringKey
{
    const char* section;
    const char* key;
    const char* defaultValue;
};

// ANSI and OEM code pages of 8-bit text ("936", "CP936", "UTF-8"; empty = the locale's).
extern const ProfileStringKey kProfileCodePage;
extern const ProfileStringKey kProfileOemCodePage;
// Language id of the user interface (0 = none chosen yet).
extern const ProfileIntKey kProfileLanguage;
// Address the print listener binds to (empty = every local interface).
extern const ProfileStringKey kProfileListenerAddress;
// Port of the print listener.
extern const ProfileIntKey kProfileListenerPort;
