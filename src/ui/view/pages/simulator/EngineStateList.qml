import QtQuick
import QtQuick.Layouts
import "../.."

// One row per listed engine: green while running, red when stopped.
ListView {
    id: root

    property real rowHeight: 42
    property bool showReverse: true

    objectName: "engineList"
    clip: true
    spacing: 8
    interactive: contentHeight > height

    delegate: Rectangle {
        objectName: "engineRow"
        width: ListView.view.width
        height: root.rowHeight
        radius: 10
        color: modelData.running ? "#12059669" : "#10EF4444"
        border.width: 1
        border.color: modelData.running ? "#34D399" : "#F87171"

        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 14
            anchors.rightMargin: 14
            spacing: 12

            Text {
                text: modelData.label
                textFormat: Text.PlainText
                font.pixelSize: 14
                font.bold: true
                color: Style.textPrimary
            }
            Text {
                objectName: "engineRunning"
                Layout.fillWidth: true
                text: modelData.running ? "运行中" : "停止"
                textFormat: Text.PlainText
                font.pixelSize: 13
                color: Style.textPrimary
            }
            Text {
                objectName: "engineReverse"
                visible: root.showReverse && modelData.reversing === true
                text: "反推"
                textFormat: Text.PlainText
                font.pixelSize: 13
                font.bold: true
                color: "#DC2626"
            }
        }
    }
}
