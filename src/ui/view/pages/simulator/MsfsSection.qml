import QtQuick
import QtQuick.Layouts
import "../.."
import "../../components" as Components

// The MSFS variant of the simulator page: metrics, attitude, airframe and
// lights, radios with COM entry, engines and the traffic snapshot.
ColumnLayout {
    id: root

    property var host: null
    readonly property var backend: host ? host.backend : null

    objectName: "msfsSection"
    spacing: 14

    GridLayout {
        Layout.fillWidth: true
        columns: root.host && root.host.compactTop ? 2 : 4
        columnSpacing: 14
        rowSpacing: 14

        Components.MetricCard {
            objectName: "altitudeMslMetric"
            Layout.fillWidth: true
            title: "海高"
            value: root.host.safeNumber(root.backend && root.backend.altitudeMslM, 0)
            unit: "m"
            accentColor: "#2563EB"
        }
        Components.MetricCard {
            Layout.fillWidth: true
            title: "离地"
            value: root.host.safeNumber(root.backend && root.backend.altitudeAglM, 0)
            unit: "m"
            accentColor: "#10B981"
        }
        Components.MetricCard {
            Layout.fillWidth: true
            title: "地速"
            value: root.host.safeNumber(root.backend && root.backend.groundSpeed, 1)
            unit: "kt"
            accentColor: "#F59E0B"
        }
        Components.MetricCard {
            Layout.fillWidth: true
            title: "航向"
            value: root.host.safeNumber(root.backend && root.backend.heading, 1)
            unit: "deg"
            accentColor: "#8B5CF6"
        }
    }

    GridLayout {
        Layout.fillWidth: true
        columns: root.host && root.host.compactDual ? 1 : 2
        columnSpacing: 14
        rowSpacing: 14

        Components.Card {
            Layout.fillWidth: true
            Layout.preferredHeight: 260

            ColumnLayout {
                anchors.fill: parent
                spacing: 14

                CardTitle {
                    text: "飞行姿态"
                }
                GridLayout {
                    Layout.fillWidth: true
                    columns: root.host && root.host.compactTop ? 2 : 4
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
                        label: "俯仰"
                        value: root.host.safeNumber(root.backend && root.backend.pitch, 2)
                    }
                    LabeledValue {
                        stacked: true
                        label: "横滚"
                        value: root.host.safeNumber(root.backend && root.backend.bank, 2)
                    }
                    // The back ends report pressure altitude in feet.
                    LabeledValue {
                        objectName: "pressureAltitude"
                        stacked: true
                        label: "压高"
                        value: root.host.safeNumber(root.backend && root.backend.altitudePressure, 1) + " ft"
                    }
                    LabeledValue {
                        stacked: true
                        label: "前轮"
                        value: root.host.safeNumber(root.backend && root.backend.noseWheelAngle, 1) + "°"
                    }
                    LabeledValue {
                        stacked: true
                        label: "纬向速度"
                        value: root.host.safeNumber(root.backend && root.backend.latitudeVelocity, 3)
                    }
                    LabeledValue {
                        stacked: true
                        label: "经向速度"
                        value: root.host.safeNumber(root.backend && root.backend.longitudeVelocity, 3)
                    }
                    LabeledValue {
                        stacked: true
                        label: "垂直速度"
                        value: root.host.safeNumber(root.backend && root.backend.altitudeVelocity, 3)
                    }
                    LabeledValue {
                        stacked: true
                        label: "航向变化"
                        value: root.host.safeNumber(root.backend && root.backend.headingVelocity, 3)
                    }
                }
                Item {
                    Layout.fillHeight: true
                }
            }
        }

        Components.Card {
            Layout.fillWidth: true
            Layout.preferredHeight: 260

            ColumnLayout {
                anchors.fill: parent
                spacing: 14

                CardTitle {
                    text: "机体与灯光"
                }
                GridLayout {
                    Layout.fillWidth: true
                    columns: root.host && root.host.compactTop ? 2 : 4
                    columnSpacing: 12
                    rowSpacing: 10

                    LabeledValue {
                        objectName: "flaps"
                        stacked: true
                        label: "襟翼"
                        value: root.backend ? root.backend.flapsLabel : "0%"
                    }
                    LabeledValue {
                        stacked: true
                        label: "减速板"
                        value: root.backend ? root.backend.speedbrakeLabel : "0%"
                    }
                    Repeater {
                        model: root.host ? root.host.lights : []

                        LabeledValue {
                            stacked: true
                            label: modelData[0]
                            value: root.host.boolText(root.backend && root.backend[modelData[1]], "开", "关")
                        }
                    }
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
            Layout.preferredHeight: 360

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
                    rowSpacing: 8

                    LabeledValue {
                        objectName: "com1Frequency"
                        label: "COM1"
                        labelWidth: 60
                        value: root.backend ? root.backend.com1Frequency : "0.000"
                    }
                    LabeledValue {
                        label: "监听"
                        labelWidth: 60
                        value: root.host.boolText(root.backend && root.backend.com1ReceiveEnabled, "开启", "关闭")
                    }
                    LabeledValue {
                        objectName: "com2Frequency"
                        label: "COM2"
                        labelWidth: 60
                        value: root.backend ? root.backend.com2Frequency : "0.000"
                    }
                    LabeledValue {
                        label: "监听"
                        labelWidth: 60
                        value: root.host.boolText(root.backend && root.backend.com2ReceiveEnabled, "开启", "关闭")
                    }
                    LabeledValue {
                        label: "发射"
                        labelWidth: 60
                        value: root.backend ? root.backend.activeTransmitLabel : "无"
                    }
                    LabeledValue {
                        label: "接收"
                        labelWidth: 60
                        value: root.backend ? root.backend.activeReceiveLabel : "无"
                    }
                    LabeledValue {
                        objectName: "transponder"
                        label: "应答机"
                        labelWidth: 60
                        value: root.backend ? root.backend.transponderCode : "0000"
                    }
                    LabeledValue {
                        label: "Mode C / Ident"
                        labelWidth: 100
                        value: (root.backend && root.backend.squawkingModeC ? "C" : "STBY") + " / "
                               + (root.backend && root.backend.squawkingIdent ? "ON" : "OFF")
                    }
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

        Components.Card {
            Layout.fillWidth: true
            Layout.preferredHeight: 320

            ColumnLayout {
                anchors.fill: parent
                spacing: 10

                CardTitle {
                    text: "发动机"
                }
                Text {
                    objectName: "engineSummary"
                    Layout.fillWidth: true
                    text: root.backend ? root.backend.engineSummary : "未检测到发动机"
                    textFormat: Text.PlainText
                    font.pixelSize: 13
                    color: Style.textMuted
                    wrapMode: Text.Wrap
                }
                EngineStateList {
                    Layout.fillWidth: true
                    Layout.fillHeight: true
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
            spacing: 10

            CardTitle {
                text: "MSFS 交通快照"
            }
            ListView {
                objectName: "trafficList"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                spacing: 8
                model: root.backend ? root.backend.trafficContacts : []

                delegate: Rectangle {
                    objectName: "trafficRow"
                    width: ListView.view.width
                    height: 54
                    radius: 10
                    color: index % 2 === 0 ? "#10FFFFFF" : "#08FFFFFF"
                    border.width: 1
                    border.color: "#18FFFFFF"

                    RowLayout {
                        anchors.fill: parent
                        anchors.leftMargin: 14
                        anchors.rightMargin: 14
                        spacing: 12

                        Text {
                            objectName: "trafficLabel"
                            Layout.preferredWidth: 170
                            text: root.host.trafficLabel(modelData)
                            textFormat: Text.PlainText
                            font.pixelSize: 14
                            font.bold: true
                            color: Style.textPrimary
                            elide: Text.ElideRight
                        }
                        Text {
                            objectName: "trafficPosition"
                            Layout.fillWidth: true
                            text: root.host.trafficPositionText(modelData)
                            textFormat: Text.PlainText
                            font.pixelSize: 13
                            color: Style.textSecondary
                            elide: Text.ElideRight
                        }
                        Text {
                            objectName: "trafficAltitude"
                            Layout.preferredWidth: 80
                            horizontalAlignment: Text.AlignRight
                            text: root.host.trafficAltitudeText(modelData)
                            textFormat: Text.PlainText
                            font.pixelSize: 13
                            color: Style.textPrimary
                        }
                    }
                }
            }
        }
    }
}
