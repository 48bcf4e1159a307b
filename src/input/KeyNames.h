#pragma once

#include <QString>

namespace velk::input {

// Display name of a virtual key, left and right modifiers named apart;
// empty for a code no key of a keyboard carries.
QString virtualKeyName(int virtualKey);

} // namespace velk::input
