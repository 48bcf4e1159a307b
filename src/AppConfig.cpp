#include "AppConfig.h"

#include "crypto/QAESEncryption.h"
#include "simulator/msfs/MsfsPaths.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>

#include <optional>

namespace velk {

namespace {
const QString kConfigFile = QStringLiteral("config.ini");
const QString kKeyFile = QStringLiteral("config.key");

// Text as config.ini keeps it. QSettings reads a U+FEFF as a byte order
// mark, dropping it, wherever a value's text starts (at its start, after
// quotes, escapes or empty items): none is stored. Control characters would
// be written as escapes ("\t", "\f"), which a Windows path typed by hand
// with single backslashes also makes: the store writes none, so that any
// such escape in the file is known to be a typing error.
QString storableText(QString text) {
    text.remove(QChar::ByteOrderMark);
    for (QChar& c : text) {
        if (c.unicode() < 0x20) {
            c = QLatin1Char(' ');
        }
    }
    return text;
}

// A value as config.ini gives it back. QSettings writes an empty list as
// "@Invalid()" (an empty text reads back the same).
QVariant storedForm(const QVariant& value) {
    if (value.metaType().id() == QMetaType::QStringList) {
        QStringList list = value.toStringList();
        for (QString& item : list) {
            item = storableText(item);
        }
        // One empty text reads back as no list at all.
        return list.isEmpty() || list == QStringList{QString()} ? QVariant(QString()) : QVariant(list);
    }
    if (value.metaType().id() == QMetaType::QString) {
        return storableText(value.toString());
    }
    return value;
}

bool isList(const QVariant& value) {
    const int type = value.metaType().id();
    return type == QMetaType::QStringList || type == QMetaType::QVariantList;
}

// True when both read back alike from config.ini, where every value is text.
bool sameStored(const QVariant& a, const QVariant& b) {
    if (isList(a) || isList(b)) {
        const auto list = [](const QVariant& v) {
            return isList(v) || !v.toString().isEmpty() ? v.toStringList() : QStringList();
        };
        return list(a) == list(b);
    }
    return a.toString() == b.toString();
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
    {
        QMutexLocker lock(&m_mutex);
        refreshLocked();
        m_startProblem = m_unusableReason;
        m_startLine = m_unusableLine;
    }
    writeDefaults();
    // Told at start also when nothing needs writing yet.
    QMutexLocker lock(&m_mutex);
    if (m_startProblem.isEmpty() && m_writeProblem.isEmpty()) {
        m_writeProblem = whyNotWritable(m_path);
    }
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

QString AppConfig::readProblem() const {
    QMutexLocker lock(&m_mutex);
    refreshLocked(true);
    return readProblemLocked();
}

QString AppConfig::writeProblem() const {
    QMutexLocker lock(&m_mutex);
    return m_writeProblem;
}

void AppConfig::refreshLocked(bool retry) const {
    // What could not be read at start is left alone for the run: read later in
    // part, or after a change, it could stand for a file it is not.
    if (!m_startProblem.isEmpty() ||
        (m_loaded && (!retry || m_unusableReason.isEmpty() || m_unusableLine > 0) &&
         stampOf(m_path) == m_stamp)) {
        return;
    }
    const bool atStart = !m_loaded;
    ConfigFileRead read = readConfigFile(m_path, m_directory);
    m_loaded = true;
    m_stamp = read.stamp;
    switch (read.status) {
    case ConfigFileRead::Status::Read:
        m_fileValues = std::move(read.values);
        m_unusableReason.clear();
        m_unusableLine = 0;
        break;
    case ConfigFileRead::Status::Missing:
        m_fileValues.clear();
        m_unusableReason.clear();
        m_unusableLine = 0;
        break;
    case ConfigFileRead::Status::Unusable: {
        // Values read before stay; the file is left as it is. Said once for
        // each new reason, not at every retry.
        const QString reason = read.reason.isEmpty() ? QStringLiteral("原因不明") : read.reason;
        if (reason != m_unusableReason) {
            qWarning().noquote()
                << "Cannot read the settings file" << QDir::toNativeSeparators(m_path)
                << QStringLiteral("(%1); %2")
                       .arg(reason, atStart ? QStringLiteral("this run uses the defaults and never writes it")
                                            : QStringLiteral("it is not written until it can be read"));
        }
        m_unusableReason = reason;
        m_unusableLine = read.line;
        break;
    }
    }
}

std::optional<QVariant> AppConfig::fileValue(const QString& name, ConfigStorage storage,
                                             const QVariant& defaultValue) const {
    QMutexLocker lock(&m_mutex);
    if (storage == ConfigStorage::SessionOnly) {
        return defaultValue;
    }
    refreshLocked();
    if (!canWriteLocked()) {
        // A folder, a FIFO or a device holds no settings that any start reads;
        // a file that cannot be read may hold anything.
        if (m_stamp.error == 0 && m_stamp.isRegularFile()) {
            return std::nullopt;
        }
        return defaultValue;
    }
    const auto stored = m_fileValues.constFind(name);
    if (stored == m_fileValues.cend()) {
        return defaultValue;
    }
    if (storage != ConfigStorage::Encrypted) {
        return *stored;
    }
    const QString text = stored->toString();
    const auto plain = text.isEmpty() ? std::nullopt : m_cipher->decryptFromBase64(text);
    return plain ? QVariant(*plain) : defaultValue;
}

bool AppConfig::stageLocked(const ConfigWrite& write) {
    const QString& name = write.key.name;
    const ConfigStorage storage = write.key.storage;
    if (storage == ConfigStorage::SessionOnly) {
        m_session.insert(name, write.value);
        return true;
    }
    const QString plain = write.value.toString();
    const bool keyLost = storage == ConfigStorage::Encrypted && !plain.isEmpty() && !m_keyOnDisk;
    if (keyLost || !canWriteLocked()) {
        // Sealed with a key that dies with this run, a secret could never be
        // read again; a file that cannot be read is not known to hold
        // anything. config.ini keeps what it has.
        m_session.insert(name, write.value);
        m_pending.remove(name);
        if (keyLost) {
            qWarning().noquote() << "Keeping" << name
                                 << "in memory for this run: the encryption key is not on disk";
        }
        return false;
    }
    m_session.remove(name);
    // What the file holds, a missing key reading as its default.
    const QVariant onDisk = m_fileValues.value(name, storedForm(write.key.defaultValue));
    bool holds = false;
    if (storage != ConfigStorage::Encrypted) {
        holds = sameStored(onDisk, storedForm(write.value));
    } else {
        const QString sealed = onDisk.toString();
        holds = sealed.isEmpty() ? plain.isEmpty() : m_cipher->decryptFromBase64(sealed) == plain;
    }
    if (holds) {
        m_pending.remove(name);
    } else {
        m_pending.insert(name, write);
    }
    return true;
}

bool AppConfig::saveLocked(QString* reason) {
    QVariantMap all = m_fileValues;
    for (const ConfigWrite& write : std::as_const(m_pending)) {
        QVariant stored = storedForm(write.value);
        if (write.key.storage == ConfigStorage::Encrypted) {
            const QString plain = write.value.toString();
            stored = plain.isEmpty() ? QString() : m_cipher->encryptToBase64(plain);
        }
        all.insert(write.key.name, stored);
    }
    FileStamp stamp;
    if (!canWriteLocked()) {
        *reason = readProblemLocked();
    } else if (writeConfigFile(m_path, all, reason, &stamp)) {
        m_fileValues = std::move(all);
        m_pending.clear();
        m_stamp = stamp;
        m_writeProblem.clear();
        return true;
    }
    // Never written later unasked: the pilot is told it was not saved, and
    // the file may be edited by hand in the meantime.
    for (const ConfigWrite& write : std::as_const(m_pending)) {
        m_session.insert(write.key.name, write.value);
    }
    m_pending.clear();
    m_writeProblem = *reason;
    return false;
}

QVariant AppConfig::rawValue(const QString& name, ConfigStorage storage, const QVariant& defaultValue) const {
    QMutexLocker lock(&m_mutex);
    // Values of this run only are read first: config.ini may hold no key of theirs.
    if (storage == ConfigStorage::SessionOnly || m_session.contains(name)) {
        return m_session.value(name, defaultValue);
    }
    if (const auto pending = m_pending.constFind(name); pending != m_pending.cend()) {
        return pending->value;
    }
    refreshLocked();
    if (!m_fileValues.contains(name)) {
        return defaultValue;
    }
    const QVariant stored = m_fileValues.value(name);
    if (storage == ConfigStorage::Encrypted) {
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
    if (key.storage != ConfigStorage::Encrypted || m_session.contains(key.name) ||
        m_pending.contains(key.name)) {
        return false;
    }
    refreshLocked();
    const QString text = m_fileValues.value(key.name).toString();
    return !text.isEmpty() && !m_cipher->decryptFromBase64(text);
}

bool AppConfig::write(const QList<ConfigWrite>& writes, QStringList* notWritten) {
    QStringList missed;
    {
        QMutexLocker lock(&m_mutex);
        refreshLocked(true);
        QStringList changed;
        for (const ConfigWrite& write : writes) {
            if (!stageLocked(write)) {
                missed << write.key.name;
            } else if (m_pending.contains(write.key.name)) {
                changed << write.key.name;
            }
        }
        QString reason;
        if (!canWriteLocked() && !missed.isEmpty()) {
            reason = readProblemLocked();
            qWarning().noquote() << "Could not write" << missed.join(QStringLiteral(", ")) << "to"
                                 << QDir::toNativeSeparators(m_path) << QStringLiteral("(%1)").arg(reason);
        } else if (!changed.isEmpty() && !saveLocked(&reason)) {
            missed << changed;
            qWarning().noquote() << "Could not write" << changed.join(QStringLiteral(", ")) << "to"
                                 << QDir::toNativeSeparators(m_path) << QStringLiteral("(%1)").arg(reason);
        }
    }
    for (const ConfigWrite& write : writes) {
        emit configChanged(write.key.name);
    }
    if (notWritten) {
        *notWritten = missed;
    }
    return missed.isEmpty();
}

void AppConfig::writeSoon(const QList<ConfigWrite>& writes) {
    {
        QMutexLocker lock(&m_mutex);
        refreshLocked();
        for (const ConfigWrite& write : writes) {
            stageLocked(write);
        }
        if (!m_saveScheduled && !m_pending.isEmpty()) {
            m_saveScheduled = true;
            QMetaObject::invokeMethod(this, &AppConfig::saveSoon, Qt::QueuedConnection);
        }
    }
    for (const ConfigWrite& write : writes) {
        emit configChanged(write.key.name);
    }
}

void AppConfig::saveSoon() {
    QMutexLocker lock(&m_mutex);
    m_saveScheduled = false;
    refreshLocked(true);
    if (m_pending.isEmpty()) {
        return;
    }
    const QStringList keys = m_pending.keys();
    QString reason;
    if (!saveLocked(&reason)) {
        qWarning().noquote() << "Could not write" << keys.join(QStringLiteral(", ")) << "to"
                             << QDir::toNativeSeparators(m_path) << QStringLiteral("(%1)").arg(reason);
    }
}

void AppConfig::writeDefaults() {
    if (isSetAside()) {
        return;
    }
    const QVariantMap discovered = discoverMsfsFolders();
    QMutexLocker lock(&m_mutex);
    for (const auto& key : ConfigKeys::all()) {
        if (key.storage != ConfigStorage::SessionOnly && !m_fileValues.contains(key.name)) {
            m_pending.insert(key.name, {key, key.defaultValue});
        }
    }
    for (auto it = discovered.cbegin(); it != discovered.cend(); ++it) {
        if (const ConfigKeyInfo* key = ConfigKeys::find(it.key())) {
            m_pending.insert(it.key(), {*key, it.value()});
        }
    }
    QString reason;
    if (!m_pending.isEmpty() && !saveLocked(&reason)) {
        // Defaults read as defaults anyway: only what the start found lives on for the run.
        for (const auto& key : ConfigKeys::all()) {
            if (!discovered.contains(key.name) && key.storage != ConfigStorage::SessionOnly) {
                m_session.remove(key.name);
            }
        }
        qWarning().noquote() << "Could not write the default settings to" << QDir::toNativeSeparators(m_path)
                             << QStringLiteral("(%1)").arg(reason);
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
