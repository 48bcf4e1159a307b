import QtQuick
import QtQuick.Layouts

// One figure of the overview's account card: a value over its label. A file of
// its own: Qt 6.4 never reuses the compiled cache of a file with an inline
// component.
Rectangle {
    id: tile

    property string value
    property string label

    Layout.fillWidth: true
    Layout.preferredHeight: 72
    radius: 14
    color: "#07000000"

    Column {
        anchors.centerIn: parent
        width: parent.width - 20
        spacing: 4

        Text {
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: tile.value
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font.pixelSize: 20
            font.bold: true
            color: Style.textPrimary
        }
        Text {
            textFormat: Text.PlainText
            width: parent.width
            horizontalAlignment: Text.AlignHCenter
            text: tile.label
            font.pixelSize: 11
            color: Style.textSecondary
        }
    }
}
