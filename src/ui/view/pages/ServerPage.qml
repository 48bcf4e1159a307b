import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import ".."
import "../components" as Components
import "server" as Server
import "simulator" as Simulator

// The server page: the connection form with type-code suggestions, connect
// and disconnect, and the server log. Reads serverBackend, and settingsBackend
// for two read-only values. The form is read-only while a connection is made
// or stands; every text from outside is shown as plain text.
Item {
    id: page

    readonly property var backend: typeof serverBackend !== "undefined" ? serverBackend : null
    readonly property var settings: typeof settingsBackend !== "undefined" ? settingsBackend : null
    readonly property bool connected: backend ? backend.serverConnected : false
    readonly property string statusText: backend ? backend.serverStatusText : ""
    readonly property bool connecting: statusText === "连接中..."
    readonly property bool disconnecting: statusText === "断开中..."
    readonly property bool formEditable: backend !== null && !backend.formLocked

    function write(property, value) {
        if (page.backend)
            page.backend[property] = value
    }

    function orDash(text) {
        return text ? String(text) : "--"
    }

    ScrollView {
        id: scroll
        anchors.fill: parent
        contentWidth: availableWidth
        clip: true

        ColumnLayout {
            width: scroll.availableWidth
            height: Math.max(implicitHeight, scroll.availableHeight)
            spacing: 14

            Components.Card {
                Layout.fillWidth: true
                Layout.preferredHeight: 86

                RowLayout {
                    anchors.fill: parent
                    spacing: 24

                    Simulator.CardTitle {
                        text: "基础信息"
                    }
                    Simulator.LabeledValue {
                        objectName: "realName"
                        Layout.fillWidth: true
                        label: "真实姓名"
                        labelWidth: 64
                        value: page.orDash(page.settings ? page.settings.realname : "")
                    }
                    Simulator.LabeledValue {
                        objectName: "homeAirport"
                        Layout.fillWidth: true
                        label: "初始机场"
                        labelWidth: 64
                        value: page.orDash(page.settings ? page.settings.homeAirport : "")
                    }
                }
            }

            Components.Card {
                Layout.fillWidth: true
                Layout.preferredHeight: 248
                clipSelf: false
                z: 2

                ColumnLayout {
                    anchors.fill: parent
                    spacing: 10

                    Simulator.CardTitle {
                        text: "连接参数"
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 14

                        Server.FormField {
                            Layout.fillWidth: true
                            caption: "呼号"
                            fieldName: "callsignField"
                            fieldEnabled: page.formEditable
                            text: page.backend ? page.backend.callsign : ""
                            placeholderText: "例如：B2352 / CES2352 / CES2352A"
                            onEdited: text => page.write("callsign", text)
                        }
                        Server.FormField {
                            Layout.fillWidth: false
                            Layout.preferredWidth: 160
                            caption: "SELCAL"
                            fieldName: "selcalField"
                            fieldEnabled: page.formEditable
                            text: page.backend ? page.backend.selcal : ""
                            placeholderText: "AB-CD"
                            onEdited: text => page.write("selcal", text)
                        }
                        Server.FormField {
                            id: typeCode
                            Layout.fillWidth: true
                            caption: "机型"
                            fieldName: "typeCodeField"
                            fieldEnabled: page.formEditable && !page.backend.observerMode
                            text: page.backend ? page.backend.typeCode : ""
                            placeholderText: page.backend && !page.backend.typeCodeRequired
                                             ? "观察员模式不可输入" : "输入机型代码（例如：A320 / A20N）"
                            onEdited: text => page.write("typeCode", text)
                        }
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 14

                        Components.CustomCheckBox {
                            objectName: "observerCheckBox"
                            text: "观察员"
                            enabled: page.formEditable
                            checked: page.backend ? page.backend.observerMode : false
                            onToggled: page.write("observerMode", checked)
                        }
                        Components.CustomCheckBox {
                            objectName: "coordinatedVoiceCheckBox"
                            text: "协同语音"
                            enabled: page.formEditable
                            checked: page.backend ? page.backend.coordinatedVoice : false
                            onToggled: page.write("coordinatedVoice", checked)
                        }
                        Components.CustomButton {
                            objectName: "connectButton"
                            text: page.connected ? "断开服务器" : page.connecting ? "中断连接" : "连接服务器"
                            primary: page.connected || page.connecting
                            enabled: page.backend !== null && !page.disconnecting
                                     && (page.connected || page.connecting || page.backend.canConnect)
                            onClicked: {
                                if (page.connected || page.connecting)
                                    page.backend.requestDisconnect()
                                else
                                    page.backend.requestConnect()
                            }
                        }
                        Components.CustomButton {
                            objectName: "clearLogButton"
                            text: "清空日志"
                            onClicked: {
                                if (page.backend)
                                    page.backend.clearServerLog()
                            }
                        }
                        // Left-aligned, so that the suggestions under the type
                        // field (the right-hand column) do not cover the buttons.
                        Item {
                            Layout.fillWidth: true
                        }
                    }
                    Text {
                        objectName: "formErrorText"
                        Layout.fillWidth: true
                        visible: text !== ""
                        text: page.backend ? page.backend.formErrorText : ""
                        textFormat: Text.PlainText
                        font.pixelSize: 12
                        color: Style.statusError
                        wrapMode: Text.Wrap
                    }
                    Item {
                        Layout.fillHeight: true
                    }
                }

                Server.TypeCodeSuggestionPopup {
                    backend: page.backend
                    field: typeCode.field
                }
            }

            Components.Card {
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumHeight: 360
                Layout.preferredHeight: 360

                ColumnLayout {
                    anchors.fill: parent
                    spacing: 10

                    Simulator.CardTitle {
                        text: "服务器日志"
                    }
                    ScrollView {
                        id: logScroll

                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        // The log wraps at the view's width; a width taken from the
                        // text's own would feed back into its wrapping.
                        contentWidth: availableWidth

                        Components.CustomTextArea {
                            id: log

                            // The view stays at the end until the pilot scrolls away from it.
                            property bool following: true
                            // Set while the page moves the view itself.
                            property bool placing: false

                            function place(y) {
                                const view = logScroll.contentItem;
                                const was = placing;
                                placing = true;
                                view.contentY = Math.max(0, Math.min(y, view.contentHeight - view.height));
                                placing = was;
                            }

                            function atEnd() {
                                const view = logScroll.contentItem;
                                return view.contentY + view.height >= view.contentHeight - 1;
                            }

                            // The text comes whole with every line. The text area keeps
                            // its cursor in sight, so the cursor goes where the view
                            // stays: at the end, or on the line in the middle of the view.
                            function show(text) {
                                const view = logScroll.contentItem;
                                placing = true;
                                if (following) {
                                    log.text = text;
                                    log.cursorPosition = log.length;
                                    place(view.contentHeight);
                                } else {
                                    const old = log.text;
                                    const anchor = log.positionAt(0, view.contentY + view.height / 2);
                                    const offset = log.positionToRectangle(anchor).y - view.contentY;
                                    log.text = text;
                                    // Past the cap the oldest lines leave at the top.
                                    let dropped = 0;
                                    while (dropped < old.length && !text.startsWith(old.slice(dropped)))
                                        dropped = old.indexOf("\n", dropped) + 1 || old.length;
                                    log.cursorPosition = Math.min(Math.max(anchor - dropped, 0), log.length);
                                    place(log.positionToRectangle(log.cursorPosition).y - offset);
                                }
                                placing = false;
                                // A log that now fits, or was cleared, is followed again.
                                following = atEnd();
                            }

                            objectName: "serverLog"
                            readOnly: true
                            wrapMode: TextEdit.Wrap
                            background: Rectangle {
                                color: "#FFFFFF"
                                radius: 10
                                border.width: 1
                                border.color: Style.controlBorder
                            }
                            Component.onCompleted: show(page.backend ? page.backend.serverLog : "")

                            Connections {
                                target: page.backend

                                function onLogChanged() {
                                    log.show(page.backend.serverLog);
                                }
                            }
                            Connections {
                                target: logScroll.contentItem

                                function onContentYChanged() {
                                    if (!log.placing)
                                        log.following = log.atEnd();
                                }
                                // A new width or height: still at the end.
                                function onContentHeightChanged() {
                                    if (log.following && !log.placing)
                                        log.place(logScroll.contentItem.contentHeight);
                                }
                                function onHeightChanged() {
                                    if (log.following && !log.placing)
                                        log.place(logScroll.contentItem.contentHeight);
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}
