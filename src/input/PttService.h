#pragma once

#include "input/PttBinding.h"
#include "input/PttKey.h"

#include <QObject>
#include <QString>

namespace velk::input {

class PttHandler;

// Push-to-talk as the rest of the program sees it: the binding as the text
// stored in "Voice/PttKey", its display name, capture of a new binding, and
// whether push-to-talk is held. Owns the process's input handler. One service
// per process, on the GUI thread; it knows nothing of voice or user interface.
class PttService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive NOTIFY activeChanged)
    Q_PROPERTY(bool listening READ isListening NOTIFY listeningChanged)
    Q_PROPERTY(QString boundKeyName READ boundKeyName NOTIFY boundKeyChanged)

public:
    explicit PttService(QObject* parent = nullptr);
    // Releases push-to-talk (activeChanged(false)) when it is held.
    ~PttService() override;

    bool isActive() const;
    bool isListening() const;
    QString boundKeyName() const;
    const PttKey& boundKey() const { return m_boundKey; }

    Q_INVOKABLE void setBoundKey(const velk::input::PttKey& key);
    Q_INVOKABLE void setBoundKey(const QString& serialized);
    Q_INVOKABLE void clearBinding();
    Q_INVOKABLE void startListening();
    Q_INVOKABLE void stopListening();

    // A key holding the text when it starts with "kb:", "ms:" or "js:", else empty.
    static PttKey parseBinding(const QString& text);
    static QString displayName(const PttKey& key);

signals:
    void activeChanged(bool active);
    void listeningChanged(bool listening);
    void boundKeyChanged(velk::input::PttKey key);
    void keyCaptured(velk::input::PttKey key);

private slots:
    void onBindingCaptured(const velk::input::PttBinding& binding);

private:
    PttHandler* m_handler;
    PttKey m_boundKey;
};

} // namespace velk::input
