#include "platform/ProfileKeys.h"

const ProfileStringKey kProfileCodePage{"Setting", "CodePage", ""};
const ProfileStringKey kProfileOemCodePage{"Setting", "OemCodePage", ""};
const ProfileIntKey kProfileLanguage{"Setting", "Language", 0};
const ProfileStringKey kProfileListenerAddress{"Listener", "Address", ""};
const ProfileIntKey kProfileListenerPort{"Listener", "Port", 9100};
