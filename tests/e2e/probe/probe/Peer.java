package probe;

import com.lumenfold.vxo.Instances;
import java.io.BufferedReader;
import java.io.ByteArrayOutputStream;
import java.io.InputStreamReader;
import java.io.ObjectOutputStream;
import java.io.Serializable;
import java.util.Arrays;

/**
 * An instance driven line by line from standard input; reports on standard output.
 *   self | first | list | flush | quit | die (at once, as if killed)
 *   send INSTANCE SIZE       a byte array whose serialised form is SIZE bytes (0: the owner)
 *   sendfirst SIZE           the same through the one-argument sendObject
 *   note INSTANCE TEXT       a probe.Note, a class only the application's loader has
 *   bad INSTANCE             an object that cannot be serialised
 *   slow MS                  later receipts each take MS milliseconds in onReceive
 *   echo                     from now on, what arrives goes back to its sender
 *   ping INSTANCE N SIZE     N round trips to an echoing instance: "ping MICROSECONDS"
 *   sendmany INSTANCE N SIZE N objects of that serialised size, one array sent N times
 *   drain MS                 flush(MS): "drained RESULT DROPPED-SO-FAR"
 */
public class Peer {
    static volatile int slowMs = 0;
    static volatile boolean echo = false;
    static volatile boolean pinging = false;
    static final java.util.concurrent.BlockingQueue<Object> replies =
            new java.util.concurrent.LinkedBlockingQueue<>();

    public static void main(String[] args) throws Exception {
        run();
    }

    static void run() throws Exception {
        Instances.setReceiver((sender, object) -> {
            if (echo) {
                Instances.sendObject(sender, object);
                return;
            }
            if (pinging) {
                replies.add(object);
                return;
            }
            if (slowMs > 0) {
                try { Thread.sleep(slowMs); } catch (InterruptedException e) { }
            }
            say("recv " + sender + " " + describe(object));
        });
        say("ready " + java.lang.management.ManagementFactory.getRuntimeMXBean().getName().split("@")[0]);
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, "UTF-8"));
        for (String line; (line = in.readLine()) != null; ) {
            String[] w = line.trim().split(" ");
            switch (w[0]) {
                case "self": say("self " + Instances.getCurrentInstance()); break;
                case "first": say("first " + Instances.getFirstInstance()); break;
                case "list": say("list " + Arrays.toString(Instances.getInstances()).replace(" ", "")); break;
                case "send": Instances.sendObject(Integer.parseInt(w[1]), bytes(Integer.parseInt(w[2]))); say("sent"); break;
                case "sendfirst": Instances.sendObject(bytes(Integer.parseInt(w[1]))); say("sent"); break;
                case "note": Instances.sendObject(Integer.parseInt(w[1]), new Note(w[2])); say("sent"); break;
                case "bad": Instances.sendObject(Integer.parseInt(w[1]), new Unsendable()); say("sent"); break;
                case "sendmany": {
                    byte[] payload = bytes(Integer.parseInt(w[3]));
                    for (int i = Integer.parseInt(w[2]); i > 0; i--) Instances.sendObject(Integer.parseInt(w[1]), payload);
                    say("sent");
                    break;
                }
                case "drain": {
                    boolean all = Instances.flush(Long.parseLong(w[1]));
                    say("drained " + all + " " + Instances.droppedMessages());
                    break;
                }
                case "slow": slowMs = Integer.parseInt(w[1]); say("slow"); break;
                case "echo": echo = true; say("echo"); break;
                case "ping": {
                    int dest = Integer.parseInt(w[1]), n = Integer.parseInt(w[2]);
                    byte[] payload = bytes(Integer.parseInt(w[3]));
                    replies.clear();
                    pinging = true;
                    long start = System.nanoTime();
                    boolean lost = false;
                    for (int i = 0; i < n && !lost; i++) {
                        Instances.sendObject(dest, payload);
                        lost = replies.poll(30, java.util.concurrent.TimeUnit.SECONDS) == null;
                    }
                    pinging = false;
                    say(lost ? "ping lost" : "ping " + (System.nanoTime() - start) / 1000 / n);
                    break;
                }
                case "flush": {
                    long start = System.nanoTime();
                    Instances.flush();
                    say("flushed " + (System.nanoTime() - start) / 1000000);
                    break;
                }
                case "quit": say("bye"); return;
                case "die": Runtime.getRuntime().halt(9); break;
                default: say("unknown " + line);
            }
        }
    }

    static synchronized void say(String text) {
        System.out.println(text);
        System.out.flush();
    }

    static String describe(Object o) {
        if (o instanceof byte[]) {
            byte[] b = (byte[]) o;
            return "bytes " + serialisedSize(b) + " " + Arrays.hashCode(b);
        }
        return o.getClass().getName() + " " + o;
    }

    /** A byte array whose serialised form is exactly size bytes. */
    static byte[] bytes(int size) {
        byte[] b = new byte[Math.max(0, size - serialisedSize(new byte[0]))];
        for (int i = 0; i < b.length; i++) b[i] = (byte) (i * 31 + i / 1024);
        return b;
    }

    static int serialisedSize(Object o) {
        try {
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            ObjectOutputStream s = new ObjectOutputStream(out);
            s.writeObject(o);
            s.close();
            return out.size();
        } catch (java.io.IOException e) {
            throw new RuntimeException(e);
        }
    }

    static class Unsendable implements Serializable {
        final Object inside = new Object();
    }
}
