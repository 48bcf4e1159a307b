#pragma once

#include "model/AircraftState.h"

#include <QObject>

namespace velk::manager {

// What the session's hold of the user's records after a lost simulator does
// that the configuration exchange must follow. Apart from the session
// manager, whose own signals are a fixed list.
class HeldRecordEvents : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // The configuration held since the loss gave way to the back end's record
    // without a new delivery (it stayed cleared past the refill): `current`
    // is the aircraft's from now on.
    void configurationReleased(const velk::model::UserAircraftConfigData& current);
};

} // namespace velk::manager
