import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import ".."
import "../components" as Components
import "simulator" as Simulator

// The simulator page: a summary card and, while the simulator is connected,
// its status header and the MSFS or X-Plane section. Reads only the context
// property simulatorBackend; every text from outside is shown as plain text.
Item {
    id: page

    readonly property var backend: typeof simulatorBackend !== "undefined" ? simulatorBackend : null
    readonly property bool compactTop: width < 1100
    readonly property bool compactDual: width < 1220
    readonly property bool isMsfs: backend ? backend.msfsMode : false
    readonly property bool isXplane: backend ? backend.xplaneMode : false
    readonly property bool connected: backend ? backend.simulatorConnected : false
    // The MSFS back end does not read traffic altitudes yet: its value is a
    // placeholder 0 and is shown as "--" until it does.
    readonly property bool trafficAltitudeFilled: false
    readonly property var lights: [["Beacon", "beaconOn"], ["Landing", "landingLightsOn"], ["Taxi", "taxiLightsOn"],
        ["Nav", "navLightsOn"], ["Strobe", "strobesOn"]]

    function safeNumber(value, digits) {
        if (!page.backend || typeof value !== "number" || isNaN(value))
            return "0"
        return value.toFixed(digits)
    }

    function boolText(value, yesText, noText) {
        return value === true ? yesText : noText
    }

    function present(value) {
        return value !== undefined && value !== null && String(value) !== ""
    }

    function trafficLabel(contact) {
        if (!contact)
            return "--"
        if (present(contact.label))
            return String(contact.label)
        if (present(contact.callsign))
            return String(contact.callsign)
        return "目标"
    }

    function trafficPositionText(contact) {
        if (!contact)
            return "--"
        if (present(contact.positionText))
            return String(contact.positionText)
        if (present(contact.latitude) && present(contact.longitude))
            return Number(contact.latitude).toFixed(3) + ", " + Number(contact.longitude).toFixed(3)
        return "--"
    }

    function trafficAltitudeText(contact) {
        if (!contact || !page.trafficAltitudeFilled || !present(contact.altitudeFeet))
            return "--"
        const feet = Number(contact.altitudeFeet)
        return isFinite(feet) ? feet.toFixed(0) + " ft" : "--"
    }

    ScrollView {
        id: scroll
        anchors.fill: parent
        contentWidth: availableWidth
        clip: true

        ColumnLayout {
            width: scroll.availableWidth
            spacing: 14

            GridLayout {
                Layout.fillWidth: true
                columns: page.compactTop ? 1 : 2
                columnSpacing: 14
                rowSpacing: 14

                Components.Card {
                    objectName: "summaryCard"
                    Layout.fillWidth: true
                    Layout.alignment: Qt.AlignTop
                    Layout.minimumHeight: 200
                    Layout.preferredHeight: Math.max(200, summaryColumn.implicitHeight + 40)

                    ColumnLayout {
                        id: summaryColumn
                        anchors.fill: parent
                        spacing: 10

                        Text {
                            objectName: "simulatorName"
                            Layout.fillWidth: true
                            text: page.backend ? page.backend.simulatorDisplayName : "Microsoft Flight Simulator"
                            textFormat: Text.PlainText
                            font.pixelSize: 26
                            font.bold: true
                            color: Style.textPrimary
                            elide: Text.ElideRight
                        }
                        Text {
                            id: statusText
                            objectName: "simulatorStatus"
                            Layout.fillWidth: true
                            text: page.connected ? "已连接" : (page.backend ? page.backend.simulatorStatusText : "未连接")
                            textFormat: Text.PlainText
                            font.pixelSize: 16
                            color: page.connected ? Style.statusSuccess
                                                  : text === "连接中..." ? "#F59E0B" : Style.statusError
                            wrapMode: Text.Wrap
                        }
                        Text {
                            objectName: "motionLine"
                            Layout.fillWidth: true
                            text: "地速 " + page.safeNumber(page.backend && page.backend.groundSpeed, 1)
                                  + " 节 | 垂直速度 " + page.safeNumber(page.backend && page.backend.altitudeVelocity, 2)
                                  + " m/s | 前轮角 " + page.safeNumber(page.backend && page.backend.noseWheelAngle, 1) + "°"
                            textFormat: Text.PlainText
                            font.pixelSize: 13
                            color: Style.textSecondary
                            wrapMode: Text.Wrap
                        }
                        Item {
                            Layout.fillHeight: true
                        }
                        RowLayout {
                            spacing: 12

                            Rectangle {
                                objectName: "modePill"
                                Layout.preferredWidth: 80
                                Layout.preferredHeight: 32
                                radius: 16
                                color: "transparent"
                                border.width: 1
                                border.color: page.isMsfs ? "#3B82F6" : "#E2E8F0"

                                Text {
                                    objectName: "modePillText"
                                    anchors.centerIn: parent
                                    text: page.isMsfs ? "MSFS" : page.isXplane ? "X-Plane" : "NONE"
                                    textFormat: Text.PlainText
                                    font.pixelSize: 13
                                    font.bold: true
                                    color: page.isMsfs ? "#2563EB" : Style.textMuted
                                }
                            }
                            Components.CustomButton {
                                objectName: "reconnectButton"
                                Layout.preferredWidth: 100
                                Layout.preferredHeight: 32
                                text: page.connected ? "重连" : "连接"
                                onClicked: {
                                    if (page.backend)
                                        page.backend.requestReconnect()
                                }
                            }
                        }
                    }
                }

                Components.Card {
                    objectName: "headerStatusCard"
                    visible: page.connected
                    Layout.fillWidth: true
                    Layout.alignment: Qt.AlignTop
                    Layout.minimumHeight: page.isXplane ? 238 : 210
                    Layout.preferredHeight: Math.max(Layout.minimumHeight, headerColumn.implicitHeight + 40)

                    ColumnLayout {
                        id: headerColumn
                        anchors.fill: parent
                        spacing: 8

                        Repeater {
                            model: page.isMsfs
                                   ? [["会话状态", page.backend ? page.backend.simulatorStatusText : "未连接"],
                                      ["暂停", page.boolText(page.backend && page.backend.simPaused, "是", "否")],
                                      ["地面状态", page.boolText(page.backend && page.backend.onGround, "地面", "空中")],
                                      ["起落架", page.boolText(page.backend && page.backend.gearDown, "放下", "收起")],
                                      ["航电", page.boolText(page.backend && page.backend.avionicsPowerOn, "开", "关")],
                                      ["应答机", page.backend ? page.backend.transponderCode : "0000"]]
                                   : [["插件状态", page.backend ? page.backend.pluginStatusText : "未知"],
                                      ["CSL 状态", page.backend ? page.backend.cslStatusText : "未知"],
                                      ["映射状态", page.backend ? page.backend.trafficMappingStatusText : "未知"],
                                      ["X-Plane 版本", page.backend ? page.backend.xplaneVersionText : "未获取"],
                                      ["暂停", page.boolText(page.backend && page.backend.simPaused, "是", "否")],
                                      ["地面状态", page.boolText(page.backend && page.backend.onGround, "地面", "空中")],
                                      ["起落架", page.boolText(page.backend && page.backend.gearDown, "放下", "收起")]]

                            Simulator.LabeledValue {
                                objectName: "headerRow"
                                Layout.fillWidth: true
                                label: modelData[0]
                                value: modelData[1]
                            }
                        }
                    }
                }
            }

            Loader {
                id: variantLoader
                objectName: "variantLoader"
                Layout.fillWidth: true
                Layout.preferredHeight: item ? item.implicitHeight : 0
                active: page.connected
                sourceComponent: page.isMsfs ? msfsComponent : xplaneComponent
            }
        }
    }

    Component {
        id: msfsComponent

        Simulator.MsfsSection {
            host: page
            width: variantLoader.width
        }
    }

    Component {
        id: xplaneComponent

        Simulator.XPlaneSection {
            host: page
            width: variantLoader.width
        }
    }
}
