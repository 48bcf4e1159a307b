import QtQuick
import ".."

// A frosted card. Children go to an inner item inset by contentPadding, which
// always clips; showShadow and clipContent are accepted for the pages' sake.
Rectangle {
    id: card

    property bool showShadow: true
    property real contentPadding: 20
    property bool clipSelf: true
    property bool clipContent: true
    default property alias content: inner.data

    radius: Style.radiusCard
    color: Style.cardBg
    border.width: 1
    border.color: Style.cardBorder
    clip: clipSelf

    Item {
        id: inner
        objectName: "cardContent"
        anchors.fill: parent
        anchors.margins: card.contentPadding
        clip: true
    }
}
