package com.tarvenkolm.sablethorn;

/** Desktop services of libSablethorn: menu bar, system UI mode, the main window, file manager, user name. */
public class Sablethorn {
    public static native void RevealInFinder(String path);

    public static native String GetCurrentFullUserName();

    public static native boolean isDockHidden();

    public static native int HideDock(boolean hide);

    public static native void SetSystemUIMode(int mode, int options);

    public static native void ShowFullscreen(boolean on);

    public static native void SetFrameBoundsAnimated(int x, int y, int width, int height);

    public static native void SetFrameSizeAnimated(int width, int height, boolean keepTop);

    public static native void ParseXML();

    public static native void CreateGUID();
}
