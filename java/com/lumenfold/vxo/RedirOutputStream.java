package com.lumenfold.vxo;

import java.io.File;
import java.io.OutputStream;

/**
 * A stream whose bytes the launcher writes to the target of {@code stdout} or {@code stderr} in
 * the configuration. On Windows the launcher puts it in place of {@code System.out} and
 * {@code System.err} by itself when the runtime does not follow the redirected handles; on Linux
 * the launcher redirects the descriptors themselves and never uses it. Applications need no code.
 */
public class RedirOutputStream extends OutputStream {
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
