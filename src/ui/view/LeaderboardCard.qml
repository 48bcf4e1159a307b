import QtQuick
import QtQuick.Layouts
import "components"
import "Fallback.js" as Fallback

// One leaderboard of the overview: title, "TOP 10" badge and ranked rows. A
// file of its own: Qt 6.4 never reuses the compiled cache of a file with an
// inline component.
Card {
    id: board

    property string title
    // The badge's fill and the hours' text.
    property color accentColor
    property var rows: []
    property string fallbackName
    property string secondKey
    property string hoursLabel
    property string listName

    Layout.fillWidth: true
    Layout.preferredHeight: 400

    ColumnLayout {
        anchors.fill: parent
        spacing: 14

        RowLayout {
            Layout.fillWidth: true

            Text {
                textFormat: Text.PlainText
                Layout.fillWidth: true
                text: board.title
                font.pixelSize: 20
                font.bold: true
                color: Style.textPrimary
            }
            Rectangle {
                Layout.preferredWidth: 56
                Layout.preferredHeight: 24
                radius: 6
                color: board.accentColor

                Text {
                    textFormat: Text.PlainText
                    anchors.centerIn: parent
                    text: "TOP 10"
                    font.pixelSize: 12
                    font.bold: true
                    color: "#FFFFFF"
                }
            }
        }

        ListView {
            objectName: board.listName
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            spacing: 8
            model: board.rows

            delegate: Rectangle {
                id: row

                required property var modelData
                required property int index
                readonly property string second: Fallback.text(modelData[board.secondKey], "")

                width: ListView.view.width
                height: 50
                radius: 8
                color: index % 2 === 0 ? "transparent" : "#05000000"

                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 10
                    anchors.rightMargin: 10
                    spacing: 12

                    Rectangle {
                        Layout.preferredWidth: 28
                        Layout.preferredHeight: 28
                        radius: 14
                        color: row.index === 0 ? "#FFD700" : row.index === 1 ? "#C0C0C0"
                                               : row.index === 2 ? "#CD7F32" : "transparent"
                        border.width: row.index < 3 ? 0 : 1
                        border.color: Style.divider

                        Text {
                            textFormat: Text.PlainText
                            anchors.centerIn: parent
                            text: row.index + 1
                            font.pixelSize: 12
                            font.bold: true
                            color: row.index < 3 ? "#FFFFFF" : Style.textMuted
                        }
                    }

                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 2

                        Text {
                            Layout.fillWidth: true
                            text: Fallback.text(row.modelData.name, board.fallbackName)
                            textFormat: Text.PlainText
                            elide: Text.ElideRight
                            font.pixelSize: 14
                            font.bold: row.index < 3
                            color: Style.textPrimary
                        }
                        Text {
                            objectName: "secondLine"
                            Layout.fillWidth: true
                            visible: row.second !== ""
                            text: row.second
                            textFormat: Text.PlainText
                            elide: Text.ElideRight
                            font.pixelSize: 11
                            color: Style.textSecondary
                        }
                    }

                    Column {
                        Text {
                            anchors.right: parent.right
                            text: Fallback.text(row.modelData.hours, 0) + " 小时"
                            textFormat: Text.PlainText
                            font.pixelSize: 14
                            font.bold: true
                            color: board.accentColor
                        }
                        Text {
                            textFormat: Text.PlainText
                            anchors.right: parent.right
                            text: board.hoursLabel
                            font.pixelSize: 10
                            color: Style.textMuted
                        }
                    }
                }
            }
        }
    }
}
