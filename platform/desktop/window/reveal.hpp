// Showing a file or folder in the desktop's file manager: the org.freedesktop.FileManager1
// service on the session bus (a folder is opened, a file is shown selected in its folder), or,
// when no file manager answers there, the folder opened with its default handler.
//
// Thread safety: any thread; blocks for a second at most, whatever the file manager does: until
// it has answered the call, or has left the bus without answering (the bus says so; the folder is
// then opened with its default handler), or the wait for its answer has run out (the call then
// counts as made), or until the handler's process has been started.
#pragma once

namespace desktop {

enum class RevealRoute {
    FileManager,     // the FileManager1 service took the call, or has it and has not answered yet
    DefaultHandler,  // the folder's default handler was started
    Nothing,         // no such file, or neither way worked
};

// `path` is UTF-8, absolute or relative to the working directory.
RevealRoute revealInFileManager(const char* path);

}  // namespace desktop
