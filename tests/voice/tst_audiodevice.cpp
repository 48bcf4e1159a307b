// The audio device selection on a headless JACK server: stored names resolve
// to PortAudio devices, "Default" and a vanished device give the driver's
// default, a driver change announces the new defaults, and out-of-range
// choices change nothing.
#include "AppConfig.h"
#include "support/JackRig.h"
#include "voice/AudioDevice.h"

#include <QTest>

using namespace velk;
using voice::AudioDevice;

namespace {

constexpr int kJackType = 12;

// Every signal of a selection, in order: "list", "device", "in:<index>",
// "hp:<index>", "sp:<index>".
struct Trace {
    QObject context;
    QStringList events;
    explicit Trace(AudioDevice& d) {
        const auto add = [this](const QString& e) { events << e; };
        const auto num = [add](const char* tag) {
            return [add, tag](int i) { add(QString::fromLatin1(tag) + QString::number(i)); };
        };
        QObject::connect(&d, &AudioDevice::deviceListChanged, &context, [add] { add("list"); });
        QObject::connect(&d, &AudioDevice::deviceChanged, &context, [add] { add("device"); });
        QObject::connect(&d, &AudioDevice::inputDeviceChanged, &context, num("in:"));
        QObject::connect(&d, &AudioDevice::outputHeadphoneDeviceChanged, &context, num("hp:"));
        QObject::connect(&d, &AudioDevice::outputSpeakerDeviceChanged, &context, num("sp:"));
    }
    QStringList take() { return std::exchange(events, {}); }
};

QString ev(const char* tag, int index) {
    return QString::fromLatin1(tag) + QString::number(index);
}

} // namespace

class TestAudioDevice : public QObject {
    Q_OBJECT

    JackRig rig{44100, 2};
    AppConfig* config = AppConfig::instance();
    voice::VoiceHostApi jack;
    int jackPosition = -1;
    int system = -1;
    int loopback = -1;

    void store(int driver, const QString& in, const QString& headphone, const QString& speaker) {
        config->setValues(ConfigKeys::VoiceDriver, driver, ConfigKeys::VoiceInputDevice, in,
                          ConfigKeys::VoiceOutputHeadphoneDevice, headphone,
                          ConfigKeys::VoiceOutputSpeakerDevice, speaker);
    }

private slots:
    void initTestCase() {
        VELK_START_JACK_RIG(rig);
        system = JackRig::device("system");
        loopback = JackRig::device("loopback");
        const auto apis = voice::getHostApiNames();
        for (qsizetype i = 0; i < apis.size(); ++i) {
            if (apis.at(i).type == kJackType) {
                jack = apis.at(i);
                jackPosition = static_cast<int>(i);
            }
        }
        QVERIFY(jackPosition >= 0 && system >= 0 && loopback >= 0);
    }

    void storedNamesResolveOnTheStoredDriver_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("inputId");
        QTest::addColumn<bool>("listed");
        QTest::newRow("a device of the driver") << "loopback" << loopback << true;
        QTest::newRow("Default") << "Default" << -1 << false;
        QTest::newRow("a device that is gone") << "USB Headset" << -1 << false;
        QTest::newRow("another letter case") << "LOOPBACK" << -1 << false;
    }
    void storedNamesResolveOnTheStoredDriver() {
        QFETCH(QString, input);
        QFETCH(int, inputId);
        QFETCH(bool, listed);
        store(kJackType, input, QStringLiteral("system"), QStringLiteral("loopback"));
        AudioDevice devices;
        Trace trace(devices);
        QVERIFY(devices.driverNames().isEmpty()); // nothing is read before the first load
        devices.ensureLoaded();
        devices.ensureLoaded();

        QCOMPARE(devices.driverIndex(), jackPosition);
        QCOMPARE(devices.driverType(), kJackType);
        QVERIFY(!devices.driverNames().contains(AudioDevice::kDefault));
        QCOMPARE(devices.inputDeviceNames().first(), AudioDevice::kDefault);
        QCOMPARE(devices.inputDeviceNames().indexOf(input) > 0, listed);
        QCOMPARE(devices.inputIndex(), listed ? devices.inputDeviceNames().indexOf(input) : 0);
        QCOMPARE(devices.inputName(), input); // kept until the next choice
        QCOMPARE(devices.inputDeviceId(), inputId);
        QCOMPARE(devices.outputHeadphoneDeviceId(), system);
        QCOMPARE(devices.outputSpeakerDeviceId(), loopback);
        QCOMPARE(devices.outputHeadphoneName(), QStringLiteral("system"));
        QCOMPARE(trace.take(),
                 (QStringList{"list", "device", ev("in:", listed ? loopback : jack.defaultInputDevice),
                              ev("hp:", system), ev("sp:", loopback)}));
    }

    void aDriverThisMachineLacksFallsBackToTheFirst() {
        store(13, QStringLiteral("loopback"), QStringLiteral("Default"), QStringLiteral("Default"));
        AudioDevice devices;
        devices.ensureLoaded();
        QCOMPARE(devices.driverIndex(), 0);
        QCOMPARE(devices.driverType(), 13); // the stored choice is written back unchanged
        const auto first = voice::getHostApiNames().first();
        QCOMPARE(devices.inputDeviceNames().size(), voice::getVoiceInputDevices(first.index).size() + 1);
    }

    void aDriverChangeAnnouncesItsDefaults() {
        store(13, QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z"));
        AudioDevice devices;
        devices.ensureLoaded();
        devices.setOutputSpeakerDevice(devices.outputDeviceNames().indexOf(QStringLiteral("x")));
        Trace trace(devices);
        devices.setDriver(jackPosition);
        QCOMPARE(devices.driverType(), kJackType);
        QCOMPARE(devices.inputName() + devices.outputHeadphoneName() + devices.outputSpeakerName(),
                 QStringLiteral("DefaultDefaultDefault"));
        QCOMPARE(devices.inputIndex() + devices.outputHeadphoneIndex() + devices.outputSpeakerIndex(), 0);
        QCOMPARE(trace.take(),
                 (QStringList{"list", "device", ev("in:", jack.defaultInputDevice),
                              ev("hp:", jack.defaultOutputDevice), ev("sp:", jack.defaultOutputDevice)}));
        QVERIFY(devices.outputDeviceNames().contains(QStringLiteral("system")));
    }

    void choicesAnnounceTheirDeviceAndOutOfRangeOnesAreIgnored() {
        store(kJackType, QStringLiteral("Default"), QStringLiteral("Default"), QStringLiteral("Default"));
        AudioDevice devices;
        devices.ensureLoaded();
        Trace trace(devices);
        const int inputs = static_cast<int>(devices.inputDeviceNames().size()) - 1;
        const int outputs = static_cast<int>(devices.outputDeviceNames().size()) - 1;
        for (const auto& [input, output] : {std::pair{-1, -1}, std::pair{inputs + 1, outputs + 1}}) {
            devices.setInputDevice(input);
            devices.setOutputHeadphoneDevice(output);
            devices.setOutputSpeakerDevice(output);
        }
        devices.setDriver(-1);
        devices.setDriver(static_cast<int>(devices.driverNames().size()));
        QCOMPARE(trace.take(), QStringList());
        QCOMPARE(devices.inputIndex(), 0);

        devices.setInputDevice(devices.inputDeviceNames().indexOf(QStringLiteral("loopback")));
        devices.setOutputHeadphoneDevice(devices.outputDeviceNames().indexOf(QStringLiteral("system")));
        QCOMPARE(devices.inputName(), QStringLiteral("loopback"));
        // "Default" switches to the driver's default at once instead of
        // leaving the old device playing until the next voice session.
        devices.setInputDevice(0);
        QCOMPARE(trace.take(), (QStringList{"device", ev("in:", loopback), "device", ev("hp:", system),
                                            "device", ev("in:", jack.defaultInputDevice)}));
        QCOMPARE(devices.inputDeviceId(), -1);
        QCOMPARE(devices.inputName(), AudioDevice::kDefault);
    }
};

QTEST_GUILESS_MAIN(TestAudioDevice)
#include "tst_audiodevice.moc"
