#pragma once

#include <QList>
#include <QStringView>

#include <cstdint>
#include <vector>

// What the scoring compares of a profile, built once when the scan builds the
// profile, since a match scores every profile.
namespace velk::simulator::msfs {

// The characters an alphanumeric key keeps, of an upper-case text.
inline bool isKeyChar(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

// Where one text's key (MsfsAircraftLibrary::alnumKey) and tokens
// (MsfsAircraftLibrary::tokens) lie in its MsfsKeyTable.
// 32-bit, to keep a table small: its pages are fresh memory for every scan.
struct MsfsTextKeys {
    std::int32_t keyStart = 0;
    std::int32_t firstToken = 0;
    std::int32_t keyLength = 0;
    std::int32_t tokenCount = 0;
};

// One profile's texts as the scoring reads them.
struct MsfsProfileKeys {
    MsfsTextKeys icaoType; // key only
    MsfsTextKeys packageName;
    MsfsTextKeys title;
    MsfsTextKeys displayName;
    MsfsTextKeys variation;
    MsfsTextKeys airline;
    MsfsTextKeys manufacturer;
    MsfsTextKeys model;
    MsfsTextKeys rootKind;    // key only
    bool namesFamily = false; // the profile belongs to an add-on family
};

// The keys of a list of profiles: every key run together in one buffer and
// every token a span of it, so that a scan allocates per list, not per
// profile or token.
class MsfsKeyTable {
public:
    qsizetype size() const { return profiles.size(); }
    const MsfsProfileKeys& at(qsizetype i) const { return profiles.at(i); }
    QStringView key(const MsfsTextKeys& text) const {
        return QStringView(chars.data() + text.keyStart, text.keyLength);
    }
    bool hasToken(const MsfsTextKeys& text, QStringView token) const;

    void reserve(qsizetype profileCount);
    // Empty, its memory kept for the next scan.
    void clear();
    // A profile is added text by text, then appended.
    MsfsTextKeys addText(QStringView text);
    MsfsTextKeys addKey(QStringView text);
    void append(const MsfsProfileKeys& keys) { profiles.append(keys); }
    // Another table's profiles after this one's.
    void append(const MsfsKeyTable& other);

private:
    struct Span {
        std::int32_t start = 0;
        std::int32_t length = 0;
    };

    MsfsTextKeys add(QStringView text, bool withTokens);
    // Offsets are 32-bit: a table that would pass that takes no more keys.
    bool fits(std::size_t moreChars, std::size_t moreTokens) const;

    std::vector<char16_t> chars;
    std::vector<Span> tokens;
    QList<MsfsProfileKeys> profiles;
};

} // namespace velk::simulator::msfs
