#pragma once

#include <QList>
#include <QQuickItem>
#include <QString>

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
