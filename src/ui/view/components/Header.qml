import QtQuick
import ".."

Item {
    id: root

    property string title: "总览"

    implicitHeight: 84

    Text {
        anchors.fill: parent
        text: root.title
        textFormat: Text.PlainText
        font.pixelSize: 34
        font.bold: true
        color: Style.textPrimary
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }
}
