// SPDX-License-Identifier: GPL-3.0-or-later
// Starting a program's window. Where no display server answers (DISPLAY unset,
// or naming one that does not run), the program says so in one line and ends
// with status 1, instead of the toolkit's warnings and abort. The panel and the
// virtual display start their windows through here.
#pragma once

#include "common/Desktop.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vantrel {

namespace window_start {
struct Held {
    QtMsgType type;
    const char *file, *function, *category;  // the toolkit's own constant texts
    int line;
    QString message;
};
inline std::vector<Held> held;
inline std::string failure;  // the line said when the server does not answer
inline void WhileStarting(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        std::_Exit(1);
    }
    held.push_back({type, context.file, context.function, context.category, context.line, message});
}
}  // namespace window_start

// The application of a program with a window, or nullptr after the one line
// "PROGRAM: no display server for the window (DISPLAY is not set)ADVICE" when
// there is no server at all; a server that does not answer ends the program
// with status 1 and "PROGRAM: no display server answers for the windowADVICE".
// The warnings of a start that works are said after it.
inline std::unique_ptr<QApplication> StartWindow(int& argc, char** argv, const char* program, const char* advice) {
    if (!HasDisplayServer(argc, argv)) {
        std::fprintf(stderr, "%s: no display server for the window (DISPLAY is not set)%s\n", program, advice);
        return nullptr;
    }
    window_start::failure = std::string(program) + ": no display server answers for the window" + advice;
    qInstallMessageHandler(window_start::WhileStarting);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(nullptr);
    for (const window_start::Held& h : std::exchange(window_start::held, {}))
        qt_message_output(h.type, QMessageLogContext(h.file, h.line, h.function, h.category), h.message);
    return app;
}

}  // namespace vantrel
