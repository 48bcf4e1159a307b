#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace velk::fsd::exception {

// Thrown by the packet parsers for a line that is too short or carries a
// field that cannot be read. The FSD connection turns it into its error signal.
class PDUFormatException : public std::exception {
public:
    explicit PDUFormatException(QString error, QString rawMessage = {})
        : m_error(std::move(error)), m_rawMessage(std::move(rawMessage)), m_what(m_error.toUtf8()) {}

    // What is wrong with the packet.
    const QString& error() const noexcept { return m_error; }
    // The received line (without its line end), when known.
    const QString& rawMessage() const noexcept { return m_rawMessage; }

    const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_error;
    QString m_rawMessage;
    QByteArray m_what;
};

} // namespace velk::fsd::exception
