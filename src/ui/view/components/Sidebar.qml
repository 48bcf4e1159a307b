import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import ".."

Rectangle {
    id: sidebar

    property string activeItem: "dashboard"
    property string username: (typeof dashboardBackend !== "undefined" && dashboardBackend)
                              ? dashboardBackend.username : "未知用户"
    property string cid: (typeof dashboardBackend !== "undefined" && dashboardBackend)
                         ? dashboardBackend.cid : "--"
    readonly property int unreadCount: (typeof messagesBackend !== "undefined" && messagesBackend)
                                       ? messagesBackend.unreadCount : 0

    signal itemSelected(string key)

    function select(key) {
        activeItem = key;
        itemSelected(key);
    }

    objectName: "sidebar"
    implicitWidth: 252
    implicitHeight: 600
    color: Style.sidebarBg

    Rectangle {
        anchors.top: parent.top
        anchors.bottom: parent.bottom
        anchors.right: parent.right
        width: 1
        color: Style.divider
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 4

        Item {
            Layout.fillWidth: true
            Layout.preferredHeight: 90

            Row {
                anchors.left: parent.left
                anchors.leftMargin: 24
                anchors.verticalCenter: parent.verticalCenter
                spacing: 10

                Image {
                    width: 28
                    height: 28
                    anchors.verticalCenter: parent.verticalCenter
                    source: "qrc:/resources/logo.png"
                    fillMode: Image.PreserveAspectFit
                    mipmap: true
                }
                Text {
                    textFormat: Text.PlainText
                    anchors.verticalCenter: parent.verticalCenter
                    text: "VELK"
                    font.pixelSize: 22
                    font.bold: true
                    font.letterSpacing: 1
                    color: Style.textPrimary
                }
            }
        }

        Text {
            textFormat: Text.PlainText
            Layout.leftMargin: 24
            text: "主菜单"
            font.pixelSize: 10
            font.bold: true
            color: Style.textMuted
        }

        MenuButton {
            key: "dashboard"
            label: "总览"
            selected: sidebar.activeItem === key
            onClicked: sidebar.select(key)
        }
        MenuButton {
            key: "simulator"
            label: "模拟器"
            selected: sidebar.activeItem === key
            onClicked: sidebar.select(key)
        }
        MenuButton {
            key: "server"
            label: "服务器"
            selected: sidebar.activeItem === key
            onClicked: sidebar.select(key)
        }
        MenuButton {
            key: "voice"
            label: "语音服务"
            selected: sidebar.activeItem === key
            onClicked: sidebar.select(key)
        }
        MenuButton {
            key: "messages"
            label: "消息"
            selected: sidebar.activeItem === key
            badgeCount: sidebar.unreadCount
            onClicked: sidebar.select(key)
        }

        Text {
            textFormat: Text.PlainText
            Layout.leftMargin: 24
            Layout.topMargin: 14
            text: "其他"
            font.pixelSize: 10
            font.bold: true
            color: Style.textMuted
        }

        MenuButton {
            key: "settings"
            label: "设置"
            selected: sidebar.activeItem === key
            onClicked: sidebar.select(key)
        }

        Item {
            Layout.fillHeight: true
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.preferredHeight: 90 - 36
            Layout.margins: 18
            spacing: 12

            RoundImage {
                objectName: "sidebarAvatar"
                Layout.preferredWidth: 44
                Layout.preferredHeight: 44
                source: (typeof dashboardBackend !== "undefined" && dashboardBackend && dashboardBackend.avatarUrl !== "")
                        ? dashboardBackend.avatarUrl : "qrc:/resources/logo.png"
            }

            ColumnLayout {
                Layout.fillWidth: true
                spacing: 2

                Text {
                    objectName: "sidebarUsername"
                    Layout.fillWidth: true
                    text: sidebar.username
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    font.pixelSize: 13
                    font.bold: true
                    color: Style.textPrimary
                }
                Text {
                    objectName: "sidebarCid"
                    Layout.fillWidth: true
                    text: "CID：" + sidebar.cid
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    font.pixelSize: 12
                    color: Style.textSecondary
                }
            }

            CustomButton {
                objectName: "backButton"
                Layout.preferredWidth: 36
                Layout.preferredHeight: 36
                padding: 0
                horizontalPadding: 0
                background.implicitWidth: 36
                background.implicitHeight: 36
                contentItem: Item {
                    Image {
                        anchors.centerIn: parent
                        width: 18
                        height: 18
                        source: "qrc:/resources/back.svg"
                        sourceSize: Qt.size(36, 36)
                        fillMode: Image.PreserveAspectFit
                    }
                }
                onClicked: {
                    if (typeof dashboardBackend !== "undefined" && dashboardBackend)
                        dashboardBackend.requestModeChange("NONE");
                }
            }
        }
    }
}
