// SPDX-License-Identifier: GPL-3.0-or-later
// Dialog units -> pixels, from the dialog font's metrics: x in quarters of the
// average character width, y in eighths of the character height.
#pragma once

#include "resources/ControlTable.h"

#include <QFont>
#include <QRect>

namespace vantrel {

// The platform's interface font, and its fixed-width font for columns of
// bytes and display positions; each falls back to faces the system has
// (Segoe UI, Tahoma...; Consolas, Courier New, DejaVu Sans Mono...).
QFont InterfaceFont();
QFont FixedFont();
// The interface font at the dialog templates' size.
QFont DialogFont();

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(const Control& c) const;

private:
    int baseX_;
    int baseY_;
};

}  // namespace vantrel
