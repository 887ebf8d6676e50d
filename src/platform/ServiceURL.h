#pragma once
// Whether a URL can be the introduction service's base address: an absolute http or https
// URL with a host. The one check behind the program's information dictionary (which gives
// the default for an unusable setting) and the service's client (which refuses one).
// Needs QtCore: the plain core and the service do not include this header.

#include <QString>
#include <QUrl>

namespace wl {

inline bool isUsableServiceURL(const QUrl& url)
{
    return url.isValid() && !url.host().isEmpty() &&
        (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

} // namespace wl
