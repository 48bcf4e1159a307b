// The audio device selection on a headless JACK server: stored names resolve
// to PortAudio devices, "Default" and a vanished device give the driver's
// default, a missing driver gives PortAudio's default one, a driver change
// announces the new defaults, and out-of-range choices change nothing.
#include "AppConfig.h"
#include "support/DataRows.h"
#include "support/JackRig.h"
#include "voice/AudioDevice.h"

#include <QTest>

using namespace velk;
using voice::AudioDevice;

namespace {

constexpr int kJackType = 12;

QString ev(const char* tag, int index) {
    return QString::fromLatin1(tag) + QString::number(index);
}

// Every signal of a selection, in order: "list", "device", "in:<index>",
// "hp:<index>", "sp:<index>".
struct Trace {
    QObject context;
    QStringList events;
    explicit Trace(AudioDevice& d) {
        const auto tagged = [this](const char* tag) { return [this, tag](int i) { events << ev(tag, i); }; };
        QObject::connect(&d, &AudioDevice::deviceListChanged, &context, [this] { events << "list"; });
        QObject::connect(&d, &AudioDevice::deviceChanged, &context, [this] { events << "device"; });
        QObject::connect(&d, &AudioDevice::inputDeviceChanged, &context, tagged("in:"));
        QObject::connect(&d, &AudioDevice::outputHeadphoneDeviceChanged, &context, tagged("hp:"));
        QObject::connect(&d, &AudioDevice::outputSpeakerDeviceChanged, &context, tagged("sp:"));
    }
    QStringList take() { return std::exchange(events, {}); }
};

} // namespace

class TestAudioDevice : public QObject {
    Q_OBJECT

    JackRig rig{44100, 2};
    voice::VoiceHostApi jack;
    int jackPosition = -1;
    int system = -1;
    int loopback = -1;

    static void store(int driver, const QString& in, const QString& headphone, const QString& speaker) {
        AppConfig::instance()->setValues(ConfigKeys::VoiceDriver, driver, ConfigKeys::VoiceInputDevice, in,
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
        QTest::addColumn<bool>("listed");
        test::row("a device of the driver", QStringLiteral("loopback"), true);
        test::row("Default", QStringLiteral("Default"), false);
        test::row("a device that is gone", QStringLiteral("USB Headset"), false);
        test::row("another letter case", QStringLiteral("LOOPBACK"), false);
    }
    void storedNamesResolveOnTheStoredDriver() {
        QFETCH(QString, input);
        QFETCH(bool, listed);
        store(kJackType, input, QStringLiteral("system"), QStringLiteral("loopback"));
        AudioDevice devices;
        Trace trace(devices);
        QVERIFY(devices.driverNames().isEmpty()); // nothing is read before the first load
        devices.ensureLoaded();
        devices.ensureLoaded();

        QCOMPARE(devices.driverIndex(), jackPosition);
        QVERIFY(!devices.driverNames().contains(AudioDevice::kDefault));
        QCOMPARE(devices.inputDeviceNames().first(), AudioDevice::kDefault);
        QCOMPARE(devices.inputIndex(), listed ? devices.inputDeviceNames().indexOf(input) : 0);
        QCOMPARE(devices.inputName(), input); // kept until the next choice
        QCOMPARE(devices.inputDeviceId(), listed ? loopback : -1);
        QCOMPARE(devices.outputHeadphoneDeviceId(), system);
        QCOMPARE(devices.outputSpeakerDeviceId(), loopback);
        QCOMPARE(trace.take(),
                 (QStringList{"list", "device", ev("in:", listed ? loopback : jack.defaultInputDevice),
                              ev("hp:", system), ev("sp:", loopback)}));
    }

    void choicesAnnounceTheirDeviceAndOutOfRangeOnesAreIgnored() {
        store(13, QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z"));
        AudioDevice devices;
        Trace trace(devices);
        devices.ensureLoaded();
        // A driver this machine lacks falls back to PortAudio's default (on
        // the rig JACK, the only one with devices), whose defaults the engine
        // gets; the stored choice stays, to be written back unchanged.
        QCOMPARE(devices.driverIndex(), jackPosition);
        QCOMPARE(devices.driverType(), 13);
        const QStringList jackDefaults{"list", "device", ev("in:", jack.defaultInputDevice),
                                       ev("hp:", jack.defaultOutputDevice),
                                       ev("sp:", jack.defaultOutputDevice)};
        QCOMPARE(trace.take(), jackDefaults);
        devices.setDriver(jackPosition); // picked: the stored type follows
        QCOMPARE(devices.driverType(), kJackType);
        QCOMPARE(devices.inputName() + devices.outputHeadphoneName() + devices.outputSpeakerName(),
                 QStringLiteral("DefaultDefaultDefault"));
        QCOMPARE(trace.take(), jackDefaults);

        const int inputs = static_cast<int>(devices.inputDeviceNames().size()) - 1;
        const int outputs = static_cast<int>(devices.outputDeviceNames().size()) - 1;
        for (const auto& [input, output] : {std::pair{-1, -1}, std::pair{inputs + 1, outputs + 1}}) {
            devices.setInputDevice(input);
            devices.setOutputHeadphoneDevice(output);
            devices.setOutputSpeakerDevice(output);
            devices.setDriver(input < 0 ? -1 : static_cast<int>(devices.driverNames().size()));
        }
        QCOMPARE(trace.take(), QStringList());

        devices.setInputDevice(devices.inputDeviceNames().indexOf(QStringLiteral("loopback")));
        devices.setOutputHeadphoneDevice(devices.outputDeviceNames().indexOf(QStringLiteral("system")));
        // "Default" switches to the driver's default at once instead of
        // leaving the old device in use until the next voice session.
        devices.setInputDevice(0);
        QCOMPARE(trace.take(), (QStringList{"device", ev("in:", loopback), "device", ev("hp:", system),
                                            "device", ev("in:", jack.defaultInputDevice)}));
        QCOMPARE(devices.inputDeviceId(), -1);
        QCOMPARE(devices.inputName(), AudioDevice::kDefault);
    }
};

QTEST_GUILESS_MAIN(TestAudioDevice)
#include "tst_audiodevice.moc"
