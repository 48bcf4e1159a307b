#include "support/FakeInputSource.h"

namespace velk::test {

namespace {

class FakeHooks final : public input::InputHooks {
public:
    explicit FakeHooks(FakeInputSource& source) : m_source(source) {}
    ~FakeHooks() override {
        m_source.keySink = {};
        m_source.mouseSink = {};
        m_source.lostHandler = {};
    }

    bool installKeyboard(KeySink sink, QString* error) override {
        return install(m_source.keySink, std::move(sink), QString(), error);
    }
    bool installMouse(MouseSink sink, QString* error) override {
        return install(m_source.mouseSink, std::move(sink), m_source.mouseFailure, error);
    }
    void uninstallKeyboard() override { m_source.keySink = {}; }
    void uninstallMouse() override { m_source.mouseSink = {}; }
    void setLostHandler(LostHandler handler) override { m_source.lostHandler = std::move(handler); }

private:
    template <typename Sink>
    static bool install(Sink& slot, Sink sink, const QString& failure, QString* error) {
        *error = failure;
        if (failure.isEmpty()) {
            slot = std::move(sink);
        }
        return failure.isEmpty();
    }

    FakeInputSource& m_source;
};

} // namespace

FakeInputSource::FakeInputSource() {
    input::setInputHooksFactory([this] { return std::make_unique<FakeHooks>(*this); });
}

FakeInputSource::~FakeInputSource() {
    input::setInputHooksFactory({});
}

void FakeInputSource::key(int virtualKey, bool down, bool injected) {
    if (keySink) {
        keySink({virtualKey, down, injected});
    }
}

void FakeInputSource::mouse(int button, bool down, bool injected) {
    if (mouseSink) {
        mouseSink({button, down, injected});
    }
}

void FakeInputSource::lose(const QString& reason) {
    keySink = {};
    mouseSink = {};
    if (auto lost = lostHandler) {
        lost(reason);
    }
}

} // namespace velk::test
