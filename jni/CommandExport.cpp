// The text command export: a command line in, the engine's text reply out (TKCommand.h).
//
// Thread safety: the command works on its own copy of the text and its own reply, so Java threads
// may send commands at once; the engine's locks order the operations they run.
#include <new>
#include <string>

#include "JavaBridge.h"
#include "TKCommand.h"
#include "model_PlayerNative.h"

extern "C" {

// A null command raises NullPointerException "(in C++ code)" and answers null, as does a text whose
// characters cannot be had. The command's characters are let go before the reply is made; a reply
// that is not valid modified UTF-8 (a driver's name) still reaches Java as a valid String.
JNIEXPORT jstring JNICALL Java_model_PlayerNative_Command(JNIEnv* env, jobject, jstring command) {
    if (!env) return nullptr;
    if (!command) {
        throwNullString(env);
        return nullptr;
    }
    try {
        std::string reply;
        {
            JavaUtf8String text(env, command);
            if (!text.ok()) return nullptr;
            reply = runCommand(text.get());
        }
        return newJavaString(env, reply.c_str());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // extern "C"
