#include "input/KeyNames.h"

#include "input/VirtualKeys.h"

#include <QHash>

namespace velk::input {

namespace {

const QHash<int, QString>& namedKeys() {
    static const QHash<int, QString> names = [] {
        QHash<int, QString> n{
            {vk::Back, QStringLiteral("Backspace")},
            {vk::Tab, QStringLiteral("Tab")},
            {vk::Return, QStringLiteral("Enter")},
            {vk::Shift, QStringLiteral("Shift")},
            {vk::Control, QStringLiteral("Ctrl")},
            {vk::Menu, QStringLiteral("Alt")},
            {vk::Pause, QStringLiteral("Pause")},
            {vk::CapsLock, QStringLiteral("Caps Lock")},
            {vk::Escape, QStringLiteral("Esc")},
            {vk::Space, QStringLiteral("Space")},
            {vk::PageUp, QStringLiteral("Page Up")},
            {vk::PageDown, QStringLiteral("Page Down")},
            {vk::End, QStringLiteral("End")},
            {vk::Home, QStringLiteral("Home")},
            {vk::Left, QStringLiteral("Left")},
            {vk::Up, QStringLiteral("Up")},
            {vk::Right, QStringLiteral("Right")},
            {vk::Down, QStringLiteral("Down")},
            {vk::PrintScreen, QStringLiteral("Print Screen")},
            {vk::Insert, QStringLiteral("Insert")},
            {vk::Delete, QStringLiteral("Delete")},
            {vk::LWin, QStringLiteral("Left Win")},
            {vk::RWin, QStringLiteral("Right Win")},
            {vk::Apps, QStringLiteral("Menu")},
            {vk::Multiply, QStringLiteral("Num *")},
            {vk::Add, QStringLiteral("Num +")},
            {vk::Separator, QStringLiteral("Num ,")},
            {vk::Subtract, QStringLiteral("Num -")},
            {vk::Decimal, QStringLiteral("Num .")},
            {vk::Divide, QStringLiteral("Num /")},
            {vk::NumLock, QStringLiteral("Num Lock")},
            {vk::ScrollLock, QStringLiteral("Scroll Lock")},
            {vk::LShift, QStringLiteral("Left Shift")},
            {vk::RShift, QStringLiteral("Right Shift")},
            {vk::LControl, QStringLiteral("Left Ctrl")},
            {vk::RControl, QStringLiteral("Right Ctrl")},
            {vk::LAlt, QStringLiteral("Left Alt")},
            {vk::RAlt, QStringLiteral("Right Alt")},
            {vk::Semicolon, QStringLiteral(";")},
            {vk::Equals, QStringLiteral("=")},
            {vk::Comma, QStringLiteral(",")},
            {vk::Minus, QStringLiteral("-")},
            {vk::Period, QStringLiteral(".")},
            {vk::Slash, QStringLiteral("/")},
            {vk::Grave, QStringLiteral("`")},
            {vk::BracketLeft, QStringLiteral("[")},
            {vk::Backslash, QStringLiteral("\\")},
            {vk::BracketRight, QStringLiteral("]")},
            {vk::Apostrophe, QStringLiteral("'")},
            {vk::Oem102, QStringLiteral("<>")},
        };
        for (int i = 0; i < 10; ++i) {
            n.insert(vk::Digit0 + i, QString(QChar(u'0' + i)));
            n.insert(vk::Numpad0 + i, QStringLiteral("Num %1").arg(i));
        }
        for (int i = 0; i < 26; ++i) {
            n.insert(vk::LetterA + i, QString(QChar(u'A' + i)));
        }
        for (int i = 0; i < 24; ++i) {
            n.insert(vk::F1 + i, QStringLiteral("F%1").arg(i + 1));
        }
        return n;
    }();
    return names;
}

} // namespace

QString virtualKeyName(int virtualKey) {
    return namedKeys().value(virtualKey);
}

} // namespace velk::input
