#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

namespace velk::model {

// What the pilot asked to connect with.
struct ConnectInfo {
    Q_GADGET

public:
    QString callsign;   // trimmed, upper case
    QString typeCode;   // normalised aircraft type; may be empty for an observer
    QString selcalCode; // as the dashboard passed it
    bool observerMode = false;

    bool operator==(const ConnectInfo&) const = default;
};

} // namespace velk::model

Q_DECLARE_METATYPE(velk::model::ConnectInfo)
