package com.lumenfold.vxo;

import java.io.File;

/** An icon in the notification area, with an optional tooltip and balloon message. */
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

    public static final int INFOTYPE_NONE = 0;
    public static final int INFOTYPE_INFO = 1;
    public static final int INFOTYPE_WARNING = 2;
    public static final int INFOTYPE_ERROR = 3;

    // Window message numbers of the mouse events, as OnMouseClick reports them.
    public static final int MOUSE_MOVE = 512;
    public static final int LEFT_CLICK = 514;
    public static final int LEFT_DOUBLE_CLICK = 515;
    public static final int RIGHT_CLICK = 517;
    public static final int RIGHT_DOUBLE_CLICK = 518;
    public static final int MIDDLE_CLICK = 520;
    public static final int MIDDLE_DOUBLE_CLICK = 521;

    /** The launcher's handle for the icon. */
    protected long h;

    /** iconId: an icon group in the program file's resources (vexilo-pack --tray-icon ID=FILE). */
    public SystemTray(int iconId, String tip) {
        h = 0;
        init(iconId, tip, null, null, 0);
    }

    /** balloonType: one of the INFOTYPE_ constants. */
    public SystemTray(int iconId, String tip, String balloonText, String balloonTitle, int balloonType) {
        h = 0;
        init(iconId, tip, balloonText, balloonTitle, balloonType);
    }

    public void Change(int iconId, String tip) {
        Change(iconId, tip, null, null, -1);
    }

    /** iconId 0 or below keeps the picture; a null balloon text or title keeps the one shown. */
    public native void Change(int iconId, String tip, String balloonText, String balloonTitle, int balloonType);

    public native void Show();

    public native void Hide();

    public static native void setSystemTrayCallback(SystemTrayCallback callback);

    protected native void init(int iconId, String tip, String balloonText, String balloonTitle, int balloonType);

    protected native void finalize();
}
