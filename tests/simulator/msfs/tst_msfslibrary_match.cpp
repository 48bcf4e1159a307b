#include "support/AircraftIcaoFixtures.h"
#include "tst_msfslibrary_fixture.h"

#include <QTest>

#include <utility>

using namespace velk;
using namespace velk::simulator::msfs;
using test::writeText;

namespace {

MsfsAircraftLibrary* library() {
    return MsfsAircraftLibrary::instance();
}

bool writeCfg(const QString& pkg, const QString& folder, const QByteArray& text) {
    return writeText(pkg + QLatin1Char('/') + folder + QStringLiteral("/SimObjects/Airplanes/X/aircraft.cfg"),
                     text);
}

} // namespace

class TestMsfsLibraryMatch : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qunsetenv("APPDATA");
        qunsetenv("LOCALAPPDATA");
        test::isolateUserDataFolder();
        QFile::remove(test::icaoDatabasePath(test::appDir())); // left by an earlier run
        QVERIFY(test::writeIcaoDatabase(test::icaoDatabasePath(test::appDir()),
                                        {test::icaoRecord(1, "A20N", "AIRBUS", "A-320neo"),
                                         test::icaoRecord(2, "A320", "AIRBUS", "A-320"),
                                         test::icaoRecord(3, "B738", "BOEING", "737-800"),
                                         test::icaoRecord(4, "C172", "CESSNA", "172 Skyhawk")}));

        const QString root = test::freshDir(QStringLiteral("match"));
        const QString p24 = root + QStringLiteral("/P24");
        const QString p20 = root + QStringLiteral("/P20");
        QVERIFY(
            writeCfg(p24, "Community/flybywire-aircraft-a320-neo",
                     "[GENERAL]\nicao_type_designator = A20N\n"
                     "[FLTSIM.0]\ntitle = A32NX Lufthansa\nui_variation = Lufthansa\natc_airline = DLH\n"));
        QVERIFY(writeCfg(p24, "Community/pmdg-aircraft-738",
                         "[FLTSIM.0]\ntitle = PMDG 737-800 RYR\nui_manufacturer = Boeing\nui_type = 737-800\n"
                         "atc_airline = RYR\n"));
        QVERIFY(writeCfg(p24, "Official/OneStore/asobo-aircraft-a320-neo",
                         "[GENERAL]\nicao_type_designator = A20N\n"
                         "[FLTSIM.0]\ntitle = Airbus A320 Neo Asobo\nui_variation = Asobo\n"));
        QVERIFY(
            writeCfg(p24, "Official/OneStore/asobo-aircraft-c172",
                     "[GENERAL]\nicao_type_designator = C-172\n"
                     "[FLTSIM.0]\ntitle = Cessna Skyhawk White\n[FLTSIM.1]\ntitle = Cessna Skyhawk Blue\n"));
        QVERIFY(writeCfg(p20, "Community/a320-2020",
                         "[GENERAL]\nicao_type_designator = A20N\n"
                         "[FLTSIM.0]\ntitle = Airbus A320 2020\nisuserselectable = 0\n"));
        test::setInstall(MsfsRuntimeProfile::Msfs2024, p24);
        test::setInstall(MsfsRuntimeProfile::Msfs2020, p20);
        QVERIFY(test::rescan());
        QCOMPARE(library()->profileCount(MsfsRuntimeProfile::Msfs2024), 5);
    }

    void bestModelIsScoredByTypeOperatorAirlineAndLivery_data() {
        QTest::addColumn<MsfsRuntimeProfile>("simulator");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("airline");
        QTest::addColumn<QString>("livery");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("score");
        QTest::addColumn<QString>("flags"); // exact, airline, livery, via record, fallback

        const auto s24 = MsfsRuntimeProfile::Msfs2024;
        // Official +25; a family package -350 unless the airline or livery names one.
        QTest::newRow("family model penalised") << s24 << " a20n "
                                                << "dlh"
                                                << ""
                                                << "Airbus A320 Neo Asobo" << 2105 << "E----";
        QTest::newRow("penalty dropped by a family airline") << s24 << "A20N"
                                                             << "FBW"
                                                             << "Lufthansa"
                                                             << "A32NX Lufthansa" << 2180 << "E-L--";
        QTest::newRow("livery alone cannot beat the penalty") << s24 << "A20N"
                                                              << "DLH"
                                                              << "Lufthansa"
                                                              << "Airbus A320 Neo Asobo" << 2105 << "E----";
        QTest::newRow("type found through the type records") << s24 << "B738"
                                                             << "RYR RYR"
                                                             << ""
                                                             << "PMDG 737-800 RYR" << 1320 << "-A-R-";
        QTest::newRow("hyphenated designator is exact; equal scores keep the first")
            << s24 << "C172"
            << ""
            << ""
            << "Cessna Skyhawk White" << 2105 << "E----";
        QTest::newRow("livery decides") << s24 << "C172"
                                        << ""
                                        << "blue"
                                        << "Cessna Skyhawk Blue" << 2205 << "E-L--";
        QTest::newRow("empty type passes every model") << s24 << ""
                                                       << ""
                                                       << "Blue"
                                                       << "Cessna Skyhawk Blue" << 1705 << "--L--";
        QTest::newRow("no simulator: 2020 first, no simulator bonus")
            << MsfsRuntimeProfile::Unknown << "A20N"
            << ""
            << ""
            << "Airbus A320 2020" << 2070 << "E----";
        QTest::newRow("2020 model for 2020") << MsfsRuntimeProfile::Msfs2020 << "A20N"
                                             << ""
                                             << ""
                                             << "Airbus A320 2020" << 2150 << "E----";
        QTest::newRow("no model of the type") << s24 << "zzzz"
                                              << ""
                                              << ""
                                              << "" << INT32_MIN << "----F";
        QTest::newRow("single letter matches by key only") << s24 << "C172"
                                                           << ""
                                                           << "w"
                                                           << "Cessna Skyhawk White" << 2205 << "E-L--";
    }

    void bestModelIsScoredByTypeOperatorAirlineAndLivery() {
        QFETCH(MsfsRuntimeProfile, simulator);
        QFETCH(QString, type);
        QFETCH(QString, airline);
        QFETCH(QString, livery);
        QFETCH(QString, title);
        QFETCH(int, score);
        QFETCH(QString, flags);
        const MsfsModelMatch m = library()->match(simulator, type, airline, livery);
        QCOMPARE(m.profile.title, title);
        QCOMPARE(m.score, score);
        const QString got =
            QStringLiteral("%1%2%3%4%5")
                .arg(m.exactType ? "E" : "-", m.airlineMatched ? "A" : "-", m.liveryMatched ? "L" : "-",
                     m.matchedViaRecord ? "R" : "-", m.fallback ? "F" : "-");
        QCOMPARE(got, flags);
        QCOMPARE(m.requestedType, type.trimmed().toUpper());
        QCOMPARE(m.simulator, title.isEmpty() ? simulator : m.profile.simulator);
    }

    void sameRequestInAnyCaseIsOneCacheEntry() {
        const MsfsModelMatch first = library()->match(MsfsRuntimeProfile::Msfs2024, QStringLiteral(" a20n"),
                                                      QStringLiteral("dlh "), {});
        const MsfsModelMatch second =
            library()->match(MsfsRuntimeProfile::Msfs2024, QStringLiteral("A20N"), QStringLiteral("DLH"), {});
        QCOMPARE(first.profile, second.profile);
        QCOMPARE(second.requestedAirline, QStringLiteral("DLH"));
        QCOMPARE(second.normalizedType, QStringLiteral("A20N"));
    }

    void textKeysAndTokens() {
        QCOMPARE(MsfsAircraftLibrary::alnumKey(QStringLiteral(" a-320 neo ")), QStringLiteral("A320NEO"));
        QCOMPARE(MsfsAircraftLibrary::tokens(QStringLiteral("fbw-a32nx fbw")),
                 QStringList({"FBW", "A32NX", "FBWA32NXFBW"}));
        QCOMPARE(MsfsAircraftLibrary::tokens(QStringLiteral("A320")), QStringList({"A320"}));
        QVERIFY(MsfsAircraftLibrary::tokens(QStringLiteral("  ")).isEmpty());
        QVERIFY(
            MsfsAircraftLibrary::tokenMatch(QStringLiteral("dlh x"), {QStringLiteral("Lufthansa (DLH)")}));
        QVERIFY(!MsfsAircraftLibrary::tokenMatch(QStringLiteral("x y"), {QStringLiteral("X Z")}));
        QVERIFY(
            MsfsAircraftLibrary::tokenMatch(QStringLiteral("strasse x"), {QStringLiteral("Stra\u00DFe")}));
        QVERIFY(!MsfsAircraftLibrary::tokenMatch(QStringLiteral(" "), {QStringLiteral(" ")}));
    }

    // A second installation's keys join the first's table.
    void keyTablesJoin() {
        MsfsKeyTable first;
        MsfsKeyTable second;
        MsfsAircraftProfile a;
        a.title = QStringLiteral("Alpha One");
        MsfsAircraftProfile b;
        b.title = QStringLiteral("Bravo Two");
        b.icaoType = QStringLiteral("b738");
        MsfsAircraftLibrary::addProfileKeys(first, a);
        MsfsAircraftLibrary::addProfileKeys(second, b);
        first.append(second);
        const MsfsProfileKeys& keys = first.at(1);
        QCOMPARE(first.key(keys.title), QStringLiteral("BRAVOTWO"));
        QCOMPARE(first.key(keys.icaoType), QStringLiteral("B738"));
        QVERIFY(first.hasToken(keys.title, u"TWO"));
        QVERIFY(!first.hasToken(keys.title, u"ONE"));
    }

    void operatorFamilyScoreRange() {
        MsfsAircraftProfile p;
        p.packageName = QStringLiteral("ini-a340");
        p.isUserSelectable = false;
        p.isAirTraffic = true;
        QCOMPARE(MsfsAircraftLibrary::operatorFamilyScore(p, false), 235); // "INI" alone is no family
        p.packageName = QStringLiteral("pmdg-737");
        p.isCommunity = true;
        QCOMPARE(MsfsAircraftLibrary::operatorFamilyScore(p, false), -140);
        QCOMPARE(MsfsAircraftLibrary::operatorFamilyScore(p, true), 210);
    }

    void announcedModelAcceptedOnlyForItsType() {
        MsfsAircraftProfile p;
        p.title = QStringLiteral("Some A320");
        p.icaoType = QStringLiteral("A-320");
        QVERIFY(library()->matchesTypeCode(p, QStringLiteral(" a320 ")));
        QVERIFY(!library()->matchesTypeCode(p, QStringLiteral("B738")));
        p.icaoType.clear();
        p.manufacturer = QStringLiteral("Boeing");
        p.model = QStringLiteral("737-800");
        QVERIFY(library()->matchesTypeCode(p, QStringLiteral("B738")));
    }

    void simulatorWithoutModelsIsNoFallback() {
        test::setInstall(MsfsRuntimeProfile::Msfs2020, {});
        QVERIFY(test::rescan());
        const MsfsModelMatch m =
            library()->match(MsfsRuntimeProfile::Msfs2020, QStringLiteral("A20N"), {}, {});
        QVERIFY(m.profile.title.isEmpty());
        QVERIFY(!m.fallback);
        QCOMPARE(m.simulator, MsfsRuntimeProfile::Msfs2020);
        QCOMPARE(library()->availableSimulators(), QList<MsfsRuntimeProfile>({MsfsRuntimeProfile::Msfs2024}));
    }

    void reloadScoresTheModelsOfTheNewScan() {
        const QString pkg = test::freshDir(QStringLiteral("rescored")) + QStringLiteral("/Packages");
        QVERIFY(writeCfg(pkg, "Community/liveries",
                         "[GENERAL]\nicao_type_designator = C172\n"
                         "[FLTSIM.0]\ntitle = Model Red\nui_variation = Red\n"));
        test::setInstall(MsfsRuntimeProfile::Msfs2024, pkg);
        test::setInstall(MsfsRuntimeProfile::Msfs2020, {});
        QVERIFY(test::rescan());
        const auto pick = [](const char* livery) {
            return library()->match(MsfsRuntimeProfile::Msfs2024, QStringLiteral("C172"), {},
                                    QLatin1String(livery));
        };
        QCOMPARE(pick("red").profile.title, QStringLiteral("Model Red"));

        // A new model ahead of the old one: each must be scored by its own texts.
        QVERIFY(writeCfg(pkg, "Community/liveries",
                         "[GENERAL]\nicao_type_designator = C172\n"
                         "[FLTSIM.0]\ntitle = Model Blue\nui_variation = Blue\n"
                         "[FLTSIM.1]\ntitle = Model Red\nui_variation = Red\n"));
        QVERIFY(test::rescan());
        for (const auto& [livery, title] : {std::pair{"blue", "Model Blue"}, std::pair{"red", "Model Red"}}) {
            const MsfsModelMatch m = pick(livery);
            QCOMPARE(m.profile.title, QLatin1String(title));
            QVERIFY(m.liveryMatched);
        }
    }
};

QTEST_GUILESS_MAIN(TestMsfsLibraryMatch)
#include "tst_msfslibrary_match.moc"
