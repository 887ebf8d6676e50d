#pragma once
// The introduction service as the program reaches it: its base URL (the information
// key WLIntroductionURL of the dictionary handed in), WebSocket URLs of its paths and the
// presence query. Main thread only.
//
// The program's own default address is the shipped dictionary's alone: a dictionary
// without a usable URL gives none here, so a part made with it never reaches a service
// it was not told of (such as a developer's own on the default port). A part that
// reaches the service checks its dictionary where it is made (requiredBaseURL).

#include <QUrl>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QNetworkAccessManager;
class QObject;

namespace wl {

class InfoDictionary;

class IntroductionService {
public:
    using QueryItems = std::vector<std::pair<std::string, std::string>>;

    // Whether a URL can be the service's base: an absolute http or https URL with a host.
    static bool isUsableBase(const QUrl& url);
    // The base URL, always ending in "/"; empty when the dictionary has no usable one.
    static QUrl baseURL(const InfoDictionary& info);
    // The base URL for a part made with this dictionary: made without one (no dictionary,
    // or none usable in it) is a wiring mistake, "<who> was made without a service address".
    static QUrl requiredBaseURL(const std::shared_ptr<const InfoDictionary>& info, const char* who);
    // An HTTP(S) URL of a path under the base ("v1/status/<id>"); empty without a base.
    static QUrl httpURL(const InfoDictionary& info, const std::string& path, const QueryItems& queryItems = {});
    // The base with the path appended; https → wss, anything else → ws. The query is
    // set only when there are items; keys and values are percent-encoded (a '+' in
    // base64 stays a '+'). Empty without a base.
    static QUrl webSocketURL(const InfoDictionary& info, const std::string& path, const QueryItems& queryItems = {});

    // Asks v1/status/<id>: true only for status 200 with the JSON field "online" true;
    // false on any failure (also after 15 s without an answer). The callback runs
    // once on the main thread; when context is given and destroyed first, never.
    static void isOnline(const InfoDictionary& info, const std::string& deviceId, std::function<void(bool)> callback,
                         QObject* context = nullptr);

    // The shared network access manager of the main thread.
    static QNetworkAccessManager& network();
    static constexpr int kRequestTimeoutMs = 15000;
};

} // namespace wl
