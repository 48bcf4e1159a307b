import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import com.morvane.backend 1.0
import ".."
import "../components" as Components
import "simulator" as Simulator
import "voice" as Voice

// The voice page: connection, live indicators and levels, the device tests,
// the two radios and the event log. The dashboard sets voiceServiceBackend.
// Callsigns and log texts come from the server and are shown as plain text.
Item {
    id: page

    property VoiceServiceBackend voiceServiceBackend: null
    readonly property var backend: voiceServiceBackend
    readonly property bool connected: backend ? backend.connected : false
    // The tests run only while the client is disconnected.
    readonly property bool testable: backend ? backend.canConnect : false

    signal minimizeRequested

    ScrollView {
        id: scroll
        objectName: "voiceScroll"
        anchors.fill: parent
        contentWidth: availableWidth
        clip: true
        visible: page.backend !== null

        ColumnLayout {
            width: scroll.availableWidth
            spacing: 14

            Components.Card {
                Layout.fillWidth: true
                Layout.preferredHeight: 320

                ColumnLayout {
                    anchors.fill: parent
                    spacing: 18

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 12

                        Text {
                            text: "语音服务"
                            textFormat: Text.PlainText
                            font.pixelSize: 18
                            font.weight: Font.DemiBold
                            color: Style.textPrimary
                        }
                        Rectangle {
                            objectName: "stateDot"
                            implicitWidth: 10
                            implicitHeight: 10
                            radius: 5
                            color: page.connected ? Style.statusSuccess : Style.statusError
                        }
                        Text {
                            objectName: "stateText"
                            text: page.backend ? page.backend.connectionStateText : "未知"
                            textFormat: Text.PlainText
                            font.pixelSize: 14
                            color: Style.textPrimary
                        }
                        Text {
                            objectName: "callsignText"
                            Layout.fillWidth: true
                            text: page.backend && page.backend.callsign !== "" ? page.backend.callsign : "—"
                            textFormat: Text.PlainText
                            font.pixelSize: 13
                            color: Style.textMuted
                            elide: Text.ElideRight
                        }
                        Components.CustomButton {
                            objectName: "connectButton"
                            text: "连接语音服务器"
                            primary: true
                            enabled: page.testable
                            onClicked: page.backend.connectToVoiceServer()
                        }
                        Components.CustomButton {
                            objectName: "minimizeButton"
                            text: "缩小"
                            onClicked: page.minimizeRequested()
                        }
                    }

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 10

                        Voice.Badge {
                            objectName: "pttBadge"
                            label: active ? "发送中" : "待机"
                            active: page.backend ? page.backend.pttActive : false
                            activeFill: "#efcd44"
                            activeBorder: Qt.darker("#efcd44", 1.2)
                        }
                        Voice.Badge {
                            objectName: "txBadge"
                            label: "TX"
                            active: page.backend ? page.backend.sending : false
                            activeFill: "#EF4444"
                            activeBorder: "#DC2626"
                        }
                        Voice.Badge {
                            objectName: "rxBadge"
                            label: "RX"
                            active: page.backend ? page.backend.receiving : false
                        }
                        Text {
                            objectName: "lastSpeaker"
                            Layout.leftMargin: 12
                            Layout.maximumWidth: 260
                            text: "上次发言: " + (page.backend && page.backend.lastReceiveCallsign !== ""
                                                ? page.backend.lastReceiveCallsign : "------")
                            textFormat: Text.PlainText
                            font.pixelSize: 13
                            color: Style.textSecondary
                            elide: Text.ElideRight
                        }
                        Text {
                            objectName: "lastFrequency"
                            text: "频率: " + (page.backend && page.backend.lastReceiveFreq > 0
                                            ? page.backend.lastReceiveFreq.toFixed(3) : "---.---") + " MHz"
                            textFormat: Text.PlainText
                            font.pixelSize: 13
                            color: Style.textSecondary
                        }
                        Item {
                            Layout.fillWidth: true
                        }
                    }

                    Voice.LevelRow {
                        objectName: "inputLevel"
                        Layout.fillWidth: true
                        caption: "输入音量"
                        level: page.backend ? page.backend.inputLevel : 0
                        db: page.backend ? page.backend.inputDb : -96
                        barColor: level > 85 ? "#EF4444" : "#10B981"
                    }
                    Voice.LevelRow {
                        objectName: "outputLevel"
                        Layout.fillWidth: true
                        caption: "输出音量"
                        level: page.backend ? page.backend.outputLevel : 0
                        db: page.backend ? page.backend.outputDb : -96
                        barColor: "#3B82F6"
                    }
                    Item {
                        Layout.fillHeight: true
                    }
                }
            }

            // Kept on screen while connected, greyed, so that the pilot sees why
            // the tests are unavailable.
            Components.Card {
                objectName: "deviceTestCard"
                Layout.fillWidth: true
                Layout.preferredHeight: 200

                ColumnLayout {
                    anchors.fill: parent
                    spacing: 14

                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 12

                        Simulator.CardTitle {
                            text: "设备测试"
                        }
                        Text {
                            objectName: "testUnavailable"
                            visible: !page.testable
                            text: "语音服务连接中，无法测试"
                            textFormat: Text.PlainText
                            font.pixelSize: 13
                            color: Style.statusError
                        }
                        Text {
                            objectName: "pttUnbound"
                            // The test's capture waits for push-to-talk.
                            visible: page.testable && !page.backend.pttBound
                            text: "未设置 PTT 按键：麦克风测试需要按住 PTT 才能听到声音"
                            textFormat: Text.PlainText
                            font.pixelSize: 13
                            color: Style.statusError
                        }
                    }
                    RowLayout {
                        Layout.fillWidth: true
                        spacing: 10
                        enabled: page.testable

                        Text {
                            text: "输出到"
                            textFormat: Text.PlainText
                            font.pixelSize: 13
                            color: Style.textSecondary
                        }
                        Components.CustomButton {
                            objectName: "headphoneButton"
                            text: "耳机"
                            primary: page.backend ? page.backend.loopbackTarget === 0 : false
                            onClicked: page.backend.loopbackTarget = 0
                        }
                        Components.CustomButton {
                            objectName: "speakerButton"
                            text: "扬声器"
                            primary: page.backend ? page.backend.loopbackTarget === 1 : false
                            onClicked: page.backend.loopbackTarget = 1
                        }
                        Item {
                            Layout.preferredWidth: 12
                        }
                        Components.CustomButton {
                            objectName: "micTestButton"
                            readonly property bool running: page.backend ? page.backend.micTesting : false
                            text: running ? "停止测试" : "麦克风测试"
                            enabled: page.backend ? !page.backend.conflictTesting : false
                            onClicked: running ? page.backend.stopMicTest() : page.backend.startMicTest()
                        }
                        Components.CustomButton {
                            objectName: "conflictButton"
                            readonly property bool running: page.backend ? page.backend.conflictTesting : false
                            text: running ? "停止播放" : "播放冲突音"
                            enabled: page.backend ? !page.backend.micTesting : false
                            onClicked: running ? page.backend.stopPlayConflict() : page.backend.startPlayConflict()
                        }
                        Item {
                            Layout.fillWidth: true
                        }
                    }
                    Text {
                        objectName: "testHint"
                        // A test whose devices did not open says so where it was started.
                        readonly property bool failed: page.testable && page.backend.testFailure !== ""
                                                       && !page.backend.micTesting && !page.backend.conflictTesting
                        Layout.fillWidth: true
                        text: !page.testable ? "语音服务连接时无法进行设备测试"
                              : page.backend.micTesting ? "正在采集麦克风输入并转发到输出设备，请按下PTT按钮对麦克风说话..."
                              : page.backend.conflictTesting ? "正在播放冲突音到输出设备..."
                              : failed ? page.backend.testFailure
                              : "选择输出目标后点击「麦克风测试」，或点击「播放冲突音」验证输出"
                        textFormat: Text.PlainText
                        font.pixelSize: 12
                        color: failed ? Style.statusError : Style.textMuted
                        wrapMode: Text.Wrap
                    }
                    Item {
                        Layout.fillHeight: true
                    }
                }
            }

            Components.Card {
                Layout.fillWidth: true
                Layout.preferredHeight: 200

                ColumnLayout {
                    anchors.fill: parent
                    spacing: 12

                    Simulator.CardTitle {
                        text: "无线电频率"
                    }
                    Voice.RadioRow {
                        objectName: "com1"
                        Layout.fillWidth: true
                        name: "COM1"
                        frequency: page.backend ? page.backend.com1Freq : ""
                        transmit: page.backend ? page.backend.com1TX : false
                        receive: page.backend ? page.backend.com1RX : false
                        volume: page.backend ? page.backend.com1Volume : 1
                        onVolumeMoved: volume => page.backend.com1Volume = volume
                    }
                    Rectangle {
                        Layout.fillWidth: true
                        Layout.preferredHeight: 1
                        color: Style.divider
                    }
                    Voice.RadioRow {
                        objectName: "com2"
                        Layout.fillWidth: true
                        name: "COM2"
                        frequency: page.backend ? page.backend.com2Freq : ""
                        transmit: page.backend ? page.backend.com2TX : false
                        receive: page.backend ? page.backend.com2RX : false
                        volume: page.backend ? page.backend.com2Volume : 1
                        onVolumeMoved: volume => page.backend.com2Volume = volume
                    }
                    Item {
                        Layout.fillHeight: true
                    }
                }
            }

            Components.Card {
                Layout.fillWidth: true
                Layout.preferredHeight: 280

                ColumnLayout {
                    anchors.fill: parent
                    spacing: 10

                    Simulator.CardTitle {
                        text: "事件日志"
                    }
                    ListView {
                        objectName: "eventList"
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        clip: true
                        spacing: 4
                        model: page.backend ? page.backend.eventLog : []
                        ScrollBar.vertical: ScrollBar {}

                        delegate: Rectangle {
                            objectName: "eventRow"
                            required property var modelData
                            width: ListView.view.width
                            height: 36
                            radius: 8
                            color: "#08000000"

                            RowLayout {
                                anchors.fill: parent
                                anchors.leftMargin: 10
                                anchors.rightMargin: 10
                                spacing: 8

                                Text {
                                    objectName: "eventTime"
                                    Layout.preferredWidth: 60
                                    text: modelData.time
                                    textFormat: Text.PlainText
                                    font.pixelSize: 12
                                    color: Style.textMuted
                                }
                                Text {
                                    objectName: "eventText"
                                    Layout.fillWidth: true
                                    text: modelData.text
                                    textFormat: Text.PlainText
                                    font.pixelSize: 13
                                    color: Style.textPrimary
                                    elide: Text.ElideRight
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}
