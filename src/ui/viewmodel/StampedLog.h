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
    // A line past this is cut with a mark: a view lays every line out again on
    // each change, and a server's long unbroken run (a bad line of 64 KB)
    // costs it seconds.
    static constexpr qsizetype MaxLineLength = 500;

    explicit StampedLog(int maxLines) : m_maxLines(maxLines) {}

    void append(const QDateTime& time, const QString& line) {
        QString shown = common::oneLine(line);
        if (shown.size() > MaxLineLength) {
            // Never half a surrogate pair.
            shown = shown.first(MaxLineLength - (shown.at(MaxLineLength - 1).isHighSurrogate() ? 1 : 0)) +
                    QStringLiteral("…");
        }
        const QString stamped = time.toString(QStringLiteral("[hh:mm:ss] ")) + shown + QLatin1Char('\n');
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
