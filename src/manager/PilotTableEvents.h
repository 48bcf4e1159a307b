#pragma once

#include "manager/RemoteAircraft.h"

#include <QObject>
#include <QString>

namespace velk::manager {

// What the session's pilot table does that the remote aircraft table must
// follow, so that both agree on which pilots are shown. Apart from the
// session manager, whose own signals are a fixed list.
class PilotTableEvents : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // Emitted just before the back end is asked to add the pilot.
    void addRequested(const velk::manager::RemoteAircraft& aircraft);
    // Dropped as no longer heard (silent past the stale limit, or at the cap).
    void pilotExpired(const QString& callsign);
    // The bound back end reported itself not connected: nothing is in the
    // simulator any more, and nothing is put in until it is connected again.
    void simulatorLost();
    // Connected again and asked to remove what it may still hold; the adds
    // of every pilot still heard follow.
    void simulatorRestored();
};

} // namespace velk::manager
