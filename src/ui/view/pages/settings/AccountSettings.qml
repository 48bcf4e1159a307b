import QtQuick
import QtQuick.Layouts
import com.morvane.backend 1.0
import "../../components" as Components

// Section 0: account and profile.
ColumnLayout {
    id: root

    property SettingsBackend backend: null

    function write(property, value) {
        if (root.backend)
            root.backend[property] = value;
    }

    spacing: 12

    SettingRow {
        label: "CID"
        SettingField {
            objectName: "usernameField"
            enabled: root.backend !== null
            value: root.backend ? root.backend.username : ""
            onEdited: text => root.write("username", text)
        }
    }
    SettingRow {
        label: "密码"
        Components.CustomTextField {
            objectName: "passwordField"
            Layout.fillWidth: true
            enabled: root.backend !== null
            echoMode: TextInput.Password
            text: root.backend ? root.backend.password : ""
            onTextEdited: root.write("password", text)
        }
    }
    SettingRow {
        label: "真实姓名"
        SettingField {
            objectName: "realnameField"
            enabled: root.backend !== null
            value: root.backend ? root.backend.realname : ""
            onEdited: text => root.write("realname", text)
        }
    }
    SettingRow {
        label: "基地机场"
        SettingField {
            objectName: "homeAirportField"
            enabled: root.backend !== null
            value: root.backend ? root.backend.homeAirport : ""
            onEdited: text => root.write("homeAirport", text)
        }
    }
    RowLayout {
        spacing: 20

        Components.CustomCheckBox {
            objectName: "rememberPasswordBox"
            text: "记住密码"
            enabled: root.backend !== null
            checked: root.backend ? root.backend.rememberPassword : false
            onToggled: root.write("rememberPassword", checked)
        }
        Components.CustomCheckBox {
            objectName: "autoLoginBox"
            text: "自动登录"
            enabled: root.backend !== null
            checked: root.backend ? root.backend.autoLogin : false
            onToggled: root.write("autoLogin", checked)
        }
        Components.CustomCheckBox {
            objectName: "vatsimProtocolBox"
            text: "VATSIM 协议"
            enabled: root.backend !== null
            checked: root.backend ? root.backend.vatsimProtocol : false
            onToggled: root.write("vatsimProtocol", checked)
        }
    }
    Item {
        Layout.fillHeight: true
    }
}
