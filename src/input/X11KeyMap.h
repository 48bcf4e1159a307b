#pragma once

namespace velk::input {

// Windows virtual-key code of an X keysym (the key's first-level symbol), 0
// for a key push-to-talk does not know. Keypad keys give the same code
// whatever the Num Lock state, so a binding does not depend on it.
int virtualKeyFromKeysym(unsigned long keysym);

// Mouse button code (MouseButtonCode) of an X pointer button, 0 for wheels
// and buttons a binding cannot name.
int mouseCodeFromXButton(int button);

} // namespace velk::input
