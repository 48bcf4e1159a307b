import QtQuick
import "../.."

Text {
    textFormat: Text.PlainText
    font.pixelSize: 20
    font.weight: Font.DemiBold
    color: Style.textPrimary
    elide: Text.ElideRight
}
