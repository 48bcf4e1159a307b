// Push-to-talk on game-controller buttons, with SDL's virtual joystick (no
// device or display needed). Keyboard and mouse come from the fake source.
#include "input/PttService.h"
#include "support/FakeInputSource.h"
#include "support/HelperProcess.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTextStream>

#include <SDL.h>

using namespace velk::input;
using velk::test::FakeInputSource;

namespace {

const char* const kChildVariable = "VELK_PTT_JOYSTICK_CHILD";

// A virtual controller plugged in while the handler runs SDL; the handle is the test's own.
struct VirtualPad {
    int device = -1;
    SDL_Joystick* handle = nullptr;

    VirtualPad() {
        device = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 0, 8, 0);
        handle = device >= 0 ? SDL_JoystickOpen(device) : nullptr;
    }
    bool press(int button, bool down) {
        return SDL_JoystickSetVirtualButton(handle, button, down ? 1 : 0) == 0;
    }
    // True once the handler's poll has seen the button in that state.
    bool seen(int button, bool down) const { return (SDL_JoystickGetButton(handle, button) != 0) == down; }
    // Unplugs it; SDL drops the handle with the device.
    void unplug() {
        SDL_JoystickClose(handle);
        SDL_JoystickDetachVirtual(device);
    }
};

// Child process: a service bound to a joystick button, waiting to be terminated.
int runChild(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    FakeInputSource input;
    PttService service;
    service.setBoundKey(QStringLiteral("js:0:5"));
    VirtualPad pad;
    QTextStream(stdout) << (pad.handle ? "ready" : "no virtual joystick") << Qt::endl;
    return QCoreApplication::exec();
}

} // namespace

class TestPttJoystick : public QObject {
    Q_OBJECT

private slots:
    void listeningCapturesAButtonThatThenHoldsAndReleases() {
        FakeInputSource input;
        PttService service;
        QSignalSpy captured(&service, &PttService::keyCaptured);
        QSignalSpy active(&service, &PttService::activeChanged);
        service.startListening();
        VirtualPad pad;
        QVERIFY2(pad.handle, SDL_GetError());
        QVERIFY(pad.press(5, true));
        QTRY_COMPARE(captured.count(), 1);
        QCOMPARE(captured.at(0).at(0).value<PttKey>().text(), QStringLiteral("js:0:5"));
        QCOMPARE(service.boundKeyName(), QStringLiteral("手柄 0 按钮 5"));
        QVERIFY(pad.press(5, false));
        QTRY_VERIFY(pad.seen(5, false));
        QVERIFY(active.isEmpty());
        QVERIFY(pad.press(5, true));
        QTRY_COMPARE(active.count(), 1);
        QVERIFY(pad.press(5, false));
        QTRY_COMPARE(active.count(), 2);
        QVERIFY(pad.press(5, true));
        QTRY_COMPARE(active.count(), 3);
        pad.unplug(); // while held
        QTRY_COMPARE(active.count(), 4);
        QCOMPARE(active.at(1).at(0).toBool(), false);
        QCOMPARE(active.at(2).at(0).toBool(), true);
        QCOMPARE(active.at(3).at(0).toBool(), false);
    }

    // SDL's instance ids keep counting across subsystem restarts; the stored
    // number is the controller's position, which does not.
    void aSavedBindingStillMatchesAfterRestarts() {
        FakeInputSource input;
        PttService service;
        for (int cycle = 0; cycle < 3; ++cycle) {
            service.startListening();
            VirtualPad pad;
            QVERIFY(pad.handle);
            service.stopListening();
        }
        service.setBoundKey(QStringLiteral("js:0:5"));
        VirtualPad pad;
        QVERIFY(pad.handle);
        QVERIFY(SDL_JoystickInstanceID(pad.handle) > 0);
        QVERIFY(pad.press(5, true));
        QTRY_VERIFY(service.isActive());
    }

    void aProcessWithAJoystickBindingEndsOnSigterm() {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildVariable), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        velk::test::endWithTest(child);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(child.canReadLine(), 30000);
        QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
        child.terminate();
        QVERIFY2(child.waitForFinished(10000), "the process ignored SIGTERM");
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        return runChild(argc, argv);
    }
    QCoreApplication app(argc, argv);
    TestPttJoystick test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pttjoystick.moc"
