package com.lumenfold.vxo;

import java.io.File;
import java.io.Serializable;

/**
 * Messages between running instances of the same application, served by the launcher (with
 * {@code singleinstance custom} in the configuration).
 *
 * <p>An instance is identified by its <b>process id</b>: the number {@code getCurrentInstance()}
 * returns is this process's id, on Windows and on Linux alike. Objects are serialized, carried
 * through a block of shared memory private to the user (Windows: a named file mapping; Linux: a
 * POSIX shared memory object of the user's, mode 0600) and handed to the receiver of the
 * destination on its messaging thread.
 *
 * <p>The methods work only in a program started by the launcher; elsewhere the natives are not
 * bound and a call throws {@link UnsatisfiedLinkError}.
 */
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

    /** Receives objects sent by other instances; see {@link Instances#setReceiver}. */
    public interface ReceiverInterface {
        /**
         * Called on the launcher's messaging thread, one message at a time.
         *
         * @param sendingInstance the process id of the sender
         * @param object the object as the sender passed it, deserialized
         */
        void onReceive(int sendingInstance, Serializable object);
    }

    /**
     * The process id of the oldest running instance: the one the others usually send to.
     *
     * @return a process id; {@link #getCurrentInstance()} when this is the first instance
     */
    public static native int getFirstInstance();

    /**
     * This instance's identifier.
     *
     * @return this process's id
     */
    public static native int getCurrentInstance();

    /**
     * Every running instance of this application, this one included.
     *
     * @return their process ids
     */
    public static native int[] getInstances();

    /**
     * Sends an object to the first instance; see {@link #sendObject(int, Serializable)}.
     *
     * @param object the object to send
     */
    public static void sendObject(Serializable object) {
        sendObject(getFirstInstance(), object);
    }

    /**
     * Queues an object for an instance and returns without waiting for it to arrive. The object
     * is serialized at once; larger than 64 MiB serialized, it is refused.
     *
     * @param instance the destination's process id
     * @param object the object to send
     * @throws IllegalArgumentException when the serialized object is larger than 64 MiB
     */
    public static native void sendObject(int instance, Serializable object);

    /**
     * Waits until the objects this instance has sent have been taken by their destinations, at
     * most 5 seconds; call it before the process ends, so nothing queued is lost.
     */
    public static native void flush();

    /**
     * Sets the receiver of the objects other instances send to this one. Until one is set, and
     * after {@code setReceiver(null)}, arriving messages are taken and dropped.
     *
     * @param receiver the receiver, or null to clear it
     */
    public static native void setReceiver(ReceiverInterface receiver);
}
