import QtQuick
import QtQuick.Controls.Basic
import ".."

Slider {
    id: control

    background: Rectangle {
        x: control.leftPadding
        y: control.topPadding + control.availableHeight / 2 - height / 2
        implicitWidth: 200
        implicitHeight: 4
        width: control.availableWidth
        height: implicitHeight
        radius: 2
        color: Style.controlBorder

        Rectangle {
            width: control.visualPosition * parent.width
            height: parent.height
            radius: 2
            color: Style.accent
        }
    }
}
