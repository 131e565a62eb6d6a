package com.lumenfold.vxo;

import java.awt.AWTEvent;
import java.awt.event.AWTEventListener;
import java.awt.event.WindowEvent;

/** Closes the splash screen when the application's first window opens. */
public class SplashCloseOnWindow implements AWTEventListener {
    public SplashCloseOnWindow() {
    }

    public void eventDispatched(AWTEvent e) {
        if (e.getID() != WindowEvent.WINDOW_OPENED) return;
        SplashScreen s = SplashScreen.getSplashScreen();
        if (s != null) s.close();
    }
}
