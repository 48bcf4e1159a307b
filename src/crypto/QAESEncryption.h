#pragma once

#include "common/DiskSync.h"

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

    struct StoredKey {
        QByteArray key; // empty only when no random bytes could be had
        // False for a key that lives in memory only: what it seals is lost at exit.
        bool onDisk = false;
        // Why not, for the pilot, naming the key file; empty when on disk.
        QString problem;
    };

    // Reads the key file (32 bytes, then at most white space), or creates it
    // with a fresh random key readable only by the owner, on the disk before
    // this returns. An existing file is never overwritten: one that is read
    // and malformed is moved aside first; one that cannot be read (also a
    // folder, FIFO or device, which is never waited on) is left as it is, and
    // the key is then in memory only, as it is when the move or the creation
    // fails.
    static StoredKey loadOrCreateKey(const QString& path);
    static QByteArray randomBytes(int count);

    // Flushes an open descriptor (the new key file, then its folder) to the
    // disk; false with the system's reason. Replaceable so that a test can
    // watch it, or make it fail.
    using SyncToDisk = velk::common::SyncFunction;
    static SyncToDisk syncToDisk;

private:
    QByteArray m_key;
};
