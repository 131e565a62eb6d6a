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
 * file of mode 0600 in the user's private folder, mapped shared) and handed to the receiver of
 * the destination.
 *
 * <p>The methods work only in a program started by the launcher; elsewhere the natives are not
 * bound and a call throws {@link UnsatisfiedLinkError}.
 *
 * <p><b>Trust boundary.</b> Any process of the same user can send objects to an instance: every
 * copy of this program and of any other program that shares its application identifier, and
 * any program of that user that writes the shared block. The sender's instance number is what
 * the sender says it is. Received objects are deserialised with the receiver's class loader, so
 * treat them as input from outside: check what arrives, and limit what may be deserialised. The
 * process-wide serialisation filter applies to received objects; for example, to accept only
 * strings and the application's own message class:
 *
 * <pre>
 * -Djdk.serialFilter=java.lang.String;com.example.Message;!*
 * </pre>
 *
 * (an "option" line of the launcher's configuration). An object the filter rejects is dropped
 * and the rejection printed on standard error; the receiver is not called.
 *
 * <p><b>Delivery.</b> Objects arrive in the order each sender sent them; {@code onReceive} runs
 * on a thread of its own, one call at a time, so a slow receiver delays only itself. Up to
 * 128 MiB of received messages wait for it; past that, and for an instance that is stopped or
 * does not receive, a message is dropped after about a second, and its sender prints a line on
 * standard error and counts it ({@link #droppedMessages()}, {@link #flush(long)}).
 * {@code sendObject} waits while 64 MiB of messages are queued to be sent.
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
         * Called on a thread of the launcher's, one message at a time, in order of arrival.
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
     * is serialized at once. While 64 MiB of messages wait to be sent, the call waits for room.
     *
     * @param instance the destination's process id, or 0 for the first instance
     * @param object the object to send
     * @throws IllegalArgumentException when the serialized object is larger than 64 MiB
     * @throws IllegalStateException when the queue stays full for a minute
     */
    public static native void sendObject(int instance, Serializable object);

    /**
     * Waits until the objects this instance has sent have left its queue, at most about 5
     * seconds; call it before the process ends, so nothing queued is lost.
     */
    public static native void flush();

    /**
     * Waits up to {@code millis} milliseconds until every queued object has been handed over.
     *
     * @param millis the longest wait, in milliseconds
     * @return true when all were taken by their destinations and none was dropped since the
     *     previous call; false on time-out, a drop, or when messaging is not running
     */
    public static boolean flush(long millis) {
        return flushWithin(millis);
    }

    /**
     * The number of objects this instance sent that were dropped because their destination did
     * not take them (stopped, hung, or not receiving).
     *
     * @return the count since the process started
     */
    public static native long droppedMessages();

    private static native boolean flushWithin(long millis);

    /**
     * Sets the receiver of the objects other instances send to this one. Until one is set, and
     * after {@code setReceiver(null)}, arriving messages are taken and dropped.
     *
     * @param receiver the receiver, or null to clear it
     */
    public static native void setReceiver(ReceiverInterface receiver);
}
