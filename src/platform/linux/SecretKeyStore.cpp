#include "platform/linux/SecretKeyStore.h"

#include "platform/Log.h"

#include <QByteArray>

#include <libsecret/secret.h>

namespace wl {

namespace {

const SecretSchema* schema()
{
    static const SecretSchema value = {
        "org.wickerlane.Wickerlane.Key",
        SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"item", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
    };
    return &value;
}

std::string takeError(GError*& error)
{
    std::string text = error && error->message ? error->message : "unknown error";
    g_clear_error(&error);
    return text;
}

} // namespace

SecretKeyStore::SecretKeyStore(std::string service) : service_(std::move(service)) { }

bool SecretKeyStore::keyringAnswers()
{
    // Usable only when the keyring has a default collection that is already unlocked:
    // anything else would make the first store wait on a password prompt.
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    if (!service) {
        g_clear_error(&error);
        return false;
    }
    SecretCollection* collection =
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, &error);
    bool usable = !error && collection && !secret_collection_get_locked(collection);
    g_clear_error(&error);
    if (collection)
        g_object_unref(collection);
    g_object_unref(service);
    return usable;
}

KeyStore::ReadStatus SecretKeyStore::read(const std::string& item, std::string& bytes)
{
    std::lock_guard guard(lock_);
    GError* error = nullptr;
    gchar* found = secret_password_lookup_sync(schema(), nullptr, &error, "service", service_.c_str(), "item",
                                               item.c_str(), nullptr);
    if (error) {
        Log::line("Wickerlane: keyring lookup of " + item + " failed: " + takeError(error));
        if (found)
            secret_password_free(found);
        return ReadStatus::failed;
    }
    if (!found)
        return ReadStatus::notFound;
    QByteArray text(found);
    secret_password_free(found);
    auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) {
        Log::line("Wickerlane: keyring item " + item + " is not readable");
        return ReadStatus::failed;
    }
    bytes.assign(decoded.decoded.constData(), static_cast<std::size_t>(decoded.decoded.size()));
    return ReadStatus::found;
}

bool SecretKeyStore::write(const std::string& item, const std::string& bytes)
{
    std::lock_guard guard(lock_);
    QByteArray text = QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64();
    std::string label = "Wickerlane " + item;
    GError* error = nullptr;
    gboolean ok =
        secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), text.constData(), nullptr,
                                   &error, "service", service_.c_str(), "item", item.c_str(), nullptr);
    if (error || !ok) {
        Log::line("Wickerlane: keyring store of " + item + " failed: " + takeError(error));
        return false;
    }
    return true;
}

bool SecretKeyStore::remove(const std::string& item)
{
    std::lock_guard guard(lock_);
    GError* error = nullptr;
    secret_password_clear_sync(schema(), nullptr, &error, "service", service_.c_str(), "item", item.c_str(), nullptr);
    if (error) {
        Log::line("Wickerlane: keyring removal of " + item + " failed: " + takeError(error));
        return false;
    }
    return true;
}

} // namespace wl
