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
// Pause of a print job's sender, in milliseconds, that ends the chunk gathered so far
// (0 = every read is a chunk of its own).
extern const ProfileIntKey kProfileListenerChunkGapMs;
// Outgoing mail server: host name or IPv4 address, port, security (0 none, 1 STARTTLS,
// 2 TLS from the first byte), certificate verification (0 = off) and an extra CA file.
extern const ProfileStringKey kProfileMailServer;
extern const ProfileIntKey kProfileMailPort;
extern const ProfileIntKey kProfileMailSecurity;
extern const ProfileIntKey kProfileMailVerifyCertificate;
extern const ProfileStringKey kProfileMailCaFile;
// Address of the E-Mail dialog's test mail; its default is the support address.
extern const ProfileStringKey kProfileMailTestRecipient;
// Regional settings of the date and time columns and log lines ("intl"); a missing key takes
// the value derived from the user's LC_TIME locale, the default here when there is none.
extern const ProfileIntKey kProfileIntlDateOrder;
extern const ProfileIntKey kProfileIntlClock;
extern const ProfileIntKey kProfileIntlHourLeadingZero;
extern const ProfileStringKey kProfileIntlDateSeparator;
extern const ProfileStringKey kProfileIntlTimeSeparator;
extern const ProfileStringKey kProfileIntlShortDate;
extern const ProfileStringKey kProfileIntlMorning;
extern const ProfileStringKey kProfileIntlAfternoon;
// Event view: widths of the Date, Time and Event columns and the errors-only filter.
extern const ProfileIntKey kProfileEventViewDateWidth;
extern const ProfileIntKey kProfileEventViewTimeWidth;
extern const ProfileIntKey kProfileEventViewEventWidth;
extern const ProfileIntKey kProfileEventViewErrorsOnly;
// espeak-ng voice of spoken alarms ("de", "en-us", ...; empty = the locale's language).
extern const ProfileStringKey kProfileVoiceName;
// Test text of the Voice dialog.
extern const ProfileStringKey kProfileVoiceText;
// Device path of a serial port name: section "Ports", key "COM" followed by the port
// number ("COM1" = /dev/ttyUSB0, ...); unset, COMn is the n-th serial device.
extern const ProfileStringKey kProfilePortDevice;
// Test number and test text of the modem dialog.
extern const ProfileStringKey kProfileDtuTelephone;
extern const ProfileStringKey kProfileDtuMessage;
// SMS: milliseconds the modem has to answer a sent message before the attempt counts as
// unanswered, and the most messages one long text is sent as (1 = cut to one SMS, at most 8).
extern const ProfileIntKey kProfileSmsSendTimeout;
extern const ProfileIntKey kProfileSmsMaxParts;
// The recent-file list of the settings document, most recent first ("File1" .. "File4").
extern const ProfileStringKey kProfileRecentFiles[4];
// Most requests the persistent outbox holds; a request beyond it is refused and reported.
extern const ProfileIntKey kProfileOutboxMaxMessages;
// Presets of a new recipient in the User dialog, written on every confirmed one, and the
// folder the recipient CSV file dialogs open in.
extern const ProfileStringKey kProfileUserName;
extern const ProfileStringKey kProfileUserPhone;
extern const ProfileStringKey kProfileUserMail;
extern const ProfileStringKey kProfilePathsOpenFile;
