import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import "components"
import "Greeting.js" as Greeting
import "Fallback.js" as Fallback

// The overview: greeting, account, recent flights, announcements and leaderboards.
Item {
    id: page

    readonly property QtObject backend: typeof dashboardBackend !== "undefined" ? dashboardBackend : null
    // The local hour, read again whenever the user name changes; no clock runs.
    readonly property int hour: {
        void (backend ? backend.username : "");
        return new Date().getHours();
    }

    clip: true

    ScrollView {
        id: scroll
        anchors.fill: parent
        clip: true
        ScrollBar.horizontal.policy: ScrollBar.AlwaysOff
        contentWidth: availableWidth
        contentHeight: column.implicitHeight + 10

        ColumnLayout {
            id: column
            x: (scroll.width - width) / 2
            y: 10
            width: scroll.width - (scroll.ScrollBar.vertical.visible ? scroll.ScrollBar.vertical.width : 0) - 40
            spacing: Style.spacingGrid

            // Welcome
            GridLayout {
                Layout.fillWidth: true
                columns: page.width > 1200 ? 2 : 1
                columnSpacing: Style.spacingGrid

                Card {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 120

                    ColumnLayout {
                        anchors.fill: parent
                        spacing: 6

                        Text {
                            objectName: "overviewGreeting"
                            Layout.fillWidth: true
                            text: Greeting.greeting(page.hour)
                                  + Fallback.text(page.backend ? page.backend.username : undefined, "飞友")
                            textFormat: Text.PlainText
                            elide: Text.ElideRight
                            font.pixelSize: 32
                            font.bold: true
                            color: Style.textPrimary
                        }
                        Text {
                            textFormat: Text.PlainText
                            Layout.fillWidth: true
                            text: Greeting.subLine(page.hour)
                            elide: Text.ElideRight
                            font.pixelSize: 14
                            color: Style.textSecondary
                        }
                    }
                }
            }

            // Account and announcements
            GridLayout {
                Layout.fillWidth: true
                columns: page.width > 1400 ? 3 : page.width > 900 ? 2 : 1
                columnSpacing: Style.spacingGrid
                rowSpacing: Style.spacingGrid

                Card {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 420

                    ColumnLayout {
                        anchors.fill: parent
                        spacing: 12

                        RowLayout {
                            Layout.fillWidth: true
                            spacing: 12

                            RoundImage {
                                objectName: "overviewAvatar"
                                Layout.preferredWidth: 52
                                Layout.preferredHeight: 52
                                source: Fallback.text(page.backend ? page.backend.avatarUrl : undefined,
                                                       "qrc:/resources/logo.png")
                            }
                            ColumnLayout {
                                Layout.fillWidth: true
                                spacing: 2

                                Text {
                                    objectName: "overviewUsername"
                                    Layout.fillWidth: true
                                    text: Fallback.text(page.backend ? page.backend.username : undefined, "未知用户")
                                    textFormat: Text.PlainText
                                    elide: Text.ElideRight
                                    font.pixelSize: 18
                                    font.bold: true
                                    color: Style.textPrimary
                                }
                                Text {
                                    Layout.fillWidth: true
                                    text: "CID：" + Fallback.text(page.backend ? page.backend.cid : undefined, "--")
                                    textFormat: Text.PlainText
                                    elide: Text.ElideRight
                                    font.pixelSize: 12
                                    color: Style.textSecondary
                                }
                            }
                        }

                        GridLayout {
                            Layout.fillWidth: true
                            columns: 2
                            columnSpacing: 10
                            rowSpacing: 10

                            Tile {
                                objectName: "tileCallsign"
                                value: Fallback.text(page.backend ? page.backend.callsign : undefined, "--")
                                label: "当前呼号"
                            }
                            Tile {
                                objectName: "tileRating"
                                value: Fallback.text(page.backend ? page.backend.rating : undefined, "--")
                                label: "账户等级"
                            }
                            Tile {
                                objectName: "tilePilotTime"
                                value: Fallback.text(page.backend ? page.backend.pilotTime : undefined, "0h")
                                label: "总飞行时长"
                            }
                            Tile {
                                objectName: "tileAtcTime"
                                value: Fallback.text(page.backend ? page.backend.atcTime : undefined, "0h")
                                label: "总管制时长"
                            }
                        }

                        Text {
                            textFormat: Text.PlainText
                            text: "最近飞行"
                            font.pixelSize: 13
                            font.bold: true
                            color: Style.textPrimary
                        }

                        ListView {
                            id: recentList
                            objectName: "recentFlightsList"
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            clip: true
                            spacing: 6
                            model: page.backend ? page.backend.recentFlights : []

                            delegate: Rectangle {
                                id: flight

                                required property var modelData

                                width: ListView.view.width
                                height: 44
                                radius: 10
                                color: "#05000000"

                                RowLayout {
                                    anchors.fill: parent
                                    anchors.leftMargin: 12
                                    anchors.rightMargin: 12
                                    spacing: 10

                                    Text {
                                        Layout.preferredWidth: 72
                                        text: Fallback.text(flight.modelData.callsign, "--")
                                        textFormat: Text.PlainText
                                        elide: Text.ElideRight
                                        font.pixelSize: 13
                                        font.bold: true
                                        color: Style.textPrimary
                                    }
                                    Text {
                                        Layout.fillWidth: true
                                        text: Fallback.text(flight.modelData.detail, "")
                                        textFormat: Text.PlainText
                                        elide: Text.ElideRight
                                        font.pixelSize: 12
                                        color: Style.textSecondary
                                    }
                                    Text {
                                        text: Fallback.text(flight.modelData.duration, "")
                                        textFormat: Text.PlainText
                                        font.pixelSize: 12
                                        color: Style.textMuted
                                    }
                                }
                            }

                            Text {
                                objectName: "recentFlightsEmpty"
                                textFormat: Text.PlainText
                                anchors.top: parent.top
                                visible: recentList.count === 0
                                text: "暂无最近飞行记录"
                                font.pixelSize: 12
                                color: Style.textMuted
                            }
                        }
                    }
                }

                Card {
                    Layout.fillWidth: true
                    Layout.preferredHeight: 420

                    ColumnLayout {
                        anchors.fill: parent
                        spacing: 12

                        Text {
                            textFormat: Text.PlainText
                            text: "系统公告与动态"
                            font.pixelSize: 18
                            font.bold: true
                            color: Style.textPrimary
                        }

                        ListView {
                            Layout.fillWidth: true
                            Layout.fillHeight: true
                            clip: true
                            spacing: 10
                            model: 3

                            delegate: Rectangle {
                                width: ListView.view.width
                                height: 70
                                radius: 12
                                color: "#08000000"

                                Column {
                                    anchors.fill: parent
                                    anchors.margins: 12
                                    spacing: 6

                                    Text {
                                        textFormat: Text.PlainText
                                        width: parent.width
                                        text: "VELK 客户端更新日志 v1.2.0"
                                        elide: Text.ElideRight
                                        font.pixelSize: 14
                                        font.bold: true
                                        color: Style.textPrimary
                                    }
                                    Text {
                                        textFormat: Text.PlainText
                                        width: parent.width
                                        text: "优化了模拟器连接稳定性，新增了更美观的仪表盘界面..."
                                        elide: Text.ElideRight
                                        font.pixelSize: 12
                                        color: Style.textSecondary
                                    }
                                }
                            }
                        }

                        RowLayout {
                            Layout.fillWidth: true
                            spacing: 12

                            CustomButton {
                                Layout.fillWidth: true
                                text: "检查更新"
                            }
                            CustomButton {
                                Layout.fillWidth: true
                                text: "官方文档"
                            }
                        }
                    }
                }
            }

            // Leaderboards
            GridLayout {
                Layout.fillWidth: true
                Layout.bottomMargin: 20
                columns: page.width > 1000 ? 2 : 1
                columnSpacing: Style.spacingGrid
                rowSpacing: Style.spacingGrid

                LeaderboardCard {
                    title: "飞行员排行榜"
                    accentColor: Style.accent
                    rows: page.backend ? page.backend.pilotLeaderboard : []
                    fallbackName: "未知飞行员"
                    secondKey: "callsign"
                    hoursLabel: "累计飞行"
                    listName: "pilotLeaderboardList"
                }
                LeaderboardCard {
                    title: "管制员排行榜"
                    accentColor: "#F59E0B"
                    rows: page.backend ? page.backend.atcLeaderboard : []
                    fallbackName: "未知管制员"
                    secondKey: "rating"
                    hoursLabel: "累计管制"
                    listName: "atcLeaderboardList"
                }
            }
        }
    }
}
