#pragma once

#include <QMetaType>
#include <QtGlobal>

namespace velk::input {

// Codes of the five mouse buttons a binding can name (Qt::MouseButton values).
namespace MouseButtonCode {
inline constexpr int Left = 1;
inline constexpr int Right = 2;
inline constexpr int Middle = 4;
inline constexpr int X1 = 8;
inline constexpr int X2 = 16;
} // namespace MouseButtonCode

// A decoded push-to-talk binding.
struct PttBinding {
    enum class Kind : quint8 { Keyboard = 0, Mouse = 1, Joystick = 2 };

    Kind kind = Kind::Keyboard;
    // Keyboard: Windows virtual-key code; Mouse: MouseButtonCode; Joystick: SDL button index.
    qint32 code = 0;
    // Joystick: the controller's position in SDL's device order, which stays the
    // same across runs for the same controllers (SDL's instance ids do not); -1 otherwise.
    qint32 joystickId = -1;

    bool operator==(const PttBinding&) const = default;
};

} // namespace velk::input

Q_DECLARE_METATYPE(velk::input::PttBinding)
