#pragma once
// Sends the program's log lines through Qt's logging (qInfo, to stderr) and to the systemd
// journal's native socket (JournalSocket), so a copy started from autostart or a menu
// keeps its log too. Where stderr already is the journal, each line goes there once; where
// no journal listens, a first line says that the log goes to stderr only.

#include "platform/linux/JournalSocket.h"

#include <string>

namespace wl {

void installQtLogSink(const std::string& journalSocketPath = JournalSocket::standardPath);

} // namespace wl
