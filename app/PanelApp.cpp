// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/PanelApp.h"

#include "app/DialogUnits.h"
#include "app/PanelDlg.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>
#include <cstdio>
#include <utility>
#ifdef _WIN32
#include <windows.h>
#endif

namespace vantrel {

int CPanelApp::InitInstance(int argc, char** argv) {
#ifdef _WIN32
    // A library loaded at run time (Qt's plugins and what they load, Windows'
    // own helpers) comes from the program's folder or Windows' own, never from
    // the working folder or PATH.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
#endif
    QApplication app(argc, argv);
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
#ifdef _WIN32
        // Qt's libraries lie beside the program, and so do their texts; Qt's
        // own idea of its prefix is then the folder above the program's.
        const QStringList folders{QCoreApplication::applicationDirPath() + QStringLiteral("/translations")};
#else
        const QStringList folders{QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                                  QCoreApplication::applicationDirPath() + QStringLiteral("/translations")};
#endif
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
