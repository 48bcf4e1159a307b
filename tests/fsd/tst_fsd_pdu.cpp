#include "fsd/FsdEnums.h"
#include "fsd/LineFramer.h"
#include "fsd/PDUFormatException.h"
#include "fsd/PitchBankHeading.h"
#include "fsd/pdu/Packets.h"

#include <QTest>

#include <cmath>

using namespace velk::fsd;
using namespace velk::fsd::pdu;
using velk::fsd::exception::PDUFormatException;

namespace {

template <class T> T parsed(const QString& line) {
    const Packet packet = decode(line);
    if (!std::holds_alternative<T>(packet)) {
        qFatal("line decoded to another packet type: %s", qPrintable(line));
    }
    return std::get<T>(packet);
}

QString serialized(const Packet& packet) {
    return std::visit(
        [](const auto& pdu) -> QString {
            if constexpr (std::is_same_v<std::decay_t<decltype(pdu)>, std::monostate>) {
                return {};
            } else {
                return pdu.serialize();
            }
        },
        packet);
}

// Smallest difference of two headings, in degrees.
double headingDifference(double a, double b) {
    const double d = std::fmod(std::abs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

} // namespace

Q_DECLARE_METATYPE(Packet)

class TestFsdPdu : public QObject {
    Q_OBJECT

private slots:
    void outgoingPacketsHaveTheirExactWireText_data() {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QString& actual, const char* expected) {
            QTest::newRow(name) << actual << QString::fromUtf8(expected);
        };
        row("$ID",
            ClientIdentification("ABC123", 0xBDC0, "VelkClient", 3, 0, "1234567", "uid-1", {}).serialize(),
            "$IDABC123:SERVER:bdc0:VelkClient:3:0:1234567:uid-1\r\n");
        row("$ID challenge",
            ClientIdentification("ABC123", 0xBDC0, "VelkClient", 3, 0, "1234567", "uid-1", "9f0e")
                .serialize(),
            "$IDABC123:SERVER:bdc0:VelkClient:3:0:1234567:uid-1:9f0e\r\n");
        row("#AP",
            AddPilot("ABC123", "1234567", "s3cret", 1, ProtocolRevision::Classic, SimulatorType::MSFS2024,
                     "Test Pilot ZSSS")
                .serialize(),
            "#APABC123:SERVER:1234567:s3cret:1:9:2:Test Pilot ZSSS\r\n");
        row("#AA", AddATC("ABC123", "张三", "1234567", "tok", 1, ProtocolRevision::VatsimAuth).serialize(),
            "#AAABC123:SERVER:张三:1234567:tok:1:100\r\n");
        row("@ mode C",
            PilotPosition("ABC123", 21, true, false, 1, 31.14342, 121.8052, 1000, 980, 250, 0, 90, 0, true)
                .serialize(),
            "@N:ABC123:0021:1:31.143420:121.805200:1000:250:1026:-20\r\n");
        row("@ ident",
            PilotPosition("ABC123", 7000, true, true, 1, -33.5, -70.25, 35000, 35120, 450, 5, 270, 10, false)
                .serialize(),
            "@Y:ABC123:7000:1:-33.500000:-70.250000:35000:450:4236131328:120\r\n");
        row("@ standby",
            PilotPosition("ABC123", 1200, false, false, 1, 0, 0, 0, 0, 0, 0, 0, 0, false).serialize(),
            "@S:ABC123:1200:1:0.000000:0.000000:0:0:0:0\r\n");
        row("%", ATCPosition("ABC123", {99998}, NetworkFacility::OBS, 40, 1, 31.14342, 121.8052).serialize(),
            "%ABC123:99998:0:40:1:31.14342:121.80520:0\r\n");
        row("% two",
            ATCPosition("ZSSS_TWR", {18700, 18100}, NetworkFacility::TWR, 50, 5, 31, 121).serialize(),
            "%ZSSS_TWR:18700&18100:4:50:5:31.00000:121.00000:0\r\n");
        const auto fast = [](FastPositionKind kind) {
            return FastPilotPosition(kind, "ABC123", 31.14342, 121.8052, 1000.456, 15.5, 5, 270, 10, false,
                                     1.23456, -0.5, 2, 0.01, -0.02, 0, 12.5)
                .serialize();
        };
        row("^", fast(FastPositionKind::Fast),
            "^ABC123:31.143420:121.805200:1000.46:15.50:4236131328:1.2346:-0.5000:2.0000:0.0100:-0.0200:0."
            "0000:12.50\r\n");
        row("#SL", fast(FastPositionKind::Slow),
            "#SLABC123:31.143420:121.805200:1000.46:15.50:4236131328:1.2346:-0.5000:2.0000:0.0100:-0.0200:0."
            "0000:"
            "12.50\r\n");
        row("#ST", fast(FastPositionKind::Stopped),
            "#STABC123:31.143420:121.805200:1000.46:15.50:4236131328:12.50\r\n");
        row("#DP", DeletePilot("ABC123", "1234567").serialize(), "#DPABC123:1234567\r\n");
        row("#DA", DeleteATC("ABC123_OBS", "1234567").serialize(), "#DAABC123_OBS:1234567\r\n");
        row("#TM private", TextMessage("ABC123", "DEF456", "hello: 你好").serialize(),
            "#TMABC123:DEF456:hello: 你好\r\n");
        row("#TM radio", RadioMessage("ABC123", {122800, 121500}, "hello").serialize(),
            "#TMABC123:@22800&@21500:hello\r\n");
        row("#TM wallop", Wallop("ABC123", "need help").serialize(), "#TMABC123:*S:need help\r\n");
        row("#TM broadcast", BroadcastMessage("SUP", "hi all").serialize(), "#TMSUP:*:hi all\r\n");
        row("#TM server request", TextMessage("ABC123", "SERVER", "FP:DEF456:GET").serialize(),
            "#TMABC123:SERVER:FP:DEF456:GET\r\n");
        row("#SB PIR", PlaneInfoRequest("ABC123", "DEF456").serialize(), "#SBABC123:DEF456:PIR\r\n");
        row("#SB PI", PlaneInfoResponse("ABC123", "DEF456", "B738", "CES", {}, {}).serialize(),
            "#SBABC123:DEF456:PI:GEN:EQUIPMENT=B738:AIRLINE=CES\r\n");
        row("#SB PI full",
            PlaneInfoResponse("ABC123", "DEF456", "A320", "CSN", "SWIFT_X", "A320_CSN").serialize(),
            "#SBABC123:DEF456:PI:GEN:EQUIPMENT=A320:AIRLINE=CSN:LIVERY=SWIFT_X:CSL=A320_CSN\r\n");
        row("$CQ IP", ClientQuery("ABC123", "SERVER", ClientQueryType::PublicIP).serialize(),
            "$CQABC123:SERVER:IP\r\n");
        row("$CQ FP", ClientQuery("ABC123", "SERVER", ClientQueryType::FlightPlan, {"DEF456"}).serialize(),
            "$CQABC123:SERVER:FP:DEF456\r\n");
        row("$CQ ACC",
            ClientQuery("ABC123", "@94386", ClientQueryType::AircraftConfiguration, {R"({"request":"full"})"})
                .serialize(),
            R"($CQABC123:@94386:ACC:{"request":"full"})"
            "\r\n");
        row("$CR CAPS",
            ClientQueryResponse("ABC123", "SERVER", ClientQueryType::Capabilities,
                                {"VERSION=1", "ATCINFO=1", "MODELDESC=1", "ACCONFIG=1", "VISUPDATE=1"})
                .serialize(),
            "$CRABC123:SERVER:CAPS:VERSION=1:ATCINFO=1:MODELDESC=1:ACCONFIG=1:VISUPDATE=1\r\n");
        row("$CR RN",
            ClientQueryResponse("ABC123", "DEF456", ClientQueryType::RealName, {"李雷 ZSSS", "1"})
                .serialize(),
            "$CRABC123:DEF456:RN:李雷 ZSSS:1\r\n");
        row("$PO", Pong("ABC123", "SERVER", "12345").serialize(), "$POABC123:SERVER:12345\r\n");
    }

    void outgoingPacketsHaveTheirExactWireText() {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
    }

    void fieldsCannotCarryLineBreaksOrNul() {
        const QString injected = QStringLiteral("hi\r\n#DPABC123:1") + QChar(0) + QStringLiteral("x");
        QCOMPARE(TextMessage("ABC123", "DEF\n456", injected).serialize(),
                 QStringLiteral("#TMABC123:DEF 456:hi  #DPABC123:1 x\r\n"));
        QCOMPARE(RadioMessage("ABC123", {122800}, QStringLiteral("a\rb")).serialize(),
                 QStringLiteral("#TMABC123:@22800:a b\r\n"));
        QCOMPARE(
            ClientQuery("ABC123", "DEF456", ClientQueryType::AircraftConfiguration, {"{\n}"}).serialize(),
            QStringLiteral("$CQABC123:DEF456:ACC:{ }\r\n"));
        QCOMPARE(
            AddPilot("ABC123", "1", "pw\r\n", 1, ProtocolRevision::Classic, SimulatorType::Unknown, "N\nZSSS")
                .serialize(),
            QStringLiteral("#APABC123:SERVER:1:pw  :1:9:0:N ZSSS\r\n"));
    }

    // Only a packet's trailing free text keeps its ':' (the JSON of ACC and the
    // messages above); typed or received text anywhere else adds no field.
    void userTextAddsNoFieldBeforeTheFreeText() {
        QCOMPARE(AddPilot("ABC123", "12:34", "pw", 1, ProtocolRevision::Classic, SimulatorType::XPlane12,
                          "Zhang:San\tLi ZS:SS")
                     .serialize(),
                 QStringLiteral("#APABC123:SERVER:1234:pw:1:9:5:ZhangSan Li ZSSS\r\n"));
        QCOMPARE(PlaneInfoResponse("ABC123", "DEF456", "A3:20", "C:ES", "LI:V", "C:SL").serialize(),
                 QStringLiteral("#SBABC123:DEF456:PI:GEN:EQUIPMENT=A320:AIRLINE=CES:LIVERY=LIV:CSL=CSL\r\n"));
        QCOMPARE(ClientQueryResponse("ABC123", "DEF456", ClientQueryType::RealName, {"Zhang:San ZS:SS", "1"})
                     .serialize(),
                 QStringLiteral("$CRABC123:DEF456:RN:ZhangSan ZSSS:1\r\n"));
        QCOMPARE(
            ClientQueryResponse("ABC123", "DEF456", ClientQueryType::ATIS, {"T:", "QNH: 1013"}).serialize(),
            QStringLiteral("$CRABC123:DEF456:ATIS:T:QNH: 1013\r\n"));
    }

    void numbersAreWrittenInTheCLocaleWithoutANegativeZero() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QString line = FastPilotPosition(FastPositionKind::Fast, "A", -0.0000001, 121.5, 1000.5, -0.001,
                                               0, 0, 0, false, -0.00001, 1234567.5, 0, 0, 0, 0, NAN)
                                 .serialize();
        QLocale::setDefault(QLocale::c());
        QCOMPARE(line, QStringLiteral(
                           "^A:0.000000:121.500000:1000.50:0.00:0:0.0000:1234567.5000:0.0000:0.0000:0.0000:"
                           "0.0000:0.00\r\n"));
        // Numbers are read the same way: plain ASCII, blanks and a leading '+' tolerated.
        QCOMPARE(parsed<SendFast>("$SFSERVER:ABC123: +1 ").flag, 1);
        QCOMPARE(parsed<PilotPosition>("@N:ABC:0021:1:1.5:-2.25:100:0:0:0").transponderCode, 21u);
    }

    void receivedPacketsParseWithColonsAndChineseText() {
        const auto di = parsed<ServerIdentification>("$DISERVER:CLIENT:VATSIM FSD V3.13:0123abcd");
        QCOMPARE(di.version, QStringLiteral("VATSIM FSD V3.13"));
        QCOMPARE(di.initialChallenge, QStringLiteral("0123abcd"));

        const auto id = parsed<ClientIdentification>("$IDDEF456:SERVER:bdc0:VelkClient:3:0:1234567:uid:ch");
        QCOMPARE(id.clientId, quint16(0xBDC0));
        QCOMPARE(id.initialChallenge, QStringLiteral("ch"));

        const auto ap = parsed<AddPilot>("#APDEF456:SERVER:7654321::1:100:2:李雷: Captain ZSSS");
        QCOMPARE(ap.from, QStringLiteral("DEF456"));
        QCOMPARE(ap.protocolRevision, ProtocolRevision::VatsimAuth);
        QCOMPARE(ap.simulatorType, SimulatorType::MSFS2024);
        QCOMPARE(ap.realName, QStringLiteral("李雷: Captain ZSSS"));

        const auto aa = parsed<AddATC>("#AAZSSS_TWR:SERVER:王 芳:1234567::5:100");
        QCOMPARE(aa.from, QStringLiteral("ZSSS_TWR"));
        QCOMPARE(aa.realName, QStringLiteral("王 芳"));
        QCOMPARE(aa.rating, quint8(5));

        const auto at =
            parsed<PilotPosition>("@Y:DEF456:7000:1:31.143420:121.805200:35000:450:4236131328:-150");
        QCOMPARE(at.from, QStringLiteral("DEF456"));
        QVERIFY(at.modeC && at.ident);
        QCOMPARE(at.transponderCode, 7000u);
        QCOMPARE(at.latitude, 31.14342);
        QCOMPARE(at.longitude, 121.8052);
        QCOMPARE(at.trueAltitude, 35000);
        QCOMPARE(at.pressureAltitude, 34850);
        QCOMPARE(at.groundSpeed, 450);
        QVERIFY(std::abs(at.pitch - 5) < PitchBankHeading::kDegreesPerUnit);
        QVERIFY(std::abs(at.bank - 10) < PitchBankHeading::kDegreesPerUnit);
        QCOMPARE(at.heading, 270.0);
        QVERIFY(!at.onGround);
        QVERIFY(!parsed<PilotPosition>("@S:DEF456:0021:1:0:0:0:0:1026:0").modeC);
        QVERIFY(parsed<PilotPosition>("@S:DEF456:0021:1:0:0:0:0:1026:0").onGround);

        const auto atc = parsed<ATCPosition>("%ZSSS_TWR:18700&&18100:4:50:5:31.19790:121.33630:0");
        QCOMPARE(atc.frequencies, (QList<int>{118700, 118100}));
        QCOMPARE(atc.facility, NetworkFacility::TWR);
        QCOMPARE(atc.latitude, 31.1979);
        QVERIFY(parsed<ATCPosition>("%ZSSS_OBS::0:50:1:31:121:0").frequencies.isEmpty());
        QCOMPARE(parsed<ATCPosition>("%ABC123:99998:0:40:1:31.14342:121.80520:0").frequencies,
                 QList<int>{199998});

        const auto fast =
            parsed<FastPilotPosition>("^DEF456:31.1:121.8:1200.5:10.25:1026:3:-1.5:4:0.1:0.2:0.3:7.5");
        QCOMPARE(fast.kind, FastPositionKind::Fast);
        QCOMPARE(fast.altitudeTrue, 1200.5);
        QCOMPARE(fast.altitudeAgl, 10.25);
        QCOMPARE(fast.heading, 90.0);
        QVERIFY(fast.onGround);
        QCOMPARE(fast.velocityX, 3.0);
        QCOMPARE(fast.velocityY, -1.5);
        QCOMPARE(fast.velocityZ, 4.0);
        QCOMPARE(fast.velocityPitch, 0.1);
        QCOMPARE(fast.velocityHeading, 0.2);
        QCOMPARE(fast.velocityBank, 0.3);
        QCOMPARE(fast.noseGearAngle, 7.5);
        QCOMPARE(parsed<FastPilotPosition>("#SLDEF456:31.1:121.8:1200:10:1026:3:0:4:0:0:0").noseGearAngle,
                 0.0);
        const auto stopped = parsed<FastPilotPosition>("#STDEF456:31.1:121.8:1200:10:1026:2.5");
        QCOMPARE(stopped.kind, FastPositionKind::Stopped);
        QCOMPARE(stopped.velocityX, 0.0);
        QCOMPARE(stopped.noseGearAngle, 2.5);

        QCOMPARE(parsed<DeletePilot>("#DPDEF456").from, QStringLiteral("DEF456"));
        QCOMPARE(parsed<DeleteATC>("#DAZSSS_TWR:1234567").cid, QStringLiteral("1234567"));

        const auto tm = parsed<TextMessage>("#TMDEF456:ABC123:time: 12:30 到达浦东");
        QCOMPARE(tm.to, QStringLiteral("ABC123"));
        QCOMPARE(tm.message, QStringLiteral("time: 12:30 到达浦东"));
        const auto radio = parsed<RadioMessage>("#TMZSSS_TWR:@18700&@22800:ABC123 contact 上海: 118.7");
        QCOMPARE(radio.frequencies, (QList<uint>{118700, 122800}));
        QCOMPARE(radio.message, QStringLiteral("ABC123 contact 上海: 118.7"));
        QCOMPARE(parsed<BroadcastMessage>("#TMSUP:*A:all: listen").message, QStringLiteral("all: listen"));
        QCOMPARE(parsed<Wallop>("#TMDEF456:*S:help").message, QStringLiteral("help"));

        const auto pi = parsed<PlaneInfoResponse>(
            "#SBDEF456:ABC123:PI:GEN:EQUIPMENT=B738:AIRLINE=CES:LIVERY=SWIFT_A:CSL=X");
        QCOMPARE(pi.equipment, QStringLiteral("B738"));
        QCOMPARE(pi.airline, QStringLiteral("CES"));
        QCOMPARE(pi.livery, QStringLiteral("SWIFT_A"));
        QCOMPARE(pi.csl, QStringLiteral("X"));
        QCOMPARE(parsed<PlaneInfoResponse>("#SBDEF456:ABC123:PI:GEN:EQUIPMENT=A320").airline, QString());
        QCOMPARE(parsed<PlaneInfoRequest>("#SBDEF456:ABC123:PIR").to, QStringLiteral("ABC123"));

        const auto fp =
            parsed<FlightPlan>("$FPDEF456:*A:I:H/B744/L:480:ZSSS:1200:1200:FL350:ZBAA:2:10:4:00:ZSPD:/V/ RMK "
                               "备注:PUD A593 DST:W1 TEBON");
        QCOMPARE(fp.from, QStringLiteral("DEF456"));
        QCOMPARE(fp.aircraft, QStringLiteral("H/B744/L"));
        QCOMPARE(fp.departure, QStringLiteral("ZSSS"));
        QCOMPARE(fp.destination, QStringLiteral("ZBAA"));
        QCOMPARE(fp.alternate, QStringLiteral("ZSPD"));
        QCOMPARE(fp.remarks, QStringLiteral("/V/ RMK 备注"));
        QCOMPARE(fp.route, QStringLiteral("PUD A593 DST:W1 TEBON"));

        const auto acc =
            parsed<ClientQuery>(R"($CQDEF456:@94386:ACC:{"config":{"lights":{"landing_on":true}}})");
        QCOMPARE(acc.queryType, ClientQueryType::AircraftConfiguration);
        QCOMPARE(acc.payload.size(), 4);
        QCOMPARE(acc.payload.join(u':'), QStringLiteral(R"({"config":{"lights":{"landing_on":true}}})"));
        const auto atis = parsed<ClientQueryResponse>("$CRZSSS_ATIS:ABC123:ATIS:T:Shanghai: info A");
        QCOMPARE(atis.payload, (QStringList{"T", "Shanghai", " info A"}));
        const auto unknown = parsed<ClientQuery>("$CQDEF456:ABC123:XYZ:1");
        QCOMPARE(unknown.queryType, ClientQueryType::Unknown);
        QCOMPARE(unknown.payload, QStringList{"1"});
        QCOMPARE(parsed<ClientQueryResponse>("$CRSERVER:ABC123:NOPE").queryType, ClientQueryType::Unknown);

        QCOMPARE(parsed<Ping>("$PISERVER:ABC123:12:34").timeStamp, QStringLiteral("12:34"));
        QCOMPARE(parsed<Pong>("$POSERVER:ABC123:12345").timeStamp, QStringLiteral("12345"));
        QCOMPARE(parsed<KillRequest>("$!!SERVER:ABC123:Reason: 违规").reason, QStringLiteral("Reason: 违规"));
        QCOMPARE(parsed<KillRequest>("$!!SERVER:ABC123").reason, QString());
        const auto er = parsed<ProtocolError>("$ERserver:ABC123:008:def456:No flightplan: try later");
        QCOMPARE(er.errorCode, 8);
        QCOMPARE(er.parameter, QStringLiteral("def456"));
        QCOMPARE(er.message, QStringLiteral("No flightplan: try later"));
        const auto sf = parsed<SendFast>("$SFSERVER:abc123:1");
        QCOMPARE(sf.to, QStringLiteral("abc123"));
        QCOMPARE(sf.flag, 1);
        QVERIFY(parsed<Mute>("#MUSERVER:ABC123:1").mute);
        QVERIFY(!parsed<Mute>("#MUSERVER:ABC123:0").mute);
        QCOMPARE(parsed<MetarResponse>("$ARSERVER:ABC123:METAR:ZSSS 010000Z 36005MPS CAVOK").metar,
                 QStringLiteral("ZSSS 010000Z 36005MPS CAVOK"));
    }

    void packetsReadBackWhatTheyWrite_data() {
        QTest::addColumn<Packet>("packet");
        QTest::newRow("$ID") << Packet(ClientIdentification("A", 48576, "VelkClient", 3, 0, "1", "u", "c"));
        QTest::newRow("$DI") << Packet(ServerIdentification("SERVER", "CLIENT", "V3", "ab"));
        QTest::newRow("#AP") << Packet(
            AddPilot("A", "1", "p", 1, ProtocolRevision::VatsimAuth, SimulatorType::XPlane12, "名字 X ZBAA"));
        QTest::newRow("#AA") << Packet(AddATC("A", "名字", "1", "p", 1, ProtocolRevision::Classic));
        QTest::newRow("#DP") << Packet(DeletePilot("A", "1"));
        QTest::newRow("#DA") << Packet(DeleteATC("A", "1"));
        QTest::newRow("@") << Packet(PilotPosition("A", 7500, true, false, 3, 45.5, -120.25, 12000, 11800,
                                                   300, -5.625, 90, 11.25, false));
        QTest::newRow("^") << Packet(FastPilotPosition(FastPositionKind::Fast, "A", 1.5, -2.5, 100.25, 3.5,
                                                       5.625, 180, -11.25, true, 1, 2, 3, 4, 5, 6, 7));
        QTest::newRow("#ST") << Packet(FastPilotPosition(FastPositionKind::Stopped, "A", 1.5, -2.5, 100.25,
                                                         3.5, 0, 0, 0, true, 0, 0, 0, 0, 0, 0, 7));
        QTest::newRow("$SF") << Packet(SendFast("SERVER", "A", 1));
        QTest::newRow("#TM") << Packet(TextMessage("A", "B", "x: y 中"));
        QTest::newRow("#TM @") << Packet(RadioMessage("A", {118700, 121500}, "x: y"));
        QTest::newRow("#TM *P") << Packet(BroadcastMessage("A", "x: y", "*P"));
        QTest::newRow("#TM *S") << Packet(Wallop("A", "x: y"));
        QTest::newRow("#SB PIR") << Packet(PlaneInfoRequest("A", "B"));
        QTest::newRow("#SB PI") << Packet(PlaneInfoResponse("A", "B", "B738", "", "L", ""));
        FlightPlan plan;
        plan.from = "A";
        plan.to = "*A";
        plan.aircraft = "B738";
        plan.route = "PUD:A593";
        QTest::newRow("$FP") << Packet(plan);
        QTest::newRow("$CQ") << Packet(ClientQuery("A", "B", ClientQueryType::SetGlobalData, {"x", "y"}));
        QTest::newRow("$CR") << Packet(ClientQueryResponse("A", "B", ClientQueryType::ATIS, {"T", "info"}));
        QTest::newRow("$PI") << Packet(Ping("A", "B", "1:2"));
        QTest::newRow("$PO") << Packet(Pong("A", "B", "1"));
        QTest::newRow("$AR") << Packet(MetarResponse("A", "B", "ZSSS: CAVOK"));
        QTest::newRow("$!!") << Packet(KillRequest("A", "B", "r: s"));
        QTest::newRow("$ER") << Packet(ProtocolError("A", "B", 8, "C", "m: n"));
        QTest::newRow("#MU") << Packet(Mute("A", "B", true));
    }

    void packetsReadBackWhatTheyWrite() {
        QFETCH(Packet, packet);
        QString line = serialized(packet);
        QVERIFY(line.endsWith(QStringLiteral("\r\n")));
        line.chop(2);
        QCOMPARE(serialized(decode(line)), serialized(packet));
        QVERIFY(decode(line) == packet);
    }

    void unknownPacketTypesDecodeToNothing() {
        for (const char* line :
             {"#DLSERVER:ABC123:5:0", "$XXA:B", "", "#", "$", "#T", "#SBA:B:FSIPI:1", "ABC", "*A:B"}) {
            QVERIFY2(std::holds_alternative<std::monostate>(decode(QString::fromLatin1(line))), line);
        }
    }

    void malformedLinesThrowWithTheRawLine_data() {
        QTest::addColumn<QString>("line");
        const char* lines[] = {
            // too few fields
            "$IDABC:SERVER:bdc0:VelkClient:3:0:1234567",
            "$DISERVER:CLIENT",
            "#APABC:SERVER:1:pw:1:9:2",
            "#AAABC:SERVER:N:1:pw:1",
            "@N:ABC:1:1:1:1:1:1:1",
            "@",
            "%ABC:1:1:1:1:1",
            "%",
            "^ABC:1:1:1:1:1:1:1:1:1:1",
            "^",
            "#SLABC:1:1:1:1:1:1:1:1:1:1",
            "#STABC:1:1:1:1",
            "$SFSERVER:ABC",
            "#TMABC:DEF",
            "#TMABC",
            "#TM",
            "#SBABC:DEF",
            "#SB",
            "$FPABC:*A:I:B738:480:ZSSS:1200:1200:FL350:ZBAA:2:10:4:00:ZSPD:rmk",
            "$CQABC:DEF",
            "$CRABC:DEF",
            "$PISERVER:ABC",
            "$POSERVER:ABC",
            "$ARSERVER:ABC:METAR",
            "$!!SERVER",
            "$ERserver:ABC:008:DEF",
            "#MUSERVER:ABC",
            // numbers that are not numbers
            "@N:ABC:squawk:1:1:1:1:1:1:1",
            "@N:ABC:1:x:1:1:1:1:1:1",
            "@Q:ABC:1:1:1:1:1:1:1:1",
            "@N:ABC:1:1:north:1:1:1:1:1",
            "@N:ABC:1:1:1:1:1:1:-1:1",
            "@N:ABC:1:1:1:1:1.5:1:1:1",
            "%ABC:12a:1:1:1:1:1:0",
            "%ABC:1:TWR:1:1:1:1:0",
            "^ABC:1:1:1:1:1:abc:0:0:0:0:0:0",
            "^ABC:1:1:1:1:1:0:0:0:0:0:0:gear",
            "$SFSERVER:ABC:yes",
            "#MUSERVER:ABC:on",
            "$ERserver:ABC:abc:D:m",
            "$IDABC:SERVER:xyz:VelkClient:3:0:1:u",
            "#TMA:@abc:hi",
            "#TMA:@:hi",
            "#TMA:@118&B:hi",
            // numbers too large
            "@N:ABC:99999999999:1:1:1:1:1:1:1",
            "@N:ABC:1:256:1:1:1:1:1:1",
            "@N:ABC:1:1:1:1:3000000000:1:1:1",
            "@N:ABC:1:1:1:1:1:1:4294967296:1",
            "@N:ABC:1:1:91:1:1:1:1:1",
            "@N:ABC:1:1:1:-180.5:1:1:1:1",
            "@N:ABC:1:1:1e999:1:1:1:1:1",
            "@N:ABC:1:1:nan:1:1:1:1:1",
            "@N:ABC:1:1:0:0:2147483647:0:0:2147483647",
            "%ABC:2147483647:1:1:1:1:1:0",
            "%ABC:1:256:1:1:1:1:0",
            "#TMA:@4294967295:hi",
            "$IDABC:SERVER:10000:VelkClient:3:0:1:u",
            "^ABC:1:1:1e999:1:1:0:0:0:0:0:0:0",
            "#APABC:SERVER:1:pw:1:300:2:N",
            // empty fields
            "@N::7000:1:1:1:1:1:1:1",
            "@N:ABC::1:1:1:1:1:1:1",
            "@N:ABC:1:1:::1:1:1:1",
            "%:1:1:1:1:1:1:0",
            "^:1:1:1:1:1:0:0:0:0:0:0:0",
            "#ST:1:1:1:1:1",
            "#TM:DEF:hi",
            "#TMABC::hi",
            "$CQ:DEF:CAPS",
            "$CQABC::CAPS",
            "#DP",
            "#DA:1",
            "$SFSERVER::1",
            "#SB:B:PIR",
            "$PI:B:1",
            "$!!:ABC:r",
            "#AP:SERVER:1:p:1:9:2:N",
            "$FP:*A:I:B738:480:ZSSS:1200:1200:FL350:ZBAA:2:10:4:00:ZSPD:rmk:DCT",
            "$ER:ABC:8:D:m",
            "#MU:ABC:1",
        };
        for (const char* line : lines) {
            QTest::newRow(line) << QString::fromLatin1(line);
        }
    }

    void malformedLinesThrowWithTheRawLine() {
        QFETCH(QString, line);
        try {
            const Packet packet = decode(line);
            QFAIL(qPrintable(QStringLiteral("no error; decoded as type %1").arg(packet.index())));
        } catch (const PDUFormatException& e) {
            QCOMPARE(e.rawMessage(), line);
            QVERIFY(!e.error().isEmpty());
        }
    }

    void clientQueryTypesMapToTheirTexts() {
        const QStringList texts = {"ATC", "CAPS", "C?",  "RN",      "SV",      "ATIS", "IP",
                                   "INF", "FP",   "IPC", "BY",      "HI",      "HLP",  "NOHLP",
                                   "WH",  "IT",   "HT",  "DR",      "FA",      "TA",   "BC",
                                   "SC",  "VT",   "ACC", "NEWINFO", "NEWATIS", "EST",  "GD"};
        QCOMPARE(texts.size(), 28);
        for (int i = 0; i < texts.size(); ++i) {
            const auto type = static_cast<ClientQueryType>(i + 1);
            QCOMPARE(clientQueryTypeToString(type), texts[i]);
            QCOMPARE(clientQueryTypeFromString(texts[i]), type);
        }
        QCOMPARE(clientQueryTypeFromString(u"caps"), ClientQueryType::Unknown);
        QCOMPARE(clientQueryTypeFromString(u""), ClientQueryType::Unknown);
        QCOMPARE(clientQueryTypeToString(ClientQueryType::Unknown), QString());
        QCOMPARE(clientQueryTypeToString(static_cast<ClientQueryType>(200)), QString());
    }

    void networkRatingTextsCoverMinusOneToTwelve() {
        for (int rating = -1; rating <= 12; ++rating) {
            QCOMPARE(networkRatingToString(rating), QString::number(rating));
        }
        QCOMPARE(networkRatingToString(-2), QStringLiteral("0"));
        QCOMPARE(networkRatingToString(13), QStringLiteral("0"));
        QCOMPARE(networkRatingToString(INT_MIN), QStringLiteral("0"));
    }

    // --- the packed pitch-bank-heading word ---

    void packedWordMatchesTheReferenceExamples() {
        QCOMPARE((PitchBankHeading{0, 0, 90, true}.pack()), 1026u);
        QCOMPARE((PitchBankHeading{5, 10, 270, false}.pack()), 4236131328u);
        const PitchBankHeading ground = PitchBankHeading::unpack(1026);
        QCOMPARE(ground.pitch, 0.0);
        QCOMPARE(ground.bank, 0.0);
        QCOMPARE(ground.heading, 90.0);
        QVERIFY(ground.onGround);
        const PitchBankHeading air = PitchBankHeading::unpack(4236131328u);
        QVERIFY(std::abs(air.pitch - 5) < PitchBankHeading::kDegreesPerUnit);
        QVERIFY(std::abs(air.bank - 10) < PitchBankHeading::kDegreesPerUnit);
        QCOMPARE(air.heading, 270.0);
        QVERIFY(!air.onGround);
    }

    void packedWordRoundTripsWithinOneUnitOverTheWholeRange() {
        const double unit = PitchBankHeading::kDegreesPerUnit;
        for (double angle = -179.0; angle <= 179.0; angle += 0.37) {
            const PitchBankHeading back =
                PitchBankHeading::unpack(PitchBankHeading{angle, -angle, 0, false}.pack());
            QVERIFY2(std::abs(back.pitch - angle) < unit, qPrintable(QString::number(angle)));
            QVERIFY2(std::abs(back.bank + angle) < unit, qPrintable(QString::number(angle)));
        }
        for (double heading = 0.0; heading < 360.0; heading += 0.29) {
            const PitchBankHeading back =
                PitchBankHeading::unpack(PitchBankHeading{0, 0, heading, true}.pack());
            QVERIFY2(headingDifference(back.heading, heading) < unit, qPrintable(QString::number(heading)));
            QVERIFY(back.heading >= 0.0 && back.heading < 360.0);
            QVERIFY(back.onGround);
        }
        const PitchBankHeading last =
            PitchBankHeading::unpack(PitchBankHeading{-12.5, -30, 359.9, false}.pack());
        QVERIFY(headingDifference(last.heading, 359.9) < unit);
        QVERIFY(std::abs(last.pitch + 12.5) < unit);
        QVERIFY(std::abs(last.bank + 30) < unit);
        // Beyond a full turn wraps; a value that is not a number is sent as 0.
        QCOMPARE((PitchBankHeading{0, 0, 450, false}.pack()), (PitchBankHeading{0, 0, 90, false}.pack()));
        QCOMPARE((PitchBankHeading{NAN, INFINITY, NAN, false}.pack()), 0u);
    }

    // --- line framing ---

    void framerCutsLinesWhereverTheBytesAreSplit() {
        const QByteArray stream = QStringLiteral("#TMA:B:你好\r\n\n@S:X\n$PIA:B:1\r\n").toUtf8();
        LineFramer framer;
        QList<QByteArray> lines;
        QByteArrayView line;
        for (char byte : stream) {
            framer.append(QByteArrayView(&byte, 1));
            while (framer.next(line) == LineFramer::Status::Line) {
                lines.append(line.toByteArray());
            }
        }
        QCOMPARE(lines, (QList<QByteArray>{QStringLiteral("#TMA:B:你好").toUtf8(), "", "@S:X", "$PIA:B:1"}));
        QCOMPARE(framer.pendingSize(), 0);
        framer.append("a\rb\r\r\n");
        QCOMPARE(framer.next(line), LineFramer::Status::Line);
        QCOMPARE(line.toByteArray(), QByteArray("a\rb\r"));
    }

    void framerDropsLinesOverTheLimitOnce() {
        LineFramer framer;
        QByteArrayView line;
        framer.append(QByteArray(LineFramer::kMaxLineLength, 'x') + "\n");
        QCOMPARE(framer.next(line), LineFramer::Status::Line); // exactly at the limit
        QCOMPARE(line.size(), LineFramer::kMaxLineLength);
        framer.append(QByteArray(LineFramer::kMaxLineLength, 'x') + "\r"); // its "\n" comes later
        QCOMPARE(framer.next(line), LineFramer::Status::NeedMore);
        framer.append("\n");
        QCOMPARE(framer.next(line), LineFramer::Status::Line);
        QCOMPARE(line.size(), LineFramer::kMaxLineLength);

        framer.append(QByteArray(LineFramer::kMaxLineLength + 1, 'x') + "\r\nok\n");
        QCOMPARE(framer.next(line), LineFramer::Status::Overlong);
        QCOMPARE(framer.next(line), LineFramer::Status::Line);
        QCOMPARE(line.toByteArray(), QByteArray("ok"));

        for (int i = 0; i < 100; ++i) { // 6.4 MB that never ends
            framer.append(QByteArray(64 * 1024, 'y'));
            const LineFramer::Status status = framer.next(line);
            QCOMPARE(status, i == 1 ? LineFramer::Status::Overlong : LineFramer::Status::NeedMore);
            QVERIFY(framer.pendingSize() <= 2 * LineFramer::kMaxLineLength);
        }
        framer.append("yyy\nnext\n");
        QCOMPARE(framer.next(line), LineFramer::Status::Line);
        QCOMPARE(line.toByteArray(), QByteArray("next"));
        QCOMPARE(framer.next(line), LineFramer::Status::NeedMore);
    }
};

QTEST_MAIN(TestFsdPdu)
#include "tst_fsd_pdu.moc"
