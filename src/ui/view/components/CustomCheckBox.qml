import QtQuick
import QtQuick.Controls.Basic
import ".."

CheckBox {
    id: control

    indicator: Rectangle {
        implicitWidth: 18
        implicitHeight: 18
        x: control.mirrored ? control.width - width - control.rightPadding : control.leftPadding
        y: control.topPadding + (control.availableHeight - height) / 2
        radius: 4
        border.width: 1.5
        border.color: control.checked ? Style.accent : Style.controlBorder
        color: control.checked ? Style.accent : "#FFFFFF"

        Behavior on color {
            ColorAnimation {
                duration: 100
            }
        }

        Text {
            textFormat: Text.PlainText
            anchors.centerIn: parent
            visible: control.checked
            text: "✓"
            font.pixelSize: 12
            font.bold: true
            color: "#FFFFFF"
        }
    }

    contentItem: Text {
        text: control.text
        textFormat: Text.PlainText
        font: control.font
        color: Style.textPrimary
        verticalAlignment: Text.AlignVCenter
        leftPadding: control.mirrored ? 0 : control.indicator.width + control.spacing
        rightPadding: control.mirrored ? control.indicator.width + control.spacing : 0
    }
}
