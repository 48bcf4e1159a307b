import QtQuick
import QtQuick.Controls.Basic
import ".."

TextField {
    id: control

    padding: 10
    leftPadding: 12
    rightPadding: 12
    font.pixelSize: 14
    color: Style.textPrimary
    placeholderTextColor: Style.textMuted
    selectionColor: Style.accent
    selectedTextColor: "#FFFFFF"

    background: Rectangle {
        implicitWidth: 200
        implicitHeight: 40
        radius: 10
        color: control.enabled ? "#FFFFFF" : "#F1F5F9"
        border.width: control.activeFocus ? 2 : 1
        border.color: control.activeFocus ? Style.controlBorderActive
                                          : control.hovered ? "#94A3B8" : "#CBD5E1"

        Behavior on border.color {
            ColorAnimation {
                duration: 150
            }
        }
    }
}
