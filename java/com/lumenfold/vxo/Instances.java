package com.lumenfold.vxo;

import java.io.Serializable;

/** Messages between running instances of the same application, served by the launcher. */
public class Instances {
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
