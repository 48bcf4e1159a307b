#include "network/SwiftAircraftIcaoService.h"
#include "support/AircraftIcaoFixtures.h"
#include "support/TestSupport.h"

#include <QTest>

#include <memory>

using namespace velk;
using network::SwiftAircraftIcaoService;

class TestAircraftIcaoLookup : public QObject {
    Q_OBJECT

    std::unique_ptr<SwiftAircraftIcaoService> service;

private slots:
    void initTestCase() {
        test::isolateUserDataFolder();
        const QString dir = test::freshDir(QStringLiteral("table"));
        QList<network::AircraftIcaoRecord> rows;
        int id = 0;
        for (const char* d : {"A3", "A306", "A310", "A320", "A388", "A3ST", "A30", "BA32", "B738", "HB73",
                              "A20N", "B7478", "E", "800", "C172"}) {
            rows.append(test::icaoRecord(++id, QString::fromLatin1(d), QStringLiteral("Maker %1").arg(d)));
        }
        rows.append(test::icaoRecord(++id, QStringLiteral("B738"), QStringLiteral("Second")));
        QVERIFY(test::writeIcaoDatabase(test::icaoDatabasePath(dir), rows));
        service = std::make_unique<SwiftAircraftIcaoService>(dir);
        QVERIFY(service->isReady());
    }

    void cleanupTestCase() { service.reset(); }

    void typeTextsNormaliseToKnownDesignators_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("normalized");
        QTest::addColumn<bool>("exact");
        QTest::addColumn<bool>("found");
        QTest::newRow("flight-plan equipment, HB73 also known") << "H/B738/L"
                                                                << "B738" << false << true;
        QTest::newRow("variant suffix") << "B738-800"
                                        << "B738" << false << true;
        QTest::newRow("lower case") << "a20n"
                                    << "A20N" << true << true;
        QTest::newRow("outer blanks") << "  b738\t"
                                      << "B738" << true << true;
        QTest::newRow("long marketing name") << "A320NEO"
                                             << "A320" << false << true;
        QTest::newRow("known but five characters") << "b7478"
                                                   << "B7478" << false << false;
        QTest::newRow("unknown") << " xyz99 "
                                 << "XYZ99" << false << false;
        QTest::newRow("single letter") << "e"
                                       << "E" << false << false;
        QTest::newRow("blank") << "   "
                               << "" << false << false;
    }

    void typeTextsNormaliseToKnownDesignators() {
        QFETCH(QString, input);
        QFETCH(QString, normalized);
        QFETCH(bool, exact);
        QFETCH(bool, found);
        const auto result = service->normalizeDesignator(input);
        QCOMPARE(result.input, input);
        QCOMPARE(result.normalized, normalized);
        QCOMPARE(result.exact, exact);
        QCOMPARE(result.found, found);
    }

    void candidatesComeWholeThenPartsThenChunksThenJoined() {
        QCOMPARE(service->designatorCandidates(QStringLiteral("H/B738/L")),
                 (QStringList{QStringLiteral("B738"), QStringLiteral("HB73")}));
        QCOMPARE(service->designatorCandidates(QStringLiteral("B738-800")),
                 (QStringList{QStringLiteral("B738"), QStringLiteral("800")}));
        QCOMPARE(service->designatorCandidates(QStringLiteral("A320NEO")),
                 (QStringList{QStringLiteral("A320"), QStringLiteral("NEO")}));
        QCOMPARE(service->designatorCandidates(QStringLiteral("A-1")),
                 (QStringList{QStringLiteral("A-1"), QStringLiteral("A1")}));
        QCOMPARE(service->designatorCandidates(QStringLiteral("ABCDEFGHIJ")),
                 (QStringList{QStringLiteral("ABCD"), QStringLiteral("EFGH"), QStringLiteral("IJ")}));
    }

    void typeTextOfTensOfKilobytesIsNormalised() {
        // Sixteen thousand distinct four-character chunks, then a known type.
        QString text;
        for (int i = 0; i < 16384; ++i) {
            text += QStringLiteral("Q%1").arg(i, 3, 36, QChar(u'0')).toUpper();
        }
        text += QStringLiteral("/B738");
        const auto result = service->normalizeDesignator(text);
        QCOMPARE(result.normalized, QStringLiteral("B738"));
        QVERIFY(result.found);
        QCOMPARE(service->designatorCandidates(text).size(), 16384 + 1);
    }

    void searchRanksByScoreThenDesignator() {
        QCOMPARE(service->searchDesignators(QStringLiteral("a3"), 10),
                 (QStringList{QStringLiteral("A3"), QStringLiteral("A306"), QStringLiteral("A310"),
                              QStringLiteral("A320"), QStringLiteral("A388"), QStringLiteral("A3ST"),
                              QStringLiteral("A30"), QStringLiteral("BA32")}));
        QCOMPARE(service->searchDesignators(QStringLiteral(" A3 "), 3),
                 (QStringList{QStringLiteral("A3"), QStringLiteral("A306"), QStringLiteral("A310")}));
        // Punctuation is dropped for a second try; contained matches rank last.
        QCOMPARE(service->searchDesignators(QStringLiteral("b7-3"), 8),
                 (QStringList{QStringLiteral("B738"), QStringLiteral("HB73")}));
        // Five-character designators are never offered.
        QVERIFY(service->searchDesignators(QStringLiteral("B747"), 8).isEmpty());
    }

    void searchOffersNothingForNoLimitOrBlankQuery() {
        QVERIFY(service->searchDesignators(QStringLiteral("A3"), 0).isEmpty());
        QVERIFY(service->searchDesignators(QStringLiteral("A3"), -1).isEmpty());
        QVERIFY(service->searchDesignators(QStringLiteral(" \t"), 8).isEmpty());
        QVERIFY(service->searchDesignators(QStringLiteral("-"), 8).isEmpty());
    }

    void recordsAreLookedUpByTrimmedUpperCaseKey() {
        const auto records = service->recordsForDesignator(QStringLiteral(" b738 "));
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0].manufacturer, QStringLiteral("Maker B738"));
        QCOMPARE(records[1].manufacturer, QStringLiteral("Second"));
        QCOMPARE(records[0].wakeTurbulenceCategory, QStringLiteral("M"));
        QVERIFY(service->recordsForDesignator(QStringLiteral("ZZZZ")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAircraftIcaoLookup)
#include "tst_aircrafticao_lookup.moc"
