#pragma once
// Sends the program's log lines through Qt's logging (qInfo): stderr, and the journal
// when Qt was built with journald support and the program runs under systemd.

namespace wl {

void installQtLogSink();

} // namespace wl
