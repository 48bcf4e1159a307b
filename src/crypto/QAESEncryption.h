#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// AES-256-GCM over OpenSSL's EVP interface. Every sealed value carries its own
// random 96-bit IV and 128-bit tag, so equal plain texts never give equal
// cipher texts and any tampering is detected on open.
class QAESEncryption {
public:
    static constexpr int KeySize = 32;
    static constexpr int IvSize = 12;
    static constexpr int TagSize = 16;
    static constexpr char FormatVersion = 1;

    explicit QAESEncryption(QByteArray key);

    bool isValid() const { return m_key.size() == KeySize; }

    // version byte | IV | cipher text | tag. Empty on an OpenSSL failure.
    QByteArray encrypt(const QByteArray& plain) const;
    // nullopt when the data is truncated, of another format, or fails the tag check.
    std::optional<QByteArray> decrypt(const QByteArray& sealed) const;

    // Base64 text forms, as stored in config.ini.
    QString encryptToBase64(const QString& plain) const;
    std::optional<QString> decryptFromBase64(const QString& text) const;

    // Reads the key file, or creates it with a fresh random key readable only
    // by the owner. Returns an empty array when neither works.
    static QByteArray loadOrCreateKey(const QString& path);
    static QByteArray randomBytes(int count);

private:
    QByteArray m_key;
};
