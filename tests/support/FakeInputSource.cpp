#include "support/FakeInputSource.h"

namespace velk::test {

using input::InputHooks;

struct FakeInputSource::State {
    InputHooks::KeySink key;
    InputHooks::MouseSink mouse;
    InputHooks::LostHandler lost;
    QString keyboardFailure;
    QString mouseFailure;
};

namespace {

class FakeHooks final : public InputHooks {
public:
    explicit FakeHooks(std::shared_ptr<FakeInputSource::State> state) : m_state(std::move(state)) {}
    ~FakeHooks() override {
        uninstallKeyboard();
        uninstallMouse();
        m_state->lost = nullptr;
    }

    bool installKeyboard(KeySink sink, QString* error) override {
        return install(m_state->key, std::move(sink), m_state->keyboardFailure, error);
    }
    bool installMouse(MouseSink sink, QString* error) override {
        return install(m_state->mouse, std::move(sink), m_state->mouseFailure, error);
    }
    void uninstallKeyboard() override { m_state->key = nullptr; }
    void uninstallMouse() override { m_state->mouse = nullptr; }
    void setLostHandler(LostHandler handler) override { m_state->lost = std::move(handler); }

private:
    template <typename Sink>
    static bool install(Sink& slot, Sink sink, const QString& failure, QString* error) {
        if (!failure.isEmpty()) {
            *error = failure;
            return false;
        }
        slot = std::move(sink);
        return true;
    }

    std::shared_ptr<FakeInputSource::State> m_state;
};

} // namespace

FakeInputSource::FakeInputSource() : m_state(std::make_shared<State>()) {
    input::setInputHooksFactory([state = m_state] { return std::make_unique<FakeHooks>(state); });
}

FakeInputSource::~FakeInputSource() {
    input::setInputHooksFactory({});
}

void FakeInputSource::keyDown(int virtualKey, bool injected) {
    if (m_state->key) {
        m_state->key({virtualKey, true, injected});
    }
}

void FakeInputSource::keyUp(int virtualKey, bool injected) {
    if (m_state->key) {
        m_state->key({virtualKey, false, injected});
    }
}

void FakeInputSource::mouseDown(int button, bool injected) {
    if (m_state->mouse) {
        m_state->mouse({button, true, injected});
    }
}

void FakeInputSource::mouseUp(int button, bool injected) {
    if (m_state->mouse) {
        m_state->mouse({button, false, injected});
    }
}

void FakeInputSource::lose(const QString& reason) {
    m_state->key = nullptr;
    m_state->mouse = nullptr;
    if (auto lost = m_state->lost) {
        lost(reason);
    }
}

void FakeInputSource::failKeyboard(const QString& reason) {
    m_state->keyboardFailure = reason;
}

void FakeInputSource::failMouse(const QString& reason) {
    m_state->mouseFailure = reason;
}

bool FakeInputSource::keyboardInstalled() const {
    return static_cast<bool>(m_state->key);
}

bool FakeInputSource::mouseInstalled() const {
    return static_cast<bool>(m_state->mouse);
}

} // namespace velk::test
