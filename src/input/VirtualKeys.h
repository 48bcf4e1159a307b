#pragma once

// Windows virtual-key codes that bindings store ("kb:<code>"). Low-level key
// events name left and right modifiers separately.
namespace velk::input::vk {

inline constexpr int Back = 0x08;
inline constexpr int Tab = 0x09;
inline constexpr int Return = 0x0D;
inline constexpr int Shift = 0x10;
inline constexpr int Control = 0x11;
inline constexpr int Menu = 0x12;
inline constexpr int Pause = 0x13;
inline constexpr int CapsLock = 0x14;
inline constexpr int Escape = 0x1B;
inline constexpr int Space = 0x20;
inline constexpr int PageUp = 0x21;
inline constexpr int PageDown = 0x22;
inline constexpr int End = 0x23;
inline constexpr int Home = 0x24;
inline constexpr int Left = 0x25;
inline constexpr int Up = 0x26;
inline constexpr int Right = 0x27;
inline constexpr int Down = 0x28;
inline constexpr int PrintScreen = 0x2C;
inline constexpr int Insert = 0x2D;
inline constexpr int Delete = 0x2E;
inline constexpr int Digit0 = 0x30;  // '0'..'9'
inline constexpr int LetterA = 0x41; // 'A'..'Z'
inline constexpr int LWin = 0x5B;
inline constexpr int RWin = 0x5C;
inline constexpr int Apps = 0x5D;
inline constexpr int Numpad0 = 0x60; // ..0x69
inline constexpr int Multiply = 0x6A;
inline constexpr int Add = 0x6B;
inline constexpr int Separator = 0x6C;
inline constexpr int Subtract = 0x6D;
inline constexpr int Decimal = 0x6E;
inline constexpr int Divide = 0x6F;
inline constexpr int F1 = 0x70; // ..F24 = 0x87
inline constexpr int NumLock = 0x90;
inline constexpr int ScrollLock = 0x91;
inline constexpr int LShift = 0xA0;
inline constexpr int RShift = 0xA1;
inline constexpr int LControl = 0xA2;
inline constexpr int RControl = 0xA3;
inline constexpr int LAlt = 0xA4;
inline constexpr int RAlt = 0xA5;
inline constexpr int Semicolon = 0xBA;
inline constexpr int Equals = 0xBB;
inline constexpr int Comma = 0xBC;
inline constexpr int Minus = 0xBD;
inline constexpr int Period = 0xBE;
inline constexpr int Slash = 0xBF;
inline constexpr int Grave = 0xC0;
inline constexpr int BracketLeft = 0xDB;
inline constexpr int Backslash = 0xDC;
inline constexpr int BracketRight = 0xDD;
inline constexpr int Apostrophe = 0xDE;
inline constexpr int Oem102 = 0xE2; // the extra key beside left Shift on ISO keyboards

} // namespace velk::input::vk
