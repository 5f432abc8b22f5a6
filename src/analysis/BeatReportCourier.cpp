#include "BeatReportCourier.h"

#include <pthread.h>

#include <deque>
#include <mutex>
#include <new>
#include <utility>

#include "DebugLog.h"
#include "JavaVM.h"

namespace beat_courier {
namespace {

struct Item {
    const void* source;
    BeatReport report;
};

struct Courier {
    std::mutex lock;
    std::deque<Item> queue;  // under lock
    bool threadActive = false;  // under lock: a courier thread runs and will look at the queue again
};

// Never freed: a courier thread may outlive every static of the process at exit.
Courier* courier() {
    static Courier* const instance = new (std::nothrow) Courier();
    return instance;
}

// One list to PlayerNative.updateBeatList(deck, finished, ArrayList of BeatEvent, percent). Every
// JNI call may leave an exception; it is cleared before the next one. Local references are freed
// as the loop goes: a long track has thousands of beats.
void deliver(JNIEnv* env, const BeatReport& report) {
    jclass playerClass = findClassOrClear(env, "model/PlayerNative");
    jmethodID update = getStaticMethodOrClear(env, playerClass, "updateBeatList", "(IZLjava/util/ArrayList;D)I");
    jclass listClass = findClassOrClear(env, "java/util/ArrayList");
    jmethodID listInit = getMethodOrClear(env, listClass, "<init>", "()V");
    jmethodID listAdd = getMethodOrClear(env, listClass, "add", "(Ljava/lang/Object;)Z");
    jobject list = (listClass && listInit) ? env->NewObject(listClass, listInit) : nullptr;
    if (!list && env->ExceptionCheck()) env->ExceptionClear();
    jclass beatClass = findClassOrClear(env, "com/tarvenkolm/model/pn/BeatEvent");
    jmethodID beatInit = getMethodOrClear(env, beatClass, "<init>", "()V");
    jmethodID setKeyDown = getMethodOrClear(env, beatClass, "setKeyDown", "(D)V");
    jmethodID setFirstBeat = getMethodOrClear(env, beatClass, "setFirstBeat", "(Z)V");

    if (list && listAdd && beatClass && beatInit) {
        for (size_t i = 0; i < report.times.size(); ++i) {
            jobject beat = env->NewObject(beatClass, beatInit);
            if (!beat) {
                if (env->ExceptionCheck()) env->ExceptionClear();
                continue;
            }
            if (setKeyDown) {
                env->CallVoidMethod(beat, setKeyDown, static_cast<jdouble>(report.times[i]));
                if (env->ExceptionCheck()) env->ExceptionClear();
            }
            if (setFirstBeat) {
                env->CallVoidMethod(beat, setFirstBeat, static_cast<jboolean>(report.firstBeat[i] ? JNI_TRUE : JNI_FALSE));
                if (env->ExceptionCheck()) env->ExceptionClear();
            }
            env->CallBooleanMethod(list, listAdd, beat);
            if (env->ExceptionCheck()) env->ExceptionClear();
            env->DeleteLocalRef(beat);
        }
    }
    if (playerClass && update) {
        debugMsg("java CallStaticIntMethod percent:%f player:%d beats:%p\n", report.percent, report.deck,
                 static_cast<void*>(list));
        env->CallStaticIntMethod(playerClass, update, static_cast<jint>(report.deck),
                                 static_cast<jboolean>(report.finished ? JNI_TRUE : JNI_FALSE), list,
                                 static_cast<jdouble>(report.percent));
        if (env->ExceptionCheck()) env->ExceptionClear();
    }
    if (beatClass) env->DeleteLocalRef(beatClass);
    if (list) env->DeleteLocalRef(list);
    if (listClass) env->DeleteLocalRef(listClass);
    if (playerClass) env->DeleteLocalRef(playerClass);
}

// The courier thread: delivers until the queue is empty, then detaches from the VM and ends.
void* run(void*) {
    Courier& c = *courier();
    JNIEnv* env = acquire_jenv();
    for (;;) {
        Item item;
        {
            const std::lock_guard<std::mutex> hold(c.lock);
            if (c.queue.empty()) {
                c.threadActive = false;
                break;
            }
            item.source = c.queue.front().source;
            item.report = std::move(c.queue.front().report);
            c.queue.pop_front();
        }
        if (env) deliver(env, item.report);
    }
    release_jenv();
    return nullptr;
}

}  // namespace

bool post(const void* source, const BeatReport& report) {
    Courier* c = courier();
    if (!c || !jvm.load(std::memory_order_acquire)) return false;
    try {
        Item item{source, report};
        const std::lock_guard<std::mutex> hold(c->lock);
        if (!c->threadActive) {
            pthread_t thread;
            if (pthread_create(&thread, nullptr, &run, nullptr) != 0) {
                debugMsg("BeatTracker: no thread to deliver the beat list\n");
                return false;
            }
            // Nobody ever joins a courier thread.
            pthread_detach(thread);
            c->threadActive = true;
        }
        c->queue.push_back(std::move(item));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void withdraw(const void* source) {
    Courier* c = courier();
    if (!c) return;
    const std::lock_guard<std::mutex> hold(c->lock);
    for (auto it = c->queue.begin(); it != c->queue.end();) {
        it = it->source == source ? c->queue.erase(it) : it + 1;
    }
}

}  // namespace beat_courier
