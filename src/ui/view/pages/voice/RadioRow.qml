import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../.."
import "../../components" as Components

// One COM radio: name, "active / standby" frequencies, TX and RX badges and
// the pilot's playback volume (0 to 200 %).
RowLayout {
    id: row

    property string name
    property string frequency
    property bool transmit: false
    property bool receive: false
    property real volume: 1

    signal volumeMoved(real volume)

    spacing: 12

    Text {
        Layout.preferredWidth: 52
        text: row.name
        textFormat: Text.PlainText
        font.pixelSize: 14
        font.bold: true
        color: Style.textPrimary
    }
    Text {
        objectName: row.objectName + "Freq"
        Layout.preferredWidth: 240
        text: row.frequency
        textFormat: Text.PlainText
        font.pixelSize: 16
        font.bold: true
        color: "#0284C7"
        elide: Text.ElideRight
    }
    Badge {
        objectName: row.objectName + "Tx"
        label: "TX"
        active: row.transmit
        activeFill: "#EF4444"
        activeBorder: "#DC2626"
    }
    Badge {
        objectName: row.objectName + "Rx"
        label: "RX"
        active: row.receive
    }
    Components.CustomSlider {
        objectName: row.objectName + "Slider"
        Layout.fillWidth: true
        from: 0
        to: 2
        stepSize: 0.05
        snapMode: Slider.SnapAlways
        value: row.volume
        onMoved: row.volumeMoved(value)
    }
    Text {
        objectName: row.objectName + "Volume"
        Layout.preferredWidth: 48
        horizontalAlignment: Text.AlignRight
        text: Math.round(row.volume * 100) + "%"
        textFormat: Text.PlainText
        font.pixelSize: 13
        color: Style.textPrimary
    }
}
