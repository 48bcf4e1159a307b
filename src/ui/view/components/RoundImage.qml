import QtQuick

// A picture cropped to fill a disc (or a rounded tile with `radius`). Qt Quick
// clips only to rectangles, so the shape is painted on a canvas; the fill
// shows while the picture is not ready.
Item {
    id: root

    property url source
    property color fillColor: "#DDE7F5"
    property real radius: Math.min(width, height) / 2
    readonly property bool ready: probe.status === Image.Ready
    // The picture is on the canvas (painting runs after loading, asynchronously).
    property bool drawn: false

    function reload() {
        if (root.source.toString() !== "")
            canvas.loadImage(root.source);
        canvas.requestPaint();
    }

    onSourceChanged: reload()
    onRadiusChanged: canvas.requestPaint()
    onWidthChanged: canvas.requestPaint()
    onHeightChanged: canvas.requestPaint()
    Component.onCompleted: reload()

    // Loads the picture (asynchronously, cached) for its natural size.
    Image {
        id: probe
        visible: false
        source: root.source
        asynchronous: true
        cache: true
        onStatusChanged: canvas.requestPaint()
    }

    Canvas {
        id: canvas
        anchors.fill: parent

        // Images asked for before the canvas is available are not loaded.
        onAvailableChanged: root.reload()
        onImageLoaded: requestPaint()
        onPaint: {
            const ctx = getContext("2d");
            ctx.reset();
            const r = Math.min(root.radius, width / 2, height / 2);
            ctx.beginPath();
            ctx.roundedRect(0, 0, width, height, r, r);
            ctx.closePath();
            ctx.fillStyle = root.fillColor;
            ctx.fill();
            const src = root.source.toString();
            root.drawn = false;
            if (src === "" || probe.status !== Image.Ready || !isImageLoaded(root.source))
                return;
            const iw = Math.max(1, probe.implicitWidth);
            const ih = Math.max(1, probe.implicitHeight);
            const s = Math.max(width / iw, height / ih);
            ctx.save();
            ctx.clip();
            ctx.drawImage(src, (width - iw * s) / 2, (height - ih * s) / 2, iw * s, ih * s);
            ctx.restore();
            root.drawn = true;
        }
    }
}
