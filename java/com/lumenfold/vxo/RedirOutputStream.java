package com.lumenfold.vxo;

import java.io.OutputStream;

/** A stream whose bytes the launcher writes to the redirection target. */
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

    /** The launcher's handle for the target. */
    protected long h;

    public RedirOutputStream() {
        h = 0;
    }

    @Override
    public native void write(int b);
}
