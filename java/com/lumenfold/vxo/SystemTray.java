package com.lumenfold.vxo;

/** An icon in the notification area, with an optional tooltip and balloon message. */
public class SystemTray {
    static {
        // Windows binds the natives to the launcher's own exports; on Linux the launcher has
        // registered them already and loading an executable fails, which is expected.
        try {
            String path = System.getProperty("vxo.app.path");
            if (path != null) System.load(path);
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

    public SystemTray(int a, String b) {
        h = 0;
        init(a, b, null, null, 0);
    }

    public SystemTray(int a, String b, String c, String d, int e) {
        h = 0;
        init(a, b, c, d, e);
    }

    public void Change(int a, String b) {
        Change(a, b, null, null, -1);
    }

    public native void Change(int a, String b, String c, String d, int e);

    public native void Show();

    public native void Hide();

    public static native void setSystemTrayCallback(SystemTrayCallback cb);

    protected native void init(int a, String b, String c, String d, int e);

    protected native void finalize();
}
