import QtQuick
import QtQuick.Layouts
import ".."

// One entry of the sidebar's menu, with an optional count badge. A file of
// its own: Qt 6.4 never reuses the compiled cache of a file with an inline
// component.
Item {
    id: entry

    property string key
    property string label
    property bool selected: false
    property int badgeCount: 0

    signal clicked

    objectName: "menu_" + key
    Layout.fillWidth: true
    implicitHeight: 46

    Rectangle {
        anchors.fill: parent
        anchors.leftMargin: 12
        anchors.rightMargin: 12
        radius: 23
        color: entry.selected ? "#FFFFFF" : hover.containsMouse ? "#20FFFFFF" : "transparent"
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 26
        anchors.rightMargin: 20
        spacing: 12

        Rectangle {
            Layout.preferredWidth: 14
            Layout.preferredHeight: 14
            radius: 7
            border.width: 1.5
            border.color: entry.selected ? Style.accent : Style.textSecondary
            color: entry.selected ? Style.accent : "transparent"
        }

        Text {
            Layout.fillWidth: true
            text: entry.label
            textFormat: Text.PlainText
            elide: Text.ElideRight
            font.pixelSize: 15
            font.bold: entry.selected
            color: entry.selected ? Style.textActive : Style.textSecondary
        }

        Rectangle {
            objectName: "badge"
            visible: entry.badgeCount > 0
            Layout.preferredHeight: 22
            Layout.preferredWidth: Math.max(22, badgeText.implicitWidth + 12)
            radius: 11
            color: entry.selected ? Style.accent : "#DC2626"

            Text {
                id: badgeText
                objectName: "badgeText"
                textFormat: Text.PlainText
                anchors.centerIn: parent
                text: entry.badgeCount > 99 ? "99+" : String(entry.badgeCount)
                font.pixelSize: 11
                font.bold: true
                color: "#FFFFFF"
            }
        }
    }

    MouseArea {
        id: hover
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: entry.clicked()
    }
}
