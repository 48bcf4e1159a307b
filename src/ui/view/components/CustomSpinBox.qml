import QtQuick
import QtQuick.Controls.Basic
import ".."

SpinBox {
    id: control

    contentItem: TextInput {
        z: 2
        text: control.displayText
        font: control.font
        color: Style.textPrimary
        selectionColor: Style.accent
        selectedTextColor: "#FFFFFF"
        horizontalAlignment: Qt.AlignHCenter
        verticalAlignment: Qt.AlignVCenter
        readOnly: !control.editable
        validator: control.validator
        inputMethodHints: Qt.ImhFormattedNumbersOnly
    }

    up.indicator: Rectangle {
        objectName: "upIndicator"
        x: control.mirrored ? 0 : control.width - width
        height: control.height
        implicitWidth: 32
        implicitHeight: 36
        radius: 10
        color: control.up.pressed ? "#E2E8F0" : control.up.hovered ? "#F1F5F9" : "transparent"

        Behavior on color {
            ColorAnimation {
                duration: 100
            }
        }

        Text {
            textFormat: Text.PlainText
            anchors.fill: parent
            text: "+"
            font.pixelSize: 16
            color: Style.textPrimary
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    down.indicator: Rectangle {
        objectName: "downIndicator"
        x: control.mirrored ? control.width - width : 0
        height: control.height
        implicitWidth: 32
        implicitHeight: 36
        radius: 10
        color: control.down.pressed ? "#E2E8F0" : control.down.hovered ? "#F1F5F9" : "transparent"

        Behavior on color {
            ColorAnimation {
                duration: 100
            }
        }

        Text {
            textFormat: Text.PlainText
            anchors.fill: parent
            text: "−"
            font.pixelSize: 16
            color: Style.textPrimary
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
    }

    background: Rectangle {
        implicitWidth: 120
        implicitHeight: 36
        color: "#FFFFFF"
        radius: 10
        border.width: control.activeFocus ? 2 : 1
        border.color: control.activeFocus ? Style.controlBorderActive : Style.controlBorder

        Behavior on border.color {
            ColorAnimation {
                duration: 120
            }
        }
    }
}
