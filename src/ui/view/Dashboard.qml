import QtQuick

// The dashboard's root: the platform choice until a platform is chosen, then
// the main dashboard. Each swap creates the page afresh.
Rectangle {
    id: rootWindow

    readonly property string mode: (typeof dashboardBackend !== "undefined" && dashboardBackend)
                                   ? dashboardBackend.currentMode : ""

    signal logoutRequested

    width: 1280
    height: 800
    color: "#eef2f6"

    Loader {
        id: rootLoader
        objectName: "rootLoader"
        anchors.fill: parent
        sourceComponent: (rootWindow.mode === "MSFS" || rootWindow.mode === "XPLANE")
                         ? mainDashboardComponent : modeSelectionComponent
    }

    Component {
        id: mainDashboardComponent
        MainDashboard {}
    }

    Component {
        id: modeSelectionComponent
        ModeSelection {
            onLogoutRequested: rootWindow.logoutRequested()
        }
    }
}
