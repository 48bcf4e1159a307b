#include "common/OneLine.h"

namespace velk::common {

namespace {

constexpr qsizetype kMaxShownLength = 500;

void appendEscaped(QString& out, char16_t code, int digits) {
    out += digits == 2 ? QLatin1StringView("\\x") : QLatin1StringView("\\u");
    out += QString::number(code, 16).rightJustified(digits, u'0').toUpper();
}

// Embeddings, overrides and isolates: invisible, and one left open reorders
// the rest of the line, the system's own words after the peer's text
// included. The marks (LRM, RLM, ALM) open nothing and stay.
bool isBidiControl(char16_t code) {
    return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

} // namespace

QString oneLine(const QString& text) {
    QString out;
    out.reserve(text.size());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
            out += u' ';
        } else if (c.category() == QChar::Other_Control) {
            appendEscaped(out, c.unicode(), 2); // C0, DEL and C1: all below 0x100
        } else if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            out += c;
            out += text.at(++i);
        } else if (c.isSurrogate() || isBidiControl(c.unicode())) {
            appendEscaped(out, c.unicode(), 4); // as QDebug shows them
        } else {
            out += c;
        }
    }
    return out;
}

QString excerpt(const QString& text, qsizetype length) {
    if (text.size() <= length) {
        return text;
    }
    const bool pairCut = length > 0 && text.at(length - 1).isHighSurrogate();
    return text.first(length - (pairCut ? 1 : 0)) + QStringLiteral("…");
}

QString shownLine(const QString& text) {
    return excerpt(oneLine(text), kMaxShownLength);
}

} // namespace velk::common
