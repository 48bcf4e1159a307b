#include "voice/ControlLineReader.h"
#include "voice/ControlMessage.h"
#include "voice/VoicePacket.h"

#include <QTest>

#include <stdexcept>

using namespace velk::voice;

namespace {

QByteArray bytes(const std::vector<std::uint8_t>& v) {
    return QByteArray(reinterpret_cast<const char*>(v.data()), qsizetype(v.size()));
}

std::optional<VoicePacket> decode(const QByteArray& b, VoiceDecodeError* error = nullptr) {
    return decodeVoicePacket(reinterpret_cast<const std::uint8_t*>(b.constData()), std::size_t(b.size()),
                             error);
}

// Quotes and line breaks are escaped, Chinese text is not.
const char* const kEscapedMessage =
    "{\"callsign\":\"CES123\",\"cid\":1,\"data\":\"你好:a\\\"b\\nc\",\"transmitter\":0,\"type\":\"message\"}";

} // namespace

class TestVoiceWire : public QObject {
    Q_OBJECT

private slots:
    void datagramLimitsAreEnforcedInOrder_data() {
        QTest::addColumn<int>("callsignLength");
        QTest::addColumn<int>("frequency");
        QTest::addColumn<int>("transmitter");
        QTest::addColumn<QString>("error");
        QTest::newRow("callsign 254") << 254 << 118500 << 0 << "";
        QTest::newRow("callsign 255") << 255 << 118500 << 0 << "Callsign too long";
        QTest::newRow("frequency 199999") << 6 << 199999 << 0 << "";
        QTest::newRow("frequency 200000") << 6 << 200000 << 0 << "Frequency too large";
        QTest::newRow("transmitter 254") << 6 << 118500 << 254 << "";
        QTest::newRow("transmitter 255") << 6 << 118500 << 255 << "Transmitter ID too large";
        QTest::newRow("callsign wins") << 255 << 200000 << 255 << "Callsign too long";
        QTest::newRow("frequency wins") << 6 << 200000 << 255 << "Frequency too large";
    }
    void datagramLimitsAreEnforcedInOrder() {
        QFETCH(int, callsignLength);
        QFETCH(int, frequency);
        QFETCH(int, transmitter);
        QFETCH(QString, error);
        const std::string callsign(std::size_t(callsignLength), 'A');
        const std::vector<std::uint8_t> audio{1, 2, 3};
        try {
            const auto datagram = encodeVoicePacket(42, transmitter, frequency, callsign, audio);
            QVERIFY2(error.isEmpty(), "encoded");
            const auto packet = decode(bytes(datagram));
            QVERIFY(packet);
            QCOMPARE(packet->callsign, callsign);
            QCOMPARE(packet->frequency, frequency);
            QCOMPARE(packet->audio, audio);
        } catch (const std::invalid_argument& e) {
            QCOMPARE(QString::fromLatin1(e.what()), error);
        }
    }

    void datagramBytesAreExact() {
        QCOMPARE(bytes(encodeVoicePacket(1234567, 0, 0, "CES123", {})),
                 QByteArray::fromHex("87D612000000000000064345533132330A"));
        QCOMPARE(bytes(encodeVoicePacket(7, 0, 0, "", {})), QByteArray::fromHex("070000000000000000000A"));
        // The transmitter is one byte, read back signed.
        const QByteArray minusOne = bytes(encodeVoicePacket(1, -1, -5, "X", {}));
        QCOMPARE(quint8(minusOne[4]), quint8(0xFF));
        QCOMPARE(decode(minusOne)->transmitter, -1);
        QCOMPARE(decode(minusOne)->frequency, -5);
        QCOMPARE(decode(bytes(encodeVoicePacket(1, 200, 0, "X", {})))->transmitter, -56);
    }

    void malformedDatagramsGiveNoPacket_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("error");
        const QByteArray good = bytes(encodeVoicePacket(9, 1, 121500, "ABC", {7, 8}));
        const auto of = [](VoiceDecodeError e) { return int(e); };
        QTest::newRow("empty") << QByteArray() << of(VoiceDecodeError::Empty);
        QTest::newRow("9 bytes") << QByteArray(9, '\n') << of(VoiceDecodeError::TooShort);
        QTest::newRow("10 bytes") << QByteArray(10, '\n') << of(VoiceDecodeError::TooShort);
        QTest::newRow("no end marker") << good.chopped(1) + 'x' << of(VoiceDecodeError::NoEndMarker);
        QTest::newRow("length past marker") << QByteArray::fromHex("01000000000000000004414243") + '\n'
                                            << of(VoiceDecodeError::CallsignTooLong);
        QTest::newRow("length 255") << QByteArray::fromHex("010000000000000000FF") + QByteArray(256, 'A') +
                                           '\n'
                                    << of(VoiceDecodeError::CallsignTooLong);
        QTest::newRow("payload 4001")
            << bytes(encodeVoicePacket(1, 0, 0, "A", std::vector<std::uint8_t>(4001)))
            << of(VoiceDecodeError::PayloadTooLarge);
        QTest::newRow("payload 4000")
            << bytes(encodeVoicePacket(1, 0, 0, "A", std::vector<std::uint8_t>(4000)))
            << of(VoiceDecodeError::None);
        QTest::newRow("callsign up to marker") << QByteArray::fromHex("01000000000000000003414243") + '\n'
                                               << of(VoiceDecodeError::None);
    }
    void malformedDatagramsGiveNoPacket() {
        QFETCH(QByteArray, datagram);
        QFETCH(int, error);
        VoiceDecodeError why = VoiceDecodeError::TooShort;
        const auto packet = decode(datagram, &why);
        QCOMPARE(int(why), error);
        QCOMPARE(packet.has_value(), error == int(VoiceDecodeError::None));
    }

    void controlLinesAreCompactWithSortedKeys() {
        ControlMessage ping{ControlMessageType::Ping, 7, "", 0, "1700000000"};
        QCOMPARE(toJson(ping),
                 std::string(R"({"callsign":"","cid":7,"data":"1700000000","transmitter":0,"type":"ping"})"));
        ControlMessage text{ControlMessageType::Message, 1, "CES123", 0, "你好:a\"b\nc"};
        QCOMPARE(QString::fromStdString(toJson(text)), QString::fromUtf8(kEscapedMessage));
        QCOMPARE(readControlMessage(toJson(text)), text);
        QVERIFY_THROWS_EXCEPTION(std::exception, toJson({ControlMessageType::Ping, 0, "\xff", 0, ""}));
    }

    void controlLinesAreReadStrictly_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("problem"); // empty: reads fine
        QTest::newRow("type only") << QByteArray(R"({"type":"pong"})") << "";
        QTest::newRow("carriage return") << QByteArray("{\"type\":\"pong\"}\r") << "";
        QTest::newRow("int32 bounds")
            << QByteArray(R"({"type":"pong","cid":-2147483648,"transmitter":2147483647})") << "";
        QTest::newRow("empty line") << QByteArray() << "parse error";
        QTest::newRow("not an object") << QByteArray("[1]") << "not a JSON object";
        QTest::newRow("trailing text") << QByteArray(R"({"type":"pong"} x)") << "parse error";
        QTest::newRow("missing type") << QByteArray("{}") << "missing \"type\"";
        QTest::newRow("unknown type") << QByteArray(R"({"type":"bogus"})") << "unknown type \"bogus\"";
        QTest::newRow("cid as string") << QByteArray(R"({"type":"pong","cid":"7"})") << "\"cid\" must be";
        QTest::newRow("cid as float") << QByteArray(R"({"type":"pong","cid":1.0})") << "\"cid\" must be";
        QTest::newRow("cid 1e300") << QByteArray(R"({"type":"pong","cid":1e300})") << "\"cid\" must be";
        QTest::newRow("cid as bool") << QByteArray(R"({"type":"pong","cid":true})") << "\"cid\" must be";
        QTest::newRow("cid too big") << QByteArray(R"({"type":"pong","cid":2147483648})")
                                     << "\"cid\" must be";
        QTest::newRow("data as number")
            << QByteArray(R"({"type":"error","data":5})") << "\"data\" must be a string";
        QTest::newRow("callsign null")
            << QByteArray(R"({"type":"pong","callsign":null})") << "\"callsign\" must be";
        QTest::newRow("bad utf-8") << QByteArray("{\"type\":\"pong\",\"data\":\"\xff\"}") << "parse error";
    }
    void controlLinesAreReadStrictly() {
        QFETCH(QByteArray, line);
        QFETCH(QString, problem);
        try {
            const ControlMessage m = readControlMessage(line.toStdString());
            QVERIFY2(problem.isEmpty(), "read");
            QCOMPARE(m.type, ControlMessageType::Pong);
            QCOMPARE(m.callsign, std::string());
        } catch (const std::exception& e) {
            QVERIFY2(!problem.isEmpty() && QString::fromUtf8(e.what()).contains(problem), e.what());
        }
    }

    void typeNamesMatchExactlyAndDefaultToDisconnect() {
        QCOMPARE(controlMessageTypeToString(ControlMessageType::VoiceReceive),
                 std::string_view("voice_receive"));
        QCOMPARE(controlMessageTypeToString(ControlMessageType(8)), std::string_view("disconnect"));
        QCOMPARE(controlMessageTypeFromString("text_receive"), ControlMessageType::TextReceive);
        QCOMPARE(controlMessageTypeFromString("PING"), ControlMessageType::Disconnect);
        QCOMPARE(controlMessageTypeFromString(""), ControlMessageType::Disconnect);
    }

    void controlStreamIsSplitIntoBoundedLines_data() {
        QTest::addColumn<QList<QByteArray>>("reads");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::addColumn<int>("overflows");
        const QByteArray full(int(ControlLineReader::kMaxPendingLine), 'x');
        QTest::newRow("several in one read")
            << QList<QByteArray>{"a\nb\n\nc"} << QList<QByteArray>{"a", "b", ""} << 0;
        QTest::newRow("split over reads")
            << QList<QByteArray>{"ab", "c", "d\ne"} << QList<QByteArray>{"abcd"} << 0;
        QTest::newRow("65536 pending is a line")
            << QList<QByteArray>{full, "\nok\n"} << QList<QByteArray>{full, "ok"} << 0;
        QTest::newRow("65537 pending is dropped to its end")
            << QList<QByteArray>{full + "y", "tail", "still tail\nok\n"} << QList<QByteArray>{"ok"} << 1;
    }
    void controlStreamIsSplitIntoBoundedLines() {
        QFETCH(QList<QByteArray>, reads);
        QFETCH(QList<QByteArray>, lines);
        QFETCH(int, overflows);
        ControlLineReader reader;
        QList<QByteArray> got;
        int dropped = 0;
        for (QByteArray read : reads) {
            while (!read.isEmpty()) {
                const std::span<char> space = reader.writable();
                const auto n = std::min<std::size_t>(space.size(), std::size_t(read.size()));
                std::memcpy(space.data(), read.constData(), n);
                read.remove(0, qsizetype(n));
                reader.commit(
                    n,
                    [&](std::string_view line) {
                        got.append(QByteArray(line.data(), qsizetype(line.size())));
                    },
                    [&](std::size_t) { ++dropped; });
            }
        }
        QCOMPARE(got, lines);
        QCOMPARE(dropped, overflows);
    }
};

QTEST_GUILESS_MAIN(TestVoiceWire)
#include "tst_voicewire.moc"
