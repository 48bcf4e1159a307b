import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import ".."
import "../components" as Components

// The message centre. Everything shown comes from the messages view model;
// every text that came from outside is shown as plain text, never as markup.
Item {
    id: page
    objectName: "messagesPage"
    anchors.fill: parent

    readonly property var backend: (typeof messagesBackend !== "undefined" && messagesBackend) ? messagesBackend : null
    readonly property var simulator: (typeof simulatorBackend !== "undefined" && simulatorBackend) ? simulatorBackend
                                                                                                    : null
    property string activeTab: backend ? backend.activeChannel : "SERVER"

    function setActiveTab(tab) {
        const key = (tab && tab.length > 0 ? tab : "SERVER").toUpperCase();
        activeTab = key;
        if (backend) {
            backend.activeChannel = key;
            activeTab = backend.activeChannel;
        }
    }

    function channelColor(channel, priority, unread) {
        if (channel === activeTab)
            return Style.accent;
        if (priority >= 2)
            return unread ? "#FEF2F2" : "#FFF7ED";
        return unread ? "#EEF2FF" : "transparent";
    }

    function channelTextColor(channel, priority) {
        if (channel === activeTab)
            return "#FFFFFF";
        return priority >= 2 ? "#B91C1C" : Style.textPrimary;
    }

    function messageBand(type, isDirect, priority) {
        if (priority >= 2 || type === "selcal")
            return "#DC2626";
        if (isDirect)
            return "#2563EB";
        if (type === "private_in" || type === "private_out")
            return "#7C3AED";
        if (type === "radio_in" || type === "radio_out")
            return "#059669";
        if (type === "broadcast")
            return "#D97706";
        if (type === "wallop_out")
            return "#BE123C";
        return Style.accent;
    }

    function channelDot(key) {
        switch (key) {
        case "SELCAL": return "#DC2626";
        case "RADIO": return "#059669";
        case "PRIVATE": return "#7C3AED";
        case "BROADCAST": return "#D97706";
        case "WALLOP": return "#BE123C";
        default: return Style.accent;
        }
    }

    function sendCurrent() {
        const text = composeField.text;
        if (!backend || text.trim().length === 0)
            return;
        if (activeTab === "RADIO")
            backend.sendRadioMessage(text);
        else if (activeTab === "WALLOP")
            backend.sendWallopMessage(text);
        else
            backend.sendPrivateMessage(activeTab, text);
    }

    // Records arriving while the pilot looks at their channel are born read.
    function syncVisible() {
        if (backend)
            backend.pageVisible = page.visible;
    }
    Component.onCompleted: syncVisible()
    onVisibleChanged: syncVisible()
    Component.onDestruction: {
        if (backend)
            backend.pageVisible = false;
    }

    Connections {
        target: page.backend
        function onActiveChannelChanged() {
            page.activeTab = page.backend.activeChannel;
        }
    }

    RowLayout {
        anchors.fill: parent
        anchors.margins: 8
        spacing: 8

        // --- Left: channels, conversations, controllers in range -----------
        Components.Card {
            Layout.preferredWidth: 230
            Layout.fillHeight: true
            contentPadding: 12

            ColumnLayout {
                anchors.fill: parent
                spacing: 8

                RowLayout {
                    Layout.fillWidth: true
                    Text {
                        textFormat: Text.PlainText
                        text: "消息"
                        font.pixelSize: 14
                        font.bold: true
                        color: Style.textPrimary
                        Layout.fillWidth: true
                    }
                    Rectangle {
                        objectName: "unreadBadge"
                        visible: page.backend !== null && page.backend.unreadCount > 0
                        height: 20
                        radius: 10
                        width: Math.max(20, badgeText.implicitWidth + 12)
                        color: "#DC2626"
                        Text {
                            id: badgeText
                            textFormat: Text.PlainText
                            anchors.centerIn: parent
                            text: page.backend ? page.backend.unreadCount : 0
                            font.pixelSize: 11
                            font.bold: true
                            color: "#FFFFFF"
                        }
                    }
                }

                Text {
                    objectName: "summaryText"
                    Layout.fillWidth: true
                    text: page.backend ? page.backend.summaryText : "暂无消息"
                    textFormat: Text.PlainText
                    font.pixelSize: 11
                    color: Style.textMuted
                    elide: Text.ElideRight
                }

                Rectangle {
                    Layout.fillWidth: true
                    height: 1
                    color: Style.divider
                }

                ListView {
                    objectName: "channelList"
                    Layout.fillWidth: true
                    Layout.preferredHeight: 254
                    spacing: 4
                    clip: true
                    model: page.backend ? page.backend.channels : []
                    delegate: Rectangle {
                        id: channelRow
                        required property var modelData
                        readonly property bool active: modelData.key === page.activeTab
                        readonly property int priority: modelData.key === "SELCAL" ? 2 : 0
                        objectName: "channel_" + modelData.key
                        width: ListView.view.width
                        height: 38
                        radius: 6
                        color: active ? Style.accent
                                      : channelMouse.containsMouse ? Style.accentSoft
                                                                   : page.channelColor(modelData.key, priority,
                                                                                       modelData.unread > 0)
                        border.width: active ? 0 : 1
                        border.color: Style.controlBorder

                        RowLayout {
                            anchors.fill: parent
                            anchors.leftMargin: 10
                            anchors.rightMargin: 8
                            spacing: 8
                            Rectangle {
                                width: 7
                                height: 7
                                radius: 3.5
                                color: page.channelDot(channelRow.modelData.key)
                            }
                            Text {
                                objectName: "channelLabel"
                                Layout.fillWidth: true
                                text: channelRow.modelData.label
                                textFormat: Text.PlainText
                                font.pixelSize: 12
                                font.bold: channelRow.active
                                color: page.channelTextColor(channelRow.modelData.key, channelRow.priority)
                                elide: Text.ElideRight
                            }
                            UnreadPill {
                                objectName: "channelUnread"
                                count: channelRow.modelData.unread
                                onActive: channelRow.active
                            }
                        }
                        MouseArea {
                            id: channelMouse
                            anchors.fill: parent
                            hoverEnabled: true
                            onClicked: page.setActiveTab(channelRow.modelData.key)
                        }
                    }
                }

                Text {
                    textFormat: Text.PlainText
                    text: "私聊"
                    font.pixelSize: 13
                    font.bold: true
                    color: Style.textSecondary
                }

                ListView {
                    objectName: "sessionList"
                    Layout.fillWidth: true
                    Layout.preferredHeight: 138
                    spacing: 4
                    clip: true
                    model: page.backend ? page.backend.privateSessions : []
                    delegate: Rectangle {
                        id: sessionRow
                        required property var modelData
                        readonly property bool active: modelData.key === page.activeTab
                        objectName: "session_" + modelData.key
                        width: ListView.view.width
                        height: 46
                        radius: 6
                        color: active ? Style.accent
                                      : sessionMouse.containsMouse ? Style.accentSoft
                                                                   : modelData.unread > 0 ? "#EEF2FF" : "transparent"

                        MouseArea {
                            id: sessionMouse
                            anchors.fill: parent
                            anchors.rightMargin: 26
                            hoverEnabled: true
                            onClicked: page.setActiveTab(sessionRow.modelData.key)
                        }
                        RowLayout {
                            anchors.fill: parent
                            anchors.leftMargin: 10
                            anchors.rightMargin: 4
                            spacing: 6
                            ColumnLayout {
                                Layout.fillWidth: true
                                spacing: 2
                                Text {
                                    Layout.fillWidth: true
                                    text: sessionRow.modelData.callsign
                                    textFormat: Text.PlainText
                                    font.pixelSize: 12
                                    font.bold: true
                                    color: sessionRow.active ? "#FFFFFF" : Style.textPrimary
                                    elide: Text.ElideRight
                                }
                                Text {
                                    objectName: "sessionLastMessage"
                                    Layout.fillWidth: true
                                    text: sessionRow.modelData.lastMessage !== undefined
                                          ? sessionRow.modelData.lastMessage : "暂无对话"
                                    textFormat: Text.PlainText
                                    font.pixelSize: 10
                                    color: sessionRow.active ? "#DDEBFF" : Style.textMuted
                                    elide: Text.ElideRight
                                }
                            }
                            UnreadPill {
                                count: sessionRow.modelData.unread
                                onActive: sessionRow.active
                            }
                            Rectangle {
                                objectName: "sessionClose"
                                width: 18
                                height: 18
                                radius: 9
                                color: closeMouse.containsMouse ? Qt.rgba(0, 0, 0, 0.12) : "transparent"
                                Text {
                                    textFormat: Text.PlainText
                                    anchors.centerIn: parent
                                    text: "x"
                                    font.pixelSize: 11
                                    color: sessionRow.active ? "#FFFFFF" : Style.textSecondary
                                }
                                MouseArea {
                                    id: closeMouse
                                    anchors.fill: parent
                                    hoverEnabled: true
                                    onClicked: {
                                        const wasActive = sessionRow.active;
                                        page.backend.closePrivateSession(sessionRow.modelData.callsign);
                                        if (wasActive)
                                            page.setActiveTab("SERVER");
                                    }
                                }
                            }
                        }
                    }
                }

                Text {
                    textFormat: Text.PlainText
                    text: "附近管制"
                    font.pixelSize: 13
                    font.bold: true
                    color: Style.textSecondary
                }

                ListView {
                    objectName: "nearbyList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true
                    model: page.backend ? page.backend.nearbyClients : []
                    delegate: Item {
                        id: nearbyRow
                        required property var modelData
                        objectName: "nearby_" + modelData.callsign
                        width: ListView.view.width
                        height: 38
                        RowLayout {
                            anchors.fill: parent
                            anchors.leftMargin: 10
                            spacing: 8
                            Rectangle {
                                width: 7
                                height: 7
                                radius: 3.5
                                color: "#3B82F6"
                            }
                            ColumnLayout {
                                Layout.fillWidth: true
                                spacing: 1
                                Text {
                                    Layout.fillWidth: true
                                    text: nearbyRow.modelData.callsign
                                    textFormat: Text.PlainText
                                    font.pixelSize: 12
                                    font.bold: true
                                    color: Style.textPrimary
                                    elide: Text.ElideRight
                                }
                                Text {
                                    Layout.fillWidth: true
                                    text: nearbyRow.modelData.frequency !== undefined ? nearbyRow.modelData.frequency
                                                                                      : ""
                                    textFormat: Text.PlainText
                                    font.pixelSize: 10
                                    color: Style.textMuted
                                }
                            }
                        }
                        // Opens, selects and addresses the conversation with that station.
                        MouseArea {
                            anchors.fill: parent
                            onDoubleClicked: {
                                if (page.backend)
                                    page.backend.prepareReply(nearbyRow.modelData.callsign);
                            }
                        }
                    }
                }
            }
        }

        // --- Right: header, messages, compose --------------------------------
        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 8

            Components.Card {
                Layout.fillWidth: true
                Layout.preferredHeight: 82
                contentPadding: 16

                RowLayout {
                    anchors.fill: parent
                    spacing: 12
                    ColumnLayout {
                        Layout.fillWidth: true
                        spacing: 4
                        Text {
                            objectName: "headerTitle"
                            Layout.fillWidth: true
                            text: page.backend ? page.backend.activeChannelTitle : "服务器"
                            textFormat: Text.PlainText
                            font.pixelSize: 16
                            font.bold: true
                            color: Style.textPrimary
                            elide: Text.ElideRight
                        }
                        Text {
                            objectName: "headerLine"
                            Layout.fillWidth: true
                            text: page.activeTab === "RADIO"
                                  ? "COM1 " + (page.simulator ? page.simulator.com1Frequency : "--") + " / COM2 "
                                    + (page.simulator ? page.simulator.com2Frequency : "--")
                                  : (page.backend ? page.backend.summaryText : "暂无消息")
                            textFormat: Text.PlainText
                            font.pixelSize: 11
                            color: Style.textMuted
                            elide: Text.ElideRight
                        }
                    }
                    Button {
                        id: clearButton
                        objectName: "clearButton"
                        implicitWidth: 92
                        implicitHeight: 38
                        text: "清空"
                        onClicked: {
                            if (page.backend)
                                page.backend.clearMessages();
                        }
                        contentItem: Text {
                            textFormat: Text.PlainText
                            text: clearButton.text
                            font.pixelSize: 13
                            color: Style.textPrimary
                            horizontalAlignment: Text.AlignHCenter
                            verticalAlignment: Text.AlignVCenter
                        }
                        background: Rectangle {
                            radius: 12
                            color: clearButton.hovered ? Style.accentSoft : "#FFFFFF"
                            border.width: 1
                            border.color: clearButton.hovered ? Style.controlBorderActive : Style.controlBorder
                        }
                    }
                }
            }

            Components.Card {
                Layout.fillWidth: true
                Layout.fillHeight: true
                contentPadding: 12

                ListView {
                    id: messageList
                    objectName: "messageList"
                    anchors.fill: parent
                    spacing: 6
                    clip: true
                    // Newest first in the model, so the newest sits at the bottom.
                    verticalLayoutDirection: ListView.BottomToTop
                    model: page.backend ? page.backend.activeMessages : []
                    delegate: Rectangle {
                        id: messageRow
                        required property var modelData
                        readonly property color band: page.messageBand(modelData.type, modelData.isDirect,
                                                                       modelData.priority)
                        objectName: "message_" + modelData.id
                        width: ListView.view.width
                        height: Math.max(56, body.implicitHeight + 16)
                        radius: 6
                        color: modelData.unread ? "#F8FAFF" : "transparent"
                        border.width: modelData.isDirect || modelData.priority > 0 ? 1 : 0
                        border.color: band

                        Rectangle {
                            width: 4
                            radius: 2
                            anchors.left: parent.left
                            anchors.top: parent.top
                            anchors.bottom: parent.bottom
                            color: messageRow.band
                        }
                        ColumnLayout {
                            id: body
                            anchors.left: parent.left
                            anchors.right: parent.right
                            anchors.top: parent.top
                            anchors.leftMargin: 14
                            anchors.rightMargin: 10
                            anchors.topMargin: 8
                            spacing: 4
                            RowLayout {
                                Layout.fillWidth: true
                                spacing: 8
                                Text {
                                    objectName: "messageFrom"
                                    Layout.preferredWidth: 92
                                    text: messageRow.modelData.from
                                    textFormat: Text.PlainText
                                    font.pixelSize: 12
                                    font.bold: true
                                    color: messageRow.band
                                    elide: Text.ElideRight
                                }
                                Text {
                                    objectName: "messageDirection"
                                    text: messageRow.modelData.directionLabel
                                    textFormat: Text.PlainText
                                    font.pixelSize: 10
                                    color: Style.textMuted
                                }
                                Text {
                                    objectName: "messageTo"
                                    visible: messageRow.modelData.to.length > 0
                                    Layout.maximumWidth: 120
                                    text: "-> " + messageRow.modelData.to
                                    textFormat: Text.PlainText
                                    font.pixelSize: 10
                                    color: Style.textMuted
                                    elide: Text.ElideRight
                                }
                                Text {
                                    objectName: "messageMeta"
                                    visible: messageRow.modelData.meta.length > 0
                                    Layout.fillWidth: true
                                    text: messageRow.modelData.meta
                                    textFormat: Text.PlainText
                                    font.pixelSize: 10
                                    color: messageRow.modelData.priority >= 2 ? "#B91C1C" : Style.textMuted
                                    elide: Text.ElideRight
                                }
                                Item {
                                    visible: messageRow.modelData.meta.length === 0
                                    Layout.fillWidth: true
                                }
                                Text {
                                    text: messageRow.modelData.time
                                    textFormat: Text.PlainText
                                    font.pixelSize: 10
                                    color: Style.textMuted
                                }
                            }
                            Text {
                                objectName: "messageText"
                                Layout.fillWidth: true
                                text: messageRow.modelData.message
                                textFormat: Text.PlainText
                                font.pixelSize: 13
                                color: Style.textPrimary
                                wrapMode: Text.Wrap
                            }
                        }
                        // Right-click answers the sender; own texts and notices have none.
                        MouseArea {
                            anchors.fill: parent
                            acceptedButtons: Qt.RightButton
                            onClicked: {
                                if (page.backend && messageRow.modelData.direction === "in")
                                    page.backend.prepareReply(messageRow.modelData.from);
                            }
                        }
                    }
                }

                Text {
                    objectName: "emptyText"
                    textFormat: Text.PlainText
                    anchors.centerIn: parent
                    visible: messageList.count === 0
                    text: "当前频道暂无消息"
                    font.pixelSize: 13
                    color: Style.textMuted
                }
            }

            Components.Card {
                objectName: "composeCard"
                Layout.fillWidth: true
                Layout.preferredHeight: 92
                contentPadding: 16
                opacity: page.backend && page.backend.activeChannelCanSend ? 1.0 : 0.62

                RowLayout {
                    anchors.fill: parent
                    spacing: 10
                    Rectangle {
                        Layout.preferredWidth: 104
                        Layout.preferredHeight: 32
                        radius: 6
                        color: Style.accentSoft
                        Text {
                            objectName: "composeChip"
                            anchors.fill: parent
                            anchors.leftMargin: 6
                            anchors.rightMargin: 6
                            text: page.backend ? page.backend.activeChannelTitle : "服务器"
                            textFormat: Text.PlainText
                            font.pixelSize: 12
                            font.bold: true
                            color: Style.accent
                            horizontalAlignment: Text.AlignHCenter
                            verticalAlignment: Text.AlignVCenter
                            elide: Text.ElideRight
                        }
                    }
                    Components.CustomTextField {
                        id: composeField
                        objectName: "composeField"
                        Layout.fillWidth: true
                        enabled: page.backend !== null && page.backend.activeChannelCanSend
                        placeholderText: page.backend ? page.backend.composePlaceholder : "网络未连接"
                        text: page.backend ? page.backend.draftMessage : ""
                        onTextChanged: {
                            if (page.backend && page.backend.draftMessage !== text)
                                page.backend.draftMessage = text;
                        }
                        onAccepted: page.sendCurrent()
                    }
                    Components.CustomButton {
                        objectName: "sendButton"
                        primary: true
                        text: "发送"
                        enabled: page.backend !== null && page.backend.activeChannelCanSend
                                 && composeField.text.trim().length > 0
                        onClicked: page.sendCurrent()
                    }
                }
            }
        }
    }
}
