import QtQuick
import QtQuick.Controls.Basic
import ".."

TextArea {
    id: control

    textFormat: TextEdit.PlainText
    font.pixelSize: 14
    color: Style.textPrimary
    placeholderTextColor: Style.textMuted
    selectionColor: Style.accent
    selectedTextColor: "#FFFFFF"
    wrapMode: TextEdit.Wrap

    background: Rectangle {
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
