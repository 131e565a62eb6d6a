package com.lumenfold.vxo;

/** Receives mouse events on a tray icon and commands chosen from a tray menu. */
public interface SystemTrayCallback {
    void OnMouseClick(SystemTray tray, int event);

    void OnMenuCommand(int command);
}
