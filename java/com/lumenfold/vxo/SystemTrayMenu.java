package com.lumenfold.vxo;

import java.io.File;
import java.util.HashSet;

/**
 * A popup menu for a tray icon; submenus are kept here so they live as long as the menu. On
 * Linux the menu is kept in memory and {@link #Popup()} shows nothing.
 */
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

    /** The launcher's handle for the menu; set by the launcher, 0 once the menu is freed. */
    protected long h;
    /** The submenus appended to this menu. */
    protected HashSet<SystemTrayMenu> popups;

    /** An empty menu. */
    public SystemTrayMenu() {
        h = 0;
        popups = new HashSet<SystemTrayMenu>();
        init();
    }

    /**
     * Appends an item.
     *
     * @param text the item's text
     * @param command the number {@link SystemTrayCallback#OnMenuCommand(int)} receives, 0 to 1000
     */
    public native void Append(String text, int command);

    /**
     * Appends a submenu.
     *
     * @param text the item's text
     * @param submenu the menu it opens; kept by this one
     */
    public native void Append(String text, SystemTrayMenu submenu);

    /** Appends a separator line. */
    public native void AppendSeparator();

    /** Shows the menu at the mouse pointer, usually in answer to {@link SystemTray#RIGHT_CLICK}. */
    public native void Popup();

    /**
     * The submenus of this menu.
     *
     * @return the set itself, not a copy
     */
    public HashSet<SystemTrayMenu> getSubmenu() {
        return popups;
    }

    /** Makes the launcher's record of the menu; the constructor calls it. */
    protected native void init();

    /** Frees the launcher's record; later calls on this object do nothing. */
    protected native void finalize();
}
