#pragma once

#include "input/InputHooks.h"

#include <QString>

#include <memory>

namespace velk::test {

// Stands in for the desktop's input layer: while it lives, every push-to-talk
// handler created gets sources fed from here.
class FakeInputSource {
public:
    FakeInputSource();
    ~FakeInputSource();
    FakeInputSource(const FakeInputSource&) = delete;
    FakeInputSource& operator=(const FakeInputSource&) = delete;

    void keyDown(int virtualKey, bool injected = false);
    void keyUp(int virtualKey, bool injected = false);
    void mouseDown(int button, bool injected = false);
    void mouseUp(int button, bool injected = false);
    // As when the X server goes away: both sources end and the handler hears why.
    void lose(const QString& reason);

    // Make the next installs fail with this reason (empty: succeed).
    void failKeyboard(const QString& reason);
    void failMouse(const QString& reason);

    bool keyboardInstalled() const;
    bool mouseInstalled() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace velk::test
