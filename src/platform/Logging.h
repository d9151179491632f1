#pragma once

#include <QLoggingCategory>

// Debug output per subsystem (the developer's trace lines), silent unless
// enabled, for example QT_LOGGING_RULES="zunaro.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcCapture)
Q_DECLARE_LOGGING_CATEGORY(lcEventLog)
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcSms)
Q_DECLARE_LOGGING_CATEGORY(lcSmtp)
Q_DECLARE_LOGGING_CATEGORY(lcVoice)
