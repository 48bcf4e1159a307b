#include "crypto/QAESEncryption.h"

#include "common/FileAside.h"

#include <QDebug>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>

namespace {

struct CtxDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, CtxDeleter>;

// Enough for a key and an editor's trailing white space; more is not a key file.
constexpr qint64 MaxKeyFileSize = 4096;

unsigned char* bytes(QByteArray& a) {
    return reinterpret_cast<unsigned char*>(a.data());
}
const unsigned char* bytes(const QByteArray& a) {
    return reinterpret_cast<const unsigned char*>(a.constData());
}

enum class KeyFileState { Read, Unreadable, Malformed };

KeyFileState readKeyFile(const QString& path, QByteArray& key) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Key file" << path << "cannot be read:" << file.errorString();
        return KeyFileState::Unreadable;
    }
    const QByteArray data = file.read(MaxKeyFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        qWarning().noquote() << "Key file" << path << "cannot be read:" << file.errorString();
        return KeyFileState::Unreadable;
    }
    // An editor's trailing newline leaves the key itself intact.
    if (data.size() < QAESEncryption::KeySize || data.size() > MaxKeyFileSize ||
        !data.mid(QAESEncryption::KeySize).trimmed().isEmpty()) {
        qWarning().noquote() << "Key file" << path << "is malformed:" << data.size() << "bytes";
        return KeyFileState::Malformed;
    }
    key = data.left(QAESEncryption::KeySize);
    return KeyFileState::Read;
}

// Creates the file only when nothing, not even a dangling link, is at `path`.
bool createKeyFile(const QString& path, const QByteArray& key) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        return false;
    }
    if (out.write(key) != key.size() || !out.flush()) {
        out.close();
        out.remove();
        return false;
    }
    out.close();
    return true;
}

} // namespace

QAESEncryption::QAESEncryption(QByteArray key) : m_key(std::move(key)) {}

QByteArray QAESEncryption::randomBytes(int count) {
    QByteArray out(count, Qt::Uninitialized);
    if (RAND_bytes(bytes(out), count) != 1) {
        return {};
    }
    return out;
}

QByteArray QAESEncryption::encrypt(const QByteArray& plain) const {
    if (!isValid()) {
        return {};
    }
    const QByteArray iv = randomBytes(IvSize);
    if (iv.size() != IvSize) {
        return {};
    }
    CtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, IvSize, nullptr) != 1 ||
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, bytes(m_key), bytes(iv)) != 1) {
        return {};
    }
    QByteArray cipher(plain.size() + 16, Qt::Uninitialized);
    int len = 0;
    int total = 0;
    if (!plain.isEmpty() && EVP_EncryptUpdate(ctx.get(), bytes(cipher), &len, bytes(plain),
                                              static_cast<int>(plain.size())) != 1) {
        return {};
    }
    total = len;
    if (EVP_EncryptFinal_ex(ctx.get(), bytes(cipher) + total, &len) != 1) {
        return {};
    }
    total += len;
    cipher.resize(total);
    QByteArray tag(TagSize, Qt::Uninitialized);
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, TagSize, tag.data()) != 1) {
        return {};
    }
    QByteArray out;
    out.reserve(1 + IvSize + cipher.size() + TagSize);
    out.append(FormatVersion).append(iv).append(cipher).append(tag);
    return out;
}

std::optional<QByteArray> QAESEncryption::decrypt(const QByteArray& sealed) const {
    if (!isValid() || sealed.size() < 1 + IvSize + TagSize || sealed.at(0) != FormatVersion) {
        return std::nullopt;
    }
    const QByteArray iv = sealed.mid(1, IvSize);
    const QByteArray cipher = sealed.mid(1 + IvSize, sealed.size() - 1 - IvSize - TagSize);
    QByteArray tag = sealed.right(TagSize);

    CtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, IvSize, nullptr) != 1 ||
        EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, bytes(m_key), bytes(iv)) != 1) {
        return std::nullopt;
    }
    QByteArray plain(cipher.size() + 16, Qt::Uninitialized);
    int len = 0;
    if (!cipher.isEmpty() && EVP_DecryptUpdate(ctx.get(), bytes(plain), &len, bytes(cipher),
                                               static_cast<int>(cipher.size())) != 1) {
        return std::nullopt;
    }
    int total = len;
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, TagSize, tag.data()) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), bytes(plain) + total, &len) != 1) {
        return std::nullopt;
    }
    total += len;
    plain.resize(total);
    return plain;
}

QString QAESEncryption::encryptToBase64(const QString& plain) const {
    return QString::fromLatin1(encrypt(plain.toUtf8()).toBase64());
}

std::optional<QString> QAESEncryption::decryptFromBase64(const QString& text) const {
    const auto decoded =
        QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        return std::nullopt;
    }
    const auto plain = decrypt(*decoded);
    if (!plain) {
        return std::nullopt;
    }
    return QString::fromUtf8(*plain);
}

QAESEncryption::StoredKey QAESEncryption::loadOrCreateKey(const QString& path) {
    if (QFileInfo::exists(path)) {
        QByteArray key;
        switch (readKeyFile(path, key)) {
        case KeyFileState::Read:
            return {key, true};
        case KeyFileState::Unreadable:
            // Perhaps for this run only (permissions, a failing drive): the
            // file stays as it is, and what it sealed can be read once it can be.
            qCritical().noquote() << "Encrypted settings are kept in memory for this run";
            return {randomBytes(KeySize), false};
        case KeyFileState::Malformed:
            break;
        }
        const QString aside = velk::common::moveAside(path, QStringLiteral("unusable"));
        if (aside.isEmpty()) {
            qCritical().noquote()
                << "Key file" << path
                << "cannot be moved aside: encrypted settings are kept in memory for this run";
            return {randomBytes(KeySize), false};
        }
        qWarning().noquote() << "Unusable key file moved aside to" << aside
                             << "- values sealed with it cannot be read with the new key";
    }
    const QByteArray key = randomBytes(KeySize);
    if (key.size() != KeySize) {
        qCritical() << "Could not obtain random bytes for the configuration key";
        return {};
    }
    if (!createKeyFile(path, key)) {
        qCritical().noquote() << "Could not create the key file" << path
                              << "- encrypted settings are kept in memory for this run";
        return {key, false};
    }
    return {key, true};
}
