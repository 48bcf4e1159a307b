// Raw packet log: every FSD line sent or received, under logs/network, with the
// login secret masked. The ten newest of its files are kept; each file is capped.
#include "manager/NetworkManager.h"

#include "AppConfig.h"
#include "common/NewLogFile.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace velk::manager {

namespace {

constexpr int kKeptFiles = 10;
const QString kMask = QStringLiteral("******");

QString utcStamp(const QString& format) {
    return QDateTime::currentDateTimeUtc().toString(format);
}

// Size of the text once written as UTF-8.
qint64 utf8Length(const QString& text) {
    qint64 n = 0;
    const QChar* p = text.constData();
    const QChar* end = p + text.size();
    for (; p != end; ++p) {
        const char16_t c = p->unicode();
        if (c < 0x80) {
            n += 1;
        } else if (c < 0x800) {
            n += 2;
        } else if (p->isHighSurrogate() && p + 1 != end && (p + 1)->isLowSurrogate()) {
            n += 4;
            ++p;
        } else {
            n += 3;
        }
    }
    return n;
}

bool isLoginLine(const QString& line) {
    return line.startsWith(QLatin1String("#AA"), Qt::CaseInsensitive) ||
           line.startsWith(QLatin1String("#AP"), Qt::CaseInsensitive);
}

// Names the log takes: "network-<UTC yyyy-MM-dd_hh-mm-ss>.log", with "-2",
// "-3", ... before ".log" when that name is taken.
const QRegularExpression kLogName =
    common::newLogFileNames(QStringLiteral(R"(network-\d{4}-\d\d-\d\d_\d\d-\d\d-\d\d)"));

// Keeps room for one more log among the newest kKeptFiles. Only the log's
// own files count: anything else in the folder, links included, is left alone.
void applyRetention(const QDir& dir) {
    QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::Time); // newest first
    // One dated later than now was written by a clock that ran ahead and was
    // set back: it is older than any dated before now.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::stable_partition(files.begin(), files.end(),
                          [&](const QFileInfo& file) { return file.lastModified() <= now; });
    qsizetype seen = 0;
    for (const QFileInfo& file : files) {
        if (kLogName.match(file.fileName()).hasMatch() && ++seen >= kKeptFiles) {
            QFile::remove(file.absoluteFilePath());
        }
    }
}

} // namespace

QString NetworkManager::rawLogFilePath() const {
    return m_rawLogFile.fileName();
}

void NetworkManager::openRawLog() {
    const QString folder = QDir(QString::fromStdU16String(m_config->logsDirectory().u16string()))
                               .filePath(QStringLiteral("network"));
    QDir dir(folder);
    if (!dir.exists() && !QDir().mkpath(folder)) {
        qCritical() << "Unable to create directory" << QDir::toNativeSeparators(folder);
        return;
    }
    applyRetention(dir);
    m_rawLogBytes = 0;
    if (common::createNewLogFile(m_rawLogFile, dir,
                                 QStringLiteral("network-") +
                                     utcStamp(QStringLiteral("yyyy-MM-dd_hh-mm-ss")))) {
        m_rawLogStream.setDevice(&m_rawLogFile);
    } else {
        m_rawLogStream.setDevice(nullptr);
    }
}

void NetworkManager::rotateRawLog() {
    m_rawLogStream.flush();
    m_rawLogStream.setDevice(nullptr);
    m_rawLogFile.close();
    openRawLog();
}

void NetworkManager::writeRawLog(const QString& entry) {
    const qint64 size = utf8Length(entry);
    if (m_rawLogBytes > 0 && m_rawLogBytes + size > m_rawLogSizeLimit) {
        rotateRawLog();
        if (!m_rawLogFile.isOpen()) {
            return;
        }
    }
    m_rawLogStream << entry;
    m_rawLogBytes += size;
}

QString NetworkManager::maskSecrets(const QString& line) const {
    // Both the FSD token and the stored password are masked, whichever road
    // the login took.
    QString masked = line;
    const QString secrets[] = {m_fsdToken, m_config->value(ConfigKeys::AuthPassword)};
    for (const QString& secret : secrets) {
        if (!secret.isEmpty()) {
            masked.replace(secret, kMask, Qt::CaseSensitive);
        }
    }
    return masked;
}

void NetworkManager::onRawDataSent(QString data) {
    if (!m_rawLogFile.isOpen()) {
        return;
    }
    if (isLoginLine(data)) {
        data = maskSecrets(data);
    }
    writeRawLog(QStringLiteral("[%1] >>> %2").arg(utcStamp(QStringLiteral("HH:mm:ss.zzz")), data));
}

void NetworkManager::onRawDataReceived(QString data) {
    if (!m_rawLogFile.isOpen()) {
        return;
    }
    if (isLoginLine(data)) {
        data = maskSecrets(data);
    }
    writeRawLog(QStringLiteral("[%1] <<< %2").arg(utcStamp(QStringLiteral("HH:mm:ss.zzz")), data));
}

void NetworkManager::flushLogTimer() {
    if (m_rawLogFile.isOpen()) {
        m_rawLogStream.flush();
    }
}

void NetworkManager::stopRawLogFlushing() {
    if (m_rawLogFile.isOpen()) {
        m_rawLogStream.flush();
        m_logFlushTimer.stop();
    }
}

} // namespace velk::manager
