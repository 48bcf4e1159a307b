import QtQuick
import QtQuick.Layouts
import "../.."

// One audio level: caption, a bar over an 8 px track, percent and dB.
RowLayout {
    id: row

    property string caption
    property real level: 0 // percent
    property real db: -96
    property color barColor: "#10B981"

    spacing: 12

    Text {
        Layout.preferredWidth: 64
        text: row.caption
        textFormat: Text.PlainText
        font.pixelSize: 13
        color: Style.textSecondary
    }
    Rectangle {
        id: track
        Layout.fillWidth: true
        Layout.preferredHeight: 8
        radius: 4
        color: "#E2E8F0"

        Rectangle {
            objectName: row.objectName + "Bar"
            height: parent.height
            radius: 4
            width: Math.min(row.level / 100, 1) * track.width
            color: row.barColor

            Behavior on width {
                NumberAnimation {
                    duration: 80
                }
            }
        }
    }
    Text {
        objectName: row.objectName + "Percent"
        Layout.preferredWidth: 44
        horizontalAlignment: Text.AlignRight
        text: Math.round(row.level) + "%"
        textFormat: Text.PlainText
        font.pixelSize: 13
        color: Style.textPrimary
    }
    Text {
        objectName: row.objectName + "Db"
        Layout.preferredWidth: 72
        horizontalAlignment: Text.AlignRight
        text: row.db.toFixed(1) + " dB"
        textFormat: Text.PlainText
        font.pixelSize: 13
        color: Style.textMuted
    }
}
