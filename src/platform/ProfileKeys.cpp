#include "platform/ProfileKeys.h"

const ProfileStringKey kProfileCodePage{"Setting", "CodePage", ""};
const ProfileStringKey kProfileOemCodePage{"Setting", "OemCodePage", ""};
const ProfileIntKey kProfileLanguage{"Setting", "Language", 0};
const ProfileStringKey kProfileListenerAddress{"Listener", "Address", ""};
const ProfileIntKey kProfileListenerPort{"Listener", "Port", 9100};
const ProfileIntKey kProfileListenerChunkGapMs{"Listener", "ChunkGapMs", 100};
const ProfileStringKey kProfileMailServer{"Mail", "Server", "localhost"};
const ProfileIntKey kProfileMailPort{"Mail", "Port", 25};
const ProfileIntKey kProfileMailSecurity{"Mail", "Security", 0};
const ProfileIntKey kProfileMailVerifyCertificate{"Mail", "VerifyCertificate", 1};
const ProfileStringKey kProfileMailCaFile{"Mail", "CAFile", ""};
const ProfileStringKey kProfileMailTestRecipient{"Mail", "Send", "support@zunaro.example"};
const ProfileIntKey kProfileIntlDateOrder{"intl", "iDate", 0};
const ProfileIntKey kProfileIntlClock{"intl", "iTime", 0};
const ProfileIntKey kProfileIntlHourLeadingZero{"intl", "iTLZero", 0};
const ProfileStringKey kProfileIntlDateSeparator{"intl", "sDate", "/"};
const ProfileStringKey kProfileIntlTimeSeparator{"intl", "sTime", ":"};
const ProfileStringKey kProfileIntlShortDate{"intl", "sShortDate", "M/d/yy"};
const ProfileStringKey kProfileIntlMorning{"intl", "s1159", "am"};
const ProfileStringKey kProfileIntlAfternoon{"intl", "s2359", "pm"};
const ProfileIntKey kProfileEventViewDateWidth{"Event View", "0", 120};
const ProfileIntKey kProfileEventViewTimeWidth{"Event View", "1", 120};
const ProfileIntKey kProfileEventViewEventWidth{"Event View", "2", 120};
const ProfileIntKey kProfileEventViewErrorsOnly{"Event View", "Log Errors Only", 0};
const ProfileStringKey kProfileVoiceName{"Voice", "Name", ""};
const ProfileStringKey kProfileVoiceText{"Voice", "Text", "This is Test Voice"};
const ProfileStringKey kProfilePortDevice{"Ports", "COM", ""};
const ProfileStringKey kProfileDtuTelephone{"DTU", "TEL", "13800138000"};
const ProfileStringKey kProfileDtuMessage{"DTU", "MESSAGE", "This is a Test Message."};
const ProfileIntKey kProfileSmsSendTimeout{"SMS", "SendTimeout", 10000};
const ProfileIntKey kProfileSmsMaxParts{"SMS", "MaxParts", 1};
const ProfileStringKey kProfileRecentFiles[4] = {{"Recent File List", "File1", ""},
                                                 {"Recent File List", "File2", ""},
                                                 {"Recent File List", "File3", ""},
                                                 {"Recent File List", "File4", ""}};
const ProfileIntKey kProfileOutboxMaxMessages{"Outbox", "MaxMessages", 10000};
const ProfileStringKey kProfileUserName{"User", "Name", "UserName"};
const ProfileStringKey kProfileUserPhone{"User", "Phone", "13800138000"};
const ProfileStringKey kProfileUserMail{"User", "Mail", ""};
const ProfileStringKey kProfilePathsOpenFile{"Paths", "Open File", ""};
