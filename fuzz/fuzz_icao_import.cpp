// Aircraft-type imports: any legacy JSON cache or Doc8643 text is imported or
// refused, and the database that results answers look-ups.
#include "FuzzSupport.h"
#include "network/SwiftAircraftIcaoService.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

using velk::network::SwiftAircraftIcaoService;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    velk::fuzz::initQt();
    // No real user's legacy database is ever read.
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir appDir(velk::fuzz::scratchTemplate());
    // The first byte picks the source: the legacy JSON cache or the Doc8643 text.
    const QString relative = data[0] % 2 == 0 ? QStringLiteral("cache/swift/aircrafticao.json")
                                              : QStringLiteral("Resources/Doc8643.txt");
    const QString path = QDir(appDir.path()).filePath(relative);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(velk::fuzz::bytesOf(data + 1, size - 1)) < 0) {
        return 0;
    }
    file.close();
    SwiftAircraftIcaoService service(appDir.path());
    for (const char* query : {"B738", "A20N", "H/B744/L", "C172", ""}) {
        const QString text = QString::fromLatin1(query);
        service.normalizeDesignator(text);
        service.searchDesignators(text, 10);
        service.recordsForDesignator(text);
    }
    return 0;
}
