#pragma once

#include <QList>
#include <QObject>
#include <QPair>
#include <QQuickItem>
#include <QQuickView>
#include <QString>
#include <QUrl>

namespace velk::test {

// Loads one dashboard page standalone in a shown QQuickView, with the view
// models set as context properties, and finds, clicks and types into its
// controls by objectName. The view is tall enough that nothing scrolls.
class QuickPageHost {
public:
    QuickPageHost(const QUrl& page, const QList<QPair<QString, QObject*>>& contextProperties,
                  QSize size = QSize(1400, 2400));

    QQuickView view;

    // The page loaded without errors and is exposed.
    bool ready() const { return m_ready; }

    // Visible items by objectName, in tree order (delegates and popups included).
    QList<QQuickItem*> findAll(const QString& objectName) const;
    QQuickItem* find(const QString& objectName) const;
    // The "text" property of the first item of that name ("<missing>" when none).
    QString text(const QString& objectName) const;

    // Texts of the Text items that are not plain text (placeholders and the
    // check mark of a check box aside); `checked` counts the items looked at.
    QStringList textsNotPlain(int* checked = nullptr) const;

    // A left click at the item's centre.
    void click(QQuickItem* item);
    // Focuses the item, selects what it holds and types `text` over it.
    void type(QQuickItem* item, const QString& text);

private:
    bool m_ready = false;
};

} // namespace velk::test
