#pragma once
// One running copy of the program per user and settings folder. The first copy listens
// on a local socket; a later launch finds it there, asks it to show its main window and
// ends. A socket left behind by a copy that died is taken over.

#include <QLocalServer>
#include <QObject>
#include <QString>

#include <functional>

namespace wl {

class SingleInstance final : public QObject {
    Q_OBJECT
public:
    // The socket's path.
    explicit SingleInstance(QString path, QObject* parent = nullptr);
    ~SingleInstance() override;

    // In $XDG_RUNTIME_DIR (else the temporary folder), named after the user and a hash of
    // the settings folder.
    static QString standardPath();

    // True when this is the first copy: it then listens for later launches. False when a
    // running copy answered that it shows its main window.
    bool claim();
    // Stops listening (before the program reopens itself as a new copy).
    void release();
    bool listening() const { return server_.isListening(); }

    // A later launch asked for the main window (main thread).
    std::function<void()> onReopen;

private:
    void answer();

    QString path_;
    QLocalServer server_;
};

} // namespace wl
