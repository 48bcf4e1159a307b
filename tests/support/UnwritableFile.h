#pragma once

#include <QDir>
#include <QFile>

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

} // namespace velk::test
