#pragma once

#include "common/OneLine.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace velk::ui {

// A log of "[hh:mm:ss] line\n" lines that keeps only its newest lines, so that
// a long session does not grow it (and every page binding it) without end.
class StampedLog {
public:
    explicit StampedLog(int maxLines) : m_maxLines(maxLines) {}

    void append(const QDateTime& time, const QString& line) {
        const QString stamped =
            time.toString(QStringLiteral("[hh:mm:ss] ")) + common::shownLine(line) + QLatin1Char('\n');
        m_text.append(stamped);
        m_lineLengths.append(stamped.size());
        qsizetype drop = 0;
        while (m_lineLengths.size() > m_maxLines) {
            drop += m_lineLengths.takeFirst();
        }
        m_text.remove(0, drop);
    }

    void clear() {
        m_text.clear();
        m_lineLengths.clear();
    }

    bool isEmpty() const { return m_text.isEmpty(); }
    const QString& text() const { return m_text; }

private:
    int m_maxLines;
    QString m_text;
    // Length of every line in m_text, oldest first, to drop the oldest.
    QList<qsizetype> m_lineLengths;
};

} // namespace velk::ui
