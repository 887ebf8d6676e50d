// The desktop program: chooses the platform backends, starts the program's objects and
// runs until it is told to quit. SIGTERM and SIGINT end it at once, sending nothing.
#include "app/DesktopStartup.h"
#include "app/WickerlaneApp.h"

#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/Prompts.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdlib>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int quitPipe[2] = {-1, -1};

void askToQuit(int)
{
    char byte = 1;
    [[maybe_unused]] auto written = ::write(quitPipe[1], &byte, 1);
}

// Quitting ends the process at once: settings are on disk, and no message goes out
// (a session in progress simply ends for the helper when the link drops).
void quitNow()
{
    wl::Defaults::standard().sync();
    wl::Log::line("Wickerlane: quitting");
    std::_Exit(EXIT_SUCCESS);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Wickerlane"));
    QApplication::setQuitOnLastWindowClosed(false);

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitPipe) == 0) {
        auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { quitNow(); });
        struct sigaction action = {};
        action.sa_handler = askToQuit;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
    }

    wl::chooseDesktopBackends();
    if (!wl::identityReadableOrQuit(wl::Prompts::standard()))
        quitNow();
    wl::migrateFormerHelperProgram();

    wl::WickerlaneApp program;
    program.start();
    return app.exec();
}
