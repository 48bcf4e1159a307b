#include "ui/ThemeManager.h"
#include "ui/WindowBackdrop.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

using velk::ui::ThemeManager;

class TestTheme : public QObject {
    Q_OBJECT

private slots:
    void lightBeforeAnyWindowSetsTheSheetAndAnnouncesIt() {
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
        QSignalSpy spy(ThemeManager::instance(), &ThemeManager::themeChanged);
        ThemeManager::instance()->applyTheme(ThemeManager::Light);
        QCOMPARE(qApp->styleSheet(),
                 ThemeManager::loadStyleSheet(QString::fromLatin1(ThemeManager::LightStyleSheet)));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).value<ThemeManager::Theme>(), ThemeManager::Light);
    }

    void darkSelectsTheDarkSheet() {
        QSignalSpy spy(ThemeManager::instance(), &ThemeManager::themeChanged);
        ThemeManager::instance()->applyTheme(ThemeManager::Dark);
        QCOMPARE(qApp->styleSheet(),
                 ThemeManager::loadStyleSheet(QString::fromLatin1(ThemeManager::DarkStyleSheet)));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(spy.at(0).at(0).value<ThemeManager::Theme>(), ThemeManager::Dark);
    }

    void anyOtherValueSelectsLightAndIsAnnouncedAsGiven() {
        QSignalSpy spy(ThemeManager::instance(), &ThemeManager::themeChanged);
        ThemeManager::instance()->applyTheme(static_cast<ThemeManager::Theme>(7));
        QCOMPARE(qApp->styleSheet(),
                 ThemeManager::loadStyleSheet(QString::fromLatin1(ThemeManager::LightStyleSheet)));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(static_cast<int>(spy.at(0).at(0).value<ThemeManager::Theme>()), 7);
    }

    void bothSheetsCarryTheSharedRules_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("dark") << QString::fromLatin1(ThemeManager::DarkStyleSheet);
        QTest::newRow("light") << QString::fromLatin1(ThemeManager::LightStyleSheet);
    }

    void bothSheetsCarryTheSharedRules() {
        QFETCH(QString, path);
        const QString sheet = ThemeManager::loadStyleSheet(path);
        QVERIFY(!sheet.isEmpty());
        for (const char* needle :
             {"\"Segoe UI\", \"Inter\", \"Roboto\", \"Helvetica Neue\", Arial, sans-serif", "font-size: 13px",
              "QMainWindow, QDialog", "QPushButton[type=\"primary\"]", "QPushButton[type=\"secondary\"]",
              "QPushButton[type=\"danger\"]", "QPushButton[type=\"nav\"]", "QLabel[type=\"title\"]",
              "QLabel[type=\"subtitle\"]", "QLabel[type=\"muted\"]", "QLabel[status=\"online\"]",
              "QLabel[statusDot=\"waiting\"]", "QFrame#NavigationCard", "QFrame#simInfoItem",
              "QStackedWidget#MainContentWidget", ":/resources/checkmark.svg", "QScrollBar:vertical",
              "width: 8px", "QComboBox"}) {
            QVERIFY2(sheet.contains(QLatin1String(needle)), needle);
        }
    }

    void sheetsCarryTheirThemeColours() {
        const QString dark = ThemeManager::loadStyleSheet(QString::fromLatin1(ThemeManager::DarkStyleSheet));
        for (const char* needle : {"#DBDEE1", "#5865F2", "#4752C4", "#DA373C", "#23A559", "#FEE75C",
                                   "rgba(17, 18, 20, 0.5)", "QWidget#GlassPanel", "QMenu", "QTabBar",
                                   "QProgressBar", "QSlider", "QScrollBar:horizontal", "QGroupBox"}) {
            QVERIFY2(dark.contains(QLatin1String(needle)), needle);
        }
        const QString light =
            ThemeManager::loadStyleSheet(QString::fromLatin1(ThemeManager::LightStyleSheet));
        for (const char* needle :
             {"#1A1D21", "#111418", "rgba(255, 255, 255, 0.85)", "border-radius: 20px", "border-radius: 14px",
              "padding: 10px 18px", "#3B82F6", "#FEE2E2", "#B91C1C", "#10B981", "#EF4444", "#F59E0B",
              "QWidget#simPage", "simLogoutButton", "simMetricValue", "simPlaceholderText"}) {
            QVERIFY2(light.contains(QLatin1String(needle)), needle);
        }
    }

    void unreadableSheetReadsAsEmpty() {
        QVERIFY(ThemeManager::loadStyleSheet(QStringLiteral(":/resources/theme/none.qss")).isEmpty());
    }

    void imagesTheSheetsNameExist() {
        QVERIFY(!QPixmap(QStringLiteral(":/resources/logo.png")).isNull());
        QVERIFY(!QPixmap(QStringLiteral(":/resources/checkmark.svg")).isNull());
        QVERIFY(!QPixmap(QStringLiteral(":/resources/icons/chevron-down.svg")).isNull());
    }

    void backdropSwitchesOnlyTranslucency() {
        QWidget window;
        velk::ui::enableWindowBackdrop(&window, true);
        QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));

        // The theme part leaves translucency alone, also when applied through the manager.
        velk::ui::applyWindowBackdropForTheme(&window, false);
        QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
        window.show();
        ThemeManager::instance()->applyTheme(ThemeManager::Light);
        QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));

        velk::ui::disableWindowBackdrop(&window);
        QVERIFY(!window.testAttribute(Qt::WA_TranslucentBackground));

        QWidget plain;
        velk::ui::applyWindowBackdropForTheme(&plain, true);
        QVERIFY(!plain.testAttribute(Qt::WA_TranslucentBackground));
    }

    void nullWindowIsIgnored() {
        velk::ui::enableWindowBackdrop(nullptr, true);
        velk::ui::applyWindowBackdropForTheme(nullptr, false);
        velk::ui::disableWindowBackdrop(nullptr);
    }
};

QTEST_MAIN(TestTheme)
#include "tst_theme.moc"
