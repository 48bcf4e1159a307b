#include "AppConfig.h"

#include "crypto/QAESEncryption.h"
#include "simulator/msfs/MsfsPaths.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

namespace velk {

namespace {
const QString kConfigFile = QStringLiteral("config.ini");
const QString kKeyFile = QStringLiteral("config.key");

// QSettings writes an empty list as "@Invalid()"; an empty text reads back the same.
QVariant storedForm(const QVariant& value) {
    if (value.metaType().id() == QMetaType::QStringList && value.toStringList().isEmpty()) {
        return QString();
    }
    return value;
}
} // namespace

AppConfig::AppConfig(const QString& directory, QObject* parent)
    : QObject(parent), m_directory(QDir(directory).absolutePath()),
      m_path(QDir(m_directory).filePath(kConfigFile)) {
    QDir().mkpath(m_directory);
    const auto stored = QAESEncryption::loadOrCreateKey(QDir(m_directory).filePath(kKeyFile));
    m_keyOnDisk = stored.onDisk;
    m_keyProblem = stored.problem;
    m_cipher = std::make_unique<QAESEncryption>(stored.key);
    writeDefaults();
}

AppConfig::~AppConfig() = default;

AppConfig* AppConfig::instance() {
    static AppConfig* store = new AppConfig(QCoreApplication::applicationDirPath());
    return store;
}

std::filesystem::path AppConfig::applicationDirectory() const {
    return std::filesystem::path(m_directory.toStdU16String());
}

std::filesystem::path AppConfig::logsDirectory() const {
    return applicationDirectory() / "logs";
}

QString AppConfig::filePath() const {
    return m_path;
}

void AppConfig::refreshLocked() const {
    if (m_loaded && stampOf(m_path) == m_stamp) {
        return;
    }
    ConfigFileRead read = readConfigFile(m_path, m_directory);
    m_loaded = true;
    m_stamp = read.stamp;
    switch (read.status) {
    case ConfigFileRead::Status::Read:
        m_fileValues = std::move(read.values);
        m_usable = true;
        ++m_reads;
        if (!read.reason.isEmpty()) {
            qWarning().noquote() << "Settings file" << QDir::toNativeSeparators(m_path)
                                 << QStringLiteral("read in part: %1").arg(read.reason);
        }
        break;
    case ConfigFileRead::Status::Missing:
        m_fileValues.clear();
        m_usable = true;
        break;
    case ConfigFileRead::Status::Unusable:
        // Values read before stay; the file is left as it is.
        m_usable = false;
        m_unusableReason = read.reason;
        qWarning().noquote()
            << "Cannot read the settings file" << QDir::toNativeSeparators(m_path)
            << QStringLiteral("(%1); it is not used or written until it can be read").arg(read.reason);
        break;
    }
}

bool AppConfig::containsLocked(const QString& name) const {
    return m_pending.contains(name) || m_fileValues.contains(name);
}

QVariant AppConfig::storedLocked(const QString& name) const {
    const auto pending = m_pending.constFind(name);
    return pending != m_pending.cend() && !yieldsToFileLocked(name) ? *pending : m_fileValues.value(name);
}

bool AppConfig::yieldsToFileLocked(const QString& name) const {
    if (m_discovered.contains(name)) {
        return !m_fileValues.value(name).toString().trimmed().isEmpty();
    }
    const auto unread = m_unreadWrites.constFind(name);
    return unread != m_unreadWrites.cend() && m_reads > *unread && m_fileValues.contains(name);
}

bool AppConfig::saveLocked(QString* reason) {
    refreshLocked();
    if (!m_usable) {
        *reason = m_unusableReason;
        return false;
    }
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (yieldsToFileLocked(it.key())) {
            m_discovered.remove(it.key());
            m_unreadWrites.remove(it.key());
            it = m_pending.erase(it);
        } else {
            ++it;
        }
    }
    QVariantMap all = m_fileValues;
    all.insert(m_pending);
    FileStamp stamp;
    if (!writeConfigFile(m_path, all, reason, &stamp)) {
        return false;
    }
    m_fileValues = std::move(all);
    m_pending.clear();
    m_discovered.clear();
    m_unreadWrites.clear();
    m_stamp = stamp;
    return true;
}

QVariant AppConfig::rawValue(const QString& name, ConfigStorage storage, const QVariant& defaultValue) const {
    QMutexLocker lock(&m_mutex);
    if (storage == ConfigStorage::SessionOnly) {
        return m_session.value(name, defaultValue);
    }
    refreshLocked();
    if (!containsLocked(name)) {
        return defaultValue;
    }
    const QVariant stored = storedLocked(name);
    if (storage == ConfigStorage::Encrypted) {
        if (m_session.contains(name)) {
            return m_session.value(name);
        }
        const QString text = stored.toString();
        if (text.isEmpty()) {
            return defaultValue;
        }
        const auto plain = m_cipher->decryptFromBase64(text);
        if (!plain) {
            qWarning().noquote() << "Stored value of" << name << "cannot be decrypted; using its default";
            return defaultValue;
        }
        return *plain;
    }
    return stored;
}

bool AppConfig::isUnreadable(const ConfigKey<QString>& key) const {
    QMutexLocker lock(&m_mutex);
    if (key.storage != ConfigStorage::Encrypted || m_session.contains(key.name)) {
        return false;
    }
    refreshLocked();
    const QString text = storedLocked(key.name).toString();
    return !text.isEmpty() && !m_cipher->decryptFromBase64(text);
}

bool AppConfig::writeRaw(const QString& name, ConfigStorage storage, const QVariant& value) {
    bool written = true;
    {
        QMutexLocker lock(&m_mutex);
        const bool secret = storage == ConfigStorage::Encrypted && !value.toString().isEmpty();
        if (storage == ConfigStorage::SessionOnly) {
            m_session.insert(name, value);
        } else if (secret && !m_keyOnDisk) {
            // Sealed with a key that dies with this run, it could never be read
            // again; config.ini keeps what it has.
            m_session.insert(name, value);
            written = false;
            qWarning().noquote() << "Keeping" << name
                                 << "in memory for this run: the encryption key is not on disk";
        } else {
            m_discovered.remove(name);
            if (storage == ConfigStorage::Encrypted) {
                m_session.remove(name);
                const QString plain = value.toString();
                m_pending.insert(name, plain.isEmpty() ? QString() : m_cipher->encryptToBase64(plain));
            } else {
                m_pending.insert(name, storedForm(value));
            }
            QString reason;
            written = saveLocked(&reason);
            if (!written) {
                if (m_usable) {
                    m_unreadWrites.remove(name);
                } else {
                    m_unreadWrites.insert(name, m_reads);
                }
                qWarning().noquote() << "Could not write" << name << "to" << QDir::toNativeSeparators(m_path)
                                     << QStringLiteral("(%1)").arg(reason);
            }
        }
    }
    emit configChanged(name);
    return written;
}

void AppConfig::writeDefaults() {
    QVariantMap defaults;
    {
        QMutexLocker lock(&m_mutex);
        refreshLocked();
        for (const auto& key : ConfigKeys::all()) {
            if (key.storage != ConfigStorage::SessionOnly && !containsLocked(key.name)) {
                defaults.insert(key.name, storedForm(key.defaultValue));
            }
        }
    }
    const QVariantMap discovered = discoverMsfsFolders();
    QMutexLocker lock(&m_mutex);
    m_pending.insert(defaults);
    m_pending.insert(discovered);
    QString reason;
    if (!m_pending.isEmpty() && !saveLocked(&reason)) {
        qWarning().noquote() << "Could not write the default settings to" << QDir::toNativeSeparators(m_path)
                             << QStringLiteral("(%1)").arg(reason);
        // Defaults read as defaults anyway; they must not hide what the file
        // holds once it can be read.
        m_pending = discovered;
        for (auto it = discovered.cbegin(); it != discovered.cend(); ++it) {
            m_discovered.insert(it.key());
        }
    }
}

QVariantMap AppConfig::discoverMsfsFolders() const {
    using namespace simulator::msfs;
    struct Slot {
        const ConfigKey<QString>& packages;
        const ConfigKey<QString>& community;
        int simulator;
    };
    const Slot generations[] = {{ConfigKeys::MSFSPackagesPath2020, ConfigKeys::MSFSCommunityPath2020, 1},
                                {ConfigKeys::MSFSPackagesPath2024, ConfigKeys::MSFSCommunityPath2024, 2}};
    QVariantMap found;
    for (const Slot& slot : generations) {
        const bool needPackages = value(slot.packages).trimmed().isEmpty();
        const bool needCommunity = value(slot.community).trimmed().isEmpty();
        if (!needPackages && !needCommunity) {
            continue;
        }
        const QString packages = discoverPackagesPath(slot.simulator);
        if (packages.isEmpty()) {
            continue;
        }
        if (needPackages) {
            found.insert(slot.packages.name, packages);
        }
        const QString community = QDir(packages).filePath(QStringLiteral("Community"));
        if (needCommunity && QFileInfo(community).isDir()) {
            found.insert(slot.community.name, community);
        }
        qInfo().noquote() << "Discovered MSFS packages folder" << packages << "for simulator"
                          << slot.simulator;
    }
    return found;
}

template <> QString AppConfig::convert<QString>(const QVariant& v) {
    if (v.metaType().id() == QMetaType::QStringList) {
        return v.toStringList().join(QLatin1Char(','));
    }
    return v.toString();
}

template <> bool AppConfig::convert<bool>(const QVariant& v) {
    if (v.metaType().id() == QMetaType::Bool) {
        return v.toBool();
    }
    const QString text = v.toString().trimmed().toLower();
    return text == QLatin1String("true") || text == QLatin1String("1");
}

template <> int AppConfig::convert<int>(const QVariant& v) {
    bool ok = false;
    const int result = v.toInt(&ok);
    return ok ? result : 0;
}

template <> double AppConfig::convert<double>(const QVariant& v) {
    bool ok = false;
    const double result = v.toDouble(&ok);
    return ok ? result : 0.0;
}

template <> QStringList AppConfig::convert<QStringList>(const QVariant& v) {
    if (v.metaType().id() == QMetaType::QStringList) {
        return v.toStringList();
    }
    if (v.metaType().id() == QMetaType::QVariantList) {
        return v.toStringList();
    }
    const QString text = v.toString();
    return text.isEmpty() ? QStringList() : QStringList{text};
}

} // namespace velk
