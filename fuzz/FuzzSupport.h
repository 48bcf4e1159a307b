#pragma once

// Shared by the harnesses: one Qt application for the process, quiet logs,
// and a stop that libFuzzer reports as a crash when an oracle fails.
#include <QCoreApplication>
#include <QDir>
#include <QString>

#include <cstdio>
#include <cstdlib>

namespace velk::fuzz {

inline void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

// Creates the application once (config.ini and cache/ go beside the harness).
inline void initQt() {
    static int argc = 1;
    static char name[] = "velk-fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = nullptr;
    if (app == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = new QCoreApplication(argc, argv);
        qInstallMessageHandler(quiet);
    }
}

[[noreturn]] inline void fail(const char* what, const QString& detail = {}) {
    std::fprintf(stderr, "oracle failed: %s %s\n", what, detail.toUtf8().constData());
    std::abort();
}

// Where a harness makes its files: its own folder in the build tree, so that
// what an input that stops the run leaves behind stays there.
inline QString scratchTemplate() {
    return QDir::currentPath() + QStringLiteral("/scratch-XXXXXX");
}

inline QByteArray bytesOf(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

} // namespace velk::fuzz
