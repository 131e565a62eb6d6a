package com.lumenfold.vxo;

import java.io.File;
import java.io.Serializable;

/** Messages between running instances of the same application, served by the launcher. */
public class Instances {
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

    /** Receives objects sent by other instances. */
    public interface ReceiverInterface {
        void onReceive(int sendingInstance, Serializable object);
    }

    public static native int getFirstInstance();

    public static native int getCurrentInstance();

    public static native int[] getInstances();

    public static void sendObject(Serializable object) {
        sendObject(getFirstInstance(), object);
    }

    public static native void sendObject(int instance, Serializable object);

    public static native void flush();

    public static native void setReceiver(ReceiverInterface receiver);
}
