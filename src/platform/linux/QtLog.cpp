#include "platform/linux/QtLog.h"

#include "platform/Log.h"

#include <QDebug>
#include <QtGlobal>

namespace wl {

void installQtLogSink()
{
    Log::setSink([](const std::string& text) { qInfo("%s", text.c_str()); });
}

} // namespace wl
