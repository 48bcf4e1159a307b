#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QString>

namespace velk::model {

// The signed-in account as the web API describes it.
struct User {
    QString username;
    int cid = 0;
    QString avatar_url;
    int rating = 0; // network rating code, -1 to 12

    // Missing or mistyped members keep their defaults.
    static User fromJson(const QJsonObject& object);
    bool isEmpty() const { return username.isEmpty() && cid == 0; }
    friend bool operator==(const User&, const User&) = default;
};

} // namespace velk::model

Q_DECLARE_METATYPE(velk::model::User)
