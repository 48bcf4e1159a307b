#include "voice/VoiceClient.h"

#include <QSignalSpy>
#include <QTest>

using namespace velk;
using voice::ConnectionState;
using voice::RadioChannel;

namespace {

// Reaches the state the server's welcome leads to.
class ReadyableClient : public voice::VoiceClient {
public:
    using VoiceClient::VoiceClient;
    void makeReady(const QByteArray& callsign = "CES123") {
        setIdentity(callsign);
        setConnectionState(ConnectionState::Ready);
    }
    using VoiceClient::setConnectionState;
};

RadioChannel radio(int id, int frequency, bool transmit, bool receive) {
    RadioChannel r;
    r.id = id;
    r.frequency = frequency;
    r.transmit = transmit;
    r.receive = receive;
    return r;
}

} // namespace

class TestVoiceRadio : public QObject {
    Q_OBJECT

private slots:
    void radiosAreStoredBeforeTheClientIsReady() {
        ReadyableClient c;
        QSignalSpy freq(&c, &voice::VoiceClient::currentFrequencyChanged);
        c.applyRadioStack(radio(0, 0, false, false));
        c.applyRadioStack(radio(1, 121500, true, true));
        QCOMPARE(c.radios().size(), 2);
        // Tuned but not ready: indexed, yet not announced and not transmitting.
        QCOMPARE(c.frequencyIndex().value(121500, -1), 1);
        QVERIFY(!c.frequencyIndex().contains(0));
        QCOMPARE(c.currentTransmitter(), -1);
        QCOMPARE(freq.count(), 0);
    }

    void readinessNeedsStateCidAndCallsign() {
        ReadyableClient c;
        QSignalSpy states(&c, &voice::VoiceClient::connectionStateChanged);
        c.makeReady();
        QVERIFY(!c.isReady()); // no cid yet
        c.setCid(1234567);
        QVERIFY(c.isReady());
        ReadyableClient noName;
        noName.setCid(1);
        noName.makeReady(QByteArray());
        QVERIFY(!noName.isReady());
        // The state is announced once per change.
        c.setConnectionState(ConnectionState::Ready);
        QCOMPARE(states.count(), 1);
        QCOMPARE(states.at(0).at(0).value<ConnectionState>(), ConnectionState::Ready);
    }

    void updatesAreIgnoredUntilReady() {
        ReadyableClient c;
        c.setCid(1);
        c.updateRadioStack(radio(0, 118500, true, true));
        QVERIFY(c.radios().isEmpty());
        QCOMPARE(c.currentTransmitter(), -1);
    }

    void transmittingRadioBecomesCurrent() {
        ReadyableClient c;
        c.setCid(1);
        c.makeReady();
        QSignalSpy freq(&c, &voice::VoiceClient::currentFrequencyChanged);
        c.updateRadioStack(radio(0, 118500, true, true));
        c.updateRadioStack(radio(1, 121500, false, true));
        QCOMPARE(c.currentTransmitter(), 0);
        QCOMPARE(c.currentFrequency(), 118500);
        QCOMPARE(freq.count(), 1);
        QCOMPARE(freq.at(0).at(0).toInt(), 118500);
        // A radio pushed without transmit leaves the transmitter as it was.
        c.updateRadioStack(radio(0, 118600, false, true));
        QCOMPARE(c.currentTransmitter(), 0);
        QCOMPARE(c.currentFrequency(), 118600);
        c.updateRadioStack(radio(1, 121500, true, true));
        QCOMPARE(c.currentTransmitter(), 1);
        QCOMPARE(c.frequencyIndex().size(), 2);
    }

    void applyWhileReadyAnnouncesTunedRadiosOnly() {
        ReadyableClient c;
        c.setCid(1);
        c.makeReady();
        QSignalSpy freq(&c, &voice::VoiceClient::currentFrequencyChanged);
        c.applyRadioStack(radio(0, 0, true, true));
        QCOMPARE(freq.count(), 0); // frequency 0 is stored, never announced
        c.applyRadioStack(radio(0, 122800, true, true));
        QCOMPARE(freq.count(), 1);
    }

    void frequencyIndexFollowsRetuning() {
        ReadyableClient c;
        c.setCid(1);
        c.makeReady();
        c.updateRadioStack(radio(0, 118500, false, true));
        c.updateRadioStack(radio(0, 119000, false, true));
        QVERIFY(!c.frequencyIndex().contains(118500));
        QCOMPARE(c.frequencyIndex().value(119000), 0);
        c.updateRadioStack(radio(0, 0, false, true));
        QVERIFY(c.frequencyIndex().isEmpty());
        QCOMPARE(c.radios().size(), 1);
    }

    // The same in every run: the index used to follow QHash order, which is
    // seeded per process.
    void aSharedFrequencyPlaysOnTheLowestReceivingRadio() {
        for (const bool com2First : {true, false}) {
            ReadyableClient c;
            c.applyRadioStack(radio(com2First ? 1 : 0, 121500, false, true));
            c.applyRadioStack(radio(com2First ? 0 : 1, 121500, true, true));
            QCOMPARE(c.frequencyIndex().value(121500, -1), 0);
            c.applyRadioStack(radio(0, 121500, true, false)); // transmit only: not heard
            QCOMPARE(c.frequencyIndex().value(121500, -1), 1);
            c.applyRadioStack(radio(1, 118000, false, false));
            QVERIFY(c.frequencyIndex().isEmpty());
        }
    }

    void channelDataCarriesFrequencyAndReceiveDigit() {
        QCOMPARE(voice::VoiceClient::channelData(radio(0, 118500, false, true)), QByteArray("118500:1"));
        QCOMPARE(voice::VoiceClient::channelData(radio(0, 118500, true, false)), QByteArray("118500:0"));
        QCOMPARE(voice::VoiceClient::channelData(radio(1, 0, false, true)), QByteArray("0:1"));
    }

    void disconnectForgetsRadiosAndTransmitter() {
        ReadyableClient c;
        c.setCid(1);
        c.makeReady();
        c.updateRadioStack(radio(0, 118500, true, true));
        QSignalSpy states(&c, &voice::VoiceClient::connectionStateChanged);
        c.disconnectFromServer();
        QCOMPARE(c.currentTransmitter(), -1);
        QCOMPARE(c.currentFrequency(), -1);
        QVERIFY(c.radios().isEmpty());
        QVERIFY(c.frequencyIndex().isEmpty());
        QCOMPARE(c.connectionState(), ConnectionState::Disconnected);
        QCOMPARE(states.count(), 1);
        QVERIFY(!c.isReady());
    }
};

QTEST_MAIN(TestVoiceRadio)
#include "tst_voiceradio.moc"
