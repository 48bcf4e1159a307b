#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <QVarLengthArray>

#include <cstdint>

// What the scoring compares of a profile, built once when the scan builds the
// profile, since a match scores every profile.
namespace velk::simulator::msfs {

// The characters an alphanumeric key keeps, of an upper-case text.
inline bool isKeyChar(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

// Where one text's key (MsfsAircraftLibrary::alnumKey) and tokens
// (MsfsAircraftLibrary::tokens) lie in its profile's keys.
struct MsfsTextKeys {
    std::int32_t keyStart = 0;
    std::int32_t keyLength = 0;
    std::int32_t firstToken = 0;
    std::int32_t tokenCount = 0;
};

// Every text's key run together in one buffer, its tokens as spans of it: a
// handful of allocations per profile instead of one per token.
class MsfsProfileKeys {
public:
    MsfsTextKeys icaoType; // key only
    MsfsTextKeys packageName;
    MsfsTextKeys title;
    MsfsTextKeys displayName;
    MsfsTextKeys variation;
    MsfsTextKeys airline;
    MsfsTextKeys manufacturer;
    MsfsTextKeys model;
    bool namesFamily = false; // the profile belongs to an add-on family

    QStringView key(const MsfsTextKeys& text) const {
        return QStringView(keys).mid(text.keyStart, text.keyLength);
    }
    bool hasToken(const MsfsTextKeys& text, QStringView token) const;

private:
    friend class MsfsKeyBuilder;
    struct Span {
        std::int32_t start = 0;
        std::int32_t length = 0;
    };
    QString keys;
    QList<Span> tokens;
};

// Fills one MsfsProfileKeys, text by text.
class MsfsKeyBuilder {
public:
    MsfsTextKeys addText(QStringView text);
    MsfsTextKeys addKey(QStringView text);
    // The keys added so far, run together.
    QStringView keysSoFar() const { return QStringView(keys.constData(), keys.size()); }
    // Hands over the keys, copied once at their final size.
    void finish(MsfsProfileKeys& out) const;

private:
    MsfsTextKeys append(QStringView text, bool withTokens);

    QVarLengthArray<char16_t, 512> keys;
    QVarLengthArray<MsfsProfileKeys::Span, 64> tokens;
};

} // namespace velk::simulator::msfs

Q_DECLARE_TYPEINFO(velk::simulator::msfs::MsfsProfileKeys, Q_RELOCATABLE_TYPE);
