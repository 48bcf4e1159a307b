import QtQuick
import QtQuick.Layouts
import "../.."

// A label and its value: side by side (header rows) or stacked (grid cells).
// Values come from the simulator and back ends, so they are shown as plain text.
GridLayout {
    id: root

    property string label: ""
    property string value: ""
    property bool stacked: false
    property real labelWidth: 82

    Layout.fillWidth: true
    columns: stacked ? 1 : 2
    rowSpacing: 2
    columnSpacing: 8

    Text {
        Layout.preferredWidth: root.stacked ? -1 : root.labelWidth
        Layout.alignment: Qt.AlignTop
        text: root.label
        textFormat: Text.PlainText
        font.pixelSize: 12
        color: Style.textMuted
        elide: Text.ElideRight
    }
    Text {
        objectName: "value"
        Layout.fillWidth: true
        text: root.value
        textFormat: Text.PlainText
        font.pixelSize: 14
        font.weight: Font.Medium
        color: Style.textPrimary
        wrapMode: Text.Wrap
    }
}
