#include "simulator/msfs/MsfsProfileKeys.h"

#include <algorithm>

namespace velk::simulator::msfs {

bool MsfsProfileKeys::hasToken(const MsfsTextKeys& text, QStringView token) const {
    const QStringView all(keys);
    for (std::int32_t i = text.firstToken; i < text.firstToken + text.tokenCount; ++i) {
        const Span& span = tokens.at(i);
        if (span.length == token.size() && all.mid(span.start, span.length) == token) {
            return true;
        }
    }
    return false;
}

MsfsTextKeys MsfsKeyBuilder::addText(QStringView text) {
    return append(text, true);
}

MsfsTextKeys MsfsKeyBuilder::addKey(QStringView text) {
    return append(text, false);
}

MsfsTextKeys MsfsKeyBuilder::append(QStringView text, bool withTokens) {
    // ASCII upper-cases letter by letter; anything else through Qt, whose
    // upper case can turn one character into several.
    QString upperCopy;
    QStringView upper = text.trimmed();
    for (const QChar c : upper) {
        if (c.unicode() >= 0x80) {
            upperCopy = upper.toString().toUpper();
            upper = upperCopy;
            break;
        }
    }
    MsfsTextKeys out;
    out.keyStart = static_cast<std::int32_t>(keys.size());
    out.firstToken = static_cast<std::int32_t>(tokens.size());
    const auto addToken = [this, &out](qsizetype start) {
        const char16_t* token = keys.constData() + start;
        const auto length = static_cast<std::int32_t>(keys.size() - start);
        for (std::int32_t i = out.firstToken; i < out.firstToken + out.tokenCount; ++i) {
            if (tokens[i].length == length &&
                std::equal(token, token + length, keys.constData() + tokens[i].start)) {
                return;
            }
        }
        tokens.append({static_cast<std::int32_t>(start), length});
        ++out.tokenCount;
    };
    // Every character goes into the key; a token's span is its first run.
    qsizetype runStart = -1;
    for (qsizetype i = 0; i <= upper.size(); ++i) {
        char16_t c = i < upper.size() ? upper[i].unicode() : u' ';
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
        if (isKeyChar(c)) {
            if (runStart < 0) {
                runStart = keys.size();
            }
            keys.append(c);
        } else if (runStart >= 0) {
            if (withTokens) {
                addToken(runStart);
            }
            runStart = -1;
        }
    }
    out.keyLength = static_cast<std::int32_t>(keys.size()) - out.keyStart;
    if (withTokens && out.keyLength > 0) {
        addToken(out.keyStart);
    }
    return out;
}

void MsfsKeyBuilder::finish(MsfsProfileKeys& out) const {
    out.keys = keysSoFar().toString();
    out.tokens = QList<MsfsProfileKeys::Span>(tokens.cbegin(), tokens.cend());
}

} // namespace velk::simulator::msfs
