#pragma once

#include <QMetaType>
#include <QString>

#include <utility>

namespace velk::input {

// A push-to-talk binding as stored in "Voice/PttKey": "kb:<vk>", "ms:<button>"
// or "js:<joystick>:<button>". Empty means no binding.
class PttKey {
public:
    PttKey() = default;
    explicit PttKey(QString text) : m_text(std::move(text)) {}

    const QString& text() const { return m_text; }
    bool isEmpty() const { return m_text.isEmpty(); }

    bool operator==(const PttKey&) const = default;

private:
    QString m_text;
};

} // namespace velk::input

Q_DECLARE_METATYPE(velk::input::PttKey)
