package probe;

import com.lumenfold.vxo.SystemTray;
import com.lumenfold.vxo.SystemTrayCallback;
import com.lumenfold.vxo.SystemTrayMenu;

import java.lang.reflect.Field;
import java.lang.reflect.Method;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.atomic.AtomicBoolean;

/** Tray natives from many threads at once, with the finaliser and System.gc() running beside. */
public class TrayStress {
    /** Exposes the handle and the protected finalize, as an application's subclass could. */
    static class Icon extends SystemTray {
        Icon(int icon, String tip) { super(icon, tip); }
        Icon(int icon, String tip, String text, String title, int type) { super(icon, tip, text, title, type); }
        long handle() { return h; }
        void finalizeNow() { finalize(); }
    }

    static class Menu extends SystemTrayMenu {
        long handle() { return h; }
        void finalizeNow() { finalize(); }
    }

    static final SystemTrayCallback CALLBACK = new SystemTrayCallback() {
        public void OnMouseClick(SystemTray tray, int event) { }
        public void OnMenuCommand(int command) { }
    };

    private static final Object UNSAFE;
    private static final Method GET_INT;

    static {
        try {
            Class<?> c = Class.forName("sun.misc.Unsafe");
            Field f = c.getDeclaredField("theUnsafe");
            f.setAccessible(true);
            UNSAFE = f.get(null);
            GET_INT = c.getMethod("getInt", long.class);
        } catch (ReflectiveOperationException e) {
            throw new ExceptionInInitializerError(e);
        }
    }

    /** A 32-bit field of a live record, read where the shell would read it. */
    static int recordInt(long handle, int offset) throws Exception {
        return (Integer) GET_INT.invoke(UNSAFE, handle + offset);
    }

    public static void stress(int threads, int rounds) throws Exception {
        final List<Integer> ids = Collections.synchronizedList(new ArrayList<Integer>());
        final AtomicBoolean wrong = new AtomicBoolean(false);
        final AtomicBoolean done = new AtomicBoolean(false);
        Thread collector = new Thread(() -> {
            while (!done.get()) {
                System.gc();
                System.runFinalization();
            }
        });
        collector.start();
        List<Thread> workers = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            final int seed = t;
            Thread worker = new Thread(() -> {
                try {
                    for (int i = 0; i < rounds; i++) work(seed, i, ids, wrong);
                } catch (Throwable e) {
                    e.printStackTrace();
                    wrong.set(true);
                }
            });
            workers.add(worker);
            worker.start();
        }
        for (Thread worker : workers) worker.join();
        done.set(true);
        collector.join();
        Set<Integer> unique = new HashSet<>(ids);
        System.out.println("tray icons=" + ids.size() + " unique=" + (unique.size() == ids.size())
                + " records=" + (wrong.get() ? "wrong" : "ok"));
    }

    private static void work(int seed, int i, List<Integer> ids, AtomicBoolean wrong) throws Exception {
        boolean balloon = (i + seed) % 2 == 0;
        Icon icon = balloon ? new Icon(1, "tip " + i, "text", "title", SystemTray.INFOTYPE_INFO)
                            : new Icon(1, "tip " + i);
        long h = icon.handle();
        if (h == 0 || recordInt(h, 0) != (balloon ? 504 : 104) || recordInt(h, 24) != 1124) wrong.set(true);
        ids.add(recordInt(h, 16));
        icon.Show();
        icon.Show();
        icon.Change(0, null, i % 3 == 0 ? null : "new text", null, SystemTray.INFOTYPE_WARNING);
        icon.Change(2, "short form");
        if (recordInt(h, 504) != 1) wrong.set(true);
        if (i % 5 == 0) SystemTray.setSystemTrayCallback(i % 10 == 0 ? null : CALLBACK);
        icon.Hide();
        if (i % 4 == 0) {
            // Freed by hand, twice, then used: nothing may reach the freed record.
            icon.finalizeNow();
            icon.finalizeNow();
            if (icon.handle() != 0) wrong.set(true);
            icon.Show();
            icon.Change(1, "late");
            icon.Hide();
        }
        // Everything else is left to the finaliser.
        Menu menu = new Menu();
        Menu sub = new Menu();
        sub.Append("inner", i);
        menu.Append("open", 0);
        menu.AppendSeparator();
        menu.Append("more", sub);
        if (i % 7 == 0) {
            menu.finalizeNow();
            menu.finalizeNow();
            menu.Append("late", 1);
        }
    }

    /** Keeps icons coming until the process is told to end; returns once they are flowing. */
    public static void loop() throws InterruptedException {
        final java.util.concurrent.atomic.AtomicInteger made = new java.util.concurrent.atomic.AtomicInteger();
        for (int t = 0; t < 3; t++) {
            Thread worker = new Thread(() -> {
                for (int i = 0; ; i++) {
                    made.incrementAndGet();
                    Icon icon = new Icon(1, "loop", "text", "title", 1);
                    icon.Show();
                    icon.Change(0, "again");
                    if (i % 2 == 0) icon.Hide();
                    if (i % 100 == 0) System.gc();
                }
            });
            worker.setDaemon(true);
            worker.start();
        }
        for (int wait = 0; wait < 1000 && made.get() < 3000; wait++) Thread.sleep(10);
    }
}
