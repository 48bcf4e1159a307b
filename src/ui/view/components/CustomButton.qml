import QtQuick
import QtQuick.Controls.Basic
import ".."

Button {
    id: control

    property bool primary: false
    property color accentColor: Style.accent

    padding: 10
    horizontalPadding: 20
    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)

    contentItem: Text {
        text: control.text
        textFormat: Text.PlainText
        font.pixelSize: 13
        font.weight: Font.Medium
        color: control.primary ? "#FFFFFF" : Style.textPrimary
        opacity: control.enabled ? 1.0 : 0.5
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight

        Behavior on color {
            ColorAnimation {
                duration: 120
            }
        }
    }

    background: Item {
        implicitWidth: 100
        implicitHeight: 36
        scale: control.down ? 0.97 : 1.0

        Behavior on scale {
            NumberAnimation {
                duration: 80
            }
        }

        // A soft shadow: the outline again, one pixel lower.
        Rectangle {
            anchors.fill: parent
            anchors.topMargin: 1
            anchors.bottomMargin: -1
            radius: Style.radiusButton
            color: "transparent"
            border.width: 1
            border.color: Qt.rgba(0, 0, 0, control.primary ? 0.18 : 0.06)
        }

        Rectangle {
            objectName: "buttonFill"
            anchors.fill: parent
            radius: Style.radiusButton
            color: control.primary
                   ? (control.down ? Qt.darker(control.accentColor, 1.15)
                                   : control.hovered ? Qt.lighter(control.accentColor, 1.12) : control.accentColor)
                   : (control.down ? "#E2E8F0" : control.hovered ? "#F1F5F9" : "#FFFFFF")
            border.width: control.primary ? 0 : 1
            border.color: control.hovered ? Style.controlBorderActive : Style.controlBorder

            Behavior on color {
                ColorAnimation {
                    duration: 120
                }
            }
        }
    }
}
