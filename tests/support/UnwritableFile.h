#pragma once

#include <QDir>
#include <QFile>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>

namespace velk::test {

// Makes a file unwritable, for root too: while this lives a folder stands in
// the file's place, and no save can rename a file over a folder. The file
// comes back as it was.
class UnwritableFile {
public:
    explicit UnwritableFile(const QString& path) : m_path(path) {
        QFile file(path);
        m_content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        file.remove();
        QDir().mkpath(path);
    }
    ~UnwritableFile() {
        QDir(m_path).removeRecursively();
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(m_content);
        }
    }

private:
    QString m_path;
    QByteArray m_content;
};

// Makes a folder read-only, for root too, while this lives: it is mounted
// read-only over itself, in the test's own mount namespace where it runs as
// root. What is in it stays readable.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(const QString& dir) : m_path(QFile::encodeName(dir)) {
        const char* path = m_path.constData();
        m_set = ::mount(path, path, nullptr, MS_BIND, nullptr) == 0;
        if (m_set && ::mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
            ::umount2(path, MNT_DETACH);
            m_set = false;
        }
    }
    ~ReadOnlyFolder() {
        if (m_set) {
            ::umount2(m_path.constData(), MNT_DETACH);
        }
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;
    bool isSet() const { return m_set; }

private:
    QByteArray m_path;
    bool m_set = false;
};

// While it lives, no file this process writes grows past `bytes`, as on a
// full disk: the size limit, its signal ignored.
class FullDisk {
public:
    explicit FullDisk(rlim_t bytes) : m_signal(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit small = m_old;
        small.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FullDisk() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_signal);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;
    bool isSet() const { return m_set; }

private:
    void (*m_signal)(int);
    rlimit m_old{};
    bool m_set = false;
};

} // namespace velk::test
