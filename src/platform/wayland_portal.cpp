// The snapshot through the desktop portal, for Wayland compositors without
// the wlroots screen-copy protocol (GNOME, KDE). The portal answers on the
// session bus with a PNG file, decoded here with SFML.

#include "platform/wayland_capture.hpp"

#include <SFML/Graphics/Image.hpp>

#include <gio/gio.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace platform
{
namespace
{

// How long the portal may take: GNOME's first call waits for the user to allow it.
constexpr int responseTimeoutSeconds = 60;

struct PortalAnswer
{
    bool arrived = false;
    bool timedOut = false;
    guint32 response = 2;
    std::string uri;
};

void onResponse(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                gpointer data)
{
    PortalAnswer* answer = static_cast<PortalAnswer*>(data);
    GVariant* results = nullptr;
    g_variant_get(parameters, "(u@a{sv})", &answer->response, &results);
    const gchar* uri = nullptr;
    if (results != nullptr && g_variant_lookup(results, "uri", "&s", &uri))
        answer->uri = uri;
    if (results != nullptr)
        g_variant_unref(results);
    answer->arrived = true;
}

gboolean onTimeout(gpointer data)
{
    PortalAnswer* answer = static_cast<PortalAnswer*>(data);
    answer->arrived = true;
    answer->timedOut = true;
    return G_SOURCE_REMOVE;
}

} // namespace

ScreenPixels grabWithPortal(int width, int height)
{
    ScreenPixels pixels{width, height, {}, {}};
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr)
    {
        pixels.problem = std::string("nessun bus di sessione per il portale: ") + error->message;
        g_error_free(error);
        return pixels;
    }

    // The portal answers on a request object whose path it derives from our
    // bus name and a token of ours; listen there before asking.
    std::string sender = g_dbus_connection_get_unique_name(bus) + 1;
    for (char& c : sender)
        if (c == '.')
            c = '_';
    const std::string token = "quorvel" + std::to_string(getpid());
    const std::string requestPath = "/org/freedesktop/portal/desktop/request/" + sender + "/" + token;
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    PortalAnswer answer;
    const guint subscription =
        g_dbus_connection_signal_subscribe(bus, "org.freedesktop.portal.Desktop", "org.freedesktop.portal.Request",
                                           "Response", requestPath.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                           onResponse, &answer, nullptr);

    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "interactive", g_variant_new_boolean(FALSE));
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Screenshot",
        "Screenshot", g_variant_new("(sa{sv})", "", &options), G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, 10000,
        nullptr, &error);
    if (reply == nullptr)
    {
        pixels.problem = std::string("il portale degli screenshot non risponde: ") + error->message;
        g_error_free(error);
    }
    else
    {
        g_variant_unref(reply);
        GSource* timeout = g_timeout_source_new_seconds(responseTimeoutSeconds);
        g_source_set_callback(timeout, onTimeout, &answer, nullptr);
        g_source_attach(timeout, context);
        while (!answer.arrived)
            g_main_context_iteration(context, TRUE);
        g_source_destroy(timeout);
        g_source_unref(timeout);

        gchar* path = answer.uri.empty() ? nullptr : g_filename_from_uri(answer.uri.c_str(), nullptr, nullptr);
        sf::Image image;
        if (answer.timedOut)
            pixels.problem = "il portale degli screenshot non ha risposto in tempo";
        else if (answer.response == 1)
            pixels.problem = "lo screenshot non è stato permesso";
        else if (answer.response != 0)
            pixels.problem = "il portale non ha potuto fare lo screenshot";
        else if (path == nullptr || !image.loadFromFile(path) || image.getSize().x == 0)
            pixels.problem = "il portale ha dato un'immagine illeggibile";
        else
            pixels.bgrx = scaledToBgrx({image.getPixelsPtr(), static_cast<int>(image.getSize().x),
                                        static_cast<int>(image.getSize().y),
                                        static_cast<std::size_t>(image.getSize().x) * 4, true, false},
                                       width, height);
        g_free(path);
    }

    g_dbus_connection_signal_unsubscribe(bus, subscription);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    g_object_unref(bus);
    return pixels;
}

ScreenPixels grabWaylandOutput(int x, int y, int width, int height)
{
    const char* chosen = std::getenv("QUORVEL_SNAPSHOT");
    const std::string path = chosen != nullptr ? chosen : "";
    if (path == "portal")
        return grabWithPortal(width, height);
    ScreenPixels pixels = grabWithScreenCopy(x, y, width, height);
    if (pixels.problem.empty() || path == "screencopy")
        return pixels;
    ScreenPixels fromPortal = grabWithPortal(width, height);
    if (!fromPortal.problem.empty())
        fromPortal.problem = pixels.problem + "; " + fromPortal.problem;
    return fromPortal;
}

} // namespace platform
