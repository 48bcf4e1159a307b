import QtQuick
import QtQuick.Layouts
import "../.."
import "../../components" as Components

// The X-Plane variant of the simulator page: plug-in status, radios, flight
// state, lights and engines, and the COM entry card.
ColumnLayout {
    id: root

    property var host: null
    readonly property var backend: host ? host.backend : null

    objectName: "xplaneSection"
    spacing: 14

    GridLayout {
        Layout.fillWidth: true
        columns: root.host && root.host.compactDual ? 1 : 2
        columnSpacing: 14
        rowSpacing: 14

        Components.Card {
            Layout.fillWidth: true
            Layout.minimumHeight: 260
            Layout.preferredHeight: Math.max(260, pluginColumn.implicitHeight + 40)

            ColumnLayout {
                id: pluginColumn
                anchors.fill: parent
                spacing: 10

                CardTitle {
                    text: "X-Plane 插件状态"
                }
                LabeledValue {
                    Layout.fillWidth: true
                    label: "插件状态"
                    value: root.backend ? root.backend.pluginStatusText : "未知"
                }
                LabeledValue {
                    Layout.fillWidth: true
                    label: "CSL 状态"
                    value: root.backend ? root.backend.cslStatusText : "未知"
                }
                LabeledValue {
                    Layout.fillWidth: true
                    label: "映射状态"
                    value: root.backend ? root.backend.trafficMappingStatusText : "未知"
                }
                LabeledValue {
                    Layout.fillWidth: true
                    label: "X-Plane 版本"
                    value: root.backend ? root.backend.xplaneVersionText : "未获取"
                }
                LabeledValue {
                    Layout.fillWidth: true
                    label: "交通目标"
                    value: root.backend ? root.backend.motionSummary : "附近暂无交通目标"
                }
                LabeledValue {
                    Layout.fillWidth: true
                    label: "地速"
                    value: root.host.safeNumber(root.backend && root.backend.groundSpeed, 1) + " kt"
                }
                LabeledValue {
                    Layout.fillWidth: true
                    label: "航向"
                    value: root.host.safeNumber(root.backend && root.backend.heading, 1) + " deg"
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

                CardTitle {
                    text: "无线电与应答机"
                }
                GridLayout {
                    Layout.fillWidth: true
                    columns: 2
                    columnSpacing: 12
                    rowSpacing: 10

                    LabeledValue {
                        objectName: "com1Frequency"
                        label: "COM1"
                        labelWidth: 60
                        value: root.backend ? root.backend.com1Frequency : "0.000"
                    }
                    LabeledValue {
                        label: "发射"
                        labelWidth: 60
                        value: root.host.boolText(root.backend && root.backend.com1TransmitEnabled, "开启", "关闭")
                    }
                    LabeledValue {
                        objectName: "com2Frequency"
                        label: "COM2"
                        labelWidth: 60
                        value: root.backend ? root.backend.com2Frequency : "0.000"
                    }
                    LabeledValue {
                        label: "发射"
                        labelWidth: 60
                        value: root.host.boolText(root.backend && root.backend.com2TransmitEnabled, "开启", "关闭")
                    }
                }
                LabeledValue {
                    Layout.fillWidth: true
                    label: "接收"
                    labelWidth: 60
                    value: root.backend ? root.backend.activeReceiveLabel : "无"
                }
                LabeledValue {
                    objectName: "transponder"
                    Layout.fillWidth: true
                    label: "应答机"
                    labelWidth: 60
                    value: root.backend ? root.backend.transponderCode : "0000"
                }
                Item {
                    Layout.fillHeight: true
                }
            }
        }
    }

    GridLayout {
        Layout.fillWidth: true
        columns: root.host && root.host.compactDual ? 1 : 2
        columnSpacing: 14
        rowSpacing: 14

        Components.Card {
            Layout.fillWidth: true
            Layout.preferredHeight: 270

            ColumnLayout {
                anchors.fill: parent
                spacing: 14

                CardTitle {
                    text: "X-Plane 飞行状态"
                }
                GridLayout {
                    Layout.fillWidth: true
                    columns: 4
                    columnSpacing: 12
                    rowSpacing: 10

                    LabeledValue {
                        stacked: true
                        label: "纬度"
                        value: root.host.safeNumber(root.backend && root.backend.latitude, 5)
                    }
                    LabeledValue {
                        stacked: true
                        label: "经度"
                        value: root.host.safeNumber(root.backend && root.backend.longitude, 5)
                    }
                    LabeledValue {
                        stacked: true
                        label: "海高"
                        value: root.host.safeNumber(root.backend && root.backend.altitudeMslM, 0) + " m"
                    }
                    LabeledValue {
                        stacked: true
                        label: "离地"
                        value: root.host.safeNumber(root.backend && root.backend.altitudeAglM, 0) + " m"
                    }
                    LabeledValue {
                        stacked: true
                        label: "俯仰"
                        value: root.host.safeNumber(root.backend && root.backend.pitch, 2)
                    }
                    LabeledValue {
                        stacked: true
                        label: "横滚"
                        value: root.host.safeNumber(root.backend && root.backend.bank, 2)
                    }
                    LabeledValue {
                        stacked: true
                        label: "垂直速度"
                        value: root.host.safeNumber(root.backend && root.backend.altitudeVelocity, 3)
                    }
                    LabeledValue {
                        stacked: true
                        label: "前轮角"
                        value: root.host.safeNumber(root.backend && root.backend.noseWheelAngle, 1) + "°"
                    }
                }
                Item {
                    Layout.fillHeight: true
                }
            }
        }

        Components.Card {
            Layout.fillWidth: true
            Layout.preferredHeight: 270

            ColumnLayout {
                anchors.fill: parent
                spacing: 8

                CardTitle {
                    text: "灯光与发动机"
                }
                GridLayout {
                    Layout.fillWidth: true
                    columns: 5
                    columnSpacing: 10
                    rowSpacing: 6

                    Repeater {
                        model: root.host ? root.host.lights : []

                        LabeledValue {
                            stacked: true
                            label: modelData[0]
                            value: root.host.boolText(root.backend && root.backend[modelData[1]], "开", "关")
                        }
                    }
                }
                LabeledValue {
                    Layout.fillWidth: true
                    label: "发动机"
                    labelWidth: 60
                    value: root.backend ? root.backend.engineSummary : "未检测到发动机"
                }
                EngineStateList {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    rowHeight: 40
                    showReverse: false
                    model: root.backend ? root.backend.engineStates : []
                }
            }
        }
    }

    Components.Card {
        Layout.fillWidth: true
        Layout.preferredHeight: 320

        ColumnLayout {
            anchors.fill: parent
            spacing: 12

            CardTitle {
                text: "X-Plane 无线电控制"
            }
            ComEntryRow {
                Layout.fillWidth: true
                backend: root.backend
                radio: 1
            }
            ComEntryRow {
                Layout.fillWidth: true
                backend: root.backend
                radio: 2
            }
            Item {
                Layout.fillHeight: true
            }
        }
    }
}
