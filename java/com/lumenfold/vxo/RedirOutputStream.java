package com.lumenfold.vxo;

import java.io.File;
import java.io.OutputStream;

/** A stream whose bytes the launcher writes to the redirection target. */
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

    /** The launcher's handle for the target. */
    protected long h;

    public RedirOutputStream() {
        h = 0;
    }

    @Override
    public native void write(int b);
}
