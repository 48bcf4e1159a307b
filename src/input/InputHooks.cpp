#include "input/InputHooks.h"

#include "input/X11InputHooks.h"

namespace velk::input {

namespace {
InputHooksFactory& factoryOverride() {
    static InputHooksFactory factory;
    return factory;
}
} // namespace

std::unique_ptr<InputHooks> createInputHooks() {
    if (const auto& factory = factoryOverride()) {
        return factory();
    }
    return std::make_unique<X11InputHooks>();
}

void setInputHooksFactory(InputHooksFactory factory) {
    factoryOverride() = std::move(factory);
}

} // namespace velk::input
