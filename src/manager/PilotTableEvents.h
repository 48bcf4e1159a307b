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
};

} // namespace velk::manager
