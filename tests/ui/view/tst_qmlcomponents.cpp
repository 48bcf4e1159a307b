#include "support/QmlWarningGuard.h"
#include "support/QuickItems.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QtTest>

#include <memory>

using velk::test::QmlWarningGuard;
using velk::test::visualDescendants;

// The dashboard's style singleton and components, created in a real window.
class TstQmlComponents : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QQuickStyle::setStyle(QStringLiteral("Basic")); }
    void everyComponentLoadsWithoutWarnings_data();
    void everyComponentLoadsWithoutWarnings();
    void componentRules_data();
    void componentRules();

private:
    // Creates `qml` as the content of a shown window; the item is returned.
    QQuickItem* show(const QByteArray& qml);

    QQmlEngine m_engine;
    std::unique_ptr<QQuickWindow> m_window;
    std::unique_ptr<QObject> m_item;
};

QQuickItem* TstQmlComponents::show(const QByteArray& qml) {
    m_item.reset();
    m_window = std::make_unique<QQuickWindow>();
    m_window->resize(400, 400);
    QQmlComponent component(&m_engine);
    // A file beside the components, so that the relative imports resolve.
    component.setData(qml, QUrl(QStringLiteral("qrc:/src/ui/view/components/TestHost.qml")));
    m_item.reset(component.create());
    if (!m_item) {
        qWarning() << component.errorString();
        return nullptr;
    }
    auto* item = qobject_cast<QQuickItem*>(m_item.get());
    item->setParentItem(m_window->contentItem());
    m_window->show();
    return item;
}

void TstQmlComponents::everyComponentLoadsWithoutWarnings_data() {
    QTest::addColumn<QByteArray>("qml");
    const char* names[] = {"Card",           "MetricCard",     "CustomButton",
                           "CustomCheckBox", "CustomComboBox", "CustomSlider",
                           "CustomSpinBox",  "CustomTextArea", "CustomTextField",
                           "Header",         "Sidebar",        "RoundImage"};
    for (const char* name : names) {
        QTest::newRow(name) << QByteArray("import QtQuick\n") + name + " { width: 200; height: 200 }";
    }
    QTest::newRow("style singleton") << QByteArray(
        "import QtQuick\nimport \"..\"\n"
        "Rectangle { color: Style.accent; radius: Style.radiusCard }");
}

void TstQmlComponents::everyComponentLoadsWithoutWarnings() {
    QFETCH(QByteArray, qml);
    QmlWarningGuard guard;
    QVERIFY(show(qml));
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCoreApplication::processEvents();
    QCOMPARE(guard.warnings(), QStringList());
}

void TstQmlComponents::componentRules_data() {
    QTest::addColumn<QByteArray>("qml");
    QTest::addColumn<QString>("check");

    QTest::newRow("card clips its children at the padded inner area")
        << QByteArray("import QtQuick\nCard { width: 100; height: 100; clipContent: false; "
                      "Rectangle { objectName: 'child'; width: 500; height: 500 } }")
        << "card";
    QTest::newRow("disabled primary button keeps its fill, label at half opacity")
        << QByteArray("import QtQuick\nCustomButton { primary: true; enabled: false; text: 'x' }")
        << "button";
    QTest::newRow("open combo box: 2 px active border, highlight with explicit alpha, list scrolls")
        << QByteArray("import QtQuick\nCustomComboBox { width: 160; model: 40 }") << "combo";
    QTest::newRow("right-to-left spin box shows minus at the right")
        << QByteArray("import QtQuick\nCustomSpinBox { LayoutMirroring.enabled: true; width: 120 }")
        << "spin";
}

void TstQmlComponents::componentRules() {
    QFETCH(QByteArray, qml);
    QFETCH(QString, check);
    QmlWarningGuard guard;
    QQuickItem* item = show(qml);
    QVERIFY(item);
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));

    if (check == "card") {
        auto* inner = item->findChild<QQuickItem*>(QStringLiteral("cardContent"));
        auto* child = item->findChild<QQuickItem*>(QStringLiteral("child"));
        QVERIFY(inner && child);
        QCOMPARE(child->parentItem(), inner);
        QVERIFY(inner->clip());
        QCOMPARE(inner->width(), 60.0);
    } else if (check == "button") {
        auto* fill = item->findChild<QQuickItem*>(QStringLiteral("buttonFill"));
        QVERIFY(fill);
        QCOMPARE(fill->property("color").value<QColor>(), QColor(QStringLiteral("#0F172A")));
        QCOMPARE(item->property("contentItem").value<QQuickItem*>()->opacity(), 0.5);
    } else if (check == "combo") {
        QObject* popup = item->property("popup").value<QObject*>();
        QMetaObject::invokeMethod(popup, "open");
        QTRY_VERIFY(popup->property("opened").toBool());
        auto* background = item->property("background").value<QQuickItem*>();
        QTRY_COMPARE(background->property("border").value<QObject*>()->property("width").toReal(), 2.0);
        QCOMPARE(popup->property("height").toReal(), 240.0);
        QMetaObject::invokeMethod(item, "incrementCurrentIndex");
        QTRY_COMPARE(item->property("highlightedIndex").toInt(), 1);
        QQuickItem* list = popup->property("contentItem").value<QQuickItem*>();
        QVERIFY(list->property("contentHeight").toReal() > 240.0);
        QQuickItem* highlight = nullptr;
        QTRY_VERIFY((highlight = [&]() -> QQuickItem* {
            for (QQuickItem* h : visualDescendants(list)) {
                if (h->objectName() == QLatin1String("highlight") &&
                    h->property("color").value<QColor>().alpha() != 0) {
                    return h;
                }
            }
            return nullptr;
        }()));
        const QColor c = highlight->property("color").value<QColor>();
        QCOMPARE(c.alpha(), 0x22);
        QCOMPARE(c.rgb() & 0xFFFFFF, QColor(QStringLiteral("#0F172A")).rgb() & 0xFFFFFF);
    } else if (check == "spin") {
        auto* up = item->findChild<QQuickItem*>(QStringLiteral("upIndicator"));
        auto* down = item->findChild<QQuickItem*>(QStringLiteral("downIndicator"));
        QVERIFY(up && down);
        QCOMPARE(up->x(), 0.0);
        QCOMPARE(down->x(), item->width() - down->width());
    }
    QCOMPARE(guard.warnings(), QStringList());
}

QTEST_MAIN(TstQmlComponents)
#include "tst_qmlcomponents.moc"
