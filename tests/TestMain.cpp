// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/SerialLink.h"

#include <QApplication>
#include <cstdio>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As every program does: what the line has to say, on standard error.
    vantrel::SetMessageSink([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
