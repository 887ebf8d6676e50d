#pragma once
// The session history: "Session History.log" in $XDG_STATE_HOME/Wickerlane Host/
// (~/.local/state/... by default), one line per event: the time in UTC
// (YYYY-MM-DDTHH:MM:SSZ), two spaces, the text. The file is only ever appended to,
// never rewritten, so lines written by another copy of the program are kept.

#include <filesystem>
#include <string>

namespace wl {

class Workspace;

std::filesystem::path sessionHistoryPath();
// Appends one line; a failure is logged and otherwise ignored.
void appendSessionHistory(const std::string& text);
// Writes "Session history started" when there is no file yet, then opens it in the
// user's usual program for it.
void openSessionHistory(Workspace& workspace);

} // namespace wl
