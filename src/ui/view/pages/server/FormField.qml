import QtQuick
import QtQuick.Layouts
import "../.."
import "../../components" as Components

// A caption above a text field; `edited` carries what the pilot typed.
ColumnLayout {
    id: root

    property string caption: ""
    property alias text: input.text
    property alias placeholderText: input.placeholderText
    property alias fieldName: input.objectName
    property alias fieldEnabled: input.enabled
    readonly property alias field: input

    signal edited(string text)

    spacing: 6

    Text {
        text: root.caption
        textFormat: Text.PlainText
        font.pixelSize: 13
        font.weight: Font.Medium
        color: Style.textSecondary
    }
    Components.CustomTextField {
        id: input
        Layout.fillWidth: true
        onTextEdited: root.edited(text)
    }
}
