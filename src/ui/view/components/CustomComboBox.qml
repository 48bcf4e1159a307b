import QtQuick
import QtQuick.Controls.Basic
import ".."

ComboBox {
    id: control

    implicitHeight: 40
    font.pixelSize: 14

    background: Rectangle {
        implicitWidth: 140
        implicitHeight: 40
        color: "#FFFFFF"
        radius: 10
        border.width: control.popup.visible ? 2 : 1
        border.color: control.popup.visible ? Style.controlBorderActive
                                            : control.hovered ? "#CBD5E1" : Style.controlBorder

        Behavior on border.color {
            ColorAnimation {
                duration: 150
            }
        }
    }

    contentItem: Text {
        leftPadding: 12
        text: control.displayText
        textFormat: Text.PlainText
        font: control.font
        color: Style.textPrimary
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
    }

    indicator: Canvas {
        x: control.width - width - 10
        y: control.topPadding + (control.availableHeight - height) / 2
        width: 16
        height: 16

        onPaint: {
            const ctx = getContext("2d");
            ctx.reset();
            ctx.strokeStyle = Style.textMuted;
            ctx.lineWidth = 1.5;
            ctx.lineCap = "round";
            ctx.lineJoin = "round";
            ctx.beginPath();
            ctx.moveTo(2, 5);
            ctx.lineTo(8, 11);
            ctx.lineTo(14, 5);
            ctx.stroke();
        }
    }

    delegate: ItemDelegate {
        id: entry

        required property int index

        width: ListView.view ? ListView.view.width : control.width
        highlighted: control.highlightedIndex === entry.index
        hoverEnabled: control.hoverEnabled

        contentItem: Text {
            text: control.textAt(entry.index)
            textFormat: Text.PlainText
            font.pixelSize: 14
            color: Style.textPrimary
            elide: Text.ElideRight
            verticalAlignment: Text.AlignVCenter
        }

        // Qt reads eight-digit colour text as #AARRGGBB, so the tint is built
        // from the accent with an explicit alpha.
        background: Rectangle {
            objectName: "highlight"
            radius: 6
            color: entry.highlighted ? Qt.rgba(Style.accent.r, Style.accent.g, Style.accent.b, 0x22 / 255)
                                     : "transparent"
        }
    }

    popup: Popup {
        y: control.height + 4
        width: control.width
        height: Math.min(contentItem.implicitHeight + topPadding + bottomPadding, 240)
        padding: 4

        contentItem: ListView {
            clip: true
            implicitHeight: contentHeight
            model: control.popup.visible ? control.delegateModel : null
            currentIndex: control.highlightedIndex
            highlightMoveDuration: 0

            ScrollIndicator.vertical: ScrollIndicator {}
        }

        background: Rectangle {
            color: "#FFFFFF"
            radius: 10
            border.width: 1
            border.color: Style.controlBorder
        }
    }
}
