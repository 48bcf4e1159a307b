#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Keys of the message centre: six fixed channels, and one conversation per
// station. A station whose callsign reads like a channel ("RADIO", "COM1"),
// like "ALL" or begins with the marker gets the marker in front of its key,
// so that a conversation key never names a channel and every key names one
// station only.
namespace velk::ui::messages {

inline const QString Server = QStringLiteral("SERVER");
inline const QString Radio = QStringLiteral("RADIO");
inline const QString Private = QStringLiteral("PRIVATE");
inline const QString Broadcast = QStringLiteral("BROADCAST");
inline const QString Wallop = QStringLiteral("WALLOP");
inline const QString Selcal = QStringLiteral("SELCAL");

// The six fixed keys in the order of the channel list.
const QStringList& fixedChannels();
bool isFixedChannel(const QString& key);
// The label of a fixed channel; a conversation key's callsign.
QString channelLabel(const QString& key);

// A channel or conversation key as written by the page: trimmed and upper
// case, "COM1" and "COM2" mean "RADIO", empty means "SERVER"; a conversation
// key comes back in its one canonical form.
QString normalizeChannelKey(const QString& text);

// The conversation key of a station (trimmed, upper case); empty when the
// callsign is.
QString conversationKey(const QString& callsign);
// The station of a conversation key.
QString callsignOfKey(const QString& key);

// A frequency in kHz as shown: MHz with exactly three decimals ("122.800").
QString frequencyText(uint frequencyKhz);
QStringList frequencyTexts(const QList<uint>& frequenciesKhz);

} // namespace velk::ui::messages
