import QtQuick
import QtQuick.Layouts
import "../../components" as Components

// A text field over a setting that the view model trims: what the pilot types
// stays as typed (a blank between two words survives), and only a value that
// really differs, as after a reload, replaces the text.
Components.CustomTextField {
    id: field

    property string value: ""

    signal edited(string text)

    function follow() {
        if (text !== value && text.trim() !== value)
            text = value;
    }

    Layout.fillWidth: true
    onValueChanged: follow()
    Component.onCompleted: follow()
    onTextEdited: field.edited(text)
}
