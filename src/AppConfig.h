#pragma once

#include "ConfigFile.h"
#include "ConfigKeys.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QVariantMap>

#include <filesystem>
#include <memory>
#include <optional>
#include <type_traits>

class QAESEncryption;

namespace velk {

// One value to write, for writes put together at run time.
struct ConfigWrite {
    ConfigKeyInfo key;
    QVariant value;
};

template <typename T> ConfigWrite configWrite(const ConfigKey<T>& key, const std::type_identity_t<T>& value) {
    return {{key.name, QVariant::fromValue(key.defaultValue), key.storage}, QVariant::fromValue(value)};
}

// The configuration store over config.ini beside the executable. Reads are
// safe from any thread; configChanged is emitted on the writing thread. What
// another program writes to config.ini is seen at the next read; a save merges
// the file as it is then with this run's values. A config.ini that cannot be
// read whole at start, or holds a line a save would not give back as it
// stands, is neither read nor written again in that run, so that nothing it
// holds is lost. A save lands at once or not at all: what it could not write
// lives in memory for the run and is never written later unasked.
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

    // What config.ini holds for `key` as the next start would read it, this
    // run's values aside; nullopt when that cannot be known (a file there
    // that cannot be read).
    template <typename T> std::optional<T> storedValue(const ConfigKey<T>& key) const {
        const std::optional<QVariant> stored =
            fileValue(key.name, key.storage, QVariant::fromValue(key.defaultValue));
        return stored ? std::optional<T>(convert<T>(*stored)) : std::nullopt;
    }

    // True when the value is in config.ini (or needed no write); false when it
    // lives for this run only. configChanged follows either way.
    template <typename T> bool setValue(const ConfigKey<T>& key, const std::type_identity_t<T>& value) {
        return write({configWrite(key, value)});
    }

    // setValues(key1, value1, key2, value2, ...): every pair, in order, in one
    // save; true when all of them are in config.ini.
    template <typename... Pairs> bool setValues(const Pairs&... pairs) {
        QList<ConfigWrite> writes;
        collect(writes, pairs...);
        return write(writes);
    }

    // The values in one save of config.ini, none when they change nothing
    // there; then configChanged for each, in order. True when all of them are
    // in config.ini; `notWritten` gets the keys of those that live for this
    // run only (a failed save, a file that cannot be read, or a secret while
    // the key is not on disk).
    bool write(const QList<ConfigWrite>& writes, QStringList* notWritten = nullptr);

    // Takes the values at once and saves them at the next turn of the event
    // loop, unless a save of the same action carries them first.
    void writeSoon(const QList<ConfigWrite>& writes);

    bool resetValue(const ConfigKey<QString>& key) { return setValue(key, key.defaultValue); }

    // True when config.ini holds a sealed value of `key` that this run's key
    // cannot open (a lost, replaced or unreadable key file); it reads as its default.
    bool isUnreadable(const ConfigKey<QString>& key) const;
    // Why the key lives in memory for this run, naming the key file; empty when it is on disk.
    QString keyFileProblem() const { return m_keyProblem; }
    // Why config.ini cannot be read now, or could not be at start (it is then
    // left alone for the run); empty when it is read. In Chinese.
    QString readProblem() const;
    // True when config.ini could not be read at start.
    bool isSetAside() const { return !m_startProblem.isEmpty(); }
    // True when the start set config.ini aside for a line of it.
    bool isSetAsideForALine() const { return m_startLine > 0; }
    // Why the last save failed, or what stood in the way of one at start, in
    // Chinese; empty once one lands.
    QString writeProblem() const;

    std::filesystem::path logsDirectory() const;
    std::filesystem::path applicationDirectory() const;
    QString filePath() const;

signals:
    void configChanged(const QString& key);

private:
    template <typename T> static T convert(const QVariant& v);

    template <typename K, typename V, typename... Rest>
    static void collect(QList<ConfigWrite>& writes, const K& key, const V& value, const Rest&... rest) {
        writes.append(configWrite(key, value));
        if constexpr (sizeof...(rest) > 0) {
            collect(writes, rest...);
        }
    }

    QVariant rawValue(const QString& name, ConfigStorage storage, const QVariant& defaultValue) const;
    std::optional<QVariant> fileValue(const QString& name, ConfigStorage storage,
                                      const QVariant& defaultValue) const;
    void writeDefaults();
    // Packages and community folders found for the simulators whose keys are empty.
    QVariantMap discoverMsfsFolders() const;

    // With m_mutex held. `retry`: a read that failed is tried again though the
    // file looks unchanged, as a full disk or an I/O error may have passed.
    void refreshLocked(bool retry = false) const;
    // Why config.ini cannot be read, at start or now; empty when it can.
    QString readProblemLocked() const { return m_startProblem.isEmpty() ? m_unusableReason : m_startProblem; }
    bool canWriteLocked() const { return readProblemLocked().isEmpty(); }
    // Takes one value into m_pending, or out of it when the file holds it
    // already. False when it stays in memory only (a secret without a key on
    // disk, or a file that cannot be read).
    bool stageLocked(const ConfigWrite& write);
    // Writes m_pending into the file; what it could not write moves to m_session.
    bool saveLocked(QString* reason);
    void saveSoon();

    QString m_directory;
    QString m_path;
    mutable QMutex m_mutex;
    // What config.ini held when it was last read or written, and what sat at
    // its path then: a different look at the path reads it again.
    mutable QVariantMap m_fileValues;
    mutable FileStamp m_stamp;
    mutable bool m_loaded = false;
    // Why what sits at config.ini cannot be read now; it is then never
    // replaced. Empty when it can.
    mutable QString m_unusableReason;
    mutable int m_unusableLine = 0;
    // Why config.ini could not be read at start; the run then leaves it alone.
    QString m_startProblem;
    int m_startLine = 0;
    QString m_writeProblem;
    // Values of this action not in the file yet, as given (secrets in plain
    // text): carried by the next save, which writes them or moves them to m_session.
    QHash<QString, ConfigWrite> m_pending;
    bool m_saveScheduled = false;
    std::unique_ptr<QAESEncryption> m_cipher;
    // False when the key lives in memory only: secrets are then not written.
    bool m_keyOnDisk = false;
    QString m_keyProblem;
    // Values of this run only: session-only keys, secrets kept in memory
    // because the key is not on disk, and values a save could not write.
    QHash<QString, QVariant> m_session;
};

template <> QString AppConfig::convert<QString>(const QVariant& v);
template <> bool AppConfig::convert<bool>(const QVariant& v);
template <> int AppConfig::convert<int>(const QVariant& v);
template <> double AppConfig::convert<double>(const QVariant& v);
template <> QStringList AppConfig::convert<QStringList>(const QVariant& v);

} // namespace velk
