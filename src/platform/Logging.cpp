#include "platform/Logging.h"

Q_LOGGING_CATEGORY(lcCapture, "zunaro.capture", QtWarningMsg)
Q_LOGGING_CATEGORY(lcEventLog, "zunaro.eventlog", QtWarningMsg)
Q_LOGGING_CATEGORY(lcApp, "zunaro.app", QtWarningMsg)
