#include "capture/PrintData.h"

#include "capture/AlarmCounter.h"
#include "capture/AlarmText.h"
#include "eventlog/EventRecord.h"
#include "eventlog/EventSink.h"

void OnPrintData(void* context, SOCKET /*socket*/, std::uint32_t count)
{
    if (count == 0 || context == nullptr) {
        return;
    }
    auto* owner = static_cast<IPrintDataOwner*>(context);
    const QString alarmText = MakeAlarmText(owner->PrintBuffer(), count);
    EventSink(EventType::Information, alarmText);
    owner->DispatchAlarm(alarmText);
    IncrementAlarmCounter();
}
