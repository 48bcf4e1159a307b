import QtQuick
import QtQuick.Layouts
import "../.."

// A 120 px label and, after it, the row's controls (the row's children).
RowLayout {
    property alias label: caption.text

    Layout.fillWidth: true
    spacing: 12

    Text {
        id: caption
        Layout.preferredWidth: 120
        Layout.minimumWidth: 120
        textFormat: Text.PlainText
        font.pixelSize: 14
        color: Style.textSecondary
        // The longest labels take two lines rather than lose their end.
        wrapMode: Text.Wrap
    }
}
