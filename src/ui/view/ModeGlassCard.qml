import QtQuick
import "Centring.js" as Centring

// One platform on the platform choice: a frosted card with a title, a line in
// the platform's colour and a note. A file of its own rather than an inline
// component: Qt 6.4 never reuses the compiled cache of a file that has one,
// and recompiles it on every start.
Item {
    id: card

    property string title
    property string desc
    property string sub
    property color color: "#3b82f6"

    signal clicked

    Rectangle {
        anchors.fill: parent
        radius: 32
        color: cardArea.containsMouse ? "#60000000" : "#40000000"
        border.width: cardArea.containsMouse ? 2 : 1
        border.color: cardArea.containsMouse ? card.color : "#20ffffff"
    }

    Column {
        anchors.centerIn: parent
        width: parent.width - 60
        spacing: 14

        Text {
            textFormat: Text.PlainText
            x: Centring.centred(parent.width, implicitWidth)
            width: Math.ceil(implicitWidth)
            text: card.title
            font.pixelSize: 34
            font.bold: true
            color: "#FFFFFF"
        }
        Text {
            textFormat: Text.PlainText
            x: Centring.centred(parent.width, implicitWidth)
            width: Math.ceil(implicitWidth)
            text: card.desc
            font.pixelSize: 18
            font.bold: true
            color: card.color
        }
        Text {
            textFormat: Text.PlainText
            x: Centring.centred(parent.width, implicitWidth)
            width: Math.ceil(implicitWidth)
            text: card.sub
            font.pixelSize: 14
            color: "#d1d5db"
        }
    }

    MouseArea {
        id: cardArea
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: card.clicked()
    }
}
