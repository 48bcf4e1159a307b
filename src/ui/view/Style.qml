pragma Singleton
import QtQuick

// Colours and sizes shared by every dashboard page. Eight-digit colours are #AARRGGBB.
QtObject {
    readonly property color bgGradientStart: "#F0F4F9"
    readonly property color bgGradientEnd: "#D9E5F3"
    readonly property color background: "#F0F4F9"
    readonly property color sidebarBg: "transparent"
    readonly property color cardBackground: "#A0FFFFFF"
    readonly property color cardBg: cardBackground
    readonly property color cardBorder: "#20FFFFFF"
    readonly property color divider: "#15000000"
    readonly property color primary: "#1A2B47"
    readonly property color accent: "#0F172A"
    readonly property color accentSoft: "#E2EAF3"
    readonly property color textPrimary: "#1E293B"
    readonly property color textSecondary: "#64748B"
    readonly property color textMuted: "#94A3B8"
    readonly property color textActive: "#0F172A"
    readonly property color statusSuccess: "#10B981"
    readonly property color statusError: "#F43F5E"
    readonly property real radiusLarge: 28
    readonly property real radiusCard: 24
    readonly property real radiusButton: 14
    readonly property real radiusPill: 24
    readonly property real spacingSmall: 8
    readonly property real spacingMedium: 12
    readonly property real spacingLarge: 20
    readonly property real paddingPage: 24
    readonly property real spacingGrid: 20
    readonly property color controlBg: "#F8FAFC"
    readonly property color controlBorder: "#E2E8F0"
    readonly property color controlBorderActive: "#3B82F6"
    readonly property color buttonText: "#FFFFFF"
}
