import QtQuick
import QtQuick.Controls.Basic
import "../.."

// Type-code suggestions under the type field. It lives in the window's
// overlay, so it draws over the cards below and is never clipped by its own.
// It stays open while the field has focus or the pointer is over it.
Popup {
    id: root

    property var backend: null
    property Item field: null

    parent: field
    x: 0
    y: field ? field.height + 6 : 0
    width: field ? field.width : 0
    height: Math.min(220, list.contentHeight + topPadding + bottomPadding)
    padding: 4
    closePolicy: Popup.NoAutoClose
    visible: backend !== null && field !== null && !backend.observerMode && (field.activeFocus || hover.hovered)
             && backend.typeCodeSuggestions.length > 0

    background: Rectangle {
        color: "#FFFFFF"
        radius: 10
        border.width: 1
        border.color: "#CBD5E1"
    }

    contentItem: ListView {
        id: list
        objectName: "typeCodeSuggestions"
        clip: true
        model: root.backend ? root.backend.typeCodeSuggestions : []

        HoverHandler {
            id: hover
        }

        delegate: Rectangle {
            objectName: "suggestionRow"
            width: ListView.view.width
            height: 42
            radius: 8
            color: rowArea.containsMouse ? "#EEF2FF" : "transparent"

            Text {
                id: title
                objectName: "suggestionTitle"
                x: 12
                width: 64
                anchors.verticalCenter: parent.verticalCenter
                text: modelData.title
                textFormat: Text.PlainText
                font.pixelSize: 14
                font.bold: true
                color: Style.textPrimary
            }
            Text {
                objectName: "suggestionDetail"
                anchors.left: title.right
                anchors.leftMargin: 8
                anchors.right: parent.right
                anchors.rightMargin: 12
                anchors.verticalCenter: parent.verticalCenter
                text: modelData.detail
                textFormat: Text.PlainText
                font.pixelSize: 13
                color: Style.textSecondary
                elide: Text.ElideRight
            }
            MouseArea {
                id: rowArea
                anchors.fill: parent
                hoverEnabled: true
                // Applying clears the list and with it this row: take what is
                // needed first.
                onClicked: {
                    const backend = root.backend
                    const designator = modelData.designator
                    root.field.focus = false
                    backend.applyTypeCodeSuggestion(designator)
                }
            }
        }
    }
}
