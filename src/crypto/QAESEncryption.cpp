#include "crypto/QAESEncryption.h"

#include "common/DiskSync.h"
#include "common/FileAside.h"
#include "common/RegularFile.h"

#include <QDebug>
#include <QDir>
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

QString named(const QString& path) {
    return QDir::toNativeSeparators(path);
}

enum class KeyFileState { Read, Missing, Unreadable, Malformed };

struct KeyFileRead {
    KeyFileState state = KeyFileState::Missing;
    QByteArray key;
    // For the pilot, naming the file, when it cannot be used.
    QString problem;
};

KeyFileRead readKeyFile(const QString& path) {
    using Status = velk::common::RegularFileRead::Status;
    const auto read = velk::common::readRegularFile(path, MaxKeyFileSize);
    switch (read.status) {
    case Status::Missing:
        return {};
    case Status::NotRegular:
    case Status::Unreadable:
        qWarning().noquote() << "Key file" << path << "cannot be read:" << read.reason;
        return {KeyFileState::Unreadable,
                {},
                read.status == Status::NotRegular
                    ? QStringLiteral("密钥文件 %1 不是普通文件").arg(named(path))
                    : QStringLiteral("密钥文件 %1 无法读取：%2").arg(named(path), read.reason)};
    case Status::TooLarge:
        qWarning().noquote() << "Key file" << path << "is malformed:" << read.reason;
        return {KeyFileState::Malformed, {}, {}};
    case Status::Read:
        break;
    }
    const QByteArray& data = read.data;
    // An editor's trailing newline leaves the key itself intact.
    if (data.size() < QAESEncryption::KeySize || !data.mid(QAESEncryption::KeySize).trimmed().isEmpty()) {
        qWarning().noquote() << "Key file" << path << "is malformed:" << data.size() << "bytes";
        return {KeyFileState::Malformed, {}, {}};
    }
    return {KeyFileState::Read, data.left(QAESEncryption::KeySize), {}};
}

// Creates the file only when nothing, not even a dangling link, is at `path`,
// and returns only once the key and the file's name are on the disk: what is
// sealed with the key is written after, so a power cut can never leave sealed
// values beside an empty key file. Empty on success, else the problem.
QString createKeyFile(const QString& path, const QByteArray& key) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                  QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        if (QFileInfo(path).isSymLink()) {
            qWarning().noquote() << "Key file" << path << "is a link to nothing";
            return QStringLiteral("密钥文件 %1 是指向不存在位置的链接").arg(named(path));
        }
        qWarning().noquote() << "Key file" << path << "cannot be created:" << out.errorString();
        return QStringLiteral("无法创建密钥文件 %1：%2").arg(named(path), out.errorString());
    }
    QString reason;
    if (out.write(key) != key.size() || !out.flush()) {
        reason = out.errorString();
    } else if (QAESEncryption::syncToDisk(out.handle(), &reason) &&
               velk::common::syncPath(QFileInfo(path).absolutePath(), &reason, QAESEncryption::syncToDisk)) {
        out.close();
        return {};
    }
    // The file is this run's own, just made: nothing else can be in it.
    qWarning().noquote() << "Key file" << path << "cannot be written to the disk:" << reason;
    out.close();
    out.remove();
    return QStringLiteral("无法写入密钥文件 %1：%2").arg(named(path), reason);
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

QAESEncryption::SyncToDisk QAESEncryption::syncToDisk = &velk::common::syncDescriptor;

QAESEncryption::StoredKey QAESEncryption::loadOrCreateKey(const QString& path) {
    const KeyFileRead found = readKeyFile(path);
    switch (found.state) {
    case KeyFileState::Read:
        return {found.key, true, {}};
    case KeyFileState::Unreadable:
        // Perhaps for this run only (permissions, a failing drive), or not
        // the client's file at all: it stays as it is, and what it sealed can
        // be read once it can be.
        qCritical().noquote() << "Encrypted settings are kept in memory for this run";
        return {randomBytes(KeySize), false, found.problem};
    case KeyFileState::Malformed: {
        // Only the client's own file is moved aside: a link was put there by someone else.
        const bool plain = velk::common::isPlainFile(path);
        const QString aside = plain ? velk::common::moveAside(path, QStringLiteral("unusable")) : QString();
        if (aside.isEmpty()) {
            qCritical().noquote() << "Key file" << path
                                  << (plain ? "cannot be moved aside" : "is a link, left as it is")
                                  << "- encrypted settings are kept in memory for this run";
            return {randomBytes(KeySize), false,
                    QStringLiteral("密钥文件 %1 已损坏，未被移开").arg(named(path))};
        }
        qWarning().noquote() << "Unusable key file moved aside to" << aside
                             << "- values sealed with it cannot be read with the new key";
        break;
    }
    case KeyFileState::Missing:
        break;
    }
    const QByteArray key = randomBytes(KeySize);
    if (key.size() != KeySize) {
        qCritical() << "Could not obtain random bytes for the configuration key";
        return {{}, false, QStringLiteral("无法生成密钥文件 %1 的密钥").arg(named(path))};
    }
    const QString problem = createKeyFile(path, key);
    if (!problem.isEmpty()) {
        qCritical().noquote() << "Could not create the key file" << path
                              << "- encrypted settings are kept in memory for this run";
        return {key, false, problem};
    }
    return {key, true, {}};
}
