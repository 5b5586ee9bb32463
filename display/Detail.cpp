// SPDX-License-Identifier: GPL-3.0-or-later
// An action's words, kept and made; see Detail.h.
#include "display/Detail.h"

#include <algorithm>

namespace vantrel::display {

Detail Detail::Copy(std::string_view text) {
    Detail d;
    d.text_ = nullptr;
    text.copy(d.own_, std::min(text.size(), Room));
    return d;
}

bool operator==(const Detail& a, const Detail& b) {
    return a.kind_ == b.kind_ && (a.Empty() ? b.Empty() : a.Text() == b.Text());
}

std::string Detail::Text() const {
    if (!after_) return Start();
    return Start() + std::to_string(number_) + after_;
}

}  // namespace vantrel::display
