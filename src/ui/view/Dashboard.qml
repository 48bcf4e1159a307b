import QtQuick

// The dashboard's root: the platform choice until a platform is chosen, then
// the main dashboard. Each swap creates the page afresh.
Rectangle {
    id: rootWindow

    readonly property string mode: (typeof dashboardBackend !== "undefined" && dashboardBackend)
                                   ? dashboardBackend.currentMode : ""

    signal logoutRequested
    // The main window shows itself, restored and raised.
    signal dashboardRequested

    width: 1280
    height: 800
    color: "#eef2f6"

    // By file name, so that the main dashboard is compiled only when first
    // needed and the platform choice comes up without waiting for it.
    Loader {
        id: rootLoader
        objectName: "rootLoader"
        anchors.fill: parent
        source: (rootWindow.mode === "MSFS" || rootWindow.mode === "XPLANE") ? "MainDashboard.qml"
                                                                             : "ModeSelection.qml"
    }

    Connections {
        target: rootLoader.item
        ignoreUnknownSignals: true
        function onLogoutRequested() {
            rootWindow.logoutRequested();
        }
        function onDashboardRequested() {
            rootWindow.dashboardRequested();
        }
    }
}
