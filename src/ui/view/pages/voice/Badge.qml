import QtQuick
import "../.."

// A small state badge: coloured and bold while active, muted otherwise.
// The voice window's smaller badges keep their caption bold throughout.
Rectangle {
    id: badge

    property string label
    property bool active: false
    property color activeFill: "#10B981"
    property color activeBorder: "#059669"
    property int textSize: 11
    property bool boldWhenIdle: false

    implicitWidth: Math.max(36, caption.implicitWidth + 16)
    implicitHeight: 22
    radius: 6
    color: active ? activeFill : "#F1F5F9"
    border.width: 1
    border.color: active ? activeBorder : Style.controlBorder

    Text {
        id: caption
        objectName: badge.objectName + "Text"
        anchors.centerIn: parent
        text: badge.label
        textFormat: Text.PlainText
        font.pixelSize: badge.textSize
        font.bold: badge.active || badge.boldWhenIdle
        color: badge.active ? "#FFFFFF" : Style.textMuted
    }
}
