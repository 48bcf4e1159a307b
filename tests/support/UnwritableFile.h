#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace velk::test {

// Makes a file unwritable, for root too: while it lives a folder stands in the
// file's place, and no save can rename a file over a folder. The file comes
// back as it was when this goes.
class UnwritableFile {
public:
    explicit UnwritableFile(QString path) : m_path(std::move(path)) {
        QFile file(m_path);
        if (file.open(QIODevice::ReadOnly)) {
            m_content = file.readAll();
        }
        file.close();
        QFile::remove(m_path);
        QDir().mkpath(m_path);
    }
    ~UnwritableFile() {
        QDir(m_path).removeRecursively();
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(m_content);
        }
    }
    UnwritableFile(const UnwritableFile&) = delete;
    UnwritableFile& operator=(const UnwritableFile&) = delete;

private:
    QString m_path;
    QByteArray m_content;
};

} // namespace velk::test
