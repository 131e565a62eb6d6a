package com.lumenfold.vxo;

import java.io.File;

/**
 * An icon in the notification area, with an optional tooltip and balloon message. The pictures
 * are icon groups of the program file ({@code vexilo-pack --tray-icon ID=FILE}).
 *
 * <p>On Linux there is no notification area: the calls are accepted and remembered, nothing is
 * shown, and no mouse event arrives.
 */
public class SystemTray {
    static {
        // The natives are the launcher's own. Windows binds them to the program file's exports;
        // elsewhere an executable cannot be loaded as a library, and the program serves them as
        // the library "vxo" linked into it, which the runtime finds without opening any file.
        try {
            String path = System.getProperty("vxo.app.path");
            if (path != null && File.separatorChar == '\\') System.load(path);
            else if (path != null) System.loadLibrary("vxo");
        } catch (UnsatisfiedLinkError e) {
        } catch (SecurityException e) {
        }
    }

    /** Balloon without an icon. */
    public static final int INFOTYPE_NONE = 0;
    /** Balloon with the information icon. */
    public static final int INFOTYPE_INFO = 1;
    /** Balloon with the warning icon. */
    public static final int INFOTYPE_WARNING = 2;
    /** Balloon with the error icon. */
    public static final int INFOTYPE_ERROR = 3;

    // Window message numbers of the mouse events, as OnMouseClick reports them.
    /** The mouse moved over the icon (Windows message 0x200). */
    public static final int MOUSE_MOVE = 512;
    /** The left button was released over the icon (0x202). */
    public static final int LEFT_CLICK = 514;
    /** The left button was double-clicked (0x203). */
    public static final int LEFT_DOUBLE_CLICK = 515;
    /** The right button was released over the icon (0x205): the usual moment for a menu. */
    public static final int RIGHT_CLICK = 517;
    /** The right button was double-clicked (0x206). */
    public static final int RIGHT_DOUBLE_CLICK = 518;
    /** The middle button was released over the icon (0x208). */
    public static final int MIDDLE_CLICK = 520;
    /** The middle button was double-clicked (0x209). */
    public static final int MIDDLE_DOUBLE_CLICK = 521;

    /** The launcher's handle for the icon; set by the launcher, 0 once the icon is freed. */
    protected long h;

    /**
     * An icon, hidden until {@link #Show()}.
     *
     * @param iconId an icon group in the program file's resources (vexilo-pack --tray-icon ID=FILE)
     * @param tip the tooltip, at most 63 bytes are shown
     */
    public SystemTray(int iconId, String tip) {
        h = 0;
        init(iconId, tip, null, null, 0);
    }

    /**
     * An icon with a balloon message, hidden until {@link #Show()}.
     *
     * @param iconId an icon group in the program file's resources
     * @param tip the tooltip, at most 63 bytes are shown
     * @param balloonText the balloon's text, at most 255 bytes
     * @param balloonTitle the balloon's title, at most 63 bytes
     * @param balloonType one of the INFOTYPE_ constants
     */
    public SystemTray(int iconId, String tip, String balloonText, String balloonTitle, int balloonType) {
        h = 0;
        init(iconId, tip, balloonText, balloonTitle, balloonType);
    }

    /**
     * Changes the picture and the tooltip; the balloon stays as it is.
     *
     * @param iconId an icon group, or 0 (or below) to keep the picture
     * @param tip the new tooltip, or null to clear it
     */
    public void Change(int iconId, String tip) {
        Change(iconId, tip, null, null, -1);
    }

    /**
     * Changes the picture, the tooltip and the balloon.
     *
     * @param iconId an icon group, or 0 (or below) to keep the picture
     * @param tip the new tooltip, or null to clear it
     * @param balloonText the balloon's text, or null to keep the one shown
     * @param balloonTitle the balloon's title, or null to keep the one shown
     * @param balloonType one of the INFOTYPE_ constants, or -1 to keep it
     */
    public native void Change(int iconId, String tip, String balloonText, String balloonTitle, int balloonType);

    /** Puts the icon into the notification area. */
    public native void Show();

    /** Takes the icon out of the notification area; {@link #Show()} brings it back. */
    public native void Hide();

    /**
     * Sets the one callback of every icon and menu, called on the launcher's tray thread.
     *
     * @param callback the callback, or null for none
     */
    public static native void setSystemTrayCallback(SystemTrayCallback callback);

    /**
     * Makes the launcher's record of the icon; the constructors call it.
     *
     * @param iconId an icon group
     * @param tip the tooltip
     * @param balloonText the balloon's text, or null
     * @param balloonTitle the balloon's title, or null
     * @param balloonType one of the INFOTYPE_ constants
     */
    protected native void init(int iconId, String tip, String balloonText, String balloonTitle, int balloonType);

    /** Removes the icon and frees the launcher's record; later calls on this object do nothing. */
    protected native void finalize();
}
