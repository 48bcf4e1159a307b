import QtQuick

// A picture cropped to fill a disc (or a rounded tile with `radius`). Qt Quick
// clips only to rectangles, so the picture is painted on a canvas, made only
// while there is a picture; the fill shows while it is not ready.
Item {
    id: root

    property url source
    property color fillColor: "#DDE7F5"
    property real radius: Math.min(width, height) / 2
    readonly property bool ready: probe.status === Image.Ready
    // The picture is on the canvas (painting runs after loading, asynchronously).
    property bool drawn: false

    Rectangle {
        anchors.fill: parent
        radius: Math.min(root.radius, width / 2, height / 2)
        color: root.fillColor
    }

    // Loads the picture (asynchronously, cached) for its natural size.
    Image {
        id: probe
        visible: false
        source: root.source
        asynchronous: true
        cache: true
    }

    Loader {
        anchors.fill: parent
        active: root.source.toString() !== ""

        sourceComponent: Canvas {
            id: canvas

            readonly property url picture: root.source
            readonly property bool pictureReady: probe.status === Image.Ready

            function reload() {
                if (picture.toString() !== "")
                    loadImage(picture);
                requestPaint();
            }

            onPictureChanged: reload()
            onPictureReadyChanged: requestPaint()
            onWidthChanged: requestPaint()
            onHeightChanged: requestPaint()
            // Images asked for before the canvas is available are not loaded.
            onAvailableChanged: reload()
            onImageLoaded: requestPaint()
            Component.onCompleted: reload()
            Component.onDestruction: root.drawn = false

            onPaint: {
                const ctx = getContext("2d");
                ctx.reset();
                root.drawn = false;
                if (!pictureReady || !isImageLoaded(picture))
                    return;
                const r = Math.min(root.radius, width / 2, height / 2);
                const iw = Math.max(1, probe.implicitWidth);
                const ih = Math.max(1, probe.implicitHeight);
                const s = Math.max(width / iw, height / ih);
                ctx.beginPath();
                ctx.roundedRect(0, 0, width, height, r, r);
                ctx.closePath();
                ctx.clip();
                ctx.drawImage(picture.toString(), (width - iw * s) / 2, (height - ih * s) / 2, iw * s, ih * s);
                root.drawn = true;
            }
        }
    }
}
