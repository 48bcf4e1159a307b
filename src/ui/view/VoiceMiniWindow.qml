import QtQuick
import QtQuick.Layouts
import QtQuick.Window
import com.morvane.backend 1.0
import "components"
import "mini" as Mini
import "pages/voice" as Voice

// The floating voice window: state, radios and a push-to-talk button.
Window {
    id: miniWindow

    property QtObject voice: null
    property QtObject simulator: null
    // The window opens on the screen that shows this item.
    property Item dashboard: null
    readonly property bool voiceConnected: voice ? !!voice.connected : false
    readonly property bool pttActive: voice ? !!voice.pttActive : false
    readonly property bool receiving: voice ? !!voice.receiving : false

    // ⤢, or a close by the window manager: either way back to the dashboard,
    // or the flag that opens this window would stay set with none on screen.
    signal expandRequested

    objectName: "voiceMiniWindow"
    // A window of its own: the dashboard's view is embedded, so it cannot be a parent.
    transientParent: null
    flags: Qt.Tool | Qt.FramelessWindowHint | Qt.WindowStaysOnTopHint
    color: "transparent"
    width: 280
    height: 150
    title: "语音服务"

    onClosing: expandRequested()

    // 16 from the right and bottom edges of that screen's work area, placed
    // before it shows: without a window manager it would first show at 0, 0.
    Component.onCompleted: {
        const area = ScreenArea.availableGeometry(dashboard);
        x = area.x + area.width - width - 16;
        y = area.y + area.height - height - 16;
        visible = true;
    }

    Rectangle {
        anchors.fill: parent
        radius: 16
        color: "#F8FAFC"
        border.width: 1
        border.color: "#CBD5E1"

        MouseArea {
            property point pressPoint

            anchors.fill: parent
            onPressed: mouse => pressPoint = Qt.point(mouse.x, mouse.y)
            onPositionChanged: mouse => {
                miniWindow.x += mouse.x - pressPoint.x;
                miniWindow.y += mouse.y - pressPoint.y;
            }
        }

        ColumnLayout {
            anchors.fill: parent
            anchors.margins: 12
            spacing: 8

            RowLayout {
                Layout.fillWidth: true
                spacing: 6

                Rectangle {
                    objectName: "miniStatusDot"
                    Layout.preferredWidth: 8
                    Layout.preferredHeight: 8
                    radius: 4
                    color: miniWindow.voiceConnected ? Style.statusSuccess : Style.statusError
                }
                Text {
                    textFormat: Text.PlainText
                    Layout.fillWidth: true
                    text: "语音服务"
                    font.pixelSize: 13
                    font.bold: true
                    color: Style.textPrimary
                }
                Voice.Badge {
                    objectName: "miniTxBadge"
                    label: "TX"
                    active: miniWindow.pttActive
                    Layout.preferredWidth: 28
                    Layout.preferredHeight: 18
                    radius: 4
                    textSize: 10
                    boldWhenIdle: true
                    activeFill: "#EF4444"
                    activeBorder: "#DC2626"
                }
                Voice.Badge {
                    objectName: "miniRxBadge"
                    label: "RX"
                    active: miniWindow.receiving
                    Layout.preferredWidth: 28
                    Layout.preferredHeight: 18
                    radius: 4
                    textSize: 10
                    boldWhenIdle: true
                    activeFill: "#10B981"
                    activeBorder: "#059669"
                }
                Rectangle {
                    objectName: "miniExpandButton"
                    Layout.preferredWidth: 22
                    Layout.preferredHeight: 22
                    radius: 11
                    color: expandArea.containsMouse ? "#E2E8F0" : "transparent"

                    Text {
                        textFormat: Text.PlainText
                        anchors.centerIn: parent
                        text: "⤢"
                        font.pixelSize: 13
                        color: Style.textSecondary
                    }
                    MouseArea {
                        id: expandArea
                        anchors.fill: parent
                        hoverEnabled: true
                        onClicked: miniWindow.expandRequested()
                    }
                }
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 12

                Mini.Radio {
                    label: "COM1"
                    frequency: miniWindow.simulator ? String(miniWindow.simulator.com1Frequency) : "--"
                }
                Mini.Radio {
                    label: "COM2"
                    frequency: miniWindow.simulator ? String(miniWindow.simulator.com2Frequency) : "--"
                }
            }

            CustomButton {
                id: pttButton

                // Whom transmission was switched on for, while the button holds it.
                property QtObject heldBy: null

                function release() {
                    const target = heldBy;
                    heldBy = null;
                    if (target)
                        target.setPtt(false);
                }

                objectName: "miniPttButton"
                Layout.fillWidth: true
                enabled: miniWindow.voiceConnected
                primary: miniWindow.pttActive
                text: miniWindow.pttActive ? "发送中..." : "PTT 按下"

                // Follows the pressed state rather than press and release alone:
                // a button disabled or destroyed while held must still end the
                // transmission.
                // Releases triggered by a change of the voice state run on the next
                // turn, outside the binding that reported the change.
                onPressedChanged: {
                    if (pressed && enabled && !heldBy && miniWindow.voice) {
                        heldBy = miniWindow.voice;
                        heldBy.setPtt(true);
                    } else if (!pressed) {
                        Qt.callLater(release);
                    }
                }
                onEnabledChanged: {
                    if (!enabled)
                        Qt.callLater(release);
                }
                Component.onDestruction: release()
            }
        }
    }
}
