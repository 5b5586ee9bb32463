// vantrel-display: a virtual 2 x 20 customer display on a pseudo-terminal.
//
//   vantrel-display [--link PATH] [--headless]
//
// Prints the slave's path on standard output, then shows the display in a
// window, or with --headless prints the two screen lines and the status after
// every change.
#include "tools/display/DisplayWindow.h"
#include "tools/display/VirtualDisplay.h"

#include <QApplication>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <string>

namespace {

volatile std::sig_atomic_t Stop = 0;

void PrintScreen(const vantrel::display::DisplayModel& model) {
    std::printf("|%s|\n|%s|\n[%s]\n", model.Line(0).c_str(), model.Line(1).c_str(), model.Status().c_str());
    std::fflush(stdout);
}

int RunHeadless(vantrel::display::VirtualDisplay& display) {
    auto& model = display.Model();
    PrintScreen(model);
    while (!Stop) {
        pollfd p{display.MasterFd(), POLLIN, 0};
        const int r = poll(&p, 1, 250);
        bool changed = false;
        if (r > 0) changed = !display.ReadAvailable().empty();
        if (r == 0 && model.DemoRunning()) {
            model.Tick();
            changed = true;
        }
        if (changed) PrintScreen(model);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string link;
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--link") && i + 1 < argc) link = argv[++i];
        else if (!std::strcmp(argv[i], "--headless")) headless = true;
        else if (!std::strcmp(argv[i], "--help")) {
            std::printf("usage: vantrel-display [--link PATH] [--headless]\n");
            return 0;
        } else {
            std::fprintf(stderr, "vantrel-display: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    try {
        // Both modes end on SIGINT/SIGTERM through a flag, so the link is removed.
        std::signal(SIGINT, [](int) { Stop = 1; });
        std::signal(SIGTERM, [](int) { Stop = 1; });
        vantrel::display::VirtualDisplay display(link);
        std::printf("%s\n", display.SlavePath().c_str());
        std::fflush(stdout);
        if (headless) return RunHeadless(display);
        QApplication app(argc, argv);
        vantrel::display::DisplayWindow window(display);
        window.show();
        QTimer stopCheck;
        QObject::connect(&stopCheck, &QTimer::timeout, [] {
            if (Stop) QCoreApplication::quit();
        });
        stopCheck.start(100);
        return app.exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vantrel-display: %s\n", e.what());
        return 1;
    }
}
