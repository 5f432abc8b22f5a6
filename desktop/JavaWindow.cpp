#include "JavaWindow.h"

#include <dlfcn.h>
#include <jawt.h>
#include <jawt_md.h>

#include <string>

namespace desktop {

namespace {

using GetAwtFunction = jboolean(JNICALL*)(JNIEnv*, JAWT*);

bool clearedException(JNIEnv* env) {
    if (!env->ExceptionCheck()) return false;
    env->ExceptionClear();
    return true;
}

// Deletes a local reference when it goes out of scope.
class Local {
public:
    Local(JNIEnv* env, jobject object) : m_env(env), m_object(object) {}
    ~Local() {
        if (m_object) m_env->DeleteLocalRef(m_object);
    }
    jobject get() const { return m_object; }
    Local(const Local&) = delete;
    Local& operator=(const Local&) = delete;

private:
    JNIEnv* m_env;
    jobject m_object;
};

bool isHeadless(JNIEnv* env) {
    Local environment(env, env->FindClass("java/awt/GraphicsEnvironment"));
    if (!environment.get()) {
        clearedException(env);
        return true;  // no desktop module: nothing to show windows with
    }
    const auto cls = static_cast<jclass>(environment.get());
    jmethodID isHeadlessMethod = env->GetStaticMethodID(cls, "isHeadless", "()Z");
    if (!isHeadlessMethod) {
        clearedException(env);
        return true;
    }
    const jboolean headless = env->CallStaticBooleanMethod(cls, isHeadlessMethod);
    return clearedException(env) || headless;
}

bool callBoolean(JNIEnv* env, jobject object, jmethodID method) {
    const jboolean value = env->CallBooleanMethod(object, method);
    return !clearedException(env) && value;
}

// A new local reference to the active frame, else to the first showing one; null for none.
jobject findMainFrame(JNIEnv* env) {
    Local frameClass(env, env->FindClass("java/awt/Frame"));
    if (!frameClass.get()) {
        clearedException(env);
        return nullptr;
    }
    const auto cls = static_cast<jclass>(frameClass.get());
    jmethodID getFrames = env->GetStaticMethodID(cls, "getFrames", "()[Ljava/awt/Frame;");
    jmethodID isActive = env->GetMethodID(cls, "isActive", "()Z");
    jmethodID isShowing = env->GetMethodID(cls, "isShowing", "()Z");
    if (!getFrames || !isActive || !isShowing) {
        clearedException(env);
        return nullptr;
    }
    Local frames(env, env->CallStaticObjectMethod(cls, getFrames));
    if (clearedException(env) || !frames.get()) return nullptr;
    const auto array = static_cast<jobjectArray>(frames.get());
    const jsize count = env->GetArrayLength(array);
    jobject firstShowing = nullptr;
    for (jsize i = 0; i < count; ++i) {
        jobject frame = env->GetObjectArrayElement(array, i);
        if (clearedException(env) || !frame) continue;
        if (callBoolean(env, frame, isShowing)) {
            if (callBoolean(env, frame, isActive)) {
                if (firstShowing) env->DeleteLocalRef(firstShowing);
                return frame;
            }
            if (!firstShowing) {
                firstShowing = frame;
                continue;
            }
        }
        env->DeleteLocalRef(frame);
    }
    return firstShowing;
}

std::string javaHome(JNIEnv* env) {
    std::string home;
    Local system(env, env->FindClass("java/lang/System"));
    if (!system.get()) {
        clearedException(env);
        return home;
    }
    const auto cls = static_cast<jclass>(system.get());
    jmethodID getProperty =
        env->GetStaticMethodID(cls, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
    if (!getProperty) {
        clearedException(env);
        return home;
    }
    Local key(env, env->NewStringUTF("java.home"));
    if (!key.get()) {
        clearedException(env);
        return home;
    }
    Local value(env, env->CallStaticObjectMethod(cls, getProperty, key.get()));
    if (clearedException(env) || !value.get()) return home;
    const auto text = static_cast<jstring>(value.get());
    const char* chars = env->GetStringUTFChars(text, nullptr);
    if (!chars) {
        clearedException(env);
        return home;
    }
    home = chars;
    env->ReleaseStringUTFChars(text, chars);
    return home;
}

// JAWT_GetAWT of the running JVM's own libjawt, looked up once. The JVM's library stays loaded
// for the life of the process, so the handle is never closed.
GetAwtFunction getAwtFunction(JNIEnv* env) {
    static GetAwtFunction function = nullptr;
    static bool tried = false;
    if (tried) return function;
    const std::string home = javaHome(env);
    if (home.empty()) return nullptr;  // try again on the next call
    tried = true;
    void* library = dlopen((home + "/lib/libjawt.so").c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (library) function = reinterpret_cast<GetAwtFunction>(dlsym(library, "JAWT_GetAWT"));
    return function;
}

unsigned long drawableOf(JNIEnv* env, GetAwtFunction getAwt, jobject frame) {
    JAWT awt{};
    awt.version = JAWT_VERSION_9;
    if (!getAwt(env, &awt)) {
        clearedException(env);
        return 0;
    }
    JAWT_DrawingSurface* surface = awt.GetDrawingSurface(env, frame);
    if (!surface) {
        clearedException(env);
        return 0;
    }
    unsigned long drawable = 0;
    const jint lock = surface->Lock(surface);
    if (!(lock & JAWT_LOCK_ERROR)) {
        JAWT_DrawingSurfaceInfo* info = surface->GetDrawingSurfaceInfo(surface);
        if (info) {
            const auto* x11 = static_cast<const JAWT_X11DrawingSurfaceInfo*>(info->platformInfo);
            if (x11) drawable = x11->drawable;
            surface->FreeDrawingSurfaceInfo(info);
        }
        surface->Unlock(surface);
    }
    awt.FreeDrawingSurface(surface);
    clearedException(env);
    return drawable;
}

// frame.getGraphicsConfiguration().getDefaultTransform().getScaleX(); 1 when any step fails.
double scaleOf(JNIEnv* env, jobject frame) {
    Local component(env, env->FindClass("java/awt/Component"));
    Local configurationClass(env, env->FindClass("java/awt/GraphicsConfiguration"));
    Local transformClass(env, env->FindClass("java/awt/geom/AffineTransform"));
    if (!component.get() || !configurationClass.get() || !transformClass.get()) {
        clearedException(env);
        return 1.0;
    }
    jmethodID getConfiguration = env->GetMethodID(static_cast<jclass>(component.get()),
                                                  "getGraphicsConfiguration",
                                                  "()Ljava/awt/GraphicsConfiguration;");
    jmethodID getTransform = env->GetMethodID(static_cast<jclass>(configurationClass.get()),
                                              "getDefaultTransform", "()Ljava/awt/geom/AffineTransform;");
    jmethodID getScaleX = env->GetMethodID(static_cast<jclass>(transformClass.get()), "getScaleX", "()D");
    if (!getConfiguration || !getTransform || !getScaleX) {
        clearedException(env);
        return 1.0;
    }
    Local configuration(env, env->CallObjectMethod(frame, getConfiguration));
    if (clearedException(env) || !configuration.get()) return 1.0;
    Local transform(env, env->CallObjectMethod(configuration.get(), getTransform));
    if (clearedException(env) || !transform.get()) return 1.0;
    const jdouble scale = env->CallDoubleMethod(transform.get(), getScaleX);
    if (clearedException(env) || !(scale > 0.0)) return 1.0;
    return scale;
}

}  // namespace

MainWindow mainWindow(JNIEnv* env) {
    MainWindow window;
    if (!env || isHeadless(env)) return window;
    Local frame(env, findMainFrame(env));
    if (!frame.get()) return window;
    GetAwtFunction getAwt = getAwtFunction(env);
    if (!getAwt) return window;
    window.drawable = drawableOf(env, getAwt, frame.get());
    window.scale = scaleOf(env, frame.get());
    return window;
}

}  // namespace desktop
