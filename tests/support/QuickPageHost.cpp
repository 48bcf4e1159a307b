#include "support/QuickPageHost.h"

#include "support/QuickItems.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QTest>
#include <QtDebug>

namespace velk::test {

namespace {

// Delegates and popup contents are visual children only, so findChildren misses them.
void collect(QQuickItem* item, const QString& name, QList<QQuickItem*>& out) {
    for (QQuickItem* child : item->childItems()) {
        if (!child->isVisible()) {
            continue;
        }
        if (child->objectName() == name) {
            out << child;
        }
        collect(child, name, out);
    }
}

} // namespace

QuickPageHost::QuickPageHost(const QUrl& page, const QList<QPair<QString, QObject*>>& contextProperties,
                             QSize size) {
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    for (const auto& [name, object] : contextProperties) {
        view.rootContext()->setContextProperty(name, object);
    }
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.resize(size);
    view.setSource(page);
    if (view.status() != QQuickView::Ready) {
        for (const auto& error : view.errors()) {
            qWarning() << error.toString();
        }
        return;
    }
    view.show();
    m_ready = QTest::qWaitForWindowExposed(&view);
}

QList<QQuickItem*> QuickPageHost::findAll(const QString& objectName) const {
    QList<QQuickItem*> out;
    collect(view.contentItem(), objectName, out);
    return out;
}

QQuickItem* QuickPageHost::find(const QString& objectName) const {
    const auto items = findAll(objectName);
    return items.isEmpty() ? nullptr : items.first();
}

QString QuickPageHost::text(const QString& objectName) const {
    const QQuickItem* item = find(objectName);
    return item ? item->property("text").toString() : QStringLiteral("<missing>");
}

QStringList QuickPageHost::textsNotPlain(int* checked) const {
    return test::textsNotPlain(view.contentItem(), checked);
}

void QuickPageHost::click(QQuickItem* item) {
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
}

void QuickPageHost::type(QQuickItem* item, const QString& text) {
    item->forceActiveFocus();
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_Backspace);
    // Key events carrying the text, so that any character (blank, Chinese) arrives as typed.
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(&view, &press);
        QCoreApplication::sendEvent(&view, &release);
    }
}

} // namespace velk::test
