package com.tarvenkolm.macfilechooser;

/**
 * Native open and save panels and the default applications of file types and URL schemes, served
 * by libGravenlisk. Applications are named by their desktop-file id without ".desktop".
 */
public final class Gravenlisk {
    private Gravenlisk() {}

    /** 0 on success; -1 for an unreadable argument, another negative status when the change fails. */
    public static native int SetDefaultFileTypeHandler(String extension, String bundleId);

    public static native int SetDefaultURLSchemeHandler(String scheme, String bundleId);

    public static native boolean IsApplicationTheDefaultFileTypeHandler(String extension, String bundleId);

    public static native boolean IsApplicationTheDefaultURLSchemeHandler(String scheme, String bundleId);

    public static native boolean IsFileTypeHandled(String extension);

    public static native boolean IsURLSchemeHandled(String scheme);

    /** The ids of every handler, or null when there is none. */
    public static native String[] GetAllHandlersForFileType(String extension);

    public static native String[] GetAllHandlersForURLScheme(String scheme);

    /** The type chosen in the last save panel's popup; "" when none. */
    public static native String GetSelectedFileType();

    /** The chosen paths, or null when the panel was cancelled. */
    public static native String[] OpenNativeFileDialog(String title, String prompt, String nameFieldLabel,
            String nameFieldStringValue, String directoryPath, String filePath, boolean canChooseFiles,
            boolean canChooseDirectories, boolean allowMultipleSelections, boolean canCreateDirectories,
            String[] fileTypes);

    /** The chosen path, or null when the panel was cancelled. */
    public static native String SaveNativeFileDialog(String title, String prompt, String nameFieldLabel,
            String nameFieldStringValue, String directoryPath, String filePath, boolean canChooseFiles,
            boolean canChooseDirectories, boolean allowMultipleSelections, boolean canCreateDirectories,
            String[] fileTypes);
}
