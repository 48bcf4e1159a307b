import QtQuick
import QtQuick.Layouts
import ".."

// One radio on the voice window: its name and frequency.
RowLayout {
    property string label
    property string frequency

    spacing: 4

    Text {
        textFormat: Text.PlainText
        Layout.preferredWidth: 36
        text: parent.label
        font.pixelSize: 11
        color: Style.textMuted
    }
    Text {
        text: parent.frequency
        textFormat: Text.PlainText
        font.pixelSize: 12
        font.bold: true
        color: "#0284C7"
    }
}
