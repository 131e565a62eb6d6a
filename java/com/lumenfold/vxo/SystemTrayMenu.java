package com.lumenfold.vxo;

import java.util.HashSet;

/** A popup menu for a tray icon; submenus are kept here so they live as long as the menu. */
public class SystemTrayMenu {
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

    /** The launcher's handle for the menu. */
    protected long h;
    protected HashSet<SystemTrayMenu> popups;

    public SystemTrayMenu() {
        h = 0;
        popups = new HashSet<SystemTrayMenu>();
        init();
    }

    public native void Append(String text, int command);

    public native void Append(String text, SystemTrayMenu submenu);

    public native void AppendSeparator();

    public native void Popup();

    public HashSet<SystemTrayMenu> getSubmenu() {
        return popups;
    }

    protected native void init();

    protected native void finalize();
}
