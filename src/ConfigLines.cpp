#include "ConfigLines.h"

#include "common/OneLine.h"

#include <QList>
#include <QStringDecoder>

#include <cctype>

namespace velk {

namespace {

constexpr qsizetype kShownChars = 60;

// The escapes the client itself writes: a backslash and a quote. QSettings
// drops a backslash before anything it does not know, and reads the others
// ("\f", "\t", "\a", "\x41") as characters no setting holds: written, they
// are a Windows path typed with single backslashes.
bool ownEscape(const QByteArray& value, qsizetype at) {
    return value.at(at) == '\\' || value.at(at) == '"';
}

// A line as QSettings splits it.
struct LineParts {
    qsizetype equals = -1;     // where the key ends; -1 when there is no "="
    qsizetype end = 0;         // where a comment starts, or the line's end
    bool endsInEscape = false; // a backslash ends the line
    bool inQuotes = false;     // a quote is left open
};

LineParts partsOf(const QByteArray& line) {
    LineParts parts;
    parts.end = line.size();
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char c = line.at(i);
        if (c == '\\') {
            if (i + 1 == line.size()) {
                parts.endsInEscape = true;
                return parts;
            }
            ++i; // QSettings takes the next character as it is while it splits lines
        } else if (c == '"') {
            parts.inQuotes = !parts.inQuotes;
        } else if (c == ';' && !parts.inQuotes) {
            parts.end = i; // the rest is a comment
            break;
        } else if (c == '=' && !parts.inQuotes && parts.equals < 0) {
            parts.equals = i;
        }
    }
    return parts;
}

// Why a line a save would not keep; empty when it keeps.
QString checkLine(const QByteArray& line) {
    const LineParts parts = partsOf(line);
    if (parts.endsInEscape) {
        return QStringLiteral("以反斜杠结尾，会和下一行连成一行（反斜杠请写成 \\\\ 或 /）");
    }
    if (parts.inQuotes) {
        return QStringLiteral("中的引号没有配对，会和下一行连成一行");
    }
    const qsizetype equals = parts.equals;
    const qsizetype end = parts.end;
    const QByteArray content = line.left(end).trimmed();
    if (content.isEmpty()) {
        return {};
    }
    if (content.startsWith('[')) {
        const qsizetype close = content.indexOf(']');
        if (close < 0) {
            return QStringLiteral("缺少“]”，不是完整的“[节名]”");
        }
        return close == content.size() - 1 ? QString() : QStringLiteral("在“]”之后还有文字");
    }
    if (equals < 0) {
        return QStringLiteral("不是“键=值”的形式");
    }
    if (line.left(equals).trimmed().isEmpty()) {
        return QStringLiteral("缺少“=”前的键名");
    }
    const QByteArray value = line.mid(equals + 1, end - equals - 1);
    // Within the spaces and tabs QSettings takes off a value's ends, a control
    // character would be written back as an escape, which no setting holds.
    qsizetype first = 0;
    qsizetype last = value.size();
    while (first < last && (value.at(first) == ' ' || value.at(first) == '\t')) {
        ++first;
    }
    while (last > first && (value.at(last - 1) == ' ' || value.at(last - 1) == '\t')) {
        --last;
    }
    for (qsizetype i = first; i < last; ++i) {
        if (static_cast<unsigned char>(value.at(i)) < 0x20) {
            return QStringLiteral("中有控制字符（如制表符），请删去");
        }
    }
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i) != '\\') {
            continue;
        }
        if (!ownEscape(value, i + 1)) {
            return QStringLiteral("中的“\\%1”会被读成别的文字（反斜杠请写成 \\\\ 或 /）")
                .arg(QString::fromUtf8(value.mid(i + 1, 1)));
        }
        ++i;
    }
    return {};
}

} // namespace

QByteArray withoutBom(const QByteArray& text) {
    return text.startsWith("\xEF\xBB\xBF") ? text.mid(3) : text;
}

QList<QByteArray> textLines(const QByteArray& text) {
    const QByteArray body = withoutBom(text);
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < body.size(); ++i) {
        const char c = body.at(i);
        if (c == '\n' || c == '\r') {
            lines.append(body.mid(start, i - start));
            if (c == '\r' && i + 1 < body.size() && body.at(i + 1) == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    lines.append(body.mid(start));
    return lines;
}

std::optional<ConfigLineProblem> findUnkeptLine(const QByteArray& text) {
    const QList<QByteArray> lines = textLines(text);
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QByteArray& line = lines.at(n);
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString decoded = utf8(line);
        if (utf8.hasError()) {
            return ConfigLineProblem{int(n + 1), shownLine(text, int(n + 1)),
                                     QStringLiteral("不是 UTF-8 文字（请以 UTF-8 编码保存 config.ini）")};
        }
        Q_UNUSED(decoded);
        // A comment runs to the end of its line, backslashes and all.
        if (line.trimmed().startsWith(';')) {
            continue;
        }
        const QString why = checkLine(line);
        if (!why.isEmpty()) {
            return ConfigLineProblem{int(n + 1), shownLine(text, int(n + 1)), why};
        }
    }
    return std::nullopt;
}

QByteArray withLineNumbers(const QByteArray& text) {
    const QList<QByteArray> lines = textLines(text);
    QByteArray numbered;
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QByteArray& line = lines.at(n);
        const QByteArray content = line.trimmed();
        const qsizetype equals = partsOf(line).equals;
        if (content.startsWith(';') || content.startsWith('[') || equals < 0) {
            numbered += line;
        } else {
            // After the name as QSettings trims it.
            qsizetype nameEnd = equals;
            while (nameEnd > 0 && std::isspace(static_cast<unsigned char>(line.at(nameEnd - 1)))) {
                --nameEnd;
            }
            numbered += line.left(nameEnd) + kLineNumberMark + QByteArray::number(n + 1) + line.mid(nameEnd);
        }
        numbered += '\n';
    }
    return numbered;
}

QString shownLine(const QByteArray& text, int line) {
    const QList<QByteArray> lines = textLines(text);
    if (line < 1 || line > lines.size()) {
        return {};
    }
    // On one line, control and direction characters shown escaped.
    return common::excerpt(common::oneLine(QString::fromUtf8(lines.at(line - 1))), kShownChars);
}

QString describe(const ConfigLineProblem& problem) {
    return QStringLiteral("第 %1 行“%2”%3").arg(problem.line).arg(problem.text, problem.why);
}

} // namespace velk
