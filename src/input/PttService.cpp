#include "input/PttService.h"

#include "input/KeyNames.h"
#include "input/PttHandler.h"

#include <QStringList>

#include <limits>

namespace velk::input {

namespace {

const QString kKeyboardPrefix = QStringLiteral("kb:");
const QString kMousePrefix = QStringLiteral("ms:");
const QString kJoystickPrefix = QStringLiteral("js:");

// A decimal number of ASCII digits that fits in 32 bits; anything else is 0.
qint32 numberOrZero(QStringView text) {
    if (text.isEmpty()) {
        return 0;
    }
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return 0;
        }
        value = value * 10 + (c.unicode() - u'0');
        if (value > std::numeric_limits<qint32>::max()) {
            return 0;
        }
    }
    return static_cast<qint32>(value);
}

QString partOrEmpty(const QStringList& parts, int index) {
    return index < parts.size() ? parts.at(index) : QString();
}

PttBinding decode(const QString& text) {
    PttBinding binding;
    if (text.startsWith(kKeyboardPrefix)) {
        binding.code = numberOrZero(QStringView(text).mid(3));
    } else if (text.startsWith(kMousePrefix)) {
        binding.kind = PttBinding::Kind::Mouse;
        binding.code = numberOrZero(QStringView(text).mid(3));
    } else if (text.startsWith(kJoystickPrefix)) {
        const QStringList parts = text.split(QLatin1Char(':'));
        binding.kind = PttBinding::Kind::Joystick;
        binding.joystickId = numberOrZero(partOrEmpty(parts, 1));
        binding.code = numberOrZero(partOrEmpty(parts, 2));
    }
    return binding;
}

QString encode(const PttBinding& binding) {
    switch (binding.kind) {
    case PttBinding::Kind::Keyboard:
        return QStringLiteral("kb:%1").arg(binding.code);
    case PttBinding::Kind::Mouse:
        return QStringLiteral("ms:%1").arg(binding.code);
    case PttBinding::Kind::Joystick:
        return QStringLiteral("js:%1:%2").arg(binding.joystickId).arg(binding.code);
    }
    return {};
}

} // namespace

PttService::PttService(QObject* parent) : QObject(parent), m_handler(new PttHandler(this)) {
    connect(m_handler, &PttHandler::activeChanged, this, &PttService::activeChanged);
    connect(m_handler, &PttHandler::listeningChanged, this, &PttService::listeningChanged);
    connect(m_handler, &PttHandler::bindingCaptured, this, &PttService::onBindingCaptured);
}

PttService::~PttService() {
    // Here rather than as a child, so that its last activeChanged(false) still
    // reaches the service's receivers.
    delete m_handler;
}

bool PttService::isActive() const {
    return m_handler->isActive();
}

bool PttService::isListening() const {
    return m_handler->isListening();
}

QString PttService::boundKeyName() const {
    return displayName(m_boundKey);
}

void PttService::setBoundKey(const PttKey& key) {
    if (key.isEmpty()) {
        clearBinding();
        return;
    }
    m_boundKey = key;
    m_handler->setBinding(decode(key.text()));
    emit boundKeyChanged(m_boundKey);
}

void PttService::setBoundKey(const QString& serialized) {
    setBoundKey(parseBinding(serialized));
}

void PttService::clearBinding() {
    m_boundKey = PttKey();
    m_handler->clearBinding();
    emit boundKeyChanged(m_boundKey);
}

void PttService::startListening() {
    m_handler->startListening();
}

void PttService::stopListening() {
    m_handler->stopListening();
}

void PttService::onBindingCaptured(const PttBinding& binding) {
    m_boundKey = parseBinding(encode(binding));
    emit boundKeyChanged(m_boundKey);
    emit keyCaptured(m_boundKey);
}

PttKey PttService::parseBinding(const QString& text) {
    if (text.startsWith(kKeyboardPrefix) || text.startsWith(kMousePrefix) ||
        text.startsWith(kJoystickPrefix)) {
        return PttKey(text);
    }
    return {};
}

QString PttService::displayName(const PttKey& key) {
    const QString& text = key.text();
    if (text.isEmpty()) {
        return {};
    }
    if (text.startsWith(kMousePrefix)) {
        const qint32 button = numberOrZero(QStringView(text).mid(3));
        switch (button) {
        case MouseButtonCode::Left:
            return QObject::tr("鼠标左键");
        case MouseButtonCode::Right:
            return QObject::tr("鼠标右键");
        case MouseButtonCode::Middle:
            return QObject::tr("鼠标中键");
        case MouseButtonCode::X1:
            return QObject::tr("鼠标侧键1");
        case MouseButtonCode::X2:
            return QObject::tr("鼠标侧键2");
        default:
            return QObject::tr("鼠标键 %1").arg(button);
        }
    }
    if (text.startsWith(kJoystickPrefix)) {
        const QStringList parts = text.split(QLatin1Char(':'));
        return QObject::tr("手柄 %1 按钮 %2").arg(partOrEmpty(parts, 1), partOrEmpty(parts, 2));
    }
    const qint32 virtualKey = numberOrZero(QStringView(text).mid(3));
    const QString name = virtualKeyName(virtualKey);
    return name.isEmpty() ? QObject::tr("键 0x%1").arg(virtualKey, 2, 16, QLatin1Char('0')) : name;
}

} // namespace velk::input
