#include "input/X11KeyMap.h"

#include "input/PttBinding.h"
#include "input/VirtualKeys.h"

#include <X11/keysym.h>

namespace velk::input {

int virtualKeyFromKeysym(unsigned long keysym) {
    if (keysym >= XK_a && keysym <= XK_z) {
        return vk::LetterA + static_cast<int>(keysym - XK_a);
    }
    if (keysym >= XK_A && keysym <= XK_Z) {
        return vk::LetterA + static_cast<int>(keysym - XK_A);
    }
    if (keysym >= XK_0 && keysym <= XK_9) {
        return vk::Digit0 + static_cast<int>(keysym - XK_0);
    }
    if (keysym >= XK_F1 && keysym <= XK_F24) {
        return vk::F1 + static_cast<int>(keysym - XK_F1);
    }
    if (keysym >= XK_KP_0 && keysym <= XK_KP_9) {
        return vk::Numpad0 + static_cast<int>(keysym - XK_KP_0);
    }
    switch (keysym) {
    case XK_Shift_L:
        return vk::LShift;
    case XK_Shift_R:
        return vk::RShift;
    case XK_Control_L:
        return vk::LControl;
    case XK_Control_R:
        return vk::RControl;
    case XK_Alt_L:
    case XK_Meta_L:
        return vk::LAlt;
    case XK_Alt_R:
    case XK_Meta_R:
    case XK_ISO_Level3_Shift:
        return vk::RAlt;
    case XK_Super_L:
        return vk::LWin;
    case XK_Super_R:
        return vk::RWin;
    case XK_Menu:
        return vk::Apps;
    case XK_BackSpace:
        return vk::Back;
    case XK_Tab:
    case XK_ISO_Left_Tab:
        return vk::Tab;
    case XK_Return:
    case XK_KP_Enter:
        return vk::Return;
    case XK_Pause:
        return vk::Pause;
    case XK_Caps_Lock:
        return vk::CapsLock;
    case XK_Escape:
        return vk::Escape;
    case XK_space:
        return vk::Space;
    case XK_Prior:
        return vk::PageUp;
    case XK_Next:
        return vk::PageDown;
    case XK_End:
        return vk::End;
    case XK_Home:
        return vk::Home;
    case XK_Left:
        return vk::Left;
    case XK_Up:
        return vk::Up;
    case XK_Right:
        return vk::Right;
    case XK_Down:
        return vk::Down;
    case XK_Print:
        return vk::PrintScreen;
    case XK_Insert:
        return vk::Insert;
    case XK_Delete:
        return vk::Delete;
    case XK_Num_Lock:
        return vk::NumLock;
    case XK_Scroll_Lock:
        return vk::ScrollLock;
    // Keypad with Num Lock off: the digit keys' first level.
    case XK_KP_Insert:
        return vk::Numpad0;
    case XK_KP_End:
        return vk::Numpad0 + 1;
    case XK_KP_Down:
        return vk::Numpad0 + 2;
    case XK_KP_Next:
        return vk::Numpad0 + 3;
    case XK_KP_Left:
        return vk::Numpad0 + 4;
    case XK_KP_Begin:
        return vk::Numpad0 + 5;
    case XK_KP_Right:
        return vk::Numpad0 + 6;
    case XK_KP_Home:
        return vk::Numpad0 + 7;
    case XK_KP_Up:
        return vk::Numpad0 + 8;
    case XK_KP_Prior:
        return vk::Numpad0 + 9;
    case XK_KP_Delete:
    case XK_KP_Decimal:
        return vk::Decimal;
    case XK_KP_Multiply:
        return vk::Multiply;
    case XK_KP_Add:
        return vk::Add;
    case XK_KP_Separator:
        return vk::Separator;
    case XK_KP_Subtract:
        return vk::Subtract;
    case XK_KP_Divide:
        return vk::Divide;
    case XK_semicolon:
        return vk::Semicolon;
    case XK_equal:
        return vk::Equals;
    case XK_comma:
        return vk::Comma;
    case XK_minus:
        return vk::Minus;
    case XK_period:
        return vk::Period;
    case XK_slash:
        return vk::Slash;
    case XK_grave:
        return vk::Grave;
    case XK_bracketleft:
        return vk::BracketLeft;
    case XK_backslash:
        return vk::Backslash;
    case XK_bracketright:
        return vk::BracketRight;
    case XK_apostrophe:
        return vk::Apostrophe;
    case XK_less:
        return vk::Oem102;
    default:
        return 0;
    }
}

int mouseCodeFromXButton(int button) {
    switch (button) {
    case 1:
        return MouseButtonCode::Left;
    case 2:
        return MouseButtonCode::Middle;
    case 3:
        return MouseButtonCode::Right;
    case 8:
        return MouseButtonCode::X1;
    case 9:
        return MouseButtonCode::X2;
    default:
        return 0; // 4-7 are the wheels
    }
}

} // namespace velk::input
