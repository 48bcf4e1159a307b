import QtQuick
import "components"
import "Centring.js" as Centring

// The platform choice: MSFS or X-Plane, the account card and logout. Laid out
// with positioners and anchors: loading the Layouts module would hold back the
// first frame after sign-in by milliseconds.
Item {
    id: root

    readonly property QtObject backend: typeof dashboardBackend !== "undefined" ? dashboardBackend : null

    signal logoutRequested

    objectName: "modeSelection"

    Row {
        anchors.fill: parent

        Repeater {
            model: ["qrc:/resources/2020.jpg", "qrc:/resources/xplane.png"]

            Image {
                required property string modelData

                width: root.width / 2
                height: root.height
                source: modelData
                fillMode: Image.PreserveAspectCrop
                // Decoded beside the page's creation rather than before its first frame.
                asynchronous: true
                clip: true

                Rectangle {
                    anchors.fill: parent
                    color: "#70000000"
                }
            }
        }
    }

    Column {
        anchors.horizontalCenter: parent.horizontalCenter
        // Centred; on a short window (a small laptop screen) moved down clear
        // of the account card, as far as its foot stays in the window.
        y: Math.max(Centring.centred(root.height, height),
                    Math.min(userCard.y + userCard.height + 8, root.height - height))
        width: Math.min(root.width * 0.9, 1100)
        spacing: 40

        Text {
            objectName: "modeTitle"
            textFormat: Text.PlainText
            x: Centring.centred(parent.width, implicitWidth)
            width: Math.ceil(implicitWidth)
            text: "请选择飞行模拟平台"
            font.pixelSize: 36
            font.bold: true
            color: "#FFFFFF"
        }

        Row {
            width: Math.round(parent.width)
            height: 260
            spacing: 40

            ModeGlassCard {
                id: msfsCard
                objectName: "modeCardMsfs"
                width: Math.round((parent.width - parent.spacing) / 2)
                height: 260
                title: "MSFS"
                desc: "微软模拟飞行"
                sub: "支持 2020 / 2024"
                color: "#3b82f6"
                onClicked: {
                    if (root.backend)
                        root.backend.requestModeChange("MSFS");
                }
            }
            ModeGlassCard {
                objectName: "modeCardXplane"
                width: parent.width - parent.spacing - msfsCard.width
                height: 260
                title: "X-Plane"
                desc: "X-Plane 系列"
                sub: "支持 11 / 12"
                color: "#0ea5e9"
                onClicked: {
                    if (root.backend)
                        root.backend.requestModeChange("XPLANE");
                }
            }
        }

        Rectangle {
            objectName: "logoutButton"
            x: Centring.centred(parent.width, width)
            width: 180
            height: 48
            radius: 24
            color: logoutArea.containsMouse ? "#60ef4444" : "#30000000"
            border.width: 1
            border.color: logoutArea.containsMouse ? "#ef4444" : "#40ffffff"

            Text {
                textFormat: Text.PlainText
                anchors.centerIn: parent
                text: "退出登录"
                font.pixelSize: 15
                font.bold: true
                color: "#FFFFFF"
            }
            MouseArea {
                id: logoutArea
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: root.logoutRequested()
            }
        }
    }

    Rectangle {
        id: userCard
        objectName: "modeUserCard"
        x: 32
        y: 24
        width: 400
        height: 100
        radius: 20
        color: "#40000000"
        border.width: 1
        border.color: "#30ffffff"

        // The avatar's tile on the left; the name, rating and CID beside it.
        Item {
            anchors.fill: parent
            anchors.margins: 18

            Rectangle {
                anchors.verticalCenter: parent.verticalCenter
                width: 64
                height: 64
                radius: 14
                color: "#40ffffff"
                border.width: 2
                border.color: "#FFFFFF"

                RoundImage {
                    id: modeAvatar
                    anchors.fill: parent
                    anchors.margins: 2
                    radius: 12
                    fillColor: "transparent"
                    source: root.backend ? root.backend.avatarUrl : ""
                }
                Text {
                    textFormat: Text.PlainText
                    anchors.centerIn: parent
                    visible: !modeAvatar.ready
                    text: "U"
                    font.pixelSize: 24
                    font.bold: true
                    color: "#FFFFFF"
                }
            }

            Column {
                x: 64 + 16
                width: parent.width - x
                anchors.verticalCenter: parent.verticalCenter
                spacing: 6

                Item {
                    width: parent.width
                    height: Math.max(modeUsername.implicitHeight, ratingBadge.height)

                    Text {
                        id: modeUsername
                        objectName: "modeUsername"
                        anchors.verticalCenter: parent.verticalCenter
                        width: parent.width - 8 - ratingBadge.width
                        text: root.backend && root.backend.username !== "" ? root.backend.username : "未知用户"
                        textFormat: Text.PlainText
                        elide: Text.ElideRight
                        font.pixelSize: 20
                        font.bold: true
                        color: "#FFFFFF"
                    }
                    Rectangle {
                        id: ratingBadge
                        anchors.right: parent.right
                        anchors.verticalCenter: parent.verticalCenter
                        width: 56
                        height: 20
                        radius: 10
                        color: "#3b82f6"

                        Text {
                            anchors.centerIn: parent
                            text: root.backend ? root.backend.rating : "--"
                            textFormat: Text.PlainText
                            font.pixelSize: 11
                            font.bold: true
                            color: "#FFFFFF"
                        }
                    }
                }
                Text {
                    width: Math.ceil(implicitWidth)
                    text: "CID：" + (root.backend ? root.backend.cid : "0")
                    textFormat: Text.PlainText
                    font.pixelSize: 13
                    color: "#cbd5e1"
                }
            }
        }
    }
}
