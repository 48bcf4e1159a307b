#pragma once

namespace velk::ui {

// The store rule of the view models: assign only a differing value and say
// whether it changed. Plain inequality, so a NaN always counts as a change.
template <typename T> bool storeIfChanged(T& field, const T& value) {
    if (!(field != value)) {
        return false;
    }
    field = value;
    return true;
}

// storeIfChanged, then the owner's change signal, only when the value changed.
template <typename Owner, typename T>
void storeAndNotify(Owner* owner, void (Owner::*changed)(), T& field, const T& value) {
    if (storeIfChanged(field, value)) {
        (owner->*changed)();
    }
}

} // namespace velk::ui
