#include "AppConfig.h"
#include "simulator/xplane/DatarefLink.h"
#include "simulator/xplane/XPlaneAdapter.h"
#include "support/FakeXPlane.h"

#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

using namespace velk;
using simulator::xplane::XPlaneAdapter;
using test::FakeXPlane;

namespace {

QByteArray expectedDref(const char* path, float value) {
    QByteArray d(509, '\0');
    std::memcpy(d.data(), "DREF", 4);
    quint32 bits;
    std::memcpy(&bits, &value, 4);
    qToLittleEndian<quint32>(bits, d.data() + 5);
    std::memcpy(d.data() + 9, path, std::strlen(path));
    return d;
}

QByteArray expectedCmnd(const char* path) {
    return QByteArray("CMND", 4) + QByteArray(1, '\0') + QByteArray(path) + QByteArray(1, '\0');
}

} // namespace

class TestXPlaneLink : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeXPlane> xp;
    std::unique_ptr<XPlaneAdapter> adapter;
    qint64 clockNow = 1'700'000'000;

    // The adapter has sent something, so the fake knows where to reply.
    void introduce() {
        const auto before = xp->datagrams.size();
        adapter->transponderIdent();
        QTRY_COMPARE(xp->datagrams.size(), before + 1);
        xp->clear();
    }

    void reply(const QList<QPair<qint32, float>>& pairs) {
        const qint64 stamp = ++clockNow;
        xp->sendRref(pairs);
        QTRY_COMPARE(adapter->lastDataTime(), stamp);
    }

    void makeAdapter() {
        XPlaneAdapter::Options o;
        o.startTimers = false;
        o.clock = [this] { return clockNow; };
        o.pluginIpcUrl =
            QStringLiteral("ipc:///tmp/velk-link-%1.ipc").arg(QCoreApplication::applicationPid());
        adapter = std::make_unique<XPlaneAdapter>(o);
    }

private slots:
    void init() {
        xp = std::make_unique<FakeXPlane>();
        AppConfig::instance()->setValue(ConfigKeys::XPlaneUDPPort, int(xp->port()));
        AppConfig::instance()->setValue(ConfigKeys::XPlaneNetworkAddress, QStringLiteral("127.0.0.1"));
        makeAdapter();
    }

    void cleanup() {
        adapter.reset();
        xp.reset();
    }

    void connectionAttemptSubscribesAll53DatarefsOnce() {
        adapter->openNngSocket();
        adapter->reconnectSimulator();
        QTRY_COMPARE(xp->datagrams.size(), 53);
        const auto& table = simulator::xplane::datarefSubscriptions();
        for (int i = 0; i < 53; ++i) {
            const QByteArray& d = xp->datagrams.at(i);
            QCOMPARE(d.size(), 413);
            QCOMPARE(d.left(5), QByteArray("RREF\0", 5));
            QCOMPARE(qFromLittleEndian<qint32>(d.constData() + 5), table[i].rate);
            QCOMPARE(qFromLittleEndian<qint32>(d.constData() + 9), i);
            const QByteArray path(table[i].path);
            QCOMPARE(d.mid(13, path.size()), path);
            QCOMPARE(d.mid(13 + path.size()), QByteArray(400 - path.size(), '\0'));
        }
        const auto requests = xp->rrefRequests();
        QCOMPARE(requests.at(0).path, QByteArray("sim/cockpit2/switches/avionics_power_on"));
        QCOMPARE(requests.at(1).rate, 2);
        QCOMPARE(requests.at(12).path, QByteArray("sim/cockpit/radios/transponder_code"));
        QCOMPARE(requests.at(18).rate, 5);
        QCOMPARE(requests.at(29).path, QByteArray("sim/flightmodel/position/local_vz"));
        QCOMPARE(requests.at(49).rate, 15);
        QCOMPARE(requests.at(49).path, QByteArray("sim/flightmodel2/gear/tire_steer_actual_deg[0]"));
        QCOMPARE(requests.at(52).path, QByteArray("sim/version/xplane_internal_version"));
    }

    void comSelectionSixAndSevenPickTheTransmitter() {
        introduce();
        reply({{1, 6.0f}});
        QVERIFY(adapter->radioStackState().com1TransmitEnabled);
        QVERIFY(!adapter->radioStackState().com2TransmitEnabled);
        reply({{1, 7.0f}});
        QVERIFY(!adapter->radioStackState().com1TransmitEnabled);
        QVERIFY(adapter->radioStackState().com2TransmitEnabled);
        reply({{1, 0.0f}});
        QVERIFY(adapter->radioStackState().com2TransmitEnabled);
        QVERIFY(!adapter->radioStackState().com1TransmitEnabled);
    }

    void volumesAreRoundedAndClamped() {
        introduce();
        reply({{8, 0.555f}, {9, 1.5f}});
        QCOMPARE(adapter->radioStackState().com1Volume, 56);
        QCOMPARE(adapter->radioStackState().com2Volume, 100);
        reply({{8, -0.2f}, {9, std::nanf("")}});
        QCOMPARE(adapter->radioStackState().com1Volume, 0);
        QCOMPARE(adapter->radioStackState().com2Volume, 100); // NaN leaves it
    }

    void transponderAndRadiosDecode() {
        introduce();
        reply({{0, 1.0f},
               {2, 1.0f},
               {3, 0.0f},
               {4, 118500.7f},
               {5, 121500.0f},
               {6, 122800.0f},
               {7, 119000.0f},
               {10, 2.0f},
               {11, 1.0f},
               {12, 7000.0f}});
        const auto& r = adapter->radioStackState();
        QVERIFY(r.avionicsPowerOn);
        QVERIFY(r.com1ReceiveEnabled);
        QVERIFY(!r.com2ReceiveEnabled);
        QCOMPARE(r.com1Frequency, 118500u);
        QCOMPARE(r.com1StandbyFrequency, 121500u);
        QCOMPARE(r.com2Frequency, 122800u);
        QCOMPARE(r.com2StandbyFrequency, 119000u);
        QVERIFY(!r.squawkingModeC);
        QVERIFY(r.squawkingIdent);
        QCOMPARE(r.transponderCode, quint16(7000));
        for (float mode : {3.0f, 4.0f, 5.0f}) {
            reply({{10, 0.0f}});
            reply({{10, mode}});
            QVERIFY(adapter->radioStackState().squawkingModeC);
        }
        QVERIFY(!r.com1Sending && !r.com2Sending);
    }

    void unusableValuesAreIgnored() {
        introduce();
        constexpr float inf = std::numeric_limits<float>::infinity();
        reply({{4, 118700.0f}, {12, 1200.0f}, {35, 2.0f}, {18, 40.5f}, {25, 10.0f}, {46, 0.5f}});
        reply({{4, std::nanf("")},
               {4, -5.0f},
               {12, 70000.0f},
               {12, inf},
               {35, 1.0e12f},
               {35, std::nanf("")},
               {18, std::nanf("")},
               {25, -inf},
               {46, std::nanf("")}});
        QCOMPARE(adapter->radioStackState().com1Frequency, 118700u);
        QCOMPARE(adapter->radioStackState().transponderCode, quint16(1200));
        QCOMPARE(adapter->userAircraftConfigData().engineCount, 2);
        QCOMPARE(adapter->userAircraftData().latitude, 40.5);
        QCOMPARE(adapter->userAircraftData().groundSpeed, 10.0 * 1.94384);
        QCOMPARE(adapter->userAircraftConfigData().flapsRatio, 0.5);
        // Nothing unusable got in, so the records stay equal to what was published.
        adapter->publishSimState();
        const model::UserAircraftData published = adapter->userAircraftData();
        QSignalSpy data(adapter.get(), &simulator::Simulator::userAircraftDataChanged);
        QSignalSpy config(adapter.get(), &simulator::Simulator::userAircraftConfigDataChanged);
        reply({{18, std::nanf("")}, {46, std::nanf("")}});
        adapter->publishSimState();
        QCOMPARE(data.count(), 1); // the reply itself goes out
        QCOMPARE(data.at(0).at(0).value<model::UserAircraftData>(), published);
        QCOMPARE(config.count(), 0);
    }

    void aircraftValuesDecodeWithTheirConversions() {
        introduce();
        reply({{18, 40.25f},
               {19, 116.5f},
               {20, 1000.0f},
               {21, 12.5f},
               {22, 3500.0f},
               {23, 29.92f},
               {24, -150.0f},
               {25, 100.0f},
               {26, 2.5f},
               {27, 270.0f},
               {28, -10.0f},
               {29, 1.5f},
               {30, 2.5f},
               {31, 3.5f},
               {32, 0.25f},
               {33, 0.5f},
               {34, 0.75f},
               {49, 12.0f}});
        const auto& d = adapter->userAircraftData();
        QCOMPARE(d.latitude, 40.25);
        QCOMPARE(d.longitude, 116.5);
        QCOMPARE(d.altitudeMslM, 1000.0);
        QCOMPARE(d.altitudeAglM, 12.5);
        QCOMPARE(d.altitudePressure, 3500.0);
        QCOMPARE(d.qnh, double(29.92f) * 33.8639);
        QCOMPARE(d.temperatureError, -150.0);
        QCOMPARE(d.groundSpeed, 194.384);
        QCOMPARE(d.pitch, 2.5);
        QCOMPARE(d.heading, 270.0);
        QCOMPARE(d.bank, -10.0);
        QCOMPARE(d.latitudeVelocity, -1.5);
        QCOMPARE(d.altitudeVelocity, 2.5);
        QCOMPARE(d.longitudeVelocity, 3.5);
        QCOMPARE(d.pitchVelocity, -0.25);
        QCOMPARE(d.headingVelocity, 0.5);
        QCOMPARE(d.bankVelocity, -0.75);
        QCOMPARE(d.noseWheelAngle, 12.0);
    }

    void configurationDecodes() {
        introduce();
        reply({{13, 1.0f},
               {14, 0.0f},
               {15, 1.0f},
               {16, std::nanf("")},
               {17, 0.0f},
               {35, 4.0f},
               {36, 1.0f},
               {37, 0.0f},
               {38, 1.0f},
               {39, 1.0f},
               {40, 3.0f},
               {41, 2.0f},
               {42, 3.5f},
               {43, 3.0f},
               {44, 1.0f},
               {45, 1.0f},
               {46, 0.5f},
               {47, 0.25f},
               {48, 0.5f}});
        const auto& c = adapter->userAircraftConfigData();
        QVERIFY(c.beaconOn);
        QVERIFY(!c.landingLightsOn);
        QVERIFY(c.taxiLightsOn);
        QVERIFY(c.navLightsOn); // NaN counts as on
        QVERIFY(!c.strobesOn);
        QCOMPARE(c.engineCount, 4);
        QVERIFY(c.engine1Running && !c.engine2Running && c.engine3Running && c.engine4Running);
        QVERIFY(c.engine1Reversing);
        QVERIFY(!c.engine2Reversing);
        QVERIFY(!c.engine3Reversing);
        QVERIFY(c.engine4Reversing);
        QVERIFY(c.onGround);
        QVERIFY(c.gearDown);
        QCOMPARE(c.flapsRatio, 0.5);
        QCOMPARE(c.speedbrakeRatio, 0.25);
        QVERIFY(!c.speedbrakeArmed); // needs more than 0.5
        reply({{48, 0.51f}});
        QVERIFY(adapter->userAircraftConfigData().speedbrakeArmed);
    }

    void laterPairsWinAndForeignIndicesAreSkipped() {
        introduce();
        reply({{18, 1.0f}, {-1, 5.0f}, {53, 5.0f}, {std::numeric_limits<qint32>::min(), 7.0f}, {18, 2.0f}});
        QCOMPARE(adapter->userAircraftData().latitude, 2.0);
    }

    void shortOrPartialRepliesOnlyRefreshTheDataTime() {
        introduce();
        reply({{18, 3.0f}});
        for (int size : {5, 12}) {
            const qint64 stamp = ++clockNow;
            QByteArray d = FakeXPlane::rrefReply({{18, 9.0f}}).left(size);
            xp->sendRaw(d);
            QTRY_COMPARE(adapter->lastDataTime(), stamp);
        }
        QCOMPARE(adapter->userAircraftData().latitude, 3.0);
        // A reply with a trailing partial pair applies the complete ones.
        const qint64 stamp = ++clockNow;
        xp->sendRaw(FakeXPlane::rrefReply({{18, 4.0f}, {19, 5.0f}}).chopped(1));
        QTRY_COMPARE(adapter->lastDataTime(), stamp);
        QCOMPARE(adapter->userAircraftData().latitude, 4.0);
        QCOMPARE(adapter->userAircraftData().longitude, 0.0);
    }

    void datagramsFromElsewhereOrNotRrefAreIgnored() {
        introduce();
        // Another loopback address writes to the adapter's port directly.
        QUdpSocket raw;
        raw.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0);
        raw.writeDatagram(FakeXPlane::rrefReply({{18, 66.0f}}), QHostAddress::LocalHost,
                          adapter->udpLocalPort());
        xp->sendRaw(QByteArray("DATA\0", 5) + QByteArray(8, '\1'));
        reply({{19, 1.0f}}); // arrives after both
        QCOMPARE(adapter->userAircraftData().latitude, 0.0);
    }

    void pauseIsSignalledOnceAsStored() {
        introduce();
        QSignalSpy paused(adapter.get(), &simulator::Simulator::simPausedStateChanged);
        reply({{51, 1.0f}});
        reply({{51, 1.0f}});
        QCOMPARE(paused.count(), 1);
        QCOMPARE(paused.at(0).at(0).toBool(), true);
        reply({{51, 0.0f}});
        QCOMPARE(paused.count(), 2);
        QCOMPARE(paused.at(1).at(0).toBool(), false);
        // A negative value is "paused" when stored, so it is signalled as such.
        reply({{51, -1.0f}});
        QCOMPARE(paused.count(), 3);
        QCOMPARE(paused.at(2).at(0).toBool(), true);
        QVERIFY(adapter->isSimPaused());
    }

    void versionIsAnnouncedOnChangeOnly() {
        introduce();
        QSignalSpy version(adapter.get(), &simulator::Simulator::xplaneVersionUpdated);
        reply({{52, 120001.0f}});
        reply({{52, 120001.0f}});
        reply({{52, 0.0f}});
        reply({{52, 0.4f}});
        reply({{52, std::nanf("")}});
        reply({{52, -3.0f}});
        reply({{52, 3.0e10f}});
        QCOMPARE(version.count(), 1);
        QCOMPARE(version.at(0).at(0).toInt(), 120001);
        QCOMPARE(adapter->xplaneVersion(), 120001);
    }

    void replayIsReportedEveryTime() {
        introduce();
        QSignalSpy replay(adapter.get(), &simulator::Simulator::replayModeDetected);
        reply({{50, 1.0f}, {50, 0.0f}, {50, 2.0f}});
        reply({{50, 1.0f}});
        QCOMPARE(replay.count(), 3);
    }

    void settersWriteExactDatarefsAndCommands() {
        introduce();
        adapter->setTransponderCode(2000);
        adapter->setCom1Frequency(121.5f);
        adapter->setCom2Frequency(118.0f);
        adapter->setCom1Frequency(0.0f);
        adapter->setCom1Frequency(-1.0f);
        adapter->setCom1Frequency(1000.0f);
        adapter->setCom1Frequency(1000.5f);
        adapter->transponderIdent();
        QTRY_COMPARE(xp->datagrams.size(), 8);
        QCOMPARE(xp->datagrams.at(0), expectedDref("sim/cockpit/radios/transponder_code", 2000.0f));
        QCOMPARE(xp->datagrams.at(1),
                 expectedDref("sim/cockpit2/radios/actuators/com1_frequency_hz_833", 121.5f * 1000.0f));
        QCOMPARE(xp->drefs().at(1).value, 121500.0f);
        QCOMPARE(xp->datagrams.at(2),
                 expectedDref("sim/cockpit2/radios/actuators/com2_frequency_hz_833", 118000.0f));
        QCOMPARE(xp->drefs().at(3).value, 0.0f);
        QCOMPARE(xp->drefs().at(4).value, 0.0f);
        QCOMPARE(xp->drefs().at(5).value, 1000000.0f);
        QCOMPARE(xp->drefs().at(6).value, 1000.5f);
        QCOMPARE(xp->datagrams.at(7), expectedCmnd("sim/transponder/transponder_ident"));
        QCOMPARE(xp->datagrams.at(7).size(), qsizetype(std::strlen("sim/transponder/transponder_ident") + 6));
    }

    void modeToggleFollowsTheLastDecodedMode() {
        introduce();
        adapter->transponderModeToggle();
        QTRY_COMPARE(xp->datagrams.size(), 2);
        QCOMPARE(xp->datagrams.at(0), expectedDref("sim/cockpit/radios/transponder_mode", 3.0f));
        QCOMPARE(xp->datagrams.at(1), expectedCmnd("sim/transponder/transponder_alt"));
        reply({{10, 3.0f}});
        xp->clear();
        adapter->transponderModeToggle();
        QTRY_COMPARE(xp->datagrams.size(), 2);
        QCOMPARE(xp->datagrams.at(0), expectedDref("sim/cockpit/radios/transponder_mode", 1.0f));
        QCOMPARE(xp->datagrams.at(1), expectedCmnd("sim/transponder/transponder_standby"));
    }

    void portIsReadBeforeEveryDatagram() {
        FakeXPlane other;
        AppConfig::instance()->setValue(ConfigKeys::XPlaneUDPPort, int(other.port()));
        adapter->transponderIdent();
        QTRY_COMPARE(other.datagrams.size(), 1);
        AppConfig::instance()->setValue(ConfigKeys::XPlaneUDPPort, 70000); // unusable: nothing sent
        adapter->transponderIdent();
        AppConfig::instance()->setValue(ConfigKeys::XPlaneUDPPort, int(other.port()));
        adapter->setTransponderCode(1);
        QTRY_COMPARE(other.datagrams.size(), 2);
        QVERIFY(other.datagrams.at(1).startsWith("DREF"));
    }

    void targetAddressRules() {
        QCOMPARE(XPlaneAdapter::targetAddressFor(QStringLiteral("LocalHost")),
                 QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(XPlaneAdapter::targetAddressFor(QStringLiteral("192.168.1.20")),
                 QHostAddress(QStringLiteral("192.168.1.20")));
        QVERIFY(XPlaneAdapter::targetAddressFor(QStringLiteral("xplane.lan")).isNull());
    }

    void anIpv6AddressIsReachedAndHeard() {
        auto xp6 = std::make_unique<FakeXPlane>(QHostAddress(QHostAddress::LocalHostIPv6));
        if (!xp6->port()) {
            QSKIP("no IPv6 loopback here");
        }
        xp = std::move(xp6);
        AppConfig::instance()->setValue(ConfigKeys::XPlaneUDPPort, int(xp->port()));
        AppConfig::instance()->setValue(ConfigKeys::XPlaneNetworkAddress, QStringLiteral("::1"));
        adapter.reset();
        makeAdapter();
        introduce();
        reply({{18, 12.5f}});
        QCOMPARE(adapter->userAircraftData().latitude, 12.5);
    }

    void generationFollowsTheInternalVersion_data() {
        QTest::addColumn<float>("version");
        QTest::addColumn<int>("generation");
        QTest::newRow("unknown") << 0.0f << 0;
        QTest::newRow("99999") << 99999.0f << 0;
        QTest::newRow("100000") << 100000.0f << 3;
        QTest::newRow("110000") << 110000.0f << 4;
        QTest::newRow("119999") << 119999.0f << 4;
        QTest::newRow("120000") << 120000.0f << 5;
    }

    void generationFollowsTheInternalVersion() {
        QFETCH(float, version);
        QFETCH(int, generation);
        introduce();
        reply({{52, version}});
        QCOMPARE(adapter->simulatorGeneration(), generation);
    }

    void altitudesBeforeVersion12UseQnh() {
        introduce();
        reply({{52, 115000.0f}, {20, 1000.0f}, {23, float(1003.25 / 33.8639)}, {24, 200.0f}, {22, 9999.0f}});
        QVERIFY(std::fabs(adapter->userPressureAltitudeFeet() - 3580.84) < 0.01);
        QVERIFY(std::fabs(adapter->userAltitudeFeet() - 3280.84) < 1e-6);
        QCOMPARE(adapter->adjustRemoteAltitude(5000.0), 5000.0);
    }

    void version12CorrectsRemoteAltitudesTapered() {
        introduce();
        reply({{52, 120000.0f}, {20, 1500.0f}, {24, 200.0f}, {22, 4321.0f}});
        const double own = 1500.0 * 3.28084 + 200.0;
        QCOMPARE(adapter->userAltitudeFeet(), own);
        QCOMPARE(adapter->userPressureAltitudeFeet(), 4321.0);
        QVERIFY(std::fabs(adapter->adjustRemoteAltitude(own) - (own - 200.0)) < 1e-9);
        QVERIFY(std::fabs(adapter->adjustRemoteAltitude(own - 3000.0) - (own - 3200.0)) < 1e-9);
        QVERIFY(std::fabs(adapter->adjustRemoteAltitude(own + 4500.0) - (own + 4400.0)) < 1e-9);
        QVERIFY(std::fabs(adapter->adjustRemoteAltitude(own + 6000.0) - (own + 6000.0)) < 1e-9);
        QCOMPARE(adapter->adjustRemoteAltitude(own + 6500.0), own + 6500.0);
        QCOMPARE(adapter->adjustRemoteAltitude(own - 6001.0), own - 6001.0);
    }
};

QTEST_MAIN(TestXPlaneLink)
#include "tst_xplane_link.moc"
