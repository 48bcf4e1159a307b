#include "AppConfig.h"

#include "crypto/QAESEncryption.h"
#include "simulator/msfs/MsfsPaths.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>

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
    : QObject(parent), m_directory(QDir(directory).absolutePath()) {
    QDir().mkpath(m_directory);
    m_settings = std::make_unique<QSettings>(QDir(m_directory).filePath(kConfigFile), QSettings::IniFormat);
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
    return m_settings->fileName();
}

QVariant AppConfig::rawValue(const QString& name, ConfigStorage storage, const QVariant& defaultValue) const {
    QMutexLocker lock(&m_mutex);
    if (storage == ConfigStorage::SessionOnly) {
        return m_session.value(name, defaultValue);
    }
    if (!m_settings->contains(name)) {
        return defaultValue;
    }
    const QVariant stored = m_settings->value(name);
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
    const QString text = m_settings->value(key.name).toString();
    return !text.isEmpty() && !m_cipher->decryptFromBase64(text);
}

void AppConfig::removeInterruptedSaves(const QString& directory) {
    // A save writes the whole file to "config.ini.XXXXXX" (six letters) and
    // renames it over config.ini; a kill in between leaves the copy.
    static const QRegularExpression temporary(QStringLiteral("^config\\.ini\\.[A-Za-z]{6}$"));
    const QDir dir(directory);
    for (const QFileInfo& entry :
         dir.entryInfoList({kConfigFile + QStringLiteral(".*")}, QDir::Files | QDir::Hidden | QDir::System)) {
        if (entry.isSymLink() || !temporary.match(entry.fileName()).hasMatch()) {
            continue;
        }
        if (QFile::remove(entry.filePath())) {
            qInfo().noquote() << "Removed" << entry.fileName()
                              << "left by a save of config.ini that was cut short";
        } else {
            qWarning().noquote() << "Could not remove" << entry.filePath()
                                 << "left by a save that was cut short";
        }
    }
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
            if (storage == ConfigStorage::Encrypted) {
                m_session.remove(name);
            }
            // QSettings keeps its first error for good: after a failed write a
            // fresh object tells whether this one reaches the file.
            if (m_settings->status() != QSettings::NoError) {
                m_settings = std::make_unique<QSettings>(m_settings->fileName(), QSettings::IniFormat);
            }
            if (storage == ConfigStorage::Encrypted) {
                const QString plain = value.toString();
                m_settings->setValue(name, plain.isEmpty() ? QString() : m_cipher->encryptToBase64(plain));
            } else {
                m_settings->setValue(name, storedForm(value));
            }
            m_settings->sync();
            written = m_settings->status() == QSettings::NoError;
            if (!written) {
                qWarning().noquote() << "Could not write" << name << "to" << m_settings->fileName();
            }
        }
    }
    emit configChanged(name);
    return written;
}

void AppConfig::writeDefaults() {
    QMutexLocker lock(&m_mutex);
    bool changed = false;
    for (const auto& key : ConfigKeys::all()) {
        if (key.storage == ConfigStorage::SessionOnly || m_settings->contains(key.name)) {
            continue;
        }
        m_settings->setValue(key.name, storedForm(key.defaultValue));
        changed = true;
    }
    lock.unlock();
    discoverMsfsFolders();
    lock.relock();
    if (changed) {
        m_settings->sync();
    }
}

void AppConfig::discoverMsfsFolders() {
    using namespace simulator::msfs;
    struct Slot {
        const ConfigKey<QString>& packages;
        const ConfigKey<QString>& community;
        int simulator;
    };
    const Slot generations[] = {{ConfigKeys::MSFSPackagesPath2020, ConfigKeys::MSFSCommunityPath2020, 1},
                                {ConfigKeys::MSFSPackagesPath2024, ConfigKeys::MSFSCommunityPath2024, 2}};
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
        QMutexLocker lock(&m_mutex);
        if (needPackages) {
            m_settings->setValue(slot.packages.name, packages);
        }
        const QString community = QDir(packages).filePath(QStringLiteral("Community"));
        if (needCommunity && QFileInfo(community).isDir()) {
            m_settings->setValue(slot.community.name, community);
        }
        m_settings->sync();
        qInfo().noquote() << "Discovered MSFS packages folder" << packages << "for simulator"
                          << slot.simulator;
    }
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
