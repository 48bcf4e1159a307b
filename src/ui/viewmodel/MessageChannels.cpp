#include "ui/viewmodel/MessageChannels.h"

namespace velk::ui::messages {

namespace {

const QChar kMarker = QLatin1Char('~');

bool needsMarker(const QString& callsign) {
    static const QStringList reserved = [] {
        QStringList words = fixedChannels();
        words << QStringLiteral("COM1") << QStringLiteral("COM2") << QStringLiteral("ALL");
        return words;
    }();
    return callsign.startsWith(kMarker) || reserved.contains(callsign);
}

} // namespace

const QStringList& fixedChannels() {
    static const QStringList keys{Server, Radio, Private, Broadcast, Wallop, Selcal};
    return keys;
}

bool isFixedChannel(const QString& key) {
    return fixedChannels().contains(key);
}

QString channelLabel(const QString& key) {
    if (key == Server) {
        return QStringLiteral("服务器");
    }
    if (key == Radio) {
        return QStringLiteral("无线电");
    }
    if (key == Private) {
        return QStringLiteral("私聊");
    }
    if (key == Broadcast) {
        return QStringLiteral("广播");
    }
    if (key == Wallop || key == Selcal) {
        return key;
    }
    return callsignOfKey(key);
}

QString normalizeChannelKey(const QString& text) {
    const QString key = text.trimmed().toUpper();
    if (key == QLatin1String("COM1") || key == QLatin1String("COM2")) {
        return Radio;
    }
    if (key.isEmpty() || isFixedChannel(key)) {
        return key.isEmpty() ? Server : key;
    }
    const QString canonical = conversationKey(callsignOfKey(key));
    return canonical.isEmpty() ? Server : canonical;
}

QString conversationKey(const QString& callsign) {
    const QString station = callsign.trimmed().toUpper();
    return needsMarker(station) ? kMarker + station : station;
}

QString callsignOfKey(const QString& key) {
    return key.startsWith(kMarker) ? key.mid(1) : key;
}

QString frequencyText(uint frequencyKhz) {
    return QString::number(frequencyKhz / 1000.0, 'f', 3);
}

QStringList frequencyTexts(const QList<uint>& frequenciesKhz) {
    QStringList texts;
    texts.reserve(frequenciesKhz.size());
    for (const uint khz : frequenciesKhz) {
        texts << frequencyText(khz);
    }
    return texts;
}

} // namespace velk::ui::messages
