#pragma once

#include <cstdint>

#include <QString>

#include "platform/Socket.h"

// What OnPrintData needs of its owner (the application object): the print buffer the
// listener fills and the fan-out of a finished alarm text.
class IPrintDataOwner
{
public:
    virtual ~IPrintDataOwner() = default;
    // The buffer the listener copies each chunk into before it calls OnPrintData.
    virtual const char* PrintBuffer() const = 0;
    // Hands one alarm text to every recipient; returns once everything is queued.
    virtual void DispatchAlarm(const QString& text) = 0;
};

// The listener's data callback: turns the first count bytes of the owner's print buffer
// into one alarm text, posts it as an information event, dispatches it and counts it.
// context is the IPrintDataOwner; socket is not used. count 0 does nothing.
void OnPrintData(void* context, SOCKET socket, std::uint32_t count);
