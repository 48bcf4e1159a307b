import QtQuick
import QtQuick.Layouts
import com.morvane.backend 1.0
import "../.."
import "../simulator" as Simulator

// Section 4: version and the network's addresses.
ColumnLayout {
    id: root

    property SettingsBackend backend: null

    spacing: 10

    Simulator.CardTitle {
        text: "构建信息"
    }
    Repeater {
        model: root.backend ? [["版本： ", root.backend.appVersion], ["API: ", root.backend.apiBaseUrl],
                               ["网络： ", root.backend.networkAddress], ["语音： ", root.backend.voiceAddress],
                               ["MSFS 重载令牌： ", String(root.backend.msfsLibraryReloadToken)]]
                            : []
        delegate: Text {
            required property var modelData
            required property int index
            objectName: "buildInfoLine"
            text: modelData[0] + modelData[1]
            textFormat: Text.PlainText
            font.pixelSize: 14
            color: index === 4 ? Style.textSecondary : Style.textPrimary
        }
    }
    Item {
        Layout.fillHeight: true
    }
}
