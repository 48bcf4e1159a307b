import QtQuick
import QtQuick.Layouts
import com.morvane.backend 1.0
import "components"
import "pages" as Pages

// The dashboard after a platform choice: sidebar, one page per section and
// the floating voice window.
Item {
    id: mainDashboardPage

    property string currentSection: "dashboard"
    property bool voiceMiniMode: false
    property SettingsBackend settingsRef: typeof settingsBackend !== "undefined" ? settingsBackend : null
    property VoiceSettingsBackend voiceSettingsRef: typeof voiceSettingsBackend !== "undefined" ? voiceSettingsBackend : null
    property VoiceServiceBackend voiceServiceRef: typeof voiceBackend !== "undefined" ? voiceBackend : null

    // The mini window hands back to the dashboard, which may be minimised.
    signal dashboardRequested

    function pageFor(section) {
        switch (section) {
        case "simulator":
            return simulatorPage;
        case "server":
            return serverPage;
        case "voice":
            return voicePage;
        case "messages":
            return messagesPage;
        case "settings":
            return settingsPage;
        default:
            return overviewPage;
        }
    }

    objectName: "mainDashboard"

    Rectangle {
        anchors.fill: parent
        color: Style.background
        gradient: Gradient {
            GradientStop {
                position: 0
                color: Style.bgGradientStart
            }
            GradientStop {
                position: 0.4
                color: "#E8F0F8"
            }
            GradientStop {
                position: 1
                color: Style.bgGradientEnd
            }
        }
    }

    Image {
        anchors.fill: parent
        source: "qrc:/resources/theme/noise.png"
        fillMode: Image.Tile
        opacity: 0.035
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        Sidebar {
            id: sidebar
            Layout.preferredWidth: 252
            Layout.fillHeight: true
            onItemSelected: key => mainDashboardPage.currentSection = key
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.margins: 16
            spacing: 14

            Loader {
                id: pageLoader
                objectName: "pageLoader"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                sourceComponent: mainDashboardPage.pageFor(mainDashboardPage.currentSection)
            }
        }
    }

    // A click on an entry assigns the sidebar's activeItem; this keeps it
    // following the section when the mini window changes it.
    Binding {
        target: sidebar
        property: "activeItem"
        value: mainDashboardPage.currentSection
    }

    Component {
        id: overviewPage
        DashboardOverviewPage {
            objectName: "page_dashboard"
        }
    }
    Component {
        id: simulatorPage
        Pages.SimulatorPage {
            objectName: "page_simulator"
        }
    }
    Component {
        id: serverPage
        Pages.ServerPage {
            objectName: "page_server"
        }
    }
    Component {
        id: voicePage
        Pages.VoiceServicePage {
            objectName: "page_voice"
            voiceServiceBackend: mainDashboardPage.voiceServiceRef
            onMinimizeRequested: mainDashboardPage.voiceMiniMode = true
        }
    }
    Component {
        id: messagesPage
        Pages.MessagesPage {
            objectName: "page_messages"
        }
    }
    Component {
        id: settingsPage
        Pages.SettingsPage {
            objectName: "page_settings"
            settingsBackend: mainDashboardPage.settingsRef
            voiceSettingsBackend: mainDashboardPage.voiceSettingsRef
        }
    }

    // An instantiator rather than a loader: the window stands on its own and
    // takes no parent window.
    Instantiator {
        objectName: "voiceMiniInstantiator"
        active: mainDashboardPage.voiceMiniMode
        delegate: VoiceMiniWindow {
            dashboard: mainDashboardPage
            voice: mainDashboardPage.voiceServiceRef
            simulator: typeof simulatorBackend !== "undefined" ? simulatorBackend : null
            // The window goes with the flag, so the flag is cleared last.
            onExpandRequested: {
                mainDashboardPage.currentSection = "voice";
                mainDashboardPage.dashboardRequested();
                mainDashboardPage.voiceMiniMode = false;
            }
        }
    }
}
