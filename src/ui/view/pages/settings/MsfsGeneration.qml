import QtQuick
import QtQuick.Layouts
import com.morvane.backend 1.0
import "../.."
import "../../components" as Components

// One MSFS generation's folders: the view model's properties end in the year.
ColumnLayout {
    id: root

    property SettingsBackend backend: null
    property string year: "2020"

    function read(name) {
        return root.backend ? root.backend[name + root.year] : "";
    }
    function write(name, value) {
        if (root.backend)
            root.backend[name + root.year] = value;
    }

    spacing: 10

    Text {
        text: "MSFS " + root.year
        textFormat: Text.PlainText
        font.pixelSize: 16
        font.weight: Font.Medium
        color: Style.textPrimary
    }
    SettingRow {
        label: "Packages"
        SettingField {
            objectName: "packagesField" + root.year
            enabled: root.backend !== null
            value: root.read("msfsPackagesPath")
            onEdited: text => root.write("msfsPackagesPath", text)
        }
    }
    SettingRow {
        label: "Community"
        SettingField {
            objectName: "communityField" + root.year
            enabled: root.backend !== null
            value: root.read("msfsCommunityPath")
            onEdited: text => root.write("msfsCommunityPath", text)
        }
    }
    RowLayout {
        Layout.fillWidth: true

        Text {
            Layout.fillWidth: true
            text: "自定义机模根目录（每行一个）"
            textFormat: Text.PlainText
            font.pixelSize: 14
            color: Style.textSecondary
        }
        Components.CustomButton {
            objectName: "libraryReloadButton" + root.year
            text: "重载机模"
            enabled: root.backend !== null
            onClicked: root.backend.triggerMsfsLibraryReload()
        }
    }
    SettingTextArea {
        areaName: "customMappingArea" + root.year
        Layout.preferredHeight: 96
        enabledArea: root.backend !== null
        value: root.read("msfsCustomMappingPaths")
        onEdited: text => root.write("msfsCustomMappingPaths", text)
    }
}
