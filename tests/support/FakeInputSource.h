#pragma once

#include "input/InputHooks.h"

#include <QString>

namespace velk::test {

// Stands in for the desktop's input layer while it lives: push-to-talk
// handlers created meanwhile get their sources from here.
class FakeInputSource {
public:
    FakeInputSource();
    ~FakeInputSource();
    FakeInputSource(const FakeInputSource&) = delete;
    FakeInputSource& operator=(const FakeInputSource&) = delete;

    void key(int virtualKey, bool down, bool injected = false);
    void mouse(int button, bool down, bool injected = false);
    // As when the X server goes away: both sources end and the handler hears why.
    void lose(const QString& reason);

    // When set, the next install of the mouse source fails with this reason.
    QString mouseFailure;

    bool keyboardInstalled() const { return static_cast<bool>(keySink); }
    bool mouseInstalled() const { return static_cast<bool>(mouseSink); }

    input::InputHooks::KeySink keySink;
    input::InputHooks::MouseSink mouseSink;
    input::InputHooks::LostHandler lostHandler;
};

} // namespace velk::test
