// The desktop program: one copy per user (a second launch shows the first one's main
// window and ends), the platform backends, the program's objects, the tray. It runs
// until it is told to quit; "Quit Wickerlane", SIGTERM and SIGINT end it at once,
// sending nothing.
#include "app/DesktopStartup.h"
#include "style/Palette.h"
#include "app/WickerlaneApp.h"

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

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Wickerlane"));
    QApplication::setQuitOnLastWindowClosed(false);

    // The settings written out on the way out: the desktop's once start-up has chosen them.
    std::shared_ptr<wl::Defaults> settings;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitPipe) == 0) {
        auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [&settings] {
            if (!settings) // before start-up chose them there is nothing to write out
                std::_Exit(EXIT_SUCCESS);
            wl::quitNow(*settings);
        });
        struct sigaction action = {};
        action.sa_handler = askToQuit;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
    }

    wl::WickerlaneApp* running = nullptr;
    if (!wl::claimSingleInstance([&running] {
            if (running)
                running->reopen();
        }))
        return 0; // the running copy shows its window

    wl::WickerlaneApp::Options options;
    options.platform = wl::chooseDesktopBackends();
    settings = options.platform.defaults;
    wl::MediaEngine media(wl::chooseMediaBackends(*settings));
    wl::refreshDesktopEntry();
    wl::applyDarkStyle(app);
    wl::WickerlaneApp program(media, std::move(options));
    running = &program;
    if (!program.start())
        wl::quitNow(*settings);
    app.exec();
    // However the event loop ended, nothing is said to anyone on the way out.
    wl::quitNow(*settings);
}
