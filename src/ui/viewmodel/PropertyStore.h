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

} // namespace velk::ui
