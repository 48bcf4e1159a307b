import QtQuick
import QtQuick.Layouts
import com.morvane.backend 1.0
import "../.."

// Section 1: where X-Plane listens, and the CSL folders.
ColumnLayout {
    id: root

    property SettingsBackend backend: null

    spacing: 12

    SettingRow {
        label: "地址"
        SettingField {
            objectName: "xplaneAddressField"
            enabled: root.backend !== null
            value: root.backend ? root.backend.xplaneNetworkAddress : ""
            onEdited: text => root.backend.xplaneNetworkAddress = text
        }
    }
    SettingRow {
        label: "UDP 端口"
        NumberSpinBox {
            objectName: "xplanePortBox"
            enabled: root.backend !== null
            from: 1
            to: 65535
            value: root.backend ? root.backend.xplaneUdpPort : 49000
            onValueModified: root.backend.xplaneUdpPort = value
        }
        Item {
            Layout.fillWidth: true
        }
    }
    Text {
        text: "CSL 路径（每行一个）"
        textFormat: Text.PlainText
        font.pixelSize: 14
        color: Style.textSecondary
    }
    SettingTextArea {
        areaName: "xplaneCslArea"
        Layout.fillHeight: true
        enabledArea: root.backend !== null
        value: root.backend ? root.backend.xplaneCslPathsText : ""
        onEdited: text => root.backend.xplaneCslPathsText = text
    }
}
