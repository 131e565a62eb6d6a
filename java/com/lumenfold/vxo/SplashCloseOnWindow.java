package com.lumenfold.vxo;

import java.awt.AWTEvent;
import java.awt.event.AWTEventListener;
import java.awt.event.WindowEvent;

/**
 * Closes the splash screen when the application's first window opens. The launcher registers it
 * as an AWT event listener for {@code splashcloseonwindow true}; it works on Windows and Linux.
 */
public class SplashCloseOnWindow implements AWTEventListener {
    /** A listener to add with {@code Toolkit.addAWTEventListener(..., AWTEvent.WINDOW_EVENT_MASK)}. */
    public SplashCloseOnWindow() {
    }

    /**
     * Closes the splash screen on the first {@code WINDOW_OPENED} event; ignores every other.
     *
     * @param e the event
     */
    public void eventDispatched(AWTEvent e) {
        if (e.getID() != WindowEvent.WINDOW_OPENED) return;
        SplashScreen s = SplashScreen.getSplashScreen();
        if (s != null) s.close();
    }
}
