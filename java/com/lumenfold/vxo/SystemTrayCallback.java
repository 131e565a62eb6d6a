package com.lumenfold.vxo;

/**
 * Receives mouse events on a tray icon and commands chosen from a tray menu, on the launcher's
 * tray thread; see {@link SystemTray#setSystemTrayCallback}. Nothing arrives on Linux.
 */
public interface SystemTrayCallback {
    /**
     * A mouse event over an icon.
     *
     * @param tray the icon
     * @param event one of the mouse constants of {@link SystemTray}, such as {@link SystemTray#RIGHT_CLICK}
     */
    void OnMouseClick(SystemTray tray, int event);

    /**
     * A menu item was chosen.
     *
     * @param command the number given to {@link SystemTrayMenu#Append(String, int)}, 0 to 1000
     */
    void OnMenuCommand(int command);
}
