#include "input/PttHandler.h"
#include "input/PttService.h"
#include "support/DataRows.h"
#include "support/FakeInputSource.h"
#include "support/MessageLog.h"

#include <QTest>
#include <QTimer>

#include <SDL.h>

#include <memory>

using namespace velk::input;
using velk::test::FakeInputSource;
using velk::test::MessageLog;
using velk::test::row;

namespace {

// Every signal of a service, in the order they came.
struct Trace {
    QObject context;
    QStringList events;
    explicit Trace(PttService& s) {
        const auto add = [this](const QString& e) { events << e; };
        QObject::connect(&s, &PttService::activeChanged, &context,
                         [add](bool on) { add("active:" + QString::number(on)); });
        QObject::connect(&s, &PttService::listeningChanged, &context,
                         [add](bool on) { add("listening:" + QString::number(on)); });
        QObject::connect(&s, &PttService::boundKeyChanged, &context,
                         [add](const PttKey& k) { add("bound:" + k.text()); });
        QObject::connect(&s, &PttService::keyCaptured, &context,
                         [add](const PttKey& k) { add("captured:" + k.text()); });
    }
    QStringList take() { return std::exchange(events, {}); }
};

// Presses or releases the input a binding text names ("kb:<vk>" or "ms:<code>").
void press(FakeInputSource& input, const QString& binding, bool down, bool injected = false) {
    const int code = binding.mid(3).toInt();
    binding.startsWith(QLatin1String("kb:")) ? input.key(code, down, injected)
                                             : input.mouse(code, down, injected);
}

bool sdlRunning() {
    return SDL_WasInit(SDL_INIT_JOYSTICK | SDL_INIT_EVENTS) != 0;
}

} // namespace

class TestPttService : public QObject {
    Q_OBJECT

private slots:
    // A script of steps: "+kb:163" presses, "-kb:163" releases ("*" before it:
    // injected), "listen", "set:<text>", "clear", "lose" (the source ends), "destroy".
    void inputScriptsGiveTheseSignals_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("expected");
        row("held key repeats once", "+kb:163 +kb:163 +kb:163 -kb:163 -kb:163", "active:1 active:0");
        row("injected key-down ignored", "*+kb:163 *+kb:163", "");
        row("injected key-up releases", "+kb:163 *-kb:163", "active:1 active:0");
        row("injected clicks count", "set:ms:16 *+ms:16 +ms:16 *-ms:16", "bound:ms:16 active:1 active:0");
        row("left mouse", "set:ms:1 +ms:1 -ms:1", "bound:ms:1 active:1 active:0");
        row("another key", "+kb:162 -kb:162", "");
        row("bad number matches no key", "set:kb:abc +kb:0 -kb:0", "bound:kb:abc");
        row("mouse code of the key", "set:kb:1 +ms:1 -ms:1", "bound:kb:1");
        row("move and wheel-sized codes", "set:ms:32 +ms:0 -ms:0 +ms:32 -ms:32", "bound:ms:32");
        row("another button", "set:ms:8 +ms:16 -ms:16", "bound:ms:8");
        row("left click captured, not keying while held", "listen *+kb:66 +ms:1 +ms:1 -ms:1 +ms:1",
            "listening:1 listening:0 bound:ms:1 captured:ms:1 active:1");
        row("key captured, its repeats ignored", "listen +kb:27 +kb:27 -kb:27 +kb:27",
            "listening:1 listening:0 bound:kb:27 captured:kb:27 active:1");
        row("set while held", "+kb:163 set:kb:65 -kb:163", "active:1 active:0 bound:kb:65");
        row("same text while held", "+kb:163 set:kb:163 -kb:163", "active:1 active:0 bound:kb:163");
        row("clear while held", "+kb:163 clear -kb:163", "active:1 active:0 bound:");
        row("capture while held", "+kb:163 listen +ms:2 -kb:163",
            "active:1 listening:1 active:0 listening:0 bound:ms:2 captured:ms:2");
        row("source lost while held", "+kb:163 lose lose", "active:1 active:0");
        row("service destroyed while held", "+kb:163 destroy", "active:1 active:0");
    }
    void inputScriptsGiveTheseSignals() {
        QFETCH(QString, script);
        QFETCH(QString, expected);
        FakeInputSource input;
        auto service = std::make_unique<PttService>();
        service->setBoundKey(QStringLiteral("kb:163"));
        Trace trace(*service);
        for (QString step : script.split(u' ')) {
            const bool injected = step.startsWith(u'*');
            step.remove(0, injected ? 1 : 0);
            if (step.startsWith(u'+') || step.startsWith(u'-')) {
                press(input, step.mid(1), step.startsWith(u'+'), injected);
            } else if (step.startsWith(QLatin1String("set:"))) {
                service->setBoundKey(step.mid(4));
            } else if (step == QLatin1String("listen")) {
                service->startListening();
            } else if (step == QLatin1String("clear")) {
                service->clearBinding();
            } else if (step == QLatin1String("lose")) {
                input.lose(QStringLiteral("gone"));
            } else {
                service.reset();
            }
        }
        QCOMPARE(trace.take().join(u' '), expected);
    }

    void sdlRunsOnlyWhileListeningOrBoundToAJoystick() {
        FakeInputSource input;
        PttService service;
        const QTimer* poll = service.findChild<QTimer*>();
        const auto expect = [&](bool on) { return sdlRunning() == on && poll->isActive() == on; };
        service.setBoundKey(QStringLiteral("kb:163"));
        QVERIFY(expect(false));
        service.startListening();
        QVERIFY(expect(true) && poll->interval() == 16);
        service.stopListening();
        QVERIFY(expect(false));
        service.setBoundKey(QStringLiteral("js:0:3"));
        QVERIFY(expect(true));
        service.setBoundKey(QStringLiteral("ms:4"));
        QVERIFY(expect(false));
        service.setBoundKey(QStringLiteral("js:1:0"));
        service.clearBinding();
        QVERIFY(expect(false));
    }

    void bindingTextsDecodeAndDisplay_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected"); // "<stored text>|<name>|<kind code joystick>"
        row("right ctrl", "kb:163", "kb:163|Right Ctrl|0 163 -1");
        row("left ctrl named apart", "kb:162", "kb:162|Left Ctrl|0 162 -1");
        row("unnamed 255", "kb:255", "kb:255|键 0xff|0 255 -1");
        row("unnamed 7", "kb:7", "kb:7|键 0x07|0 7 -1");
        row("not a number", "kb:abc", "kb:abc|键 0x00|0 0 -1");
        row("past 32 bits", "kb:4294967459", "kb:4294967459|键 0x00|0 0 -1");
        row("upper-case prefix clears", "KB:163", "||none");
        row("empty clears", "", "||none");
        row("other prefix clears", "xy:1", "||none");
        row("left", "ms:1", "ms:1|鼠标左键|1 1 -1");
        row("right", "ms:2", "ms:2|鼠标右键|1 2 -1");
        row("middle", "ms:4", "ms:4|鼠标中键|1 4 -1");
        row("x1", "ms:8", "ms:8|鼠标侧键1|1 8 -1");
        row("x2", "ms:16", "ms:16|鼠标侧键2|1 16 -1");
        row("other button", "ms:32", "ms:32|鼠标键 32|1 32 -1");
        row("bad button", "ms:x", "ms:x|鼠标键 0|1 0 -1");
        row("joystick", "js:2:5", "js:2:5|手柄 2 按钮 5|2 5 2");
        row("joystick without button", "js:3", "js:3|手柄 3 按钮 |2 0 3");
    }
    void bindingTextsDecodeAndDisplay() {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        FakeInputSource input;
        PttService service;
        service.setBoundKey(QStringLiteral("kb:1"));
        Trace trace(service);
        service.setBoundKey(text);
        const PttHandler* handler = service.findChild<PttHandler*>();
        const PttBinding& b = handler->binding();
        const QString decoded =
            handler->hasBinding()
                ? QStringLiteral("%1 %2 %3").arg(static_cast<int>(b.kind)).arg(b.code).arg(b.joystickId)
                : QStringLiteral("none");
        QCOMPARE(QStringList({service.boundKey().text(), service.boundKeyName(), decoded}).join(u'|'),
                 expected);
        QCOMPARE(trace.take(), QStringList({"bound:" + service.boundKey().text()}));
        QCOMPARE(PttService::displayName(PttService::parseBinding(text)), service.boundKeyName());
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
        input.key(163, true);
        QVERIFY(first->isActive());
        first.reset();
        PttService third;
        third.setBoundKey(QStringLiteral("ms:1"));
        input.mouse(1, true);
        QVERIFY(third.isActive());
    }

    void failedAndLostSourcesAreWarnedOnce() {
        FakeInputSource input;
        MessageLog log;
        input.mouseFailure = QStringLiteral("no pointer");
        PttService service;
        QCOMPARE(log.count(QStringLiteral("PttHandler: mouse hook failed, error: no pointer")), 1);
        QVERIFY(input.keyboardInstalled() && !input.mouseInstalled());
        input.lose(QStringLiteral("server gone"));
        input.lose(QStringLiteral("server gone"));
        QCOMPARE(log.count(QStringLiteral("PttHandler: keyboard and mouse hooks lost, error: server gone")),
                 1);
    }
};

QTEST_GUILESS_MAIN(TestPttService)
#include "tst_pttservice.moc"
