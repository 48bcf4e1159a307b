#pragma once

#include "simulator/msfs/SimConnectLibrary.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

// The stand-in SimConnect library: installs itself as the session's loader,
// serves the library's calls by name, records every call, fails the ones a
// test asks it to, and hands out the messages a test queues. It answers as
// SimConnect does: every call gets a send id (GetLastSentPacketID) that
// exceptions name, "no message" is E_FAIL, traffic rows count from 1, and on
// request it answers creations by itself.
class StandInSimConnect : public velk::simulator::msfs::SimConnectLoader {
public:
    struct Call {
        QString function;
        QVariantList args;
        QByteArray data; // bytes passed by pointer (values, positions, waypoints)
        std::uint32_t sendId = 0;
    };
    struct TrafficRow {
        std::uint32_t objectId = 0;
        QByteArray atcId;
        double latitude = 0.0;
        double longitude = 0.0;
    };
    struct InputEvent {
        QByteArray name;
        std::uint64_t hash = 0;
        std::uint32_t type = 0;
    };

    static constexpr std::int32_t kFailure = std::int32_t(0x80004005u);

    StandInSimConnect();
    ~StandInSimConnect() override;

    // Files that can be loaded; every library function is present unless removed.
    QSet<QString> files{QStringLiteral("SimConnect.dll")};
    QHash<QString, QSet<QString>> missingFunctions; // file -> function names
    std::uint32_t loadError = 126;
    int loads = 0;
    int unloads = 0;
    int lookups = 0;

    // The next `times` calls of a function fail; with a predicate, only matching calls.
    void fail(const QString& function, int times = 1, std::function<bool(const Call&)> when = {});

    // When set, each accepted create call is answered on the next dispatch:
    // the object id (from nextObjectId on), or exception 22 naming the call's
    // send id when knownTitles is not empty and lacks the container title.
    bool answerCreates = false;
    QSet<QString> knownTitles;
    std::uint32_t nextObjectId = 1000;
    // Open succeeds but hands out no handle.
    bool openWithoutHandle = false;
    // Non-zero: GetNextDispatch fails with it, as on a broken connection.
    std::int32_t dispatchFailure = 0;

    QList<Call> calls;
    QList<Call> callsOf(const QString& function) const;
    void clearCalls() { calls.clear(); }
    std::uint32_t lastSendId() const { return m_sendId; }

    // Messages handed out by GetNextDispatch, oldest first.
    void queue(const QByteArray& message) { m_queue.append(message); }
    int queued() const { return int(m_queue.size()); }

    static QByteArray header(std::uint32_t id, std::uint32_t size);
    static QByteArray openMessage(const QByteArray& appName, std::array<std::uint32_t, 4> appVersion,
                                  std::array<std::uint32_t, 4> libVersion);
    static QByteArray quitMessage();
    static QByteArray exceptionMessage(std::uint32_t exception, std::uint32_t sendId = 0,
                                       std::uint32_t index = 0);
    static QByteArray objectDataMessage(std::uint32_t requestId, const QByteArray& payload);
    static QByteArray byTypeMessage(std::uint32_t requestId, std::uint32_t objectId, std::uint32_t entry,
                                    std::uint32_t outOf, const QByteArray& payload);
    static QByteArray assignedObjectIdMessage(std::uint32_t requestId, std::uint32_t objectId);
    // A subscribed system event (group unused) with its data.
    static QByteArray eventMessage(std::uint32_t eventId, std::uint32_t data);
    static QByteArray inputEventsMessage(std::uint32_t requestId, const QList<InputEvent>& events);
    static QByteArray inputEventValueMessage(std::uint64_t hash, std::uint32_t type, double value);
    // One reply to the traffic request: rows 1 to n of n, or one empty
    // message (entry 0 of 0) when there are none.
    static QList<QByteArray> trafficReply(const QList<TrafficRow>& rows, std::uint32_t requestId = 40001);
    // The real simulators' open messages.
    static QByteArray openMsfs2020() {
        return openMessage("KittyHawk", {11, 0, 282174, 999}, {11, 0, 62651, 3});
    }

    static QByteArray f64(double value);
    static QByteArray i32(std::int32_t value);
    static QByteArray text(const QByteArray& value, int width);

    // SimConnectLoader
    void* load(const QString& fileName, std::uint32_t& errorCode) override;
    void* resolve(void* module, const char* functionName) override;
    void unload(void* module) override;

    // Used by the library's entry points.
    std::int32_t record(Call call);
    bool nextMessage(const std::uint8_t** message, std::uint32_t* size);
    void answerCreate(const QString& title, std::uint32_t requestId);
    void* handle() { return &m_handleToken; }

private:
    struct Failure {
        QString function;
        int remaining;
        std::function<bool(const Call&)> when;
    };
    QList<Failure> m_failures;
    QList<QByteArray> m_queue;
    std::unique_ptr<std::uint8_t[]> m_current; // exactly sized, so over-reads are caught
    QHash<QString, std::shared_ptr<QString>> m_modules;
    int m_handleToken = 0;
    std::uint32_t m_sendId = 0;
};
