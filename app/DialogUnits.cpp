// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DialogUnits.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>
#include <initializer_list>

namespace vantrel {

namespace {

// `font` with its family first, where the system has that face, then each of
// `fallbacks` that it has: a face that is missing (under Wine the system may
// name one it lacks) never becomes the toolkit's last resort, a serif.
QFont WithExistingFaces(QFont font, std::initializer_list<const char*> fallbacks) {
    const QStringList known = QFontDatabase::families();
    QStringList faces;
    if (known.contains(font.family(), Qt::CaseInsensitive)) faces << font.family();
    for (const char* face : fallbacks)
        if (known.contains(QLatin1String(face), Qt::CaseInsensitive)) faces << QLatin1String(face);
    if (!faces.isEmpty()) font.setFamilies(faces);
    return font;
}

}  // namespace

QFont InterfaceFont() {
    return WithExistingFaces(QFontDatabase::systemFont(QFontDatabase::GeneralFont),
                             {"Segoe UI", "Tahoma", "Microsoft Sans Serif", "DejaVu Sans", "Noto Sans", "Liberation Sans"});
}

QFont FixedFont() {
    QFont font = WithExistingFaces(QFontDatabase::systemFont(QFontDatabase::FixedFont),
                                   {"Consolas", "Courier New", "Lucida Console", "DejaVu Sans Mono", "Noto Sans Mono",
                                    "Liberation Mono", "Courier"});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

QFont DialogFont() {
    // The platform's own interface face (Segoe UI on Windows, the desktop's
    // on Linux), never one asked by name, at the template's size, as a dialog
    // template's "MS Shell Dlg" becomes the platform's face at its own size.
    QFont font = InterfaceFont();
    font.setPointSize(DialogFontPoints);
    return font;
}

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average width as the window system defines it: the 52 letters, rounded.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    baseX_ = (letters / 26 + 1) / 2;
    baseY_ = metrics.height();
}

int DialogUnits::X(int units) const { return (units * baseX_ + 2) / 4; }
int DialogUnits::Y(int units) const { return (units * baseY_ + 4) / 8; }

QRect DialogUnits::Rect(const Control& c) const { return {X(c.x), Y(c.y), X(c.width), Y(c.height)}; }

}  // namespace vantrel
