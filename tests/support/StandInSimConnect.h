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
// test asks it to, and hands out the messages a test queues.
class StandInSimConnect : public velk::simulator::msfs::SimConnectLoader {
public:
    struct Call {
        QString function;
        QVariantList args;
        QByteArray data; // bytes passed by pointer (values, positions, waypoints)
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

    QList<Call> calls;
    QList<Call> callsOf(const QString& function) const;
    void clearCalls() { calls.clear(); }

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
    static QByteArray inputEventsMessage(std::uint32_t requestId, const QList<InputEvent>& events);
    static QByteArray inputEventValueMessage(std::uint64_t hash, std::uint32_t type, double value);

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
};
