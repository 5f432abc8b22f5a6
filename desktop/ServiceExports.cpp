// The desktop-service exports of Sablethorn: revealing files, the user's name, the menu bar and
// the system UI mode, and the changelog address. None raises a Java exception; a null path is
// ignored.
//
// Thread safety: any Java thread. RevealInFinder blocks until the file manager answers or the
// default handler has been started, a second at most; the rest return at once.
#include <cstdio>
#include <string>

#include "JavaStrings.h"
#include "com_tarvenkolm_sablethorn_Sablethorn.h"
#include "reveal.hpp"
#include "system_ui.hpp"
#include "user_name.hpp"

namespace {

// The changelog feed of the application. The address is only formed: nothing is fetched.
constexpr const char* kChangelogHost = "changelog.tarvenkolm.com";

std::string changelogFeedAddress() {
    return std::string("http://") + kChangelogHost +
           "/changelog_page_xml.php?project_id=9&language=en&username=appcast&password=wemblorf5163";
}

}  // namespace

JNIEXPORT void JNICALL Java_com_tarvenkolm_sablethorn_Sablethorn_RevealInFinder(JNIEnv* env, jclass,
                                                                                jstring path) {
    if (!path) return;
    JavaUtf8String text(env, path);
    if (text.ok()) desktop::revealInFileManager(text.get());
}

JNIEXPORT jstring JNICALL Java_com_tarvenkolm_sablethorn_Sablethorn_GetCurrentFullUserName(JNIEnv* env,
                                                                                          jclass) {
    // The database's bytes need not be UTF-8: newJavaString never hands invalid text to the JVM.
    return newJavaString(env, desktop::currentUserFullName().c_str());
}

JNIEXPORT jboolean JNICALL Java_com_tarvenkolm_sablethorn_Sablethorn_isDockHidden(JNIEnv*, jclass) {
    return desktop::menuBarVisible() ? JNI_FALSE : JNI_TRUE;
}

JNIEXPORT jint JNICALL Java_com_tarvenkolm_sablethorn_Sablethorn_HideDock(JNIEnv*, jclass, jboolean hide) {
    desktop::setMenuBarHidden(hide != JNI_FALSE);
    return 0;
}

JNIEXPORT void JNICALL Java_com_tarvenkolm_sablethorn_Sablethorn_SetSystemUIMode(JNIEnv*, jclass,
                                                                                 jint mode, jint options) {
    desktop::setSystemUiMode({static_cast<std::uint32_t>(mode), static_cast<std::uint32_t>(options)});
}

JNIEXPORT void JNICALL Java_com_tarvenkolm_sablethorn_Sablethorn_ParseXML(JNIEnv*, jclass) {
    const std::string address = changelogFeedAddress();
    (void)address;
    std::fputs("URL", stdout);
    std::fflush(stdout);
}

JNIEXPORT void JNICALL Java_com_tarvenkolm_sablethorn_Sablethorn_CreateGUID(JNIEnv*, jclass) {}
