#include "tst_msfslibrary_fixture.h"

#include <QTest>

using namespace velk;
using namespace velk::simulator::msfs;
using test::writeText;

namespace {

QString describe(const MsfsInstall& install) {
    return QStringLiteral("%1|%2|%3|%4|%5|%6")
        .arg(static_cast<int>(install.simulator))
        .arg(install.packagesPath, install.communityPath, install.importedLibraryPaths.join(QLatin1Char(';')),
             install.label, install.sourcePath);
}

QStringList describe(const QList<MsfsInstall>& installs) {
    QStringList out;
    for (const MsfsInstall& install : installs) {
        out.append(describe(install));
    }
    return out;
}

QStringList describe(const QList<MsfsLibraryRoot>& roots, const QString& base) {
    QStringList out;
    for (const MsfsLibraryRoot& root : roots) {
        out.append(QStringLiteral("%1=%2%3").arg(root.kind, QDir(base).relativeFilePath(root.path),
                                                 root.isCommunity ? "*" : ""));
    }
    return out;
}

QString describe(const MsfsAircraftProfile& p, const QString& base) {
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9|%10|%11|%12|%13|%14|%15%16%17")
        .arg(static_cast<int>(p.simulator))
        .arg(p.packageName, p.rootKind, QDir(base).relativeFilePath(p.cfgPath), p.title, p.displayName,
             p.variation, p.airline, p.icaoType)
        .arg(p.manufacturer, p.model, p.engineType)
        .arg(p.engineCount)
        .arg(p.wtc, p.isAirTraffic ? "A" : "-", p.isUserSelectable ? "U" : "-", p.isCommunity ? "C" : "-");
}

MsfsAircraftLibrary* library() {
    return MsfsAircraftLibrary::instance();
}

const QString kauto = QStringLiteral("auto-detected UserCfg.opt");
const QString kconfig = QStringLiteral("config override");

} // namespace

class TestMsfsLibraryScan : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        qunsetenv("APPDATA");
        qunsetenv("LOCALAPPDATA");
        test::setInstall(MsfsRuntimeProfile::Msfs2020, {});
        test::setInstall(MsfsRuntimeProfile::Msfs2024, {});
    }

    void cleanup() {
        qunsetenv("APPDATA");
        qunsetenv("LOCALAPPDATA");
        test::setInstall(MsfsRuntimeProfile::Msfs2020, {});
        test::setInstall(MsfsRuntimeProfile::Msfs2024, {});
    }

    void settingsReplaceUserCfgDetectionPerGeneration() {
        const QString root = test::freshDir(QStringLiteral("discover"));
        const QString pkg20 = root + QStringLiteral("/My Packages");
        const QString pkg24 = root + QStringLiteral("/pkg24");
        QDir().mkpath(pkg20);
        QDir().mkpath(pkg24);
        const QString roaming20 = root + QStringLiteral("/roaming/Microsoft Flight Simulator/UserCfg.opt");
        const QString roaming24 =
            root + QStringLiteral("/roaming/Microsoft Flight Simulator 2024/UserCfg.opt");
        const QString store =
            root +
            QStringLiteral("/local/Packages/Microsoft.FlightSimulator_8wekyb3d8bbwe/LocalCache/UserCfg.opt");
        // A keyword without a value is passed over; lower case and a trailing comment are fine.
        QVERIFY(writeText(roaming20, "Version 1\nInstalledPackagesPath\ninstalledpackagespath \"" +
                                         pkg20.toUtf8() + "\" ; moved\nInstalledPackagesPath /elsewhere\n"));
        QVERIFY(writeText(store, "InstalledPackagesPath " + pkg20.toUtf8() + "/\n"));
        QVERIFY(writeText(roaming24, "InstalledPackagesPath \"" + pkg24.toUtf8() + "\"\n"));
        qputenv("APPDATA", (root + QStringLiteral("/roaming")).toLocal8Bit());
        qputenv("LOCALAPPDATA", (root + QStringLiteral("/local")).toLocal8Bit());

        // The store file of MSFS 2020 is also the last 2024 candidate: the same
        // folder for both generations gives two installs, for one generation one.
        QCOMPARE(describe(MsfsAircraftLibrary::discoverRoots()),
                 QStringList({QStringLiteral("1|%1|||%2|%3").arg(pkg20, kauto, roaming20),
                              QStringLiteral("2|%1|||%2|%3").arg(pkg24, kauto, roaming24),
                              QStringLiteral("2|%1|||%2|%3").arg(pkg20, kauto, store)}));

        test::setInstall(MsfsRuntimeProfile::Msfs2024, {}, {}, {pkg24});
        QCOMPARE(describe(MsfsAircraftLibrary::discoverRoots()),
                 QStringList({QStringLiteral("2|||%1|%2|").arg(pkg24, kconfig),
                              QStringLiteral("1|%1|||%2|%3").arg(pkg20, kauto, roaming20)}));
    }

    void installsHoldOnlyExistingDistinctFolders() {
        const QString root = test::freshDir(QStringLiteral("installs"));
        const QString packages = root + QStringLiteral("/Packages");
        const QString community = packages + QStringLiteral("/Community");
        const QString lib = root + QStringLiteral("/lib");
        const QString other = root + QStringLiteral("/other");
        for (const QString& dir : {community, lib, other}) {
            QDir().mkpath(dir);
        }
        const QString missing = root + QStringLiteral("/missing");
        const auto sim = MsfsRuntimeProfile::Msfs2020;
        MsfsAircraftLibrary::DiscoveryState state;
        MsfsAircraftLibrary::addInstall(state, sim, kconfig, {}, {}, community + QStringLiteral("/"), {});
        MsfsAircraftLibrary::addInstall(state, sim, kconfig, {}, missing, missing,
                                        {missing, QStringLiteral(" ")});
        MsfsAircraftLibrary::addInstall(state, sim, kconfig, {}, {}, {},
                                        {lib, lib + QStringLiteral("/"), missing, other});
        MsfsAircraftLibrary::addInstall(state, sim, kauto, QStringLiteral("/x/UserCfg.opt"), {}, {},
                                        {lib, other});
        MsfsAircraftLibrary::addInstall(state, sim, kconfig, {}, {}, {}, {other, lib});
        QCOMPARE(describe(state.installs),
                 QStringList({QStringLiteral("1|%1|%2||%3|").arg(packages, community, kconfig),
                              QStringLiteral("1|||%1;%2|%3|").arg(lib, other, kconfig),
                              QStringLiteral("1|||%1;%2|%3|").arg(other, lib, kconfig)}));
    }

    void rootsFollowTheInstallLayout_data() {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("community");
        QTest::addColumn<QStringList>("imported");
        QTest::addColumn<QStringList>("roots");
        QTest::newRow("every standard folder")
            << QStringList{"P/Community",       "P/Community2024", "P/Official/OneStore",
                           "P/Official/Steam",  "P/Official2020",  "P/Official2024/Steam",
                           "P/StreamedPackages"}
            << "" << QStringList{}
            << QStringList{"Community=P/Community*",
                           "Community2024=P/Community2024*",
                           "Official/OneStore=P/Official/OneStore",
                           "Official/Steam=P/Official/Steam",
                           "Official2020=P/Official2020",
                           "Official2024/Steam=P/Official2024/Steam",
                           "StreamedPackages=P/StreamedPackages"};
        QTest::newRow("official without store folders")
            << QStringList{"P/Official"} << "" << QStringList{} << QStringList{"Official=P/Official"};
        QTest::newRow("configured community is the standard one, also imported")
            << QStringList{"P/Community"} << "P/Community" << QStringList{"P/Community"}
            << QStringList{"ConfiguredCommunity=P/Community*"};
        QTest::newRow("imported libraries come before the packages folder")
            << QStringList{"P/Community", "L1", "L2"} << "" << QStringList{"L2", "L1"}
            << QStringList{"ImportedLibrary=L2*", "ImportedLibrary=L1*", "Community=P/Community*"};
    }

    void rootsFollowTheInstallLayout() {
        QFETCH(QStringList, folders);
        QFETCH(QString, community);
        QFETCH(QStringList, imported);
        QFETCH(QStringList, roots);
        const QString base = test::freshDir(QStringLiteral("roots"));
        for (const QString& folder : folders) {
            QDir().mkpath(base + QLatin1Char('/') + folder);
        }
        const auto abs = [&base](const QString& rel) {
            return rel.isEmpty() ? rel : base + QLatin1Char('/') + rel;
        };
        QStringList importedPaths;
        for (const QString& rel : imported) {
            importedPaths.append(abs(rel));
        }
        MsfsAircraftLibrary::DiscoveryState state;
        MsfsAircraftLibrary::addInstall(state, MsfsRuntimeProfile::Msfs2024, kconfig, {},
                                        abs(QStringLiteral("P")), abs(community), importedPaths);
        QCOMPARE(state.installs.size(), 1);
        QCOMPARE(describe(MsfsAircraftLibrary::rootsForInstall(state.installs.first()), base), roots);
    }

    void cfgValuesAreCleaned_data() {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("clean");
        QTest::newRow("marker and blank runs") << "\"$$:Airbus   A320\tNeo \""
                                               << "Airbus A320 Neo";
        QTest::newRow("marker inside") << "A$$:B"
                                       << "AB";
        QTest::newRow("empty quotes") << "\"\""
                                      << "";
        QTest::newRow("blank") << "   "
                               << "";
    }

    void cfgValuesAreCleaned() {
        QFETCH(QString, raw);
        QFETCH(QString, clean);
        QCOMPARE(MsfsAircraftLibrary::cleanCfgValue(raw), clean);
    }

    void cfgFlagsReadYesAndNo() {
        for (const char* yes : {"1", " y ", "TRUE", "Yes", "true"}) {
            QVERIFY2(MsfsAircraftLibrary::parseCfgBool(QString::fromLatin1(yes), false), yes);
        }
        for (const char* no : {"0", "no", "False", "2"}) {
            QVERIFY2(!MsfsAircraftLibrary::parseCfgBool(QString::fromLatin1(no), true), no);
        }
        QVERIFY(MsfsAircraftLibrary::parseCfgBool(QStringLiteral("  "), true));
        QVERIFY(!MsfsAircraftLibrary::parseCfgBool(QString(), false));
    }

    void cfgSectionsAndKeysIgnoreCase() {
        QVERIFY(test::rescan()); // idle library, empty caches
        const QString path = test::freshDir(QStringLiteral("parse")) + QStringLiteral("/aircraft.cfg");
        QVERIFY(writeText(path, "orphan = 1\n"
                                "[ fltsim.0 ] ; first\n"
                                "Title = \"A; B\" ; comment\n"
                                "UI_Type=One\n"
                                "no equals sign\n"
                                "[VERSION]\n"
                                "major = 1\n"
                                "[FLTSIM.0]\n"
                                "ui_type = Two\n"
                                "[]\n"
                                "lost = 1\n"
                                "[Variation]\n"
                                "base_container = \"..\\Base\"\n"));
        const ParsedCfg cfg = library()->loadCfg(path);
        QVERIFY(cfg.hasContent);
        QCOMPARE(cfg.sectionOrder, QStringList({"FLTSIM.0", "VERSION", "VARIATION"}));
        QCOMPARE(cfg.sections.value("FLTSIM.0"),
                 (QHash<QString, QString>{{"title", "A; B"}, {"ui_type", "Two"}}));
        QCOMPARE(cfg.baseContainer, QStringLiteral("..\\Base"));

        const ParsedCfg missing = library()->loadCfg(path + QStringLiteral(".missing"));
        QVERIFY(!missing.hasContent);
        QVERIFY(missing.sections.isEmpty());
    }

    // The scan keeps only some values; it must read them as the full parse does.
    void scanReadingAgreesWithFullParse_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("variations");
        QTest::newRow("case, repeats, other characters")
            << QString::fromUtf8("[fltsim.1]\nTitle = \"One\" ; c\n[VERSION]\nmajor = 1\n"
                                 "[\u0131gnored]\nx = 1\n[FLTSIM.0]\n[FLTSIM.1]\nUI_TYPE = T\n"
                                 "[\uFB02tsim.2]\nt\u0131tle = Ligature\n[FLTSIM.0]\ntitle = Zero\n"
                                 "[General]\nICAO_Model = \" M \"\n[variation]\n"
                                 "base_container = \"\"\"..\\B\"\"\"\n")
            << 3;
        QString many;
        for (int i = 0; i < 70; ++i) {
            many += QStringLiteral("[FLTSIM.%1]\ntitle = T%1\n").arg(i);
        }
        QTest::newRow("many sections, one repeated")
            << many + QStringLiteral("[fltsim.3]\nui_type = X\n") << 70;
    }

    void scanReadingAgreesWithFullParse() {
        QFETCH(QString, text);
        QFETCH(int, variations);
        const ParsedCfg full = parseCfgText(text);
        const MsfsCfgFacts facts = readCfgFacts(text);
        QCOMPARE(facts.hasContent, full.hasContent);
        QCOMPARE(facts.baseContainer, full.baseContainer);
        QCOMPARE(facts.general.icaoModel, full.sections.value("GENERAL").value("icao_model"));
        QStringList fullTitles;
        for (const QString& name : full.sectionOrder) {
            if (name.startsWith(QLatin1String("FLTSIM."))) {
                const QHash<QString, QString> section = full.sections.value(name);
                fullTitles.append(section.value("title") + QLatin1Char('/') + section.value("ui_type"));
            }
        }
        QStringList titles;
        for (const MsfsCfgVariation& variation : facts.variations) {
            titles.append(variation.title + QLatin1Char('/') + variation.uiType);
        }
        QCOMPARE(titles, fullTitles);
        QCOMPARE(titles.size(), variations);
    }

    void metadataInheritsThroughBaseContainers_data() {
        QTest::addColumn<QString>("cfg");
        QTest::addColumn<QString>("metadata");
        QTest::newRow("base itself") << "base"
                                     << "A20N|Airbus|A320neo|Jet|2|M|airplane|1";
        QTest::newRow("relative container with backslashes, own model wins")
            << "variant"
            << "A20N|Airbus|A320 Neo LR|Jet|2|M|airplane|1";
        QTest::newRow("container named by its cfg file, quoted count")
            << "byfile"
            << "A20N|Airbus|A320neo|Jet|4|M|airplane|1";
        QTest::newRow("missing container keeps own values") << "orphan"
                                                            << "||||0||helicopter|0";
        QTest::newRow("other sections ignored") << "othersection"
                                                << "||||0|||0";
        QTest::newRow("cycle: second visit contributes nothing") << "cycleA"
                                                                 << "AAAA|Maker B|||0|||1";
    }

    void metadataInheritsThroughBaseContainers() {
        QFETCH(QString, cfg);
        QFETCH(QString, metadata);
        QVERIFY(test::rescan());
        const QString root = test::freshDir(QStringLiteral("metadata"));
        const auto write = [&root](const char* folder, const QByteArray& text) {
            return writeText(
                root + QLatin1Char('/') + QLatin1String(folder) + QStringLiteral("/aircraft.cfg"), text);
        };
        QVERIFY(write("base", "[GENERAL]\nicao_type_designator = A20N\nicao_manufacturer = \" Airbus \"\n"
                              "icao_model = A320neo\nicao_engine_type = Jet\nicao_engine_count = 2\n"
                              "icao_wtc = M\ncategory = airplane\n"));
        QVERIFY(write("variant",
                      "[VARIATION]\nbase_container = \"..\\base\"\n[GENERAL]\nicao_model = A320 Neo LR\n"
                      "icao_manufacturer = \"\"\nicao_engine_count = two\n"));
        QVERIFY(write("byfile", "[VARIATION]\nbase_container = ../base/aircraft.cfg\n[GENERAL]\n"
                                "icao_engine_count = \"4\"\n"));
        QVERIFY(write("orphan", "[VARIATION]\nbase_container = ../nowhere\n[GENERAL]\ncategory = helicopter\n"
                                "icao_engine_count = 99999999999\n"));
        QVERIFY(write("othersection", "[FLTSIM.0]\nicao_type_designator = B738\n"));
        QVERIFY(write("cycleA",
                      "[VARIATION]\nbase_container = ../cycleB\n[GENERAL]\nicao_type_designator = AAAA\n"));
        QVERIFY(write("cycleB",
                      "[VARIATION]\nbase_container = ../cycleA\n[GENERAL]\nicao_manufacturer = Maker B\n"
                      "icao_type_designator = BBBB\n"));
        const MsfsAircraftLibrary::AircraftMetadata m =
            library()->resolveMetadata(root + QLatin1Char('/') + cfg + QStringLiteral("/aircraft.cfg"));
        QCOMPARE(QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8")
                     .arg(m.icaoTypeDesignator, m.icaoManufacturer, m.icaoModel, m.icaoEngineType)
                     .arg(m.engineCount)
                     .arg(m.icaoWtc, m.category)
                     .arg(m.valid ? 1 : 0),
                 metadata);
    }

    void longBaseContainerChainStops() {
        QVERIFY(test::rescan());
        const QString root = test::freshDir(QStringLiteral("chain"));
        const int length = MsfsAircraftLibrary::MaxBaseContainerDepth + 8;
        for (int i = 0; i < length; ++i) {
            QVERIFY(
                writeText(root + QStringLiteral("/c%1/aircraft.cfg").arg(i),
                          QStringLiteral("[VARIATION]\nbase_container = ../c%1\n[GENERAL]\ncategory = c%2\n")
                              .arg(i + 1)
                              .arg(i)
                              .toUtf8()));
        }
        QVERIFY(writeText(root + QStringLiteral("/c%1/aircraft.cfg").arg(length),
                          "[GENERAL]\nicao_type_designator = DEEP\n"));
        test::LogCapture log;
        const AircraftMetadata m = library()->resolveMetadata(root + QStringLiteral("/c0/aircraft.cfg"));
        QCOMPARE(m.category, QStringLiteral("c0"));
        QCOMPARE(m.icaoTypeDesignator, QString());
        QCOMPARE(log.count(QStringLiteral("Base container chain too deep")), 1);
    }

    void scanBuildsOneProfilePerVariation() {
        const QString root = test::freshDir(QStringLiteral("scan"));
        const QString pkg = root + QStringLiteral("/Packages");
        const QString a = pkg + QStringLiteral("/Community/pkg-a/SimObjects/Airplanes/A/aircraft.cfg");
        QVERIFY(writeText(
            a, "[GENERAL]\nicao_type_designator = \"a20n\"\nicao_manufacturer = AIRBUS\n"
               "icao_model = A-320neo\nicao_engine_type = Jet\nicao_engine_count = 2\nicao_wtc = m\n"
               "[fltsim.0]\ntitle = \"$$:Airbus   A320  Neo\" ; shown\nui_manufacturer = \"Airbus\"\n"
               "ui_type = \"A320 Neo\"\nui_variation = \"Lufthansa\"\natc_airline = \"\"dlh\"\"\n"
               "isAirTraffic = YES\nisUserSelectable = 0\n"
               "[FLTSIM.1]\ntitle = Second\n"
               "[FLTSIM.2]\ntitle = Airbus A320 Neo\n"
               "[FLTSIM.3]\ntitle = \"\"\n"
               "[FLTSIM.4]\ntitle = Fourth\nui_type = Only Type\n"));
        QVERIFY(
            writeText(pkg + QStringLiteral("/Community/pkg-b/simobjects/airplanes/B/AIRCRAFT.CFG"),
                      "[VARIATION]\nbase_container = \"..\\..\\..\\..\\pkg-a\\SimObjects\\Airplanes\\A\"\n"
                      "[FLTSIM.0]\ntitle = B Title\n"));
        QVERIFY(writeText(pkg + QStringLiteral("/Community/pkg-c/Other/aircraft.cfg"),
                          "[FLTSIM.0]\ntitle = Outside\n"));
        QVERIFY(writeText(pkg + QStringLiteral("/Community/.hidden/SimObjects/Airplanes/H/aircraft.cfg"),
                          "[FLTSIM.0]\ntitle = Hidden\n"));
        QByteArray binary;
        for (int i = 0; i < 64 * 256; ++i) {
            binary.append(static_cast<char>(i % 256));
        }
        QVERIFY(writeText(pkg + QStringLiteral("/Official/OneStore/junk/SimObjects/Airplanes/J/aircraft.cfg"),
                          binary));
        QByteArray huge = "[FLTSIM.0]\ntitle = Huge\n";
        huge.append(QByteArray(MsfsAircraftLibrary::MaxCfgBytes, ';'));
        QVERIFY(writeText(pkg + QStringLiteral("/Official/OneStore/huge/SimObjects/Airplanes/X/aircraft.cfg"),
                          huge));

        // 2020 also imports pkg-a itself: walked first, so its profiles are listed under that root.
        test::setInstall(MsfsRuntimeProfile::Msfs2020, pkg, {}, {pkg + QStringLiteral("/Community/pkg-a")});
        test::setInstall(MsfsRuntimeProfile::Msfs2024, pkg);
        test::LogCapture log;
        QVERIFY(test::rescan());

        const QString aPath = QStringLiteral("Community/pkg-a/SimObjects/Airplanes/A/aircraft.cfg");
        const QString bPath = QStringLiteral("Community/pkg-b/simobjects/airplanes/B/AIRCRAFT.CFG");
        const QStringList pkgA = {
            "%1|Airbus A320 Neo|Airbus A320 Neo Lufthansa|Lufthansa|DLH|A20N|Airbus|A320 Neo|Jet|2|M|A-C",
            "%1|Second|Second|||A20N|AIRBUS|A-320neo|Jet|2|M|-UC",
            "%1|Fourth|Only Type|||A20N|AIRBUS|Only Type|Jet|2|M|-UC"};
        const QString b =
            QStringLiteral("pkg-b|Community|%1|B Title|B Title|||A20N|AIRBUS|A-320neo|Jet|2|M|-UC")
                .arg(bPath);
        QStringList expected2020;
        QStringList expected2024;
        for (const QString& line : pkgA) {
            expected2020.append(QStringLiteral("1|SimObjects|ImportedLibrary|") + line.arg(aPath));
            expected2024.append(QStringLiteral("2|pkg-a|Community|") + line.arg(aPath));
        }
        expected2020.append(QStringLiteral("1|") + b);
        expected2024.append(QStringLiteral("2|") + b);
        QStringList got2020;
        QStringList got2024;
        for (const MsfsAircraftProfile& p : library()->profiles(MsfsRuntimeProfile::Msfs2020)) {
            got2020.append(describe(p, pkg));
            QCOMPARE(p.installPath, pkg);
        }
        for (const MsfsAircraftProfile& p : library()->profiles(MsfsRuntimeProfile::Msfs2024)) {
            got2024.append(describe(p, pkg));
        }
        QCOMPARE(got2020, expected2020); // imported root first, then Community
        got2024.sort();
        expected2024.sort();
        QCOMPARE(got2024, expected2024);

        QCOMPARE(library()->profileCount(MsfsRuntimeProfile::Msfs2024), 4);
        QCOMPARE(library()->availableSimulators(),
                 QList<MsfsRuntimeProfile>({MsfsRuntimeProfile::Msfs2020, MsfsRuntimeProfile::Msfs2024}));
        QCOMPARE(log.count(QStringLiteral("Scanned 4 MSFS aircraft variants for MSFS 2020 from ") + pkg), 1);
        QCOMPARE(log.count(QStringLiteral("Scanned 4 MSFS aircraft variants for MSFS 2024 from ") + pkg), 1);
        QCOMPARE(log.count(QStringLiteral("MSFS aircraft library ready: profiles=2 fs2020=4 fs2024=4")), 1);
        QCOMPARE(log.count(QStringLiteral("Skipped oversized aircraft.cfg")), 1);

        const auto found =
            library()->findProfileByTitle(MsfsRuntimeProfile::Unknown, QStringLiteral(" b title "));
        QVERIFY(found.has_value());
        QCOMPARE(found->simulator, MsfsRuntimeProfile::Msfs2020);
        QVERIFY(
            !library()->findProfileByTitle(MsfsRuntimeProfile::Msfs2024, QStringLiteral("  ")).has_value());
    }

    void containersInOtherPackagesAndLinkedPackagesAreFound() {
        const QString root = test::freshDir(QStringLiteral("linked"));
        const QString pkg = root + QStringLiteral("/Packages");
        const QString community = pkg + QStringLiteral("/Community");
        QVERIFY(writeText(pkg + QStringLiteral("/Official/OneStore/asobo-a320/SimObjects/Airplanes/"
                                               "Asobo_A320_NEO/aircraft.cfg"),
                          "[GENERAL]\nicao_type_designator = A20N\n[FLTSIM.0]\ntitle = Asobo A320\n"));
        // A livery names its base container in the merged package tree.
        QVERIFY(writeText(
            community + QStringLiteral("/livery-dlh/SimObjects/Airplanes/DLH/aircraft.cfg"),
            "[VARIATION]\nbase_container = \"..\\asobo_a320_neo\"\n[FLTSIM.0]\ntitle = DLH Livery\n"));
        QVERIFY(writeText(root + QStringLiteral("/Addons/b738/SimObjects/Airplanes/B/aircraft.cfg"),
                          "[GENERAL]\nicao_type_designator = B738\n[FLTSIM.0]\ntitle = Linked\n"));
        const QList<std::pair<QString, QString>> links = {
            {root + QStringLiteral("/Addons/b738"), QStringLiteral("linked")},
            {root + QStringLiteral("/Addons/b738"), QStringLiteral("linked-again")},
            {community, QStringLiteral("loop")},
            {pkg, QStringLiteral("up")},
            {community + QStringLiteral("/cycle-b"), QStringLiteral("cycle-a")},
            {community + QStringLiteral("/cycle-a"), QStringLiteral("cycle-b")},
        };
        for (const auto& [target, name] : links) {
            QVERIFY(QFile::link(target, community + QLatin1Char('/') + name));
        }
        test::setInstall(MsfsRuntimeProfile::Msfs2024, pkg);
        QVERIFY(test::rescan());
        QStringList got;
        for (const MsfsAircraftProfile& p : library()->profiles(MsfsRuntimeProfile::Msfs2024)) {
            got << QStringLiteral("%1|%2|%3")
                       .arg(p.title, p.icaoType,
                            p.packageName.startsWith("linked") ? "linked" : p.packageName);
        }
        got.sort();
        QCOMPARE(got, (QStringList{"Asobo A320|A20N|asobo-a320", "DLH Livery|A20N|livery-dlh",
                                   "Linked|B738|linked"}));
    }

    void noInstallWarnsAndMatchesNothing() {
        test::LogCapture log;
        QVERIFY(test::rescan());
        QCOMPARE(
            log.count(QStringLiteral("No MSFS aircraft library roots were discovered; traffic model matching "
                                     "will be unavailable")),
            1);
        QCOMPARE(log.count(QStringLiteral("MSFS aircraft library ready: profiles=0 fs2020=0 fs2024=0")), 1);
        QVERIFY(library()->availableSimulators().isEmpty());
        const MsfsModelMatch m =
            library()->match(MsfsRuntimeProfile::Msfs2024, QStringLiteral("a20n"), {}, {});
        QVERIFY(m.profile.title.isEmpty());
        QVERIFY(!m.fallback);
        QCOMPARE(m.score, INT32_MIN);
    }

    void reloadDuringScanRunsExactlyOneMoreScan() {
        const QString pkg = test::freshDir(QStringLiteral("reload")) + QStringLiteral("/Packages");
        QVERIFY(writeText(pkg + QStringLiteral("/Community/p/SimObjects/Airplanes/A/aircraft.cfg"),
                          "[FLTSIM.0]\ntitle = Only\n"));
        test::setInstall(MsfsRuntimeProfile::Msfs2024, pkg);
        test::LogCapture log;
        log.holdAt(QStringLiteral("Scanned 1 MSFS aircraft variants"));
        library()->reload();
        QTRY_VERIFY(log.isHolding());
        QVERIFY(!library()->isReady());
        QVERIFY(library()->isScanning());

        // Not ready: no profile, nothing cached, the scan keeps running.
        const MsfsModelMatch early = library()->match(MsfsRuntimeProfile::Msfs2024, QStringLiteral(" a20n "),
                                                      QStringLiteral("dlh"), {});
        QCOMPARE(early.simulator, MsfsRuntimeProfile::Msfs2024);
        QCOMPARE(early.requestedType, QStringLiteral("A20N"));
        QCOMPARE(early.requestedAirline, QStringLiteral("DLH"));
        QCOMPARE(early.normalizedType, QStringLiteral("A20N"));
        QCOMPARE(early.score, INT32_MIN);
        QVERIFY(early.profile.title.isEmpty());
        QVERIFY(!early.fallback);
        QCOMPARE(library()->profileCount(MsfsRuntimeProfile::Msfs2024), 0);

        library()->reload();
        library()->reload();
        log.release();
        QTRY_VERIFY(library()->isReady());
        QVERIFY(!library()->isScanning());
        QCOMPARE(log.count(QStringLiteral("MSFS aircraft library ready:")), 2);
        QCOMPARE(library()->profileCount(MsfsRuntimeProfile::Msfs2024), 1);
    }
};

QTEST_GUILESS_MAIN(TestMsfsLibraryScan)
#include "tst_msfslibrary_scan.moc"
