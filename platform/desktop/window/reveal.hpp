// Showing a file or folder in the desktop's file manager: the org.freedesktop.FileManager1
// service on the session bus (a folder is opened, a file is shown selected in its folder), or,
// when no file manager answers there, the folder opened with its default handler.
//
// Thread safety: any thread; blocks until the file manager has answered the call (bounded by the
// call timeout) or the handler has been started.
#pragma once

namespace desktop {

enum class RevealRoute {
    FileManager,     // the FileManager1 service took the call
    DefaultHandler,  // the folder was opened with its default handler
    Nothing,         // no such file, or neither way worked
};

// `path` is UTF-8, absolute or relative to the working directory.
RevealRoute revealInFileManager(const char* path);

}  // namespace desktop
