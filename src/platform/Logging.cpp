#include "platform/Logging.h"

Q_LOGGING_CATEGORY(lcCapture, "zunaro.capture", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcEventLog, "zunaro.eventlog", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcApp, "zunaro.app", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcSmtp, "zunaro.smtp", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcVoice, "zunaro.voice", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcSms, "zunaro.sms", QtCriticalMsg)
