import QtQuick
import QtQuick.Layouts
import com.morvane.backend 1.0

// Section 2: the folders of both MSFS generations.
ColumnLayout {
    id: root

    property SettingsBackend backend: null

    spacing: 18

    MsfsGeneration {
        Layout.fillWidth: true
        backend: root.backend
        year: "2020"
    }
    MsfsGeneration {
        Layout.fillWidth: true
        backend: root.backend
        year: "2024"
    }
    Item {
        Layout.fillHeight: true
    }
}
