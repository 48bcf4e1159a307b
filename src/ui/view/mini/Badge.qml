import QtQuick
import QtQuick.Layouts
import ".."

// The voice window's TX or RX badge. Not beside the window: a Badge.qml there
// would shadow pages/voice/Badge.qml for the pages that import that folder.
Rectangle {
    property string label
    property bool active: false
    property color onFill
    property color onBorder

    Layout.preferredWidth: 28
    Layout.preferredHeight: 18
    radius: 4
    color: active ? onFill : "#F1F5F9"
    border.width: 1
    border.color: active ? onBorder : Style.controlBorder

    Text {
        textFormat: Text.PlainText
        anchors.centerIn: parent
        text: parent.label
        font.pixelSize: 10
        font.bold: true
        color: parent.active ? "#FFFFFF" : Style.textMuted
    }
}
