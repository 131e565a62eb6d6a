package com.lumenfold.vxo;

import java.io.Serializable;

/**
 * Messages between running instances of the same application, served by the launcher.
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

    /**
     * Queues an object for an instance (0: the first instance). Waits while the queue is full;
     * throws {@link IllegalStateException} when it stays full for a minute, and
     * {@link IllegalArgumentException} for an object of more than 64 MiB serialised.
     */
    public static native void sendObject(int instance, Serializable object);

    /** Waits until the queue has left, at most about 5 seconds. */
    public static native void flush();

    /**
     * Waits up to {@code millis} milliseconds until every queued object has been handed over.
     *
     * @return true when all were taken by their destinations and none was dropped since the
     *     previous call; false on time-out, a drop, or when messaging is not running
     */
    public static boolean flush(long millis) {
        return flushWithin(millis);
    }

    /** Objects this instance sent that were dropped because their destination did not take them. */
    public static native long droppedMessages();

    private static native boolean flushWithin(long millis);

    public static native void setReceiver(ReceiverInterface receiver);
}
