#include "ui/viewmodel/SettingsChecks.h"

#include "simulator/xplane/XPlaneAdapter.h"
#include "voice/AudioLimits.h"

#include <QDir>

namespace velk::ui::viewmodel::checks {

namespace {

QString invalid(const QString& field, const QString& expected) {
    return QStringLiteral("%1无效（应为%2）").arg(field, expected);
}

// Written so that a NaN fails too.
bool within(double value, double min, double max) {
    return value >= min && value <= max;
}

} // namespace

const QString kPasswordNotStored = QStringLiteral("已保存到 config.ini，但密码只保留到本次运行结束");

QString udpPort(int port) {
    return within(port, 1, 65535)
               ? QString()
               : invalid(QStringLiteral("X-Plane UDP 端口"), QStringLiteral(" 1 至 65535"));
}

QString xplaneAddress(const QString& address) {
    // The back end's own reading of the setting, so that what it can use can be saved.
    if (!simulator::xplane::XPlaneAdapter::targetAddressFor(address).isNull()) {
        return {};
    }
    return invalid(QStringLiteral("X-Plane 地址"), QStringLiteral(" IP 地址或 localhost"));
}

QString micGain(double dB) {
    using voice::kMaxMicGainDb;
    using voice::kMinMicGainDb;
    return within(dB, kMinMicGainDb, kMaxMicGainDb)
               ? QString()
               : invalid(QStringLiteral("麦克风增益"),
                         QStringLiteral(" %1 至 %2 dB").arg(kMinMicGainDb).arg(kMaxMicGainDb));
}

QString volume(const QString& field, double volume) {
    return within(volume, 0.0, 1.0) ? QString() : invalid(field, QStringLiteral(" 0 至 100%"));
}

QString toneFrequency(const QString& field, double hz) {
    return within(hz, kMinToneHz, kMaxToneHz) ? QString() : invalid(field, QStringLiteral(" 20 至 20000 Hz"));
}

QString playDevice(const QString& field, int device) {
    return device == 0 || device == 1 ? QString() : invalid(field, QStringLiteral("耳机或扬声器"));
}

QString loadedWithProblem(const QString& problem) {
    return QStringLiteral("config.ini 有误：%1").arg(problem);
}

QString notRead(const QString& path, const QString& reason, bool forTheRun) {
    return QStringLiteral("无法读取 %1（%2），%3")
        .arg(QDir::toNativeSeparators(path), reason,
             forTheRun ? QStringLiteral("本次运行使用默认设置，不会保存")
                       : QStringLiteral("能读取之前不会保存"));
}

QString writeFailed(const QString& path, const QString& reason) {
    return QStringLiteral("保存失败：无法写入 %1（%2）").arg(QDir::toNativeSeparators(path), reason);
}

QString notWritable(const QString& path, const QString& reason) {
    return QStringLiteral("无法写入 %1（%2），目前无法保存更改").arg(QDir::toNativeSeparators(path), reason);
}

QString saveRefused(const QString& problem) {
    return QStringLiteral("保存失败：%1").arg(problem);
}

} // namespace velk::ui::viewmodel::checks
