import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import com.morvane.backend 1.0
import "../.."
import "../../components" as Components
import "../simulator" as Simulator

// Section 3: driver and devices, push-to-talk binding, gain, tones and the
// conflict tone. Device names come from the sound system, so every text here
// is plain text.
ColumnLayout {
    id: root

    property VoiceSettingsBackend backend: null
    readonly property bool listening: root.backend ? root.backend.pttListening : false

    function write(property, value) {
        if (root.backend)
            root.backend[property] = value;
    }
    function percent(value) {
        return Math.round(value * 100) + "%";
    }

    spacing: 10
    enabled: root.backend !== null

    Simulator.CardTitle {
        text: "语音设置"
    }
    SettingRow {
        label: "驱动"
        Components.CustomComboBox {
            objectName: "driverBox"
            Layout.fillWidth: true
            model: root.backend ? root.backend.driverNames : []
            currentIndex: root.backend ? root.backend.driverIndex : -1
            onActivated: index => root.backend.setDriver(index)
        }
    }
    SettingRow {
        label: "输入设备"
        Components.CustomComboBox {
            objectName: "inputBox"
            Layout.fillWidth: true
            model: root.backend ? root.backend.inputDeviceNames : []
            currentIndex: root.backend ? root.backend.inputIndex : -1
            onActivated: index => root.backend.setInput(index)
        }
    }
    SettingRow {
        label: "耳机输出"
        Components.CustomComboBox {
            objectName: "headphoneBox"
            Layout.fillWidth: true
            model: root.backend ? root.backend.outputDeviceNames : []
            currentIndex: root.backend ? root.backend.outputHeadphoneIndex : -1
            onActivated: index => root.backend.setOutputHeadphone(index)
        }
    }
    SettingRow {
        label: "扬声器输出"
        Components.CustomComboBox {
            objectName: "speakerBox"
            Layout.fillWidth: true
            model: root.backend ? root.backend.outputDeviceNames : []
            currentIndex: root.backend ? root.backend.outputSpeakerIndex : -1
            onActivated: index => root.backend.setOutputSpeaker(index)
        }
    }
    SettingRow {
        label: "PTT 按键"
        Text {
            objectName: "pttKeyText"
            Layout.fillWidth: true
            text: root.backend ? root.backend.pttKey : ""
            textFormat: Text.PlainText
            font.pixelSize: 14
            color: root.listening ? "#EF4444" : Style.textPrimary
            elide: Text.ElideRight
        }
        Components.CustomButton {
            objectName: "pttListenButton"
            text: root.listening ? "等待按键..." : "设置"
            onClicked: root.backend.startPttListening()
        }
    }
    SettingRow {
        label: "麦克风增益"
        Components.CustomSlider {
            objectName: "micGainSlider"
            Layout.fillWidth: true
            from: -20
            to: 20
            stepSize: 0.5
            // Every value the slider gives is a 0.5 dB step.
            snapMode: Slider.SnapAlways
            value: root.backend ? root.backend.micGain : 0
            onMoved: root.write("micGain", value)
        }
        Text {
            objectName: "micGainText"
            Layout.preferredWidth: 64
            text: (root.backend ? root.backend.micGain : 0).toFixed(1) + " dB"
            textFormat: Text.PlainText
            font.pixelSize: 14
            color: Style.textPrimary
        }
    }
    // Volumes end at 100 %: the audio engine plays no louder.
    SettingRow {
        label: "PTT 提示音音量"
        Components.CustomSlider {
            objectName: "pttVolumeSlider"
            Layout.fillWidth: true
            from: 0
            to: 1
            stepSize: 0.01
            value: root.backend ? root.backend.pttVolume : 1
            onMoved: root.write("pttVolume", value)
        }
        Text {
            Layout.preferredWidth: 64
            text: root.percent(root.backend ? root.backend.pttVolume : 1)
            textFormat: Text.PlainText
            font.pixelSize: 14
            color: Style.textPrimary
        }
    }
    Repeater {
        model: [["PTT 按下提示音频率", "pttPressFreq"], ["PTT 释放提示音频率", "pttReleaseFreq"]]
        delegate: SettingRow {
            id: toneRow

            required property var modelData

            label: modelData[0]
            NumberSpinBox {
                objectName: toneRow.modelData[1] + "Box"
                from: 20
                to: 5000
                value: root.backend ? Math.round(root.backend[toneRow.modelData[1]]) : 1000
                onValueModified: root.write(toneRow.modelData[1], value)
            }
            Text {
                Layout.fillWidth: true
                text: "Hz"
                textFormat: Text.PlainText
                font.pixelSize: 14
                color: Style.textSecondary
            }
        }
    }
    SettingRow {
        label: "PTT 提示音播放设备"
        Components.CustomComboBox {
            objectName: "pttDeviceBox"
            Layout.fillWidth: true
            model: ["耳机", "扬声器"]
            currentIndex: root.backend ? root.backend.pttDevice : 0
            onActivated: index => root.write("pttDevice", index)
        }
    }
    SettingRow {
        label: "冲突音量"
        Components.CustomSlider {
            objectName: "conflictVolumeSlider"
            Layout.fillWidth: true
            from: 0
            to: 1
            stepSize: 0.01
            value: root.backend ? root.backend.conflictVolume : 1
            onMoved: root.write("conflictVolume", value)
        }
        Text {
            Layout.preferredWidth: 64
            text: root.percent(root.backend ? root.backend.conflictVolume : 1)
            textFormat: Text.PlainText
            font.pixelSize: 14
            color: Style.textPrimary
        }
    }
    SettingRow {
        label: "冲突音播放设备"
        Components.CustomComboBox {
            objectName: "conflictDeviceBox"
            Layout.fillWidth: true
            model: ["耳机", "扬声器"]
            currentIndex: root.backend ? root.backend.conflictDevice : 0
            onActivated: index => root.write("conflictDevice", index)
        }
    }
}
