#include "platform/LocaleInfo.h"

#include <locale.h>

#include <langinfo.h>

#include "platform/CodePage.h"

LocaleTimeFormats UserLocaleTimeFormats()
{
    locale_t loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) {
        loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    }
    if (loc == static_cast<locale_t>(0)) {
        return {QStringLiteral("%m/%d/%y"), QStringLiteral("%H:%M:%S"),
                QStringLiteral("%I:%M:%S %p"), QStringLiteral("AM"), QStringLiteral("PM")};
    }
    // The texts come in the locale's own codeset ("PM" in a Chinese GB locale is not ASCII).
    const QByteArray codeset = nl_langinfo_l(CODESET, loc);
    const auto text = [&](nl_item item) {
        return CodesetToWide(QByteArray(nl_langinfo_l(item, loc)),
                             codeset.isEmpty() ? QByteArray("UTF-8") : codeset);
    };
    LocaleTimeFormats formats{text(D_FMT), text(T_FMT), text(T_FMT_AMPM), text(AM_STR),
                              text(PM_STR)};
    freelocale(loc);
    return formats;
}
