#pragma once

#include <QString>

namespace velk::ui::viewmodel::checks {

// Tone frequencies the settings accept: audible, and below half of any rate
// the audio devices run at.
inline constexpr double kMinToneHz = 20.0;
inline constexpr double kMaxToneHz = 20000.0;

// Each check gives the problem of one field, named as the pilot knows it
// ("X-Plane UDP 端口无效（应为 1 至 65535）"), or an empty text when it holds.
QString udpPort(int port);
// An address the X-Plane back end can use: an IPv4 or IPv6 literal or "localhost".
QString xplaneAddress(const QString& address);
QString micGain(double dB);
// Volumes are stored as 0..1 and shown in percent.
QString volume(const QString& field, double volume);
QString toneFrequency(const QString& field, double hz);
// 0 headphones, 1 speaker.
QString playDevice(const QString& field, int device);

// Status lines of the settings page.
QString loadedWithProblem(const QString& problem);
QString saveRefused(const QString& problem);
// config.ini at `path` could not be read; `forTheRun` when not since the start.
QString notRead(const QString& path, const QString& reason, bool forTheRun);
// A save that did not land, naming the file and why.
QString writeFailed(const QString& path, const QString& reason);
// Saves fail for now (a folder that cannot be written at start).
QString notWritable(const QString& path, const QString& reason);
extern const QString kPasswordNotStored;

} // namespace velk::ui::viewmodel::checks
