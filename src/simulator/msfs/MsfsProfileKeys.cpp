#include "simulator/msfs/MsfsProfileKeys.h"

#include "simulator/msfs/MsfsPaths.h"

#include <QString>

#include <algorithm>

namespace velk::simulator::msfs {

bool MsfsKeyTable::hasToken(const MsfsTextKeys& text, QStringView token) const {
    for (std::int32_t i = text.firstToken; i < text.firstToken + text.tokenCount; ++i) {
        const Span& span = tokens[static_cast<std::size_t>(i)];
        if (span.length == token.size() && std::equal(token.begin(), token.end(), chars.data() + span.start,
                                                      [](QChar a, char16_t b) { return a.unicode() == b; })) {
            return true;
        }
    }
    return false;
}

void MsfsKeyTable::reserve(qsizetype profileCount) {
    // Room for the usual hundred key characters and a few dozen tokens a profile.
    chars.reserve(static_cast<std::size_t>(profileCount) * 96);
    tokens.reserve(static_cast<std::size_t>(profileCount) * 24);
    profiles.reserve(profileCount);
}

void MsfsKeyTable::clear() {
    chars.clear();
    tokens.clear();
    profiles.clear();
}

MsfsTextKeys MsfsKeyTable::addText(QStringView text) {
    return add(text, true);
}

MsfsTextKeys MsfsKeyTable::addKey(QStringView text) {
    return add(text, false);
}

MsfsTextKeys MsfsKeyTable::add(QStringView text, bool withTokens) {
    // ASCII upper-cases letter by letter; anything else through Qt, whose
    // upper case can turn one character into several.
    QString upperCopy;
    QStringView upper = trimmedView(text);
    for (const QChar c : upper) {
        if (c.unicode() >= 0x80) {
            upperCopy = upper.toString().toUpper();
            upper = upperCopy;
            break;
        }
    }
    MsfsTextKeys out;
    if (!fits(static_cast<std::size_t>(upper.size()) + 1, static_cast<std::size_t>(upper.size()) + 1)) {
        return out;
    }
    out.keyStart = static_cast<std::int32_t>(chars.size());
    out.firstToken = static_cast<std::int32_t>(tokens.size());
    const auto addToken = [this, &out](qsizetype start) {
        const char16_t* token = chars.data() + start;
        const auto length = static_cast<std::int32_t>(static_cast<qsizetype>(chars.size()) - start);
        for (std::int32_t i = out.firstToken; i < out.firstToken + out.tokenCount; ++i) {
            const Span& seen = tokens[static_cast<std::size_t>(i)];
            if (seen.length == length && std::equal(token, token + length, chars.data() + seen.start)) {
                return;
            }
        }
        tokens.push_back({static_cast<std::int32_t>(start), length});
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
                runStart = static_cast<qsizetype>(chars.size());
            }
            chars.push_back(c);
        } else if (runStart >= 0) {
            if (withTokens) {
                addToken(runStart);
            }
            runStart = -1;
        }
    }
    out.keyLength = static_cast<std::int32_t>(chars.size()) - out.keyStart;
    if (withTokens && out.keyLength > 0) {
        addToken(out.keyStart);
    }
    return out;
}

bool MsfsKeyTable::fits(std::size_t moreChars, std::size_t moreTokens) const {
    constexpr auto limit = static_cast<std::size_t>(INT32_MAX);
    return chars.size() + moreChars < limit && tokens.size() + moreTokens < limit;
}

void MsfsKeyTable::append(const MsfsKeyTable& other) {
    if (!fits(other.chars.size(), other.tokens.size())) {
        // Keys stay parallel to the profiles, if empty.
        profiles.resize(profiles.size() + other.profiles.size());
        return;
    }
    const auto charBase = static_cast<std::int32_t>(chars.size());
    const auto tokenBase = static_cast<std::int32_t>(tokens.size());
    chars.insert(chars.end(), other.chars.begin(), other.chars.end());
    for (Span span : other.tokens) {
        span.start += charBase;
        tokens.push_back(span);
    }
    profiles.reserve(profiles.size() + other.profiles.size());
    for (MsfsProfileKeys keys : other.profiles) {
        for (MsfsTextKeys* text :
             {&keys.icaoType, &keys.packageName, &keys.title, &keys.displayName, &keys.variation,
              &keys.airline, &keys.manufacturer, &keys.model, &keys.rootKind}) {
            text->keyStart += charBase;
            text->firstToken += tokenBase;
        }
        profiles.append(keys);
    }
}

} // namespace velk::simulator::msfs
