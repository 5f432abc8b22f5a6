// Plug-ins: shared objects loaded with dlopen from the plug-in path. A codec plug-in exports
// PW_CODEC_PLUGIN_ENTRY (codec_plugin.h); the sound half asks for the loaded codecs through
// pw::systemCodecs.
//
// unloadPlugin hides a plug-in at once but keeps its library mapped until the system is released:
// a sound opened through the codec may still be running its code.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cstring>
#include <new>
#include <string>

#include "system_impl.hpp"

using pw::mix::LoadedPlugin;
using pw::mix::SystemImpl;

namespace pw::mix {

void closePlugin(LoadedPlugin& plugin) {
    if (plugin.library) dlclose(plugin.library);
    plugin.library = nullptr;
    plugin.codec = nullptr;
}

}  // namespace pw::mix

namespace {

// pluginLock held.
LoadedPlugin* findPlugin(SystemImpl* s, unsigned handle) {
    for (auto& plugin : s->plugins)
        if (plugin.handle == handle && !plugin.unloaded) return &plugin;
    return nullptr;
}

}  // namespace

FMOD_RESULT FMOD::System::setPluginPath(const char* path) {
    if (!path) return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(this);
    return pw::guarded([&] {
        std::lock_guard<std::mutex> lock(s->configLock);
        s->config.pluginPath = path;
        return FMOD_OK;
    });
}

namespace {

// The file a plug-in name stands for: relative names under the plug-in path, and always with a
// slash (dlopen searches the library path for names without one; ours are files). Throws
// bad_alloc.
std::string pluginFile(SystemImpl* s, const char* filename) {
    std::string path = filename;
    {
        std::lock_guard<std::mutex> lock(s->configLock);
        if (filename[0] != '/' && !s->config.pluginPath.empty()) path = s->config.pluginPath + "/" + filename;
    }
    if (path.find('/') == std::string::npos) path = "./" + path;
    return path;
}

}  // namespace

FMOD_RESULT FMOD::System::loadPlugin(const char* filename, unsigned int* handle, unsigned int) {
    if (!filename || !*filename) return FMOD_ERR_INVALID_PARAM;
    auto* s = SystemImpl::cast(this);
    std::string path;
    try {
        path = pluginFile(s, filename);
    } catch (const std::bad_alloc&) {
        return FMOD_ERR_MEMORY;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return FMOD_ERR_FILE_NOTFOUND;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) return FMOD_ERR_PLUGIN;
    auto entry = reinterpret_cast<PWCodecPluginDescriptionFn>(dlsym(library, PW_CODEC_PLUGIN_ENTRY));
    const PWCodecDescription* codec = entry ? entry() : nullptr;
    if (!codec || !codec->open || !codec->read || !codec->close) {
        dlclose(library);
        return FMOD_ERR_PLUGIN;
    }
    std::lock_guard<std::mutex> lock(s->pluginLock);
    LoadedPlugin plugin;
    plugin.handle = s->nextPluginHandle;
    plugin.library = library;
    plugin.codec = codec;
    try {
        s->plugins.push_back(plugin);
    } catch (const std::bad_alloc&) {
        dlclose(library);
        return FMOD_ERR_MEMORY;
    }
    ++s->nextPluginHandle;
    if (handle) *handle = plugin.handle;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::unloadPlugin(unsigned int handle) {
    auto* s = SystemImpl::cast(this);
    std::lock_guard<std::mutex> lock(s->pluginLock);
    LoadedPlugin* plugin = findPlugin(s, handle);
    if (!plugin) return FMOD_ERR_INVALID_PARAM;
    plugin->unloaded = true;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::getPluginInfo(unsigned int handle, FMOD_PLUGINTYPE* plugintype, char* name, int namelen,
                                        unsigned int* version) {
    auto* s = SystemImpl::cast(this);
    if (name && namelen <= 0) return FMOD_ERR_INVALID_PARAM;
    std::lock_guard<std::mutex> lock(s->pluginLock);
    LoadedPlugin* plugin = findPlugin(s, handle);
    if (!plugin) return FMOD_ERR_INVALID_PARAM;
    if (plugintype) *plugintype = FMOD_PLUGINTYPE_CODEC;
    pw::copyName(plugin->codec->name ? plugin->codec->name : "", name, namelen);
    if (version) *version = plugin->codec->version;
    return FMOD_OK;
}

FMOD_RESULT FMOD::System::createDSPByPlugin(unsigned int handle, DSP** dsp) {
    auto* s = SystemImpl::cast(this);
    if (dsp) *dsp = nullptr;
    std::lock_guard<std::mutex> lock(s->pluginLock);
    if (!findPlugin(s, handle)) return FMOD_ERR_INVALID_PARAM;
    return FMOD_ERR_UNSUPPORTED;  // every plug-in we load is a codec
}

namespace pw {

std::vector<const PWCodecDescription*> systemCodecs(FMOD::System* system) {
    std::vector<const PWCodecDescription*> codecs;
    if (!system) return codecs;
    auto* s = SystemImpl::cast(system);
    std::lock_guard<std::mutex> lock(s->pluginLock);
    for (const auto& plugin : s->plugins)
        if (!plugin.unloaded && plugin.codec) codecs.push_back(plugin.codec);
    return codecs;
}

}  // namespace pw
