// Vellork: the window program. It reads no command line of its own.

#include "form1.h"
#include "program_icon.h"
#include "startup.h"
#include "toolkit.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

// Without a display Qt would abort with a toolkit error; say plainly what to do instead.
bool displayAvailable() {
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
    for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(variable);
        if (value && *value) return true;
    }
    return false;
#else
    return true;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    vellork::app::prepareProcess();
    if (!displayAvailable()) {
        std::fputs(
            "Vellork needs a graphical display, and none was found (DISPLAY is not set).\n"
            "Run it inside a desktop session, or under a virtual display with\n"
            "    xvfb-run -a vellork\n"
            "or compress pages from the terminal with\n"
            "    vellork-cli PAGE.html...\n",
            stderr);
        return 1;
    }
    // The application object comes first: no widget may exist before it.
    QApplication app(argc, argv);
    QApplication::setApplicationName(vellork::programTitle());
    QApplication::setApplicationVersion(QStringLiteral(VELLORK_VERSION));
    QApplication::setWindowIcon(vellork::programIcon());
    QApplication::setDesktopFileName(QStringLiteral("io.github.vellork"));

    vellork::QtDialogs dialogs;
    vellork::QtShell shell;
    vellork::Form1 window(dialogs, shell);
    window.show();
    return app.exec();
}
