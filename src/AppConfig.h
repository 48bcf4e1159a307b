#pragma once

#include "ConfigKeys.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSettings>

#include <filesystem>
#include <memory>
#include <type_traits>

class QAESEncryption;

namespace velk {

// The configuration store over config.ini beside the executable. Reads are
// safe from any thread; configChanged is emitted on the writing thread.
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

    // Removes what saves of config.ini in `directory` that were cut short
    // (the process killed) left behind. Only while no other process can be
    // saving there, that is with the folder's instance lock held.
    static void removeInterruptedSaves(const QString& directory);

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
    void discoverMsfsFolders();

    QString m_directory;
    mutable QMutex m_mutex;
    std::unique_ptr<QSettings> m_settings;
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
