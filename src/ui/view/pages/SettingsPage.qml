import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import com.morvane.backend 1.0
import ".."
import "../components" as Components
import "settings" as Settings

// The settings page: a navigation card with the status line and the reload
// and save buttons, and one card per section. Nothing is written before
// "保存"; every text from config.ini or the pilot is shown as plain text.
Item {
    id: page

    property SettingsBackend settingsBackend: null
    property VoiceSettingsBackend voiceSettingsBackend: null
    property int currentNavIndex: 0

    objectName: "settingsPage"

    onCurrentNavIndexChanged: {
        if (currentNavIndex === 3 && voiceSettingsBackend)
            voiceSettingsBackend.ensureDeviceListLoaded();
    }

    RowLayout {
        anchors.fill: parent
        spacing: 14

        Components.Card {
            Layout.preferredWidth: 200
            Layout.fillHeight: true
            contentPadding: 12

            ColumnLayout {
                anchors.fill: parent
                spacing: 6

                Repeater {
                    model: ["基础信息", "X-Plane", "MSFS", "语音配置", "软件信息"]
                    delegate: Rectangle {
                        id: entry

                        required property string modelData
                        required property int index
                        readonly property bool selected: page.currentNavIndex === index

                        objectName: "navEntry" + index
                        Layout.fillWidth: true
                        Layout.preferredHeight: 40
                        radius: 10
                        color: selected ? Style.accent : "transparent"

                        Behavior on color {
                            ColorAnimation {
                                duration: 120
                            }
                        }

                        Text {
                            anchors.fill: parent
                            anchors.leftMargin: 14
                            text: entry.modelData
                            textFormat: Text.PlainText
                            font.pixelSize: 14
                            font.weight: entry.selected ? Font.Medium : Font.Normal
                            color: entry.selected ? "#FFFFFF" : Style.textSecondary
                            verticalAlignment: Text.AlignVCenter
                        }
                        MouseArea {
                            anchors.fill: parent
                            cursorShape: Qt.PointingHandCursor
                            onClicked: page.currentNavIndex = entry.index
                        }
                    }
                }
                Item {
                    Layout.fillHeight: true
                }
                Text {
                    objectName: "saveStatus"
                    Layout.fillWidth: true
                    text: page.settingsBackend ? page.settingsBackend.saveStatus : ""
                    textFormat: Text.PlainText
                    font.pixelSize: 12
                    color: page.settingsBackend && page.settingsBackend.saveFailed ? Style.statusError : "#0EA5E9"
                    wrapMode: Text.Wrap
                }
                RowLayout {
                    Layout.fillWidth: true
                    spacing: 8

                    Components.CustomButton {
                        objectName: "reloadButton"
                        Layout.fillWidth: true
                        horizontalPadding: 8
                        text: "重载"
                        enabled: page.settingsBackend !== null
                        onClicked: page.settingsBackend.reload()
                    }
                    Components.CustomButton {
                        objectName: "saveButton"
                        Layout.fillWidth: true
                        horizontalPadding: 8
                        primary: true
                        text: "保存"
                        enabled: page.settingsBackend !== null
                        onClicked: page.settingsBackend.saveAll()
                    }
                }
            }
        }

        StackLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            currentIndex: page.currentNavIndex

            Components.Card {
                Settings.AccountSettings {
                    anchors.fill: parent
                    backend: page.settingsBackend
                }
            }
            Components.Card {
                Settings.XPlaneSettings {
                    anchors.fill: parent
                    backend: page.settingsBackend
                }
            }
            Components.Card {
                ScrollView {
                    id: msfsScroll
                    anchors.fill: parent
                    contentWidth: availableWidth

                    Settings.MsfsSettings {
                        width: msfsScroll.availableWidth
                        backend: page.settingsBackend
                    }
                }
            }
            Components.Card {
                ScrollView {
                    id: voiceScroll
                    anchors.fill: parent
                    contentWidth: availableWidth

                    Settings.VoiceSettings {
                        width: voiceScroll.availableWidth
                        backend: page.voiceSettingsBackend
                    }
                }
            }
            Components.Card {
                Settings.BuildInfo {
                    anchors.fill: parent
                    backend: page.settingsBackend
                }
            }
        }
    }
}
