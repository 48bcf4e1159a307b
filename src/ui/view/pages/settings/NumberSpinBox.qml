import QtQuick
import "../../components" as Components

// A typed-in whole number: no thousands separator (a port is "49000"), and a
// text that is no number leaves the value as it was.
Components.CustomSpinBox {
    id: box

    editable: true
    textFromValue: (number, locale) => String(number)
    valueFromText: (text, locale) => {
        const number = parseInt(text, 10);
        return isNaN(number) ? box.value : number;
    }
}
