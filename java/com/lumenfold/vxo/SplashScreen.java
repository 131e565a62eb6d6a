package com.lumenfold.vxo;

import java.io.File;
import java.util.Timer;
import java.util.TimerTask;

/**
 * The start-up splash screen: the runtime's own when it shows one, otherwise the launcher's
 * native window.
 */
public final class SplashScreen {
    static SplashScreen self;
    static Timer autoCloseTimer;
    static TimerTask autoCloseTask;

    static {
        self = null;
        autoCloseTimer = null;
        autoCloseTask = null;
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

    /** The runtime's splash object, reached by reflection so headless runtimes still load us. */
    private Object awtSplash;

    private SplashScreen() {
        awtSplash = null;
    }

    protected static native SplashScreen nativeGetSplashScreen();

    protected native void nativeAutoClose(int ms);

    protected native void nativeClose();

    public static synchronized SplashScreen getSplashScreen() {
        if (self != null) return self;
        try {
            Class<?> c = ClassLoader.getSystemClassLoader().loadClass("java.awt.SplashScreen");
            if (c != null) {
                Object r = c.getMethod("getSplashScreen").invoke(null);
                if (r != null) {
                    SplashScreen s = new SplashScreen();
                    s.awtSplash = r;
                    self = s;
                    return s;
                }
            }
        } catch (Exception e) {
            // No desktop module, headless, or no runtime splash: ask the launcher instead.
        }
        self = nativeGetSplashScreen();
        return self;
    }

    public synchronized void autoClose(int ms) {
        if (awtSplash == null) {
            nativeAutoClose(ms);
            return;
        }
        if (ms > 0) {
            if (autoCloseTask != null) autoCloseTask.cancel();
            if (autoCloseTimer == null) autoCloseTimer = new Timer(true);
            autoCloseTask = new TimerTask() {
                public void run() {
                    close();
                }
            };
            autoCloseTimer.schedule(autoCloseTask, ms);
        } else if (ms == 0) {
            close();
        } else if (autoCloseTimer != null) {
            autoCloseTimer.cancel();
            autoCloseTimer = null;
            autoCloseTask = null;
        }
    }

    public synchronized void close() {
        if (awtSplash == null) {
            nativeClose();
            return;
        }
        if (autoCloseTimer != null) {
            autoCloseTimer.cancel();
            autoCloseTimer = null;
            autoCloseTask = null;
        }
        try {
            awtSplash.getClass().getMethod("close").invoke(awtSplash);
        } catch (Exception e) {
            // Already closed by the runtime.
        }
    }
}
