import QtQuick
import QtQuick.Layouts
import "../.."
import "../../components" as Components

// Tunes one COM radio. Only a finite frequency inside the COM band leaves;
// anything else (text, 0, Infinity, 1e9) keeps the entry and shows a hint.
ColumnLayout {
    id: root

    property var backend: null
    property int radio: 1
    property bool showHint: false

    spacing: 4

    function submit() {
        if (!root.backend)
            return
        const mhz = Number(field.text.trim())
        const sent = root.radio === 1 ? root.backend.requestSetCom1Frequency(mhz)
                                      : root.backend.requestSetCom2Frequency(mhz)
        root.showHint = !sent
    }

    RowLayout {
        Layout.fillWidth: true
        spacing: 10

        Components.CustomTextField {
            id: field
            objectName: "com" + root.radio + "Field"
            Layout.fillWidth: true
            placeholderText: root.radio === 1 ? "设置 COM1，例如 121.800" : "设置 COM2，例如 124.550"
            inputMethodHints: Qt.ImhFormattedNumbersOnly
            onTextEdited: root.showHint = false
            onAccepted: root.submit()
        }
        Components.CustomButton {
            objectName: "com" + root.radio + "WriteButton"
            text: "写入 COM" + root.radio
            onClicked: root.submit()
        }
    }
    Text {
        objectName: "com" + root.radio + "Hint"
        Layout.fillWidth: true
        visible: root.showHint
        text: "请输入 118.000 至 136.990 MHz 之间的频率"
        textFormat: Text.PlainText
        font.pixelSize: 12
        color: Style.statusError
        wrapMode: Text.Wrap
    }
}
