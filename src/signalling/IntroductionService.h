#pragma once
// The introduction service as the program reaches it: its base URL (the information
// key WLIntroductionURL of the dictionary handed in, default http://127.0.0.1:8787/),
// WebSocket URLs of its paths and the presence query. Main thread only.

#include <QUrl>

#include <functional>
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

    static constexpr const char* kDefaultBaseURL = "http://127.0.0.1:8787/";

    // The base URL, always ending in "/". An invalid or empty setting gives the default.
    static QUrl baseURL(const InfoDictionary& info);
    // An HTTP(S) URL of a path under the base ("v1/status/<id>").
    static QUrl httpURL(const InfoDictionary& info, const std::string& path, const QueryItems& queryItems = {});
    // The base with the path appended; https → wss, anything else → ws. The query is
    // set only when there are items; keys and values are percent-encoded (a '+' in
    // base64 stays a '+').
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
