package com.lumenfold.vxo;

import java.io.File;
import java.util.HashSet;

/** A popup menu for a tray icon; submenus are kept here so they live as long as the menu. */
public class SystemTrayMenu {
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
