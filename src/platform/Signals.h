#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal on the thread that owns this object, through a
// self-pipe: the handler only writes one byte, everything else runs in the event loop.
// One instance at a time; the handlers are restored to the default when it is destroyed.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or the handlers could not be installed.
    bool IsValid() const { return m_valid; }

signals:
    // SIGTERM or SIGINT arrived (signalNumber tells which).
    void terminationRequested(int signalNumber);

private:
    void OnReadable();

    QSocketNotifier* m_notifier = nullptr;
    bool m_valid = false;
    bool m_ownsPipe = false;
};
