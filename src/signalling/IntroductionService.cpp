#include "signalling/IntroductionService.h"

#include "platform/InfoDictionary.h"
#include "protocol/Routes.h"
#include "platform/MainThread.h"
#include "platform/Required.h"
#include "platform/ServiceURL.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>

#include <memory>

namespace wl {

namespace {

QString encodedQuery(const IntroductionService::QueryItems& items)
{
    QString query;
    for (const auto& [key, value] : items) {
        if (!query.isEmpty())
            query += QLatin1Char('&');
        query += QString::fromLatin1(QUrl::toPercentEncoding(QString::fromStdString(key)));
        query += QLatin1Char('=');
        query += QString::fromLatin1(QUrl::toPercentEncoding(QString::fromStdString(value)));
    }
    return query;
}

QUrl withPath(const InfoDictionary& info, const std::string& path, const IntroductionService::QueryItems& items)
{
    QUrl url = IntroductionService::baseURL(info);
    if (url.isEmpty())
        return url;
    QString relative = QString::fromStdString(path);
    while (relative.startsWith(QLatin1Char('/')))
        relative.remove(0, 1);
    url.setPath(url.path() + relative);
    if (!items.empty())
        url.setQuery(encodedQuery(items), QUrl::StrictMode);
    else
        url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

} // namespace

bool IntroductionService::isUsableBase(const QUrl& url)
{
    return isUsableServiceURL(url);
}

QUrl IntroductionService::baseURL(const InfoDictionary& info)
{
    const QString text = QString::fromStdString(info.string(InfoKey::introductionURL)).trimmed();
    QUrl url(text, QUrl::StrictMode);
    if (text.isEmpty() || !isUsableBase(url))
        return QUrl();
    QString path = url.path();
    if (!path.endsWith(QLatin1Char('/')))
        url.setPath(path + QLatin1Char('/'));
    url.setQuery(QString());
    url.setFragment(QString());
    return url;
}

QUrl IntroductionService::requiredBaseURL(const std::shared_ptr<const InfoDictionary>& info, const char* who)
{
    QUrl url = info ? baseURL(*info) : QUrl();
    if (url.isEmpty())
        wiringMistake(std::string(who) + " was made without a service address");
    return url;
}

QUrl IntroductionService::httpURL(const InfoDictionary& info, const std::string& path, const QueryItems& queryItems)
{
    return withPath(info, path, queryItems);
}

QUrl IntroductionService::webSocketURL(const InfoDictionary& info, const std::string& path,
                                       const QueryItems& queryItems)
{
    QUrl url = withPath(info, path, queryItems);
    if (url.isEmpty())
        return url;
    url.setScheme(url.scheme() == QLatin1String("https") ? QStringLiteral("wss") : QStringLiteral("ws"));
    return url;
}

QNetworkAccessManager& IntroductionService::network()
{
    assertMainThread("IntroductionService::network");
    static QPointer<QNetworkAccessManager> manager;
    if (!manager) {
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        manager->setAutoDeleteReplies(true);
        manager->setTransferTimeout(kRequestTimeoutMs);
    }
    return *manager;
}

void IntroductionService::isOnline(const InfoDictionary& info, const std::string& deviceId,
                                   std::function<void(bool)> callback, QObject* context)
{
    QNetworkRequest request(httpURL(info, routePath(Route::status, deviceId)));
    request.setTransferTimeout(kRequestTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = network().get(request);
    QPointer<QObject> guard(context);
    bool hasContext = context != nullptr;
    auto done = std::make_shared<bool>(false);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, guard, hasContext, done, callback] {
        if (*done)
            return;
        *done = true;
        bool online = false;
        int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (reply->error() == QNetworkReply::NoError && status == 200) {
            QJsonParseError parseError{};
            QJsonDocument document = QJsonDocument::fromJson(reply->read(64 * 1024), &parseError);
            if (parseError.error == QJsonParseError::NoError && document.isObject()) {
                QJsonValue value = document.object().value(QLatin1String("online"));
                online = value.isBool() && value.toBool();
            }
        }
        if (hasContext && !guard)
            return;
        if (callback)
            callback(online);
    });
}

} // namespace wl
