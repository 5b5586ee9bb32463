// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PanelApp.h"

#include "app/DialogUnits.h"
#include "app/PanelDlg.h"
#include "common/WindowStart.h"
#include "serial/SerialLink.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>
#include <cstdio>
#include <utility>

namespace vantrel {

int CPanelApp::InitInstance(int argc, char** argv) {
    RestrictLibrarySearch();
    // What the line has to say, on standard error beside the message boxes.
    SetMessageSink([](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); });
    const auto app = StartWindow(argc, argv, "vantrel", "; vantrel send needs none");
    if (!app) return 1;
    QApplication::setFont(InterfaceFont());  // message boxes and dialogs too, in a face that exists
    CPanelDlg panel;
    panel.exec();
    return 0;
}

bool UseQtTranslation(int language) {
    static QPointer<QTranslator> chinese;  // loaded at the first switch to Chinese, kept while the application lives
    if (language != 1) {
        if (chinese) QCoreApplication::removeTranslator(chinese);
        return true;
    }
    if (!chinese) {
        static constexpr const char* Name = "qtbase_zh_CN";
        QStringList folders{QCoreApplication::applicationDirPath() + QStringLiteral("/translations")};
        if (!ToolkitTextsBesideProgramOnly()) folders.prepend(QLibraryInfo::path(QLibraryInfo::TranslationsPath));
        auto* translator = new QTranslator(QCoreApplication::instance());
        for (const QString& folder : folders)
            if (translator->load(QString::fromLatin1(Name), folder)) {
                chinese = translator;
                break;
            }
        if (!chinese) {
            delete translator;
            static bool said = false;
            if (!std::exchange(said, true))
                std::fprintf(stderr, "vantrel: Qt's Chinese texts (%s.qm) are not in %s: its dialogs' own buttons stay English\n",
                             Name, qPrintable(QDir::toNativeSeparators(folders.join(QStringLiteral(" or ")))));
            return false;
        }
    }
    return QCoreApplication::installTranslator(chinese);
}

}  // namespace vantrel
