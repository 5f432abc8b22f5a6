#include "default_handlers.hpp"

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <cstring>
#include <memory>

namespace pw::desktop {

namespace {

constexpr const char kDesktopSuffix[] = ".desktop";
constexpr std::size_t kDesktopSuffixLength = sizeof kDesktopSuffix - 1;

struct GFreeDeleter {
    void operator()(gchar* p) const { g_free(p); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

struct UnrefDeleter {
    void operator()(gpointer object) const { g_object_unref(object); }
};

bool endsWithDesktop(const std::string& id) {
    return id.size() >= kDesktopSuffixLength &&
           id.compare(id.size() - kDesktopSuffixLength, kDesktopSuffixLength, kDesktopSuffix) == 0;
}

std::string desktopIdFor(const std::string& applicationId) {
    return endsWithDesktop(applicationId) ? applicationId : applicationId + kDesktopSuffix;
}

std::string withoutDesktop(const std::string& id) {
    return endsWithDesktop(id) ? id.substr(0, id.size() - kDesktopSuffixLength) : id;
}

// The id of an application GIO made, or nullopt for one that has none (made from a command line).
std::optional<std::string> applicationId(GAppInfo* app) {
    const char* id = g_app_info_get_id(app);
    if (!id) return std::nullopt;
    return withoutDesktop(id);
}

bool isSchemeCharacter(char c, bool first) {
    if (g_ascii_isalpha(c)) return true;
    return !first && (g_ascii_isdigit(c) || c == '+' || c == '-' || c == '.');
}

}  // namespace

std::optional<std::string> contentTypeForExtension(const std::string& extension) {
    // A slash would make the guess read a different file name; a zero byte would cut it short.
    if (extension.empty() || extension.find_first_of(std::string("/\0", 2)) != std::string::npos)
        return std::nullopt;
    const std::string name = "file." + extension;
    gboolean uncertain = FALSE;
    GText type(g_content_type_guess(name.c_str(), nullptr, 0, &uncertain));
    if (!type || g_content_type_is_unknown(type.get())) return std::nullopt;
    return std::string(type.get());
}

std::optional<std::string> contentTypeForScheme(const std::string& scheme) {
    if (scheme.empty()) return std::nullopt;
    std::string lower;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (!isSchemeCharacter(scheme[i], i == 0)) return std::nullopt;
        lower += g_ascii_tolower(scheme[i]);
    }
    return "x-scheme-handler/" + lower;
}

int setDefaultHandler(const std::string& contentType, const std::string& applicationId) {
    if (applicationId.empty()) return kHandlerNoApplication;
    const std::string id = desktopIdFor(applicationId);
    std::unique_ptr<GDesktopAppInfo, UnrefDeleter> app(g_desktop_app_info_new(id.c_str()));
    if (!app) return kHandlerNoApplication;
    GError* error = nullptr;
    if (!g_app_info_set_as_default_for_type(G_APP_INFO(app.get()), contentType.c_str(), &error)) {
        g_clear_error(&error);
        return kHandlerRefused;
    }
    return kHandlerOk;
}

std::optional<std::string> defaultHandler(const std::string& contentType) {
    std::unique_ptr<GAppInfo, UnrefDeleter> app(g_app_info_get_default_for_type(contentType.c_str(), FALSE));
    if (!app) return std::nullopt;
    return applicationId(app.get());
}

std::vector<std::string> allHandlers(const std::string& contentType) {
    std::vector<std::string> ids;
    GList* apps = g_app_info_get_all_for_type(contentType.c_str());
    for (GList* node = apps; node; node = node->next) {
        if (auto id = applicationId(G_APP_INFO(node->data))) ids.push_back(*id);
    }
    g_list_free_full(apps, g_object_unref);
    return ids;
}

bool sameApplication(const std::string& a, const std::string& b) {
    const std::string left = withoutDesktop(a);
    const std::string right = withoutDesktop(b);
    if (!g_utf8_validate(left.data(), static_cast<gssize>(left.size()), nullptr) ||
        !g_utf8_validate(right.data(), static_cast<gssize>(right.size()), nullptr))
        return left == right;
    GText foldedLeft(g_utf8_casefold(left.data(), static_cast<gssize>(left.size())));
    GText foldedRight(g_utf8_casefold(right.data(), static_cast<gssize>(right.size())));
    return std::strcmp(foldedLeft.get(), foldedRight.get()) == 0;
}

}  // namespace pw::desktop
