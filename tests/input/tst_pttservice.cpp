#include "input/PttHandler.h"
#include "input/PttService.h"
#include "support/FakeInputSource.h"
#include "support/MessageLog.h"

#include <QTest>
#include <QTimer>

#include <SDL.h>

#include <memory>

using namespace velk::input;
using velk::test::FakeInputSource;
using velk::test::MessageLog;

namespace {

constexpr int kRightCtrl = 163;

// Every signal of a service, in the order they came.
struct Trace {
    QObject context;
    QStringList events;
    explicit Trace(PttService& s) {
        QObject::connect(&s, &PttService::activeChanged, &context,
                         [this](bool on) { events << QStringLiteral("active:%1").arg(on); });
        QObject::connect(&s, &PttService::listeningChanged, &context,
                         [this](bool on) { events << QStringLiteral("listening:%1").arg(on); });
        QObject::connect(&s, &PttService::boundKeyChanged, &context,
                         [this](const PttKey& k) { events << QStringLiteral("bound:") + k.text(); });
        QObject::connect(&s, &PttService::keyCaptured, &context,
                         [this](const PttKey& k) { events << QStringLiteral("captured:") + k.text(); });
    }
    QStringList take() { return std::exchange(events, {}); }
};

// Presses and releases as the binding text says ("kb:<vk>" or "ms:<code>").
void press(FakeInputSource& input, const QString& binding, bool down, bool injected = false) {
    const int code = binding.mid(3).toInt();
    if (binding.startsWith(QLatin1String("kb:"))) {
        down ? input.keyDown(code, injected) : input.keyUp(code, injected);
    } else {
        down ? input.mouseDown(code, injected) : input.mouseUp(code, injected);
    }
}

bool sdlRunning() {
    return SDL_WasInit(SDL_INIT_JOYSTICK | SDL_INIT_EVENTS) != 0;
}

} // namespace

class TestPttService : public QObject {
    Q_OBJECT

private slots:
    void holdingTheBoundInputGivesOneTrueAndOneFalse_data() {
        QTest::addColumn<QString>("binding");
        QTest::addColumn<bool>("injectedRelease");
        QTest::newRow("right ctrl") << "kb:163" << false;
        QTest::newRow("injected key-up still releases") << "kb:65" << true;
        QTest::newRow("left mouse") << "ms:1" << false;
        QTest::newRow("second extra button, injected up") << "ms:16" << true;
    }
    void holdingTheBoundInputGivesOneTrueAndOneFalse() {
        QFETCH(QString, binding);
        QFETCH(bool, injectedRelease);
        FakeInputSource input;
        PttService service;
        service.setBoundKey(binding);
        Trace trace(service);
        press(input, binding, true, true); // an injected key-down is ignored; an injected click is not
        for (int repeat = 0; repeat < 3; ++repeat) {
            press(input, binding, true);
        }
        QVERIFY(service.isActive());
        press(input, binding, false, injectedRelease);
        press(input, binding, false);
        QCOMPARE(trace.take(), QStringList({"active:1", "active:0"}));
        QVERIFY(!service.isActive());
    }

    void inputThatIsNotTheBindingChangesNothing_data() {
        QTest::addColumn<QString>("binding");
        QTest::addColumn<QString>("input");
        QTest::newRow("another key") << "kb:163"
                                     << "kb:162";
        QTest::newRow("bad number matches no key") << "kb:abc"
                                                   << "kb:0";
        QTest::newRow("mouse code of the key") << "kb:1"
                                               << "ms:1";
        QTest::newRow("move (no button)") << "ms:1"
                                          << "ms:0";
        QTest::newRow("wheel-sized code") << "ms:32"
                                          << "ms:32";
        QTest::newRow("another button") << "ms:8"
                                        << "ms:16";
    }
    void inputThatIsNotTheBindingChangesNothing() {
        QFETCH(QString, binding);
        QFETCH(QString, input);
        FakeInputSource source;
        PttService service;
        service.setBoundKey(binding);
        Trace trace(service);
        press(source, input, true);
        press(source, input, false);
        QVERIFY(trace.take().isEmpty());
    }

    void listeningTurnsTheNextPressIntoTheBinding_data() {
        QTest::addColumn<QString>("pressed");
        QTest::newRow("left click") << "ms:1";
        QTest::newRow("right click") << "ms:2";
        QTest::newRow("right ctrl") << "kb:163";
        QTest::newRow("escape is a key like any other") << "kb:27";
    }
    void listeningTurnsTheNextPressIntoTheBinding() {
        QFETCH(QString, pressed);
        FakeInputSource input;
        PttService service;
        service.setBoundKey(QStringLiteral("kb:65"));
        Trace trace(service);
        service.startListening();
        input.keyDown(66, true); // injected: not captured
        press(input, pressed, true);
        QCOMPARE(trace.take(),
                 QStringList({"listening:1", "listening:0", "bound:" + pressed, "captured:" + pressed}));
        QCOMPARE(service.boundKey().text(), pressed);
        // Still held from the capture (key repeats included): not a push-to-talk press.
        press(input, pressed, true);
        press(input, pressed, false);
        QVERIFY(trace.take().isEmpty());
        press(input, pressed, true);
        QCOMPARE(trace.take(), QStringList({"active:1"}));
    }

    void changingTheBindingWhileHeldReleasesFirst_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("set") << "set" << QStringList({"active:0", "bound:kb:65"});
        QTest::newRow("same text again") << "same" << QStringList({"active:0", "bound:kb:163"});
        QTest::newRow("clear") << "clear" << QStringList({"active:0", "bound:"});
        QTest::newRow("capture") << "capture"
                                 << QStringList({"listening:1", "active:0", "listening:0", "bound:ms:2",
                                                 "captured:ms:2"});
        QTest::newRow("service destroyed") << "destroy" << QStringList({"active:0"});
    }
    void changingTheBindingWhileHeldReleasesFirst() {
        QFETCH(QString, change);
        QFETCH(QStringList, expected);
        FakeInputSource input;
        auto service = std::make_unique<PttService>();
        service->setBoundKey(QStringLiteral("kb:163"));
        Trace trace(*service);
        input.keyDown(kRightCtrl);
        QCOMPARE(trace.take(), QStringList({"active:1"}));
        if (change == QLatin1String("set")) {
            service->setBoundKey(QStringLiteral("kb:65"));
        } else if (change == QLatin1String("same")) {
            service->setBoundKey(QStringLiteral("kb:163"));
        } else if (change == QLatin1String("clear")) {
            service->clearBinding();
        } else if (change == QLatin1String("capture")) {
            service->startListening();
            input.mouseDown(2);
        } else {
            service.reset();
        }
        QCOMPARE(trace.take(), expected);
        input.keyUp(kRightCtrl);
        QVERIFY(trace.take().isEmpty());
    }

    void sdlRunsOnlyWhileListeningOrBoundToAJoystick() {
        FakeInputSource input;
        PttService service;
        const QTimer* poll = service.findChild<QTimer*>();
        QVERIFY(poll);
        const auto expect = [&](bool on) { return sdlRunning() == on && poll->isActive() == on; };
        service.setBoundKey(QStringLiteral("kb:163"));
        QVERIFY(expect(false));
        service.startListening();
        QVERIFY(expect(true));
        QCOMPARE(poll->interval(), 16);
        service.stopListening();
        QVERIFY(expect(false));
        service.setBoundKey(QStringLiteral("js:0:3"));
        QVERIFY(expect(true));
        service.setBoundKey(QStringLiteral("ms:4"));
        QVERIFY(expect(false));
        service.setBoundKey(QStringLiteral("js:1:0"));
        QVERIFY(expect(true));
        service.clearBinding();
        QVERIFY(expect(false));
    }

    void bindingTextsDecodeAndDisplay_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind"); // -1: no binding
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("joystick");
        QTest::newRow("right ctrl") << "kb:163"
                                    << "kb:163"
                                    << "Right Ctrl" << 0 << 163 << -1;
        QTest::newRow("left ctrl named apart") << "kb:162"
                                               << "kb:162"
                                               << "Left Ctrl" << 0 << 162 << -1;
        QTest::newRow("letter") << "kb:65"
                                << "kb:65"
                                << "A" << 0 << 65 << -1;
        QTest::newRow("keypad") << "kb:96"
                                << "kb:96"
                                << "Num 0" << 0 << 96 << -1;
        QTest::newRow("F24") << "kb:135"
                             << "kb:135"
                             << "F24" << 0 << 135 << -1;
        QTest::newRow("unnamed 255") << "kb:255"
                                     << "kb:255"
                                     << "键 0xff" << 0 << 255 << -1;
        QTest::newRow("unnamed 7") << "kb:7"
                                   << "kb:7"
                                   << "键 0x07" << 0 << 7 << -1;
        QTest::newRow("not a number") << "kb:abc"
                                      << "kb:abc"
                                      << "键 0x00" << 0 << 0 << -1;
        QTest::newRow("sign") << "kb:-5"
                              << "kb:-5"
                              << "键 0x00" << 0 << 0 << -1;
        QTest::newRow("past 32 bits") << "kb:4294967459"
                                      << "kb:4294967459"
                                      << "键 0x00" << 0 << 0 << -1;
        QTest::newRow("upper-case prefix clears") << "KB:163"
                                                  << ""
                                                  << "" << -1 << 0 << -1;
        QTest::newRow("empty clears") << ""
                                      << ""
                                      << "" << -1 << 0 << -1;
        QTest::newRow("other prefix clears") << "xy:1"
                                             << ""
                                             << "" << -1 << 0 << -1;
        QTest::newRow("left") << "ms:1"
                              << "ms:1"
                              << "鼠标左键" << 1 << 1 << -1;
        QTest::newRow("right") << "ms:2"
                               << "ms:2"
                               << "鼠标右键" << 1 << 2 << -1;
        QTest::newRow("middle") << "ms:4"
                                << "ms:4"
                                << "鼠标中键" << 1 << 4 << -1;
        QTest::newRow("x1") << "ms:8"
                            << "ms:8"
                            << "鼠标侧键1" << 1 << 8 << -1;
        QTest::newRow("x2") << "ms:16"
                            << "ms:16"
                            << "鼠标侧键2" << 1 << 16 << -1;
        QTest::newRow("other button") << "ms:32"
                                      << "ms:32"
                                      << "鼠标键 32" << 1 << 32 << -1;
        QTest::newRow("bad button") << "ms:x"
                                    << "ms:x"
                                    << "鼠标键 0" << 1 << 0 << -1;
        QTest::newRow("joystick") << "js:2:5"
                                  << "js:2:5"
                                  << "手柄 2 按钮 5" << 2 << 5 << 2;
        QTest::newRow("joystick without button") << "js:3"
                                                 << "js:3"
                                                 << "手柄 3 按钮 " << 2 << 0 << 3;
    }
    void bindingTextsDecodeAndDisplay() {
        QFETCH(QString, text);
        QFETCH(QString, stored);
        QFETCH(QString, name);
        QFETCH(int, kind);
        QFETCH(int, code);
        QFETCH(int, joystick);
        FakeInputSource input;
        PttService service;
        service.setBoundKey(QStringLiteral("kb:1"));
        Trace trace(service);
        service.setBoundKey(text);
        QCOMPARE(trace.take(), QStringList({"bound:" + stored}));
        QCOMPARE(service.boundKeyName(), name);
        QCOMPARE(PttService::displayName(PttService::parseBinding(text)), name);
        const PttHandler* handler = service.findChild<PttHandler*>();
        QCOMPARE(handler->hasBinding(), kind >= 0);
        if (kind >= 0) {
            QCOMPARE(handler->binding(), (PttBinding{static_cast<PttBinding::Kind>(kind), code, joystick}));
        }
    }

    void aSecondLiveHandlerIsRefused() {
        FakeInputSource input;
        MessageLog log;
        auto first = std::make_unique<PttService>();
        first->setBoundKey(QStringLiteral("kb:163"));
        auto second = std::make_unique<PttService>();
        QCOMPARE(log.count(QStringLiteral("PttHandler: another handler is live; this one stays inert")), 1);
        second->setBoundKey(QStringLiteral("js:0:1"));
        QVERIFY(!sdlRunning());
        second.reset();
        input.keyDown(kRightCtrl);
        QVERIFY(first->isActive());
        first.reset();
        PttService third;
        third.setBoundKey(QStringLiteral("ms:1"));
        input.mouseDown(1);
        QVERIFY(third.isActive());
    }

    void failedOrLostSourcesAreWarnedAndRelease() {
        FakeInputSource input;
        MessageLog log;
        input.failMouse(QStringLiteral("no pointer"));
        PttService service;
        QCOMPARE(log.count(QStringLiteral("PttHandler: mouse hook failed, error: no pointer")), 1);
        QVERIFY(input.keyboardInstalled() && !input.mouseInstalled());
        service.setBoundKey(QStringLiteral("kb:163"));
        Trace trace(service);
        input.keyDown(kRightCtrl);
        input.lose(QStringLiteral("server gone"));
        input.lose(QStringLiteral("server gone"));
        QCOMPARE(trace.take(), QStringList({"active:1", "active:0"}));
        QCOMPARE(log.count(QStringLiteral("PttHandler: keyboard and mouse hooks lost, error: server gone")),
                 1);
    }
};

QTEST_GUILESS_MAIN(TestPttService)
#include "tst_pttservice.moc"
