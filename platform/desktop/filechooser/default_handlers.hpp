// The default applications of file types and URL schemes, over GIO.
//
// A file extension stands for the content (MIME) type that the shared MIME database gives a file
// of that name; an extension the database does not know has no content type, never the generic
// "application/octet-stream". A URL scheme stands for the content type "x-scheme-handler/<scheme>".
// Applications are named by their desktop-file id without the ".desktop" suffix
// ("org.example.Player" for org.example.Player.desktop); an id that already ends in ".desktop" is
// taken as it is. Changes go to the user's mimeapps.list ($XDG_CONFIG_HOME).
//
// Thread safety: any thread; GIO serialises its own caches. GLib reads the XDG folders once per
// process, at the first call.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pw::desktop {

// Results of setDefaultHandler. The library hands them to Java as they are.
enum HandlerStatus : int {
    kHandlerOk = 0,
    kHandlerUnreadable = -1,   // an argument was null or its characters could not be read
    kHandlerNoContentType = -2,  // unknown extension, or not a URL scheme
    kHandlerNoApplication = -3,  // no desktop file with that id
    kHandlerRefused = -4,        // GIO could not record the change
};

std::optional<std::string> contentTypeForExtension(const std::string& extension);
// nullopt unless `scheme` is a URL scheme: a letter, then letters, digits, '+', '-' or '.'.
// Schemes are case-insensitive: the content type uses the lower-case form.
std::optional<std::string> contentTypeForScheme(const std::string& scheme);

int setDefaultHandler(const std::string& contentType, const std::string& applicationId);
// The id of the application GIO opens the type with, or nullopt when none handles it.
std::optional<std::string> defaultHandler(const std::string& contentType);
// Every application that handles the type, the default first; empty when none.
std::vector<std::string> allHandlers(const std::string& contentType);

// Whether two application ids name the same application, ignoring case (Unicode case folding) and
// a ".desktop" suffix on either.
bool sameApplication(const std::string& a, const std::string& b);

}  // namespace pw::desktop
