import QtQuick
import ".."

// The unread count of a channel or conversation, hidden at zero. A file of
// its own: Qt 6.4 never reuses the compiled cache of a file with an inline
// component.
Rectangle {
    property int count: 0
    property bool onActive: false
    visible: count > 0
    height: 18
    width: Math.max(18, pillText.implicitWidth + 10)
    radius: 9
    color: onActive ? "#FFFFFF" : "#DC2626"
    Text {
        id: pillText
        textFormat: Text.PlainText
        anchors.centerIn: parent
        text: parent.count
        font.pixelSize: 10
        font.bold: true
        color: parent.onActive ? Style.accent : "#FFFFFF"
    }
}
