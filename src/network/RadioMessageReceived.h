#pragma once

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariant>

namespace velk::network {

// A radio text heard on one or more of the user's received frequencies.
struct RadioMessageReceived {
    Q_GADGET
    Q_PROPERTY(QString from MEMBER from)
    Q_PROPERTY(QString message MEMBER message)
    Q_PROPERTY(QVariant frequencies MEMBER frequencies)
    Q_PROPERTY(bool isDirect MEMBER isDirect)
    Q_PROPERTY(bool dualReceiver MEMBER dualReceiver)

public:
    QString from;              // upper case
    QString message;           // as received
    QVariant frequencies;      // QList<uint>, kHz
    bool isDirect = false;     // the text begins with the user's callsign
    bool dualReceiver = false; // COM1 and COM2 both receive

    bool operator==(const RadioMessageReceived&) const = default;
};

} // namespace velk::network

Q_DECLARE_METATYPE(velk::network::RadioMessageReceived)
