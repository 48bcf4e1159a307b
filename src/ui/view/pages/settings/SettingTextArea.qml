import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "../../components" as Components

// A multi-line setting, one path per line: edits go out as typed, and the
// view model's text comes in only when it differs (after a reload).
ScrollView {
    id: root

    property string value: ""
    property alias areaName: area.objectName
    property alias enabledArea: area.enabled

    signal edited(string text)

    Layout.fillWidth: true
    clip: true

    Components.CustomTextArea {
        id: area

        property bool following: false

        function follow() {
            if (text === root.value)
                return;
            following = true;
            text = root.value;
            following = false;
        }

        wrapMode: TextEdit.NoWrap
        Component.onCompleted: follow()
        onTextChanged: {
            if (!following)
                root.edited(text);
        }

        Connections {
            target: root
            function onValueChanged() {
                area.follow();
            }
        }
    }
}
