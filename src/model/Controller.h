#pragma once

#include <QMetaType>
#include <QObject>
#include <QString>

namespace velk::model {

// A controller in range.
struct Controller {
    Q_GADGET
    Q_PROPERTY(QString callsign MEMBER callsign)
    Q_PROPERTY(quint32 frequency MEMBER frequency)
    Q_PROPERTY(quint32 normalizedFrequency MEMBER normalizedFrequency)
    Q_PROPERTY(double latitude MEMBER latitude)
    Q_PROPERTY(double longitude MEMBER longitude)
    Q_PROPERTY(QString realName MEMBER realName)

public:
    // Frequency value of a station without a usable frequency.
    static constexpr quint32 NoFrequency = 199998;

    // 25 kHz display fix: 118.720 is shown as 118.725, 121.170 as 121.175.
    static constexpr quint32 normalize(quint32 frequencyKhz) {
        const quint32 rest = frequencyKhz % 100;
        return (rest == 20 || rest == 70) ? frequencyKhz + 5 : frequencyKhz;
    }

    QString callsign;                // upper case
    quint32 frequency = 0;           // kHz as received
    quint32 normalizedFrequency = 0; // kHz as shown
    quint32 frequencyHz = 0;
    double latitude = 0.0;
    double longitude = 0.0;
    qint64 lastSeen = 0; // seconds since the epoch (UTC)
    QString realName;
    bool isAtc = false;          // confirmed by the server
    bool removalPending = false; // the next sweep removes it

    bool operator==(const Controller&) const = default;
};

} // namespace velk::model

Q_DECLARE_METATYPE(velk::model::Controller)
