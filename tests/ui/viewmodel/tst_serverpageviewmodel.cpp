// The server page view model: form rules, mode texts, connection state,
// type-code suggestions from a small type database, log and recent events.
#include "support/AircraftIcaoFixtures.h"
#include "support/TestSupport.h"
#include "ui/viewmodel/ServerPageViewModel.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using Vm = velk::ui::ServerPageViewModel;

namespace {

const QString kCallsignRule =
    QStringLiteral("呼号只能包含 A-Z、0-9 和下划线，长度 2-12 位，不能包含空格或中文。");

} // namespace

class TestServerPageViewModel : public QObject {
    Q_OBJECT

    std::unique_ptr<Vm> vm;

private slots:
    void initTestCase() { QVERIFY(velk::test::writeSmallTypeDatabase()); }

    void init() { vm = std::make_unique<Vm>(); }
    void cleanup() { vm.reset(); }

    void freshInstanceAsksForACallsign() {
        QCOMPARE(vm->formErrorText(), QStringLiteral("请先填写呼号。"));
        QVERIFY(!vm->canConnect());
        QVERIFY(vm->typeCodeRequired());
        QCOMPARE(vm->modeHintText(), QStringLiteral("请先选择模拟器平台。"));
        QCOMPARE(vm->protocolLabel(), QStringLiteral("经典协议"));
        vm->setEndpoint(QStringLiteral("fsd.example.net"), 6809);
        vm->setProtocol(true);
        QCOMPARE(vm->endpoint() + u' ' + vm->protocolLabel(),
                 QStringLiteral("fsd.example.net:6809 VATSIM 协议"));
    }

    void formRules_data() {
        QTest::addColumn<QString>("callsign");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("observer");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("error");
        QTest::newRow("complete, blanks trimmed") << " ces2352 "
                                                  << "a320" << false << "未连接"
                                                  << "";
        QTest::newRow("one letter") << "C"
                                    << "A320" << false << "未连接" << kCallsignRule;
        QTest::newRow("thirteen characters") << "CES2352ABCDEF"
                                             << "A320" << false << "未连接" << kCallsignRule;
        QTest::newRow("inner blank") << "ces 2352"
                                     << "A320" << false << "未连接" << kCallsignRule;
        QTest::newRow("Chinese") << "东航2352"
                                 << "A320" << false << "未连接" << kCallsignRule;
        QTest::newRow("underscore") << "CES_2352"
                                    << "A320" << false << "未连接"
                                    << "";
        QTest::newRow("pilot without type") << "CES2352"
                                            << "" << false << "未连接"
                                            << "飞行员模式需要填写机型代码。";
        QTest::newRow("observer without type") << "CES2352"
                                               << "" << true << "未连接"
                                               << "";
        QTest::newRow("connecting") << "CES2352"
                                    << "A320" << false << "连接中..."
                                    << "正在连接服务器，请等待当前连接完成。";
        QTest::newRow("disconnecting") << ""
                                       << "" << false << "断开中..."
                                       << "正在断开服务器，请稍后再连接。";
    }

    void formRules() {
        QFETCH(QString, callsign);
        QFETCH(QString, type);
        QFETCH(bool, observer);
        QFETCH(QString, status);
        QFETCH(QString, error);
        vm->setCallsign(callsign);
        vm->setTypeCode(type);
        vm->setObserverMode(observer);
        vm->setServerState(false, status);
        QCOMPARE(vm->formErrorText(), error);
        QCOMPARE(vm->canConnect(), error.isEmpty());
        QCOMPARE(vm->callsign(), callsign.trimmed().toUpper());
    }

    void writesAreNormalisedAndAnnouncedOnlyOnChange() {
        QSignalSpy form(vm.get(), &Vm::formChanged);
        vm->setCallsign(QStringLiteral(" ces2352 "));
        vm->setCallsign(QStringLiteral("CES2352"));
        vm->setSelcal(QStringLiteral("ab-cd "));
        vm->setCoordinatedVoice(true);
        QCOMPARE(form.size(), 3);
        QCOMPARE(vm->selcal(), QStringLiteral("AB-CD"));
    }

    void modeTexts_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("observer");
        QTest::addColumn<QStringList>("texts"); // platform, action, hint
        QTest::newRow("msfs observer") << " msfs " << true
                                       << QStringList{"Microsoft Flight Simulator", "以观察员连接 MSFS",
                                                      "观察员模式会自动规范呼号，并跳过机型代码要求。"};
        QTest::newRow("x-plane pilot") << "XPLANE" << false
                                       << QStringList{"X-Plane", "连接 X-Plane 网络",
                                                      "连接前建议先确认插件版本、CSL 配置和无线电状态。"};
        QTest::newRow("none") << "NONE" << true
                              << QStringList{"未选择平台", "连接网络", "请先选择模拟器平台。"};
    }

    void modeTexts() {
        QFETCH(QString, mode);
        QFETCH(bool, observer);
        vm->setCurrentMode(mode);
        vm->setObserverMode(observer);
        QTEST(QStringList({vm->platformLabel(), vm->connectActionLabel(), vm->modeHintText()}), "texts");
        QCOMPARE(vm->typeCodeRequired(), !observer);
        QCOMPARE(vm->currentMode(), mode.trimmed().toUpper());
    }

    void formIsLockedWhileConnectingAndConnected() {
        vm->setCallsign(QStringLiteral("CES2352"));
        vm->setServerState(false, QStringLiteral("连接中..."));
        QVERIFY(vm->formLocked());
        vm->setCallsign(QStringLiteral("OTHER"));
        vm->setObserverMode(true);
        vm->applyTypeCodeSuggestion(QStringLiteral("B738"));
        QCOMPARE(vm->callsign(), QStringLiteral("CES2352"));
        QVERIFY(!vm->observerMode());
        QVERIFY(vm->typeCode().isEmpty());

        // The session's own flag wins over the form's.
        QSignalSpy state(vm.get(), &Vm::serverStateChanged);
        vm->setServerState(true, QStringLiteral("已连接"));
        vm->setConnectedCallsign(QStringLiteral(" ces2352a "), true);
        QVERIFY(vm->formLocked());
        QCOMPARE(vm->callsign(), QStringLiteral("CES2352A"));
        QVERIFY(vm->observerMode() && vm->connectedAsObserver());
        QCOMPARE(vm->connectActionLabel(), QStringLiteral("连接网络"));
        QCOMPARE(state.size(), 2);

        QSignalSpy form(vm.get(), &Vm::formChanged);
        vm->setServerState(false, QStringLiteral("已断开"));
        QVERIFY(!vm->connectedAsObserver() && !vm->formLocked());
        QCOMPARE(state.size(), 3);
        QCOMPARE(form.size(), 1);
        vm->setCallsign(QStringLiteral("OTHER"));
        QCOMPARE(vm->callsign(), QStringLiteral("OTHER"));
    }

    void typeCodeSuggestionsComeFromTheDatabase() {
        QSignalSpy suggestions(vm.get(), &Vm::typeCodeSuggestionsChanged);
        vm->setTypeCode(QStringLiteral("a32"));
        const QVariantList expected = {
            QVariantMap{{"designator", "A320"}, {"title", "A320"}, {"detail", "AIRBUS · A-320 · WTC M"}},
            QVariantMap{{"designator", "A321"}, {"title", "A321"}, {"detail", "AIRBUS"}}};
        QCOMPARE(vm->typeCodeSuggestions(), expected);
        vm->refreshTypeCodeSuggestions(QStringLiteral(" A32 "));
        QCOMPARE(suggestions.size(), 1);

        vm->applyTypeCodeSuggestion(QStringLiteral(" a321 "));
        QCOMPARE(vm->typeCode(), QStringLiteral("A321"));
        QVERIFY(vm->typeCodeSuggestions().isEmpty());

        vm->setTypeCode(QStringLiteral("b7"));
        QCOMPARE(vm->typeCodeSuggestions().size(), 1);
        vm->setObserverMode(true);
        QVERIFY(vm->typeCodeSuggestions().isEmpty());
        vm->refreshTypeCodeSuggestions(QStringLiteral("B7"));
        QVERIFY(vm->typeCodeSuggestions().isEmpty());
    }

    void logKeepsTheNewestLines() {
        QSignalSpy log(vm.get(), &Vm::logChanged);
        for (int i = 1; i <= Vm::MaxLogLines + 1; ++i) {
            vm->appendLog(QStringLiteral("line %1").arg(i));
        }
        QCOMPARE(log.size(), Vm::MaxLogLines + 1);
        const QStringList lines = vm->serverLog().split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), Vm::MaxLogLines);
        QVERIFY(QRegularExpression(QStringLiteral(R"(^\[\d\d:\d\d:\d\d\] line 2$)"))
                    .match(lines.first())
                    .hasMatch());
        QVERIFY(lines.last().endsWith(QStringLiteral("] line 501")));
        // A server's text with line breaks stays one entry: no line without a
        // time; its control characters are shown, not obeyed.
        vm->appendLog(QStringLiteral("语音已断开：busy\n[00:00:00] FSD 已断开\u2028\x1b[0m"));
        QVERIFY(vm->serverLog().endsWith(
            QStringLiteral(R"(] 语音已断开：busy [00:00:00] FSD 已断开 \x1B[0m)") + QLatin1Char('\n')));
        // A server's bad line of 64 KB is shown cut with a mark: the view lays
        // every line out again on each change, and a long unbroken run costs
        // it seconds. A pair of surrogates is never split.
        vm->appendLog(QStringLiteral("Invalid PDU type. (Raw packet: #TM") + QString(65000, u'x'));
        vm->appendLog(QStringLiteral("x") + QStringLiteral("🛫").repeated(40000));
        const QStringList cut = vm->serverLog().split(u'\n', Qt::SkipEmptyParts).mid(Vm::MaxLogLines - 2);
        QVERIFY(cut.at(0).contains(QStringLiteral("(Raw packet: #TMxxx")));
        QVERIFY(cut.at(0).endsWith(QString(400, u'x') + QStringLiteral("…")));
        QVERIFY(cut.at(0).size() < 600);
        QVERIFY(cut.at(1).endsWith(QStringLiteral("🛫…")));
        QVERIFY(cut.at(1).size() < 600);
    }

    void recentEventsKeepEightAndClearingLeavesOneNotice() {
        QSignalSpy events(vm.get(), &Vm::recentEventsChanged);
        vm->clearServerLog();
        QCOMPARE(events.size(), 0);
        for (int i = 1; i <= 9; ++i) {
            vm->addRecentEvent(QStringLiteral("E%1").arg(i), QStringLiteral("d"), QStringLiteral("网络"));
        }
        QCOMPARE(vm->recentEvents().size(), 8);
        QCOMPARE(vm->recentEvents().first().toMap().value("title"), QVariant("E9"));
        QCOMPARE(vm->recentEvents().last().toMap().value("title"), QVariant("E2"));
        vm->appendLog(QStringLiteral("x"));
        vm->clearServerLog();
        QVERIFY(vm->serverLog().isEmpty());
        QCOMPARE(vm->recentEvents().size(), 1);
        const QVariantMap notice = vm->recentEvents().first().toMap();
        QCOMPARE(notice.value("title"), QVariant("日志已清空"));
        QCOMPARE(notice.value("tag"), QVariant("系统"));
    }
};

QTEST_GUILESS_MAIN(TestServerPageViewModel)
#include "tst_serverpageviewmodel.moc"
