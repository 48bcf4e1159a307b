import QtQuick
import "components"

// Stands in for a section whose page is not part of the dashboard yet.
Item {
    id: page

    property string key
    property string title

    objectName: "page_" + key

    Header {
        id: header
        anchors.left: parent.left
        anchors.right: parent.right
        title: page.title
    }

    Card {
        anchors.top: header.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        height: 120

        Text {
            textFormat: Text.PlainText
            anchors.centerIn: parent
            text: "该页面暂不可用"
            font.pixelSize: 16
            color: Style.textSecondary
        }
    }
}
