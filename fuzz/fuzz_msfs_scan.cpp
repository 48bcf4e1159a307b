// MSFS installation files through the library scan: an aircraft.cfg, the base
// container it names and a UserCfg.opt, each any text, are scanned or skipped
// and the library still matches.
//
// Input: the three files separated by lines "----" (missing parts are empty).
#include "AppConfig.h"
#include "ConfigKeys.h"
#include "FuzzSupport.h"
#include "simulator/msfs/MsfsAircraftLibrary.h"
#include "simulator/msfs/MsfsPaths.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

using velk::simulator::msfs::MsfsAircraftLibrary;
using velk::simulator::msfs::MsfsRuntimeProfile;

namespace {

bool write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    velk::fuzz::initQt();
    const QList<QByteArray> parts = velk::fuzz::bytesOf(data, size).split('\n');
    QByteArray files[3];
    int part = 0;
    for (const QByteArray& line : parts) {
        if (line.trimmed() == "----" && part < 2) {
            ++part;
            continue;
        }
        files[part] += line + '\n';
    }
    QTemporaryDir root(velk::fuzz::scratchTemplate());
    const QString community = QDir(root.path()).filePath(QStringLiteral("Community"));
    write(community + QStringLiteral("/fuzz-pkg/SimObjects/Airplanes/fuzz/aircraft.cfg"), files[0]);
    write(community + QStringLiteral("/fuzz-base/SimObjects/Airplanes/base/aircraft.cfg"), files[1]);
    const QString userCfg = QDir(root.path()).filePath(QStringLiteral("UserCfg.opt"));
    write(userCfg, files[2]);
    velk::simulator::msfs::readInstalledPackagesPath(userCfg);

    velk::AppConfig::instance()->setValues(velk::ConfigKeys::MSFSPackagesPath2020, root.path(),
                                           velk::ConfigKeys::MSFSCommunityPath2020, community,
                                           velk::ConfigKeys::MSFSCustomMappingPaths2020, QStringList());
    MsfsAircraftLibrary* library = MsfsAircraftLibrary::instance();
    library->reload();
    QDeadlineTimer deadline(20000);
    while (!library->isReady() || library->isScanning()) {
        if (deadline.hasExpired()) {
            velk::fuzz::fail("library scan did not finish");
        }
        QThread::yieldCurrentThread();
    }
    library->match(MsfsRuntimeProfile::Msfs2020, QStringLiteral("A320"), QStringLiteral("CES"), QString());
    return 0;
}
