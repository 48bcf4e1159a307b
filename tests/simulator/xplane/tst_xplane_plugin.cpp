#include "AppConfig.h"
#include "simulator/xplane/PluginChannel.h"
#include "simulator/xplane/PluginProtocol.h"
#include "simulator/xplane/XPlaneAdapter.h"
#include "support/FakeXPlane.h"
#include "support/FakeXPlanePlugin.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <memory>

using namespace velk;
using simulator::Simulator;
using simulator::xplane::XPlaneAdapter;
using test::FakeXPlane;
using test::FakeXPlanePlugin;

namespace {

manager::RemoteAircraft dlh() {
    manager::RemoteAircraft a;
    a.callsign = QStringLiteral("DLH4AB");
    a.airline = QStringLiteral("DLH");
    a.equipment = QStringLiteral("A20N");
    a.groundSpeed = 142.5;
    a.visualState = {50.03, 8.57, 3500.0, 1200.0, 2.5, 250.0, -5.0, 1.5};
    return a;
}

model::Controller controller(const QString& callsign, quint32 frequency, bool isAtc) {
    model::Controller c;
    c.callsign = callsign;
    c.frequency = frequency;
    c.realName = QStringLiteral("张三");
    c.isAtc = isAtc;
    return c;
}

QByteArray packed(const std::function<void(msgpack::packer<msgpack::sbuffer>&)>& write) {
    msgpack::sbuffer b;
    msgpack::packer<msgpack::sbuffer> p(b);
    write(p);
    return QByteArray(b.data(), static_cast<qsizetype>(b.size()));
}

} // namespace

class TestXPlanePlugin : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FakeXPlane> xp;
    std::unique_ptr<FakeXPlanePlugin> plugin;
    std::unique_ptr<XPlaneAdapter> adapter;
    QString ipcUrl;
    int run = 0;

    int consumed = 0;

    // The adapter's next message to the plug-in, in the order sent.
    FakeXPlanePlugin::Message next() {
        if (!plugin->waitForCount(consumed + 1)) {
            return {};
        }
        return plugin->messages().at(consumed++);
    }

    QString nextText() {
        const auto m = next();
        return m.type + m.payload;
    }

private slots:
    void init() {
        ipcUrl = QStringLiteral("ipc:///tmp/velk-plugin-%1-%2.ipc")
                     .arg(QCoreApplication::applicationPid())
                     .arg(++run);
        xp = std::make_unique<FakeXPlane>();
        plugin = std::make_unique<FakeXPlanePlugin>(ipcUrl);
        AppConfig::instance()->setValue(ConfigKeys::XPlaneUDPPort, int(xp->port()));
        AppConfig::instance()->setValue(ConfigKeys::XPlaneNetworkAddress, QStringLiteral("localhost"));
        XPlaneAdapter::Options o;
        o.startTimers = false;
        o.pluginIpcUrl = ipcUrl;
        o.connectTimeoutMs = 600000;
        adapter = std::make_unique<XPlaneAdapter>(o);
        adapter->openNngSocket();
        // Messages other than the version and CSL requests go only to an attached plug-in.
        QTRY_VERIFY(plugin->hasPeer() && adapter->isPluginAttached());
        consumed = 0;
    }

    void cleanup() {
        adapter.reset();
        plugin.reset();
        xp.reset();
    }

    void pluginAddressChoosesIpcOrTcp() {
        const QString ipc = QString::fromLatin1(XPlaneAdapter::kPluginIpcUrl.data());
        QCOMPARE(ipc, QStringLiteral("ipc:///tmp//velkclient.ipc"));
        for (const char* local : {"", "127.0.0.1", "localhost", "LocalHost", " LOCALHOST "}) {
            QCOMPARE(XPlaneAdapter::pluginUrlFor(QString::fromLatin1(local), ipc, 53100), ipc);
        }
        QCOMPARE(XPlaneAdapter::pluginUrlFor(QStringLiteral("192.168.1.20"), ipc, 53100),
                 QStringLiteral("tcp://192.168.1.20:53100"));
        QCOMPARE(XPlaneAdapter::pluginUrlFor(QStringLiteral("fd00::2"), ipc, 53100),
                 QStringLiteral("tcp://[fd00::2]:53100"));
    }

    // Dialled when the channel opens and again at each attempt after the
    // address changed in the settings; the plug-in left behind is dropped.
    void anotherAddressDialsThePluginOverTcp() {
        adapter.reset();
        FakeXPlanePlugin remote(QStringLiteral("tcp://127.0.0.2:0"));
        QVERIFY(remote.isListening());
        XPlaneAdapter::Options o;
        o.startTimers = false;
        o.pluginIpcUrl = ipcUrl;
        o.pluginTcpPort = static_cast<quint16>(remote.tcpPort());
        o.connectTimeoutMs = 600000;
        adapter = std::make_unique<XPlaneAdapter>(o);
        adapter->openNngSocket();
        QTRY_VERIFY(plugin->hasPeer());

        AppConfig::instance()->setValue(ConfigKeys::XPlaneNetworkAddress, QStringLiteral("127.0.0.2"));
        adapter->reconnectSimulator();
        QTRY_VERIFY(remote.hasPeer() && adapter->isPluginAttached());
        QTRY_VERIFY(!plugin->hasPeer());
        adapter->sendHeartbeat(QStringLiteral("X"));
        QVERIFY(remote.waitForCount(3));
        QCOMPARE(remote.messages().at(0).type, QStringLiteral("VER"));
        QCOMPARE(remote.messages().at(1).type, QStringLiteral("CSL"));
        QCOMPARE(remote.messages().at(2).type, QStringLiteral("HB"));
        QCOMPARE(plugin->count(), 0);
    }

    void envelopesUseShortestIntegersAndExactTypes() {
        adapter->reconnectSimulator();
        QCOMPARE(next().raw, QByteArray::fromHex("92a35645529100"));
        QCOMPARE(next().type, QStringLiteral("CSL"));
        adapter->showNotification(QStringLiteral("hi"), 0xFFFF00);
        QCOMPARE(next().raw, QByteArray::fromHex("92a54e4f54494692a26869ce00ffff00"));
        adapter->setStationCallsign(2, QString());
        QCOMPARE(next().raw, QByteArray::fromHex("92b0" + QByteArray("STATION_CALLSIGN").toHex() + "9202a0"));
        adapter->removeAllRemoteAircraft();
        QCOMPARE(next().raw, QByteArray::fromHex("92a6" + QByteArray("DELALL").toHex() + "90"));
    }

    void everyOutgoingMessageHasItsShape() {
        const auto a = dlh();
        adapter->addRemoteAircraft(a);
        QCOMPARE(nextText(),
                 QStringLiteral(R"(ADD["DLH4AB","DLH","A20N",d:50.03,d:8.57,d:3500,d:250,d:-5,d:2.5])"));
        model::AircraftVisualState s{50.04, 8.58, 3600.0, 1300.0, 3.0, 251.0, -4.0, 0.5};
        adapter->updateRemoteAircraftPosition(a, s);
        QCOMPARE(nextText(),
                 QStringLiteral(R"(POS["DLH4AB",d:50.04,d:8.58,d:3600,d:1300,d:251,d:-4,d:3,d:142.5])"));
        adapter->updateRemoteAircraftFastPosition(a, s, {1.0, 2.0, 3.0}, {0.1, 0.2, 0.3});
        QCOMPARE(nextText(), QStringLiteral(R"(FSTPOS["DLH4AB",d:50.04,d:8.58,d:3600,d:1300,d:251,d:-4,d:3,)"
                                            R"(d:1,d:2,d:3,d:0.1,d:0.2,d:0.3,d:0.5,d:142.5])"));
        adapter->removeRemoteAircraft(QStringLiteral("DLH4AB"), QStringLiteral("Stale"));
        QCOMPARE(nextText(), QStringLiteral(R"(DEL["DLH4AB","Stale"])"));
        adapter->removeAllRemoteAircraft();
        QCOMPARE(nextText(), QStringLiteral("DELALL[]"));
        adapter->sendHeartbeat(QStringLiteral("DLH4AB"));
        QCOMPARE(nextText(), QStringLiteral(R"(HB["DLH4AB"])"));
        adapter->notifyRadioMessageSent(QStringLiteral("hello"));
        QCOMPARE(nextText(), QStringLiteral(R"(RDIOSENT["hello"])"));
        adapter->notifyRadioMessageReceived(QStringLiteral("EDDF_TWR"), QStringLiteral("DLH4AB 你好"), true);
        QCOMPARE(nextText(), QStringLiteral(R"(RDIORCVD["EDDF_TWR","DLH4AB 你好",true])"));
        adapter->showNotification(QStringLiteral("通知"), 0x85A664);
        QCOMPARE(nextText(), QStringLiteral(R"(NOTIF["通知",8758884])"));
        adapter->notifyPrivateMessageSent(QStringLiteral("CES1"), QStringLiteral("hi"));
        QCOMPARE(nextText(), QStringLiteral(R"(PRIVSENT["CES1","hi"])"));
        adapter->notifyPrivateMessageReceived(QStringLiteral("CES1"), QStringLiteral("yo"));
        QCOMPARE(nextText(), QStringLiteral(R"(PRIVRCVD["CES1","yo"])"));
        adapter->notifyNetworkConnected(QStringLiteral("DLH4AB"), QStringLiteral("AB-CD"), false);
        QCOMPARE(nextText(), QStringLiteral(R"(CONN["DLH4AB","AB-CD",false])"));
        adapter->notifyNetworkDisconnected();
        QCOMPARE(nextText(), QStringLiteral("DISCON[]"));
        adapter->setStationCallsign(1, QStringLiteral("EDDF_TWR"));
        QCOMPARE(nextText(), QStringLiteral(R"(STATION_CALLSIGN[1,"EDDF_TWR"])"));
        adapter->notifySelcal(); // nothing for X-Plane
        adapter->sendHeartbeat(QStringLiteral("marker"));
        QCOMPARE(nextText(), QStringLiteral(R"(HB["marker"])"));
    }

    void controllerListCarriesOnlyAnnounceableStations() {
        adapter->updateControllerList({controller(QStringLiteral("EDDF_ATIS"), 199998, true),
                                       controller(QStringLiteral("EDDF_GND"), 121900, false)});
        QCOMPARE(nextText(), QStringLiteral("ATC[[]]"));
        adapter->updateControllerList({controller(QStringLiteral("EDDF_TWR"), 118700, true),
                                       controller(QStringLiteral("EDDF_APP"), 120805, true)});
        QCOMPARE(nextText(), QStringLiteral(R"(ATC[[["EDDF_TWR","张三","118.700",118700],)"
                                            R"(["EDDF_APP","张三","120.805",120805]]])"));
        adapter->clearControllerList();
        QCOMPARE(nextText(), QStringLiteral("ATC[[]]"));
    }

    void configurationMessageHasTwelveElementsWithNilForAbsent() {
        auto a = dlh();
        a.config = {};
        a.config.gearDown = true;
        adapter->updateRemoteAircraftConfig(a);
        QCOMPARE(nextText(),
                 QStringLiteral(R"(ACCONF["DLH4AB",nil,nil,nil,nil,nil,true,nil,nil,nil,nil,nil])"));

        model::UserAircraftConfigData d;
        d.engineCount = 2;
        d.engine2Running = true;
        d.flapsRatio = 0.35;
        d.onGround = true;
        d.beaconOn = true;
        d.strobesOn = true;
        a.config = model::AircraftConfig::fromUserAircraftConfigData(d);
        a.config.isFullData = true;
        adapter->updateRemoteAircraftConfig(a);
        QCOMPARE(nextText(), QStringLiteral(R"(ACCONF["DLH4AB",true,true,false,true,f32:0.35,false,)"
                                            R"(true,false,false,true,false])"));

        a.config.isFullData = false; // never written as false
        adapter->updateRemoteAircraftConfig(a);
        QVERIFY(nextText().startsWith(QStringLiteral(R"(ACCONF["DLH4AB",nil,)")));
    }

    void engineElementsEachFollowTheirOwnEntries() {
        auto a = dlh();
        a.config = {};
        a.config.engines->on[0] = true; // an increment that only starts an engine
        adapter->updateRemoteAircraftConfig(a);
        QCOMPARE(nextText(),
                 QStringLiteral(R"(ACCONF["DLH4AB",nil,true,nil,nil,nil,nil,nil,nil,nil,nil,nil])"));
        a.config = {};
        a.config.engines->isReversing[1] = true; // reverse selected, engine state unchanged
        adapter->updateRemoteAircraftConfig(a);
        QCOMPARE(nextText(),
                 QStringLiteral(R"(ACCONF["DLH4AB",nil,nil,true,nil,nil,nil,nil,nil,nil,nil,nil])"));
        a.config = {};
        a.config.engines.reset();
        a.config.lights.reset();
        a.config.flapsPct = 100;
        adapter->updateRemoteAircraftConfig(a);
        QCOMPARE(nextText(),
                 QStringLiteral(R"(ACCONF["DLH4AB",nil,nil,nil,nil,f32:1,nil,nil,nil,nil,nil,nil])"));
    }

    void messagesOf64KiBOrMoreAreNotSent() {
        adapter->showNotification(QString(70000, QLatin1Char('x')), 0);
        adapter->sendHeartbeat(QStringLiteral("after"));
        QCOMPARE(nextText(), QStringLiteral(R"(HB["after"])"));
        QCOMPARE(consumed, 1);
        // Just below the limit still goes.
        const QString almost(65536 - 20, QLatin1Char('y'));
        QVERIFY(simulator::xplane::encodeNotification(almost, 0).bytes().size() < 65536);
        adapter->showNotification(almost, 0);
        QCOMPARE(next().type, QStringLiteral("NOTIF"));
    }

    void versionReplyVerdicts() {
        QSignalSpy invalid(adapter.get(), &Simulator::invalidPluginVersion);
        QSignalSpy checked(adapter.get(), &Simulator::pluginVersionChecked);
        plugin->send(QStringLiteral("VER"), [](auto& p) { p.pack(std::vector<int>{65535}); });
        QTRY_COMPARE(checked.count(), 1);
        QCOMPARE(invalid.count(), 1);
        QCOMPARE(checked.at(0).at(0).toBool(), false);
        plugin->send(QStringLiteral("VER"), [](auto& p) { p.pack(std::vector<int>{65536}); });
        QTRY_COMPARE(checked.count(), 2);
        QCOMPARE(invalid.count(), 1);
        QCOMPARE(checked.at(1).at(0).toBool(), true);
        plugin->send(QStringLiteral("VER"), [](auto& p) { p.pack_array(0); });
        QTRY_COMPARE(checked.count(), 3);
        QCOMPARE(invalid.count(), 2);
        QCOMPARE(checked.at(2).at(0).toBool(), false);
    }

    void cslReplyVerdicts() {
        QSignalSpy csl(adapter.get(), &Simulator::cslValidationChecked);
        plugin->send(QStringLiteral("CSL"), [](auto& p) {
            p.pack_array(2);
            p.pack_array(0);
            p.pack(true);
        });
        plugin->send(QStringLiteral("CSL"), [](auto& p) {
            p.pack_array(1);
            p.pack(std::vector<std::string>{"a"});
        });
        QTRY_COMPARE(csl.count(), 2);
        QCOMPARE(csl.at(0).at(0).toBool(), true);
        QCOMPARE(csl.at(1).at(0).toBool(), false);
    }

    void pluginReportsBecomeSignals() {
        QSignalSpy added(adapter.get(), &Simulator::aircraftAddedToSim);
        QSignalSpy removed(adapter.get(), &Simulator::aircraftRemovedFromSim);
        QSignalSpy station(adapter.get(), &Simulator::requestStationInfo);
        QSignalSpy radio(adapter.get(), &Simulator::radioMessageSent);
        QSignalSpy priv(adapter.get(), &Simulator::privateMessageSent);
        QSignalSpy force(adapter.get(), &Simulator::forceDisconnect);
        auto one = [](const char* s) { return [s](auto& p) { p.pack(std::vector<std::string>{s}); }; };
        plugin->send(QStringLiteral("ADDED"), one(""));
        plugin->send(QStringLiteral("ADDED"), one("DLH4AB"));
        plugin->send(QStringLiteral("DELETED"), one("DLH4AB"));
        plugin->send(QStringLiteral("REQSTATION"), one("EDDF_TWR"));
        plugin->send(QStringLiteral("RDIOSENT"), one("hello tower"));
        plugin->send(QStringLiteral("RDIOSENT"), one(""));
        plugin->send(QStringLiteral("PRIVSENT"), one("CES1")); // no text: nothing
        plugin->send(QStringLiteral("PRIVSENT"), [](auto& p) {
            p.pack(std::vector<std::string>{"CES1", "你好"});
        });
        plugin->send(QStringLiteral("FORCEDISC"), one(""));
        plugin->send(QStringLiteral("UNKNOWN"), one("x"));
        plugin->send(QStringLiteral("UNKNOWN"), [](auto& p) { p.pack(3.5); });
        plugin->send(QStringLiteral("ADDED"), [](auto& p) {
            p.pack_array(1);
            p.pack_bin(3);
            p.pack_bin_body("BIN", 3);
        });
        QTRY_COMPARE(added.count(), 2);
        QCOMPARE(added.at(0).at(0).toString(), QStringLiteral("DLH4AB"));
        QCOMPARE(added.at(1).at(0).toString(), QStringLiteral("BIN"));
        QCOMPARE(removed.count(), 1);
        QCOMPARE(station.at(0).at(0).toString(), QStringLiteral("EDDF_TWR"));
        QCOMPARE(radio.count(), 1);
        QCOMPARE(radio.at(0).at(0).toString(), QStringLiteral("hello tower"));
        QCOMPARE(priv.count(), 1);
        QCOMPARE(priv.at(0).at(1).toString(), QStringLiteral("你好"));
        QCOMPARE(force.count(), 1);
        QCOMPARE(force.at(0).at(0).toString(), QString());
    }

    void pluginSignalsArriveOnTheAdaptersThread() {
        QThread* seen = nullptr;
        connect(
            adapter.get(), &Simulator::aircraftAddedToSim, this, [&] { seen = QThread::currentThread(); },
            Qt::DirectConnection);
        plugin->send(QStringLiteral("ADDED"), [](auto& p) { p.pack(std::vector<std::string>{"A"}); });
        QTRY_VERIFY(seen != nullptr);
        QCOMPARE(seen, adapter->thread());
    }

    void garbageIsDroppedAndTheNextMessageHandled() {
        QSignalSpy added(adapter.get(), &Simulator::aircraftAddedToSim);
        QSignalSpy checked(adapter.get(), &Simulator::pluginVersionChecked);
        QSignalSpy csl(adapter.get(), &Simulator::cslValidationChecked);
        QSignalSpy force(adapter.get(), &Simulator::forceDisconnect);
        const QByteArray valid = packed(
            [](auto& p) { p.pack(std::make_tuple(std::string("ADDED"), std::vector<std::string>{"OK1"})); });
        const QList<QByteArray> garbage{
            QByteArray::fromHex("c1"),                       // never-used byte
            valid.left(valid.size() - 2),                    // truncated
            QByteArray::fromHex("dd7fffffff"),               // array claiming 2^31 elements
            QByteArray::fromHex("dbffffffff") + "abc",       // string claiming 4 GiB
            QByteArray(200, '\x91') + QByteArray(1, '\x01'), // nested 200 deep
            QByteArray(100000, '\x00'),                      // oversized
            packed([](auto& p) { p.pack(42); }),             // not an array
            packed([](auto& p) { p.pack_array(0); }),        // no type
            packed([](auto& p) {
                p.pack(std::vector<int>{1, 2});
            }), // type not a string
            packed([](auto& p) {
                p.pack_map(1);
                p.pack(1);
                p.pack(2);
            }),
            packed(
                [](auto& p) { p.pack(std::make_tuple(std::string("VER"), 65536)); }), // payload not an array
            packed([](auto& p) {
                p.pack(std::make_tuple(std::string("VER"), std::vector<long long>{1LL << 32}));
            }),
            packed(
                [](auto& p) { p.pack(std::make_tuple(std::string("VER"), std::vector<std::string>{"x"})); }),
            packed([](auto& p) {
                p.pack(std::make_tuple(std::string("CSL"), std::vector<int>{1, 2}));
            }),
            packed([](auto& p) { p.pack(std::make_tuple(std::string("ADDED"), std::vector<int>{7})); }),
            packed([](auto& p) { p.pack(std::make_tuple(std::string("FORCEDISC"), std::string("x"))); }),
            packed([](auto& p) { p.pack(std::make_tuple(std::string("ADDED"), std::string("x"))); }),
            QByteArray::fromHex("92a5414444454491c7") + QByteArray(3, '\x01'), // ext, not allowed
        };
        for (const QByteArray& g : garbage) {
            QVERIFY(plugin->sendRaw(g));
        }
        QVERIFY(plugin->sendRaw(valid));
        QTRY_COMPARE(added.count(), 1);
        QCOMPARE(added.at(0).at(0).toString(), QStringLiteral("OK1"));
        QCOMPARE(checked.count(), 0);
        QCOMPARE(csl.count(), 0);
        QCOMPARE(force.count(), 0);
    }

    void aFloodOfReportsIsHandledInFullAndInOrder() {
        QSignalSpy added(adapter.get(), &Simulator::aircraftAddedToSim);
        const int n = 5000;
        for (int i = 0; i < n; ++i) {
            // Built from a QString: "F" + std::string trips GCC 12's -Wrestrict at -O3.
            const std::string callsign = QStringLiteral("F%1").arg(i).toStdString();
            QVERIFY(plugin->send(QStringLiteral("ADDED"),
                                 [&](auto& p) { p.pack(std::vector<std::string>{callsign}); }));
        }
        QTRY_COMPARE_WITH_TIMEOUT(added.count(), n, 30000);
        QCOMPARE(added.first().at(0).toString(), QStringLiteral("F0"));
        QCOMPARE(added.last().at(0).toString(), QStringLiteral("F4999"));
    }

    void decoderKeepsTheMessageAfterItsBufferIsGone() {
        QByteArray bytes = packed([](auto& p) {
            p.pack(std::make_tuple(std::string("RDIOSENT"), std::vector<std::string>{"kept"}));
        });
        auto m = simulator::xplane::decodePluginMessage(bytes.constData(), static_cast<size_t>(bytes.size()));
        bytes.fill('\0');
        QVERIFY(m.has_value());
        QCOMPARE(m->type, std::string("RDIOSENT"));
        QCOMPARE(simulator::xplane::readText(m->payload.via.array.ptr[0]), std::optional<QString>("kept"));
        const auto typeOnly = packed([](auto& p) {
            p.pack(std::vector<std::string>{"SHUTDOWN", "extra", "more"});
        });
        m = simulator::xplane::decodePluginMessage(typeOnly.constData(),
                                                   static_cast<size_t>(typeOnly.size()));
        QVERIFY(m.has_value());
        QCOMPARE(m->payload.type, msgpack::type::STR);
    }

    // The plug-in comes back at the same address without a reconnect; nothing
    // meant for the one that went away reaches it, and it is first asked its
    // version. It is reported as holding no aircraft: what is added then reaches it.
    void survivesThePluginGoingAwayAndComingBack() {
        adapter->addRemoteAircraft(dlh());
        QVERIFY(plugin->waitForCount(1));
        plugin.reset();
        QSignalSpy cleared(adapter.get(), &Simulator::remoteAircraftCleared);
        connect(adapter.get(), &Simulator::remoteAircraftCleared, this,
                [&] { adapter->addRemoteAircraft(dlh()); });
        const auto a = dlh();
        for (int i = 0; i < 100; ++i) {
            adapter->updateRemoteAircraftFastPosition(a, a.visualState, {}, {});
            adapter->sendHeartbeat(QStringLiteral("nobody"));
        }
        plugin = std::make_unique<FakeXPlanePlugin>(ipcUrl);
        QTRY_VERIFY_WITH_TIMEOUT(plugin->hasPeer() && adapter->isPluginAttached(), 10000);
        QTRY_COMPARE(cleared.count(), 1);
        QSignalSpy added(adapter.get(), &Simulator::aircraftAddedToSim);
        plugin->send(QStringLiteral("ADDED"), [](auto& p) { p.pack(std::vector<std::string>{"BACK"}); });
        QTRY_COMPARE(added.count(), 1);
        adapter->sendHeartbeat(QStringLiteral("back"));
        QTRY_VERIFY(!plugin->messagesOfType(QStringLiteral("HB")).isEmpty());
        const auto heard = plugin->messages();
        QCOMPARE(heard.at(0).raw, QByteArray::fromHex("92a35645529100"));
        QCOMPARE(plugin->messagesOfType(QStringLiteral("ADD")).size(), 1);
        QVERIFY(plugin->messagesOfType(QStringLiteral("FSTPOS")).isEmpty());
        QCOMPARE(plugin->messagesOfType(QStringLiteral("HB")).size(), 1);
        QCOMPARE(heard.constLast().payload, QStringLiteral(R"(["back"])"));
        // A reconnect's version request is the next thing it hears.
        adapter->reconnectSimulator();
        QVERIFY(plugin->waitForCount(heard.size() + 2));
        QCOMPARE(plugin->messages().at(heard.size()).type, QStringLiteral("VER"));
    }

    // A plug-in that attaches while this thread is busy gets none of the
    // traffic sent meanwhile: it is first told that it holds nothing.
    void aPluginAttachingWhileThisThreadIsBusyHearsNoTrafficBeforeItIsCleared() {
        plugin.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!adapter->isPluginAttached(), 10000);
        QSignalSpy cleared(adapter.get(), &Simulator::remoteAircraftCleared);
        plugin = std::make_unique<FakeXPlanePlugin>(ipcUrl);
        const auto a = dlh();
        const auto move = [&] { adapter->updateRemoteAircraftFastPosition(a, a.visualState, {}, {}); };
        // Busy while the plug-in attaches, and a while after.
        QVERIFY(test::waitWithoutEvents([&] { return plugin->hasPeer(); }, 10000));
        QVERIFY(!test::waitWithoutEvents(
            [&] {
                move();
                return plugin->count() > 0;
            },
            200));
        QTRY_COMPARE(cleared.count(), 1);
        adapter->sendHeartbeat(QStringLiteral("back"));
        QVERIFY(plugin->waitForCount(1));
        QCOMPARE(plugin->messages().constFirst().type, QStringLiteral("HB"));
    }

    // The requests queued while no plug-in was attached went to the one that
    // came; when it leaves unanswered, the next one is asked its version first.
    void aPluginThatTookOnlyTheQueuedRequestsIsFollowedByAVersionRequest() {
        plugin.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!adapter->isPluginAttached(), 10000);
        adapter->reconnectSimulator();
        plugin = std::make_unique<FakeXPlanePlugin>(ipcUrl);
        QVERIFY(plugin->waitForCount(2, 10000));
        QCOMPARE(plugin->messages().at(0).type, QStringLiteral("VER"));
        plugin.reset();
        plugin = std::make_unique<FakeXPlanePlugin>(ipcUrl);
        QVERIFY(plugin->waitForCount(1, 10000));
        QCOMPARE(plugin->messages().at(0).type, QStringLiteral("VER"));
    }

    void channelWithoutAnOpenSocketNeverReceives() {
        simulator::xplane::PluginChannel channel([](simulator::xplane::PluginMessage) {});
        channel.startReceiving();
        QVERIFY(!channel.isReceiving());
        QVERIFY(!channel.send("x"));
        QCOMPARE(channel.dial("ipc:///tmp/none.ipc"), int(NNG_ECLOSED));
        QCOMPARE(channel.open(), 0);
        channel.startReceiving();
        QVERIFY(channel.isReceiving());
        channel.close(); // the blocked receive ends and the thread is joined
        QVERIFY(!channel.isReceiving());
        channel.close();
    }
};

QTEST_MAIN(TestXPlanePlugin)
#include "tst_xplane_plugin.moc"
