package com.lumenfold.vxo;

import java.io.OutputStream;

/**
 * A stream whose bytes the launcher writes to the target of {@code stdout} or {@code stderr} in
 * the configuration. On Windows the launcher puts it in place of {@code System.out} and
 * {@code System.err} by itself when the runtime does not follow the redirected handles; on Linux
 * the launcher redirects the descriptors themselves and never uses it. Applications need no code.
 */
public class RedirOutputStream extends OutputStream {
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

    /** The launcher's handle for the target; set by the launcher, never by the application. */
    protected long h;

    /** A stream with no target yet; the launcher sets {@link #h}. */
    public RedirOutputStream() {
        h = 0;
    }

    /**
     * Writes one byte to the target; without one it is dropped.
     *
     * @param b the byte, in the low 8 bits
     */
    @Override
    public native void write(int b);
}
