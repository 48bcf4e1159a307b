#pragma once

#include "ConfigFile.h"
#include "ConfigKeys.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QVariantMap>

#include <filesystem>
#include <memory>
#include <type_traits>

class QAESEncryption;

namespace velk {

// The configuration store over config.ini beside the executable. Reads are
// safe from any thread; configChanged is emitted on the writing thread. What
// another program writes to config.ini is seen at the next read; a save merges
// the file as it is then with this run's values.
class AppConfig : public QObject {
    Q_OBJECT

public:
    // Store over <directory>/config.ini; the encryption key lives beside it.
    explicit AppConfig(const QString& directory, QObject* parent = nullptr);
    ~AppConfig() override;

    static AppConfig* instance();

    template <typename T> T value(const ConfigKey<T>& key) const {
        return convert<T>(rawValue(key.name, key.storage, QVariant::fromValue(key.defaultValue)));
    }

    // False when the value could not be written to config.ini; it then lives
    // for this run only. configChanged follows either way.
    template <typename T> bool setValue(const ConfigKey<T>& key, const std::type_identity_t<T>& value) {
        return writeRaw(key.name, key.storage, QVariant::fromValue(value));
    }

    // setValues(key1, value1, key2, value2, ...): one write per pair, in order.
    // Every pair is written, also after one that fails; false when any failed.
    template <typename K, typename V, typename... Rest>
    bool setValues(const K& key, const V& value, const Rest&... rest) {
        const bool written = setValue(key, value);
        if constexpr (sizeof...(rest) > 0) {
            return setValues(rest...) && written;
        }
        return written;
    }

    bool resetValue(const ConfigKey<QString>& key) { return setValue(key, key.defaultValue); }

    // True when config.ini holds a sealed value of `key` that this run's key
    // cannot open (a lost, replaced or unreadable key file); it reads as its default.
    bool isUnreadable(const ConfigKey<QString>& key) const;
    // Why the key lives in memory for this run, naming the key file; empty when it is on disk.
    QString keyFileProblem() const { return m_keyProblem; }

    std::filesystem::path logsDirectory() const;
    std::filesystem::path applicationDirectory() const;
    QString filePath() const;

signals:
    void configChanged(const QString& key);

private:
    template <typename T> static T convert(const QVariant& v);

    QVariant rawValue(const QString& name, ConfigStorage storage, const QVariant& defaultValue) const;
    bool writeRaw(const QString& name, ConfigStorage storage, const QVariant& value);
    void writeDefaults();
    // Packages and community folders found for the simulators whose keys are empty.
    QVariantMap discoverMsfsFolders() const;

    // With m_mutex held.
    void refreshLocked() const;
    bool containsLocked(const QString& name) const;
    QVariant storedLocked(const QString& name) const;
    // A pending value found or set while config.ini could not be read, where
    // the file, read since, holds one.
    bool yieldsToFileLocked(const QString& name) const;
    bool saveLocked(QString* reason);

    QString m_directory;
    QString m_path;
    mutable QMutex m_mutex;
    // What config.ini held when it was last read or written, and what sat at
    // its path then: a different look at the path reads it again.
    mutable QVariantMap m_fileValues;
    mutable FileStamp m_stamp;
    mutable bool m_loaded = false;
    // False while what sits at config.ini cannot be read: it is then never
    // replaced, so that nothing it holds is lost.
    mutable bool m_usable = false;
    mutable QString m_unusableReason;
    // Values of this run that have not reached the file yet (a failed save);
    // they are read in its place and carried by the next save.
    QVariantMap m_pending;
    // Keys of m_pending found on this machine while config.ini could not be
    // read: what the file holds for them, once it can be read, wins.
    QSet<QString> m_discovered;
    // Keys of m_pending set while config.ini could not be read (a save the
    // pilot was told failed), with m_reads then: what the file holds for
    // them when it is read again is what the pilot stored, and wins.
    QHash<QString, int> m_unreadWrites;
    // How often config.ini has been read.
    mutable int m_reads = 0;
    std::unique_ptr<QAESEncryption> m_cipher;
    // False when the key lives in memory only: secrets are then not written.
    bool m_keyOnDisk = false;
    QString m_keyProblem;
    // Session-only keys, and secrets kept in memory because the key is not on disk.
    QHash<QString, QVariant> m_session;
};

template <> QString AppConfig::convert<QString>(const QVariant& v);
template <> bool AppConfig::convert<bool>(const QVariant& v);
template <> int AppConfig::convert<int>(const QVariant& v);
template <> double AppConfig::convert<double>(const QVariant& v);
template <> QStringList AppConfig::convert<QStringList>(const QVariant& v);

} // namespace velk
