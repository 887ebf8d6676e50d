#include "ScriptedOwnerCheck.h"

#include <QCoreApplication>
#include <QTimer>

namespace wl::test {

void ScriptedOwnerCheck::check(const std::string& reason, std::function<void(bool)> done)
{
    reasons_.push_back(reason);
    bool confirmed = false;
    if (!answers_.empty()) {
        confirmed = answers_.front();
        answers_.pop_front();
    }
    QTimer::singleShot(0, QCoreApplication::instance(), [done, confirmed] {
        if (done)
            done(confirmed);
    });
}

} // namespace wl::test
