// SPDX-License-Identifier: GPL-3.0-or-later
// How the panel names a write's cause and a failed write's reason, for the
// line log, the port-closed message and `vantrel send --explain`.
#pragma once

#include "resources/Texts.h"
#include "serial/SerialLink.h"

#include <string>

namespace vantrel {

// The reason of a failed write, as the panel says it.
Text WriteResultText(WriteResult result);

// The name of a control with no text of its own (a list, an edit line) in a
// language (0 English, 1 Chinese): its caption less the colon ("Baudrate");
// empty for any other control.
std::string AccessibleControlName(int controlId, int language);

// What caused a write in a language: the control's label, with an option's
// label ("Send Command: CD5220") or a number ("Auto Send pattern 3"), or a
// list's name; `fallback` for a write of no control. With `whenSet`, a
// two-state button's label in its set state: the port's end that "Close COM"
// made.
std::string SourceWords(const WriteSource& source, int language, const char* fallback = "", bool whenSet = false);

// What a failed write's discard of the output queue may have taken with it:
// the rows before it, and bytes queued before the port was opened (by earlier
// runs); empty when nothing.
std::string EarlierDiscardWords(const LoggedWrite& row, int language);

// Bytes in hex, a space between: "1B 40 0C".
std::string HexBytes(const std::string& bytes);

// The one line (Say) for a failed write to `port`; `bytes`: how many a
// NotTaken end left behind.
void SayWriteFailure(const char* port, WriteResult why, std::uint32_t bytes = 0);
// The same for a failed row of the line log, named by `write` ("Send, the
// clear"), with the earlier writes that its discard may have taken.
void SayWriteFailure(const char* port, const LoggedWrite& row, const std::string& write);

}  // namespace vantrel
