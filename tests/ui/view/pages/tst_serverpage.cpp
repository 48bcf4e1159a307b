// The server page loaded standalone: type-code suggestions from a small type
// database, form rules, and a connection to the FSD test server wired as the
// main window wires it.
#include "support/AircraftIcaoFixtures.h"
#include "support/QmlWarningGuard.h"
#include "support/QuickPageHost.h"
#include "support/SessionFixture.h"
#include "ui/viewmodel/ServerPageViewModel.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

using velk::test::QuickPageHost;
using Vm = velk::ui::ServerPageViewModel;

namespace {

const QUrl kPage(QStringLiteral("qrc:/src/ui/view/pages/ServerPage.qml"));

} // namespace

class TestServerPage : public QObject {
    Q_OBJECT

    velk::test::SessionHarness session;
    std::unique_ptr<velk::test::QmlWarningGuard> warnings;
    std::unique_ptr<Vm> vm;
    std::unique_ptr<QuickPageHost> host;

    bool enabled(const QString& name) const { return host->find(name)->isEnabled(); }

    // The main window's part: requests to the session manager, its events back.
    void wireSession() {
        auto* nm = session.nm.get();
        connect(vm.get(), &Vm::connectRequested, nm,
                [this, nm](QString cs, QString type, QString selcal, bool obs) {
                    const bool started = nm->connectToNetwork(cs, type, selcal, obs);
                    vm->setServerState(false,
                                       started ? QStringLiteral("连接中...") : QStringLiteral("未连接"));
                });
        connect(vm.get(), &Vm::disconnectRequested, nm, [this, nm] {
            vm->setServerState(false, QStringLiteral("断开中..."));
            nm->disconnectFromNetwork();
        });
        connect(nm, &velk::manager::NetworkManager::networkConnected, vm.get(), [this, nm](QString callsign) {
            vm->setServerState(true, QStringLiteral("已连接"));
            vm->setConnectedCallsign(callsign, nm->connectInfo().observerMode);
        });
        connect(nm, &velk::manager::NetworkManager::networkDisconnected, vm.get(),
                [this] { vm->setServerState(false, QStringLiteral("已断开")); });
    }

private slots:
    void initTestCase() {
        QVERIFY(velk::test::writeSmallTypeDatabase());
        velk::test::SessionHarness::configure(false);
        QVERIFY(session.startServer());
    }

    void init() {
        warnings = std::make_unique<velk::test::QmlWarningGuard>();
        vm = std::make_unique<Vm>();
        host = std::make_unique<QuickPageHost>(kPage,
                                               QList<QPair<QString, QObject*>>{{"serverBackend", vm.get()}});
        QVERIFY(host->ready());
    }

    void cleanup() {
        host.reset();
        vm.reset();
        session.destroy();
        const QStringList seen = warnings->warnings();
        warnings.reset();
        QCOMPARE(seen, QStringList());
    }

    void withoutABackEndFieldsAreEmptyAndInert() {
        QuickPageHost bare(kPage, {});
        QVERIFY(bare.ready());
        QCOMPARE(bare.text("callsignField"), QString());
        QVERIFY(!bare.find("callsignField")->isEnabled() && !bare.find("connectButton")->isEnabled());
        bare.click(bare.find("clearLogButton"));
    }

    void typingATypeListsDesignatorsAndAClickAppliesOne() {
        QCOMPARE(host->find("realName")->property("value").toString(), QStringLiteral("--"));
        QCOMPARE(host->find("selcalField")->width(), 160.0);
        host->type(host->find("typeCodeField"), QStringLiteral("a32"));
        QTRY_COMPARE(host->findAll("suggestionRow").size(), 2);
        QCOMPARE(host->text("suggestionTitle"), QStringLiteral("A320"));
        QCOMPARE(host->text("suggestionDetail"), QStringLiteral("AIRBUS · A-320 · WTC M"));
        QCOMPARE(host->text("typeCodeField"), QStringLiteral("A32"));

        host->click(host->findAll("suggestionRow").at(1));
        QCOMPARE(vm->typeCode(), QStringLiteral("A321"));
        QTRY_VERIFY(!host->find("suggestionRow"));
        QCOMPARE(host->text("typeCodeField"), QStringLiteral("A321"));
    }

    void formErrorsGateTheConnectButton() {
        host->type(host->find("callsignField"), QStringLiteral("ces 2352"));
        QTRY_COMPARE(host->text("formErrorText"), vm->formErrorText());
        QVERIFY(host->text("formErrorText").startsWith(QStringLiteral("呼号只能包含")));
        QVERIFY(!enabled("connectButton"));

        host->type(host->find("callsignField"), QStringLiteral("ces2352"));
        QTRY_COMPARE(host->text("callsignField"), QStringLiteral("CES2352"));
        QCOMPARE(host->text("formErrorText"), QStringLiteral("飞行员模式需要填写机型代码。"));
        host->click(host->find("observerCheckBox"));
        QVERIFY(vm->observerMode());
        QTRY_VERIFY(!enabled("typeCodeField"));
        QVERIFY(!host->find("formErrorText"));
        QVERIFY(enabled("connectButton"));
        QCOMPARE(host->find("typeCodeField")->property("placeholderText").toString(),
                 QStringLiteral("观察员模式不可输入"));

        vm->appendLog(QStringLiteral("<img src=\"http://127.0.0.1:9/x.png\">"));
        QVERIFY(host->text("serverLog").contains(QStringLiteral("<img src=")));
        int checked = 0;
        QCOMPARE(host->textsNotPlain(&checked), QStringList());
        QVERIFY(checked > 10);
    }

    // The page made afresh over a log that holds lines already, as a switch of
    // section does, then more lines while it is shown: the log wraps at the
    // view's width and scrolls, following its end unless the pilot scrolled
    // up, without a binding loop (cleanup fails on any QML warning).
    void theLogWrapsAndScrollsAsItGrows() {
        const QString line = QStringLiteral("正在连接服务器 fsd.velk.net:6809，等待服务器确认。").repeated(4);
        int lines = 0;
        const auto add = [&] { vm->appendLog(QStringLiteral("%1 ").arg(++lines) + line); };
        while (lines < 80) {
            add();
        }
        // The page shown meanwhile followed the end as the log outgrew it.
        const QQuickItem* shownView = host->find("serverLog")->parentItem()->parentItem();
        QTRY_COMPARE(shownView->property("contentY").toReal() + shownView->height(),
                     shownView->property("contentHeight").toReal());
        host.reset();
        while (lines < Vm::MaxLogLines - 30) {
            add();
        }
        host = std::make_unique<QuickPageHost>(
            kPage, QList<QPair<QString, QObject*>>{{"serverBackend", vm.get()}}, QSize(900, 700));
        QVERIFY(host->ready());
        QQuickItem* log = host->find("serverLog");
        const qreal width = log->width();
        while (lines < Vm::MaxLogLines) {
            add();
        }
        QTRY_VERIFY(log->height() > host->view.height());
        QCOMPARE(log->width(), width);
        QVERIFY(log->implicitWidth() <= width);

        QQuickItem* flick = log->parentItem()->parentItem(); // the scroll view's
        const auto top = [flick] { return flick->property("contentY").toReal(); };
        const auto bottom = [flick] { return flick->property("contentHeight").toReal() - flick->height(); };
        // The line in the middle of the view, and how far into it the view's middle is.
        const auto middle = [&] {
            int at = 0;
            QMetaObject::invokeMethod(log, "positionAt", Q_RETURN_ARG(int, at), Q_ARG(qreal, 0),
                                      Q_ARG(qreal, top() + flick->height() / 2));
            const QString text = log->property("text").toString();
            const QString before = text.left(at).section('\n', -1);
            return (before + text.mid(at).section('\n', 0, 0)).section(' ', 1, 1) + '@' +
                   QString::number(before.size());
        };
        QTRY_COMPARE(top(), bottom());
        flick->setProperty("contentY", bottom() / 2);
        const QString shown = middle();
        QVERIFY(shown.section('@', 0, 0).toInt() > 0);
        QSignalSpy frames(&host->view, &QQuickWindow::frameSwapped);
        add(); // the oldest line leaves
        QVERIFY(frames.wait());
        QCOMPARE(middle(), shown);
        flick->setProperty("contentY", bottom());
        add();
        QTRY_COMPARE(top(), bottom());
    }

    void connectReachesTheServerAndLocksTheFormUntilDisconnected() {
        session.create();
        session.bindValidSimulator();
        wireSession();
        host->type(host->find("callsignField"), QStringLiteral("ces2352"));
        host->type(host->find("typeCodeField"), QStringLiteral("a320"));
        host->click(host->find("connectButton"));

        QCOMPARE(vm->serverStatusText(), QStringLiteral("连接中..."));
        QTRY_COMPARE(host->text("connectButton"), QStringLiteral("中断连接"));
        QVERIFY(!enabled("callsignField") && !enabled("observerCheckBox"));
        QVERIFY(session.server.waitForClient());
        QVERIFY(session.server.waitForLineStartingWith(QStringLiteral("#APCES2352:SERVER:")));
        QVERIFY(session.server.waitForLineStartingWith(QStringLiteral("#ST")));
        session.server.sendLine(QStringLiteral("$CRSERVER:CES2352:IP:10.0.0.1"));
        QTRY_COMPARE(vm->serverStatusText(), QStringLiteral("已连接"));
        QTRY_COMPARE(host->text("connectButton"), QStringLiteral("断开服务器"));
        QVERIFY(!vm->connectedAsObserver());
        QVERIFY(!enabled("typeCodeField"));

        host->click(host->find("connectButton"));
        QVERIFY(session.server.waitForLineStartingWith(QStringLiteral("#DPCES2352")));
        QTRY_COMPARE(vm->serverStatusText(), QStringLiteral("已断开"));
        QTRY_VERIFY(enabled("callsignField"));
        QCOMPARE(host->text("connectButton"), QStringLiteral("连接服务器"));
    }
};

QTEST_MAIN(TestServerPage)
#include "tst_serverpage.moc"
