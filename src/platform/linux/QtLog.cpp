#include "platform/linux/QtLog.h"

#include "platform/Log.h"

#include <QDebug>
#include <QtGlobal>

#include <memory>

namespace wl {

void installQtLogSink(const std::string& journalSocketPath)
{
    auto journal = std::make_shared<JournalSocket>(journalSocketPath);
    const bool stderrIsJournal = JournalSocket::stderrIsJournal();
    Log::setSink([journal, stderrIsJournal](const std::string& text) {
        if (journal->send(text) && stderrIsJournal)
            return;
        qInfo("%s", text.c_str());
    });
    // Said once, at start-up, so that whoever reads stderr knows there is no other copy.
    if (!stderrIsJournal && !journal->listening())
        Log::line("Wickerlane: no systemd journal listens at " + journalSocketPath + "; the log goes to stderr only");
}

} // namespace wl
