// The panel exports of Gravenlisk: open and save panels run by the panel helper
// (panel_runner.hpp), and the file type chosen in the last save panel's popup.
//
// Thread safety: any Java thread. A panel export blocks its thread until the user closes the
// panel; panels on several threads run side by side, and the chosen type is kept under a lock, so
// the last panel to close sets it.
#include <cstdio>
#include <mutex>

#include "com_tarvenkolm_macfilechooser_Gravenlisk.h"

#include "JavaArgs.h"
#include "JavaStrings.h"
#include "panel_runner.hpp"

namespace {

using namespace pw::desktop;
using gravenlisk::readText;

// The type chosen in the popup of the last save panel; unset after an open panel, a save panel
// without a popup, and at load.
std::mutex selectedTypeLock;
std::optional<std::string> selectedType;

void setSelectedType(std::optional<std::string> type) {
    std::lock_guard<std::mutex> hold(selectedTypeLock);
    selectedType = std::move(type);
}

PanelRequest requestFrom(JNIEnv* env, PanelKind kind, jstring title, jstring prompt, jstring directoryPath,
                         jboolean canChooseFiles, jboolean canChooseDirectories, jboolean allowMultipleSelections,
                         jboolean canCreateDirectories, jobjectArray fileTypes) {
    PanelRequest request;
    request.kind = kind;
    request.title = readText(env, title);
    request.fileTypes = gravenlisk::readTexts(env, fileTypes);
    request.directory = readText(env, directoryPath);
    request.canChooseFiles = canChooseFiles != JNI_FALSE;
    request.canChooseDirectories = canChooseDirectories != JNI_FALSE;
    request.allowMultipleSelections = allowMultipleSelections != JNI_FALSE;
    request.canCreateDirectories = canCreateDirectories != JNI_FALSE;
    request.prompt = readText(env, prompt);
    return request;
}

}  // namespace

// The open panel does not use the name field's label and value nor the file path.
JNIEXPORT jobjectArray JNICALL Java_com_tarvenkolm_macfilechooser_Gravenlisk_OpenNativeFileDialog(
    JNIEnv* env, jclass, jstring title, jstring prompt, jstring, jstring, jstring directoryPath, jstring,
    jboolean canChooseFiles, jboolean canChooseDirectories, jboolean allowMultipleSelections,
    jboolean canCreateDirectories, jobjectArray fileTypes) {
    const PanelRequest request = requestFrom(env, PanelKind::Open, title, prompt, directoryPath, canChooseFiles,
                                             canChooseDirectories, allowMultipleSelections, canCreateDirectories,
                                             fileTypes);
    const PanelAnswer answer = runPanel(request, panelHelperBesideThisLibrary());
    setSelectedType(std::nullopt);
    return answer.accepted ? gravenlisk::newStringArray(env, answer.paths) : nullptr;
}

JNIEXPORT jstring JNICALL Java_com_tarvenkolm_macfilechooser_Gravenlisk_SaveNativeFileDialog(
    JNIEnv* env, jclass, jstring title, jstring prompt, jstring nameFieldLabel, jstring nameFieldStringValue,
    jstring directoryPath, jstring filePath, jboolean canChooseFiles, jboolean canChooseDirectories,
    jboolean allowMultipleSelections, jboolean canCreateDirectories, jobjectArray fileTypes) {
    PanelRequest request = requestFrom(env, PanelKind::Save, title, prompt, directoryPath, canChooseFiles,
                                       canChooseDirectories, allowMultipleSelections, canCreateDirectories, fileTypes);
    request.filePath = readText(env, filePath);
    request.nameFieldLabel = readText(env, nameFieldLabel);
    request.nameFieldValue = readText(env, nameFieldStringValue);
    std::fputs("jetzt FC \xC3\xB6" "ffnen..\n", stderr);
    const PanelAnswer answer = runPanel(request, panelHelperBesideThisLibrary());
    // Cancelled or not, the popup's choice is kept.
    setSelectedType(answer.selectedType);
    return answer.accepted ? newJavaString(env, answer.paths.front().c_str()) : nullptr;
}

JNIEXPORT jstring JNICALL Java_com_tarvenkolm_macfilechooser_Gravenlisk_GetSelectedFileType(JNIEnv* env, jclass) {
    std::lock_guard<std::mutex> hold(selectedTypeLock);
    return newJavaString(env, selectedType ? selectedType->c_str() : "");
}
