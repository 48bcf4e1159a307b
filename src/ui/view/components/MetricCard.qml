import QtQuick
import QtQuick.Layouts
import ".."

Item {
    id: root

    property string title: "指标"
    property string value: "0"
    property string unit: ""
    property color accentColor: Style.accent

    implicitWidth: 180
    implicitHeight: 120

    Rectangle {
        anchors.fill: parent
        radius: Style.radiusCard
        color: "#15000000"
        border.width: 1
        border.color: Style.cardBorder

        ColumnLayout {
            anchors.fill: parent
            anchors.margins: 18
            spacing: 4

            Text {
                Layout.fillWidth: true
                text: root.title
                textFormat: Text.PlainText
                elide: Text.ElideRight
                font.pixelSize: 13
                font.weight: Font.Medium
                color: Style.textSecondary
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 4

                Text {
                    objectName: "metricValue"
                    text: root.value
                    textFormat: Text.PlainText
                    font.pixelSize: 32
                    font.bold: true
                    font.letterSpacing: -0.5
                    color: Style.textPrimary
                }
                Text {
                    Layout.alignment: Qt.AlignBaseline
                    text: root.unit
                    textFormat: Text.PlainText
                    font.pixelSize: 12
                    font.bold: true
                    color: Style.textMuted
                }
            }

            Item {
                Layout.fillHeight: true
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: 3
                color: "#EDF3FA"

                Rectangle {
                    width: parent.width * 0.45
                    height: parent.height
                    color: root.accentColor
                }
            }
        }
    }
}
