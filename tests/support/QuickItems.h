#pragma once

#include <QList>
#include <QQuickItem>
#include <QString>
#include <QStringList>

namespace velk::test {

// Every item below `item` in the visual tree. List delegates are visual
// children only, so QObject::findChildren misses them.
inline QList<QQuickItem*> visualDescendants(QQuickItem* item) {
    QList<QQuickItem*> out;
    for (QQuickItem* child : item->childItems()) {
        out << child << visualDescendants(child);
    }
    return out;
}

// Texts of the Text items below `root` that are not plain text (placeholders
// and the check mark of a check box aside); `checked` counts the items looked at.
inline QStringList textsNotPlain(QQuickItem* root, int* checked = nullptr) {
    QStringList out;
    int count = 0;
    for (QQuickItem* item : visualDescendants(root)) {
        // Placeholders and the check mark are the page's own constants.
        if (item->inherits("QQuickText") && !item->inherits("QQuickPlaceholderText") &&
            item->property("text") != QStringLiteral("✓")) {
            ++count;
            if (item->property("textFormat").toInt() != 0) {
                out << item->property("text").toString();
            }
        }
    }
    if (checked) {
        *checked = count;
    }
    return out;
}

// The first item below `root` named `name`, or nullptr.
inline QQuickItem* findVisual(QQuickItem* root, const QString& name) {
    for (QQuickItem* item : visualDescendants(root)) {
        if (item->objectName() == name) {
            return item;
        }
    }
    return nullptr;
}

} // namespace velk::test
