package probe;

import java.lang.management.ManagementFactory;
import java.util.Arrays;
import java.util.List;

/** A packaged application that reports what the launcher gave it; commands in its arguments. */
public class Probe {
    public static void main(String[] args) throws Exception {
        System.out.println("args=" + Arrays.toString(hex(args)));
        System.out.println("argc=" + args.length);
        for (String name : new String[] {"java.class.path", "vxo.class.path", "vxo.app.path",
                "application.home", "vxo.is.elevated", "probe.a", "probe.flag", "probe.utf8"}) {
            System.out.println("prop " + name + "=" + System.getProperty(name));
        }
        List<String> input = ManagementFactory.getRuntimeMXBean().getInputArguments();
        for (String option : input) System.out.println("jvmopt " + option);
        System.out.println("env JAVA_TOOL_OPTIONS=" + System.getenv("JAVA_TOOL_OPTIONS"));
        System.out.println("env PROBE_EXPORT=" + System.getenv("PROBE_EXPORT"));
        System.out.println("cwd=" + new java.io.File(".").getCanonicalPath());
        for (String a : args) command(a);
        System.out.println("main returns");
    }

    private static void command(String a) throws Exception {
        if (a.startsWith("exit=")) {
            System.out.flush();
            System.exit(Integer.parseInt(a.substring(5)));
        } else if (a.equals("thread")) {
            Thread t = new Thread(() -> {
                try { Thread.sleep(1500); } catch (InterruptedException e) { }
                System.out.println("thread done");
            });
            t.start();
        } else if (a.equals("wait")) {
            Runtime.getRuntime().addShutdownHook(new Thread(() -> System.out.println("shutdown hook")));
            System.out.println("ready");
            System.out.flush();
            Thread.sleep(60000);
        } else if (a.equals("throw")) {
            throw new IllegalStateException("probe failure");
        } else if (a.equals("planted")) {
            // Files of these names wait in the working folder: the class path must not reach them.
            ClassLoader loader = Probe.class.getClassLoader();
            for (String name : new String[] {"probe/Planted.class", "planted.txt",
                    "META-INF/services/java.lang.Runnable"}) {
                System.out.println("planted " + name + "=" + loader.getResources(name).hasMoreElements());
            }
        } else if (a.equals("peer")) {
            Peer.run();
        } else if (a.equals("tray-stress")) {
            TrayStress.stress(4, 400);
        } else if (a.equals("tray-loop")) {
            TrayStress.loop();
            System.out.println("ready");
            System.out.flush();
            Thread.sleep(60000);
        } else if (a.equals("splash-hold")) {
            // Holds main until the test has looked at the screen and writes a line.
            System.out.println("ready");
            System.out.flush();
            new java.io.BufferedReader(new java.io.InputStreamReader(System.in)).readLine();
        } else if (a.equals("splash-listener")) {
            // Listeners of window events registered with the toolkit, by class name: the console
            // payload has no SplashCloseOnWindow class to compare with.
            boolean found = false;
            for (java.awt.event.AWTEventListener l : java.awt.Toolkit.getDefaultToolkit().getAWTEventListeners(64)) {
                Object inner = l instanceof java.awt.event.AWTEventListenerProxy
                        ? ((java.awt.event.AWTEventListenerProxy) l).getListener() : l;
                found |= inner.getClass().getName().equals("com.lumenfold.vxo.SplashCloseOnWindow");
            }
            System.out.println("splash listener=" + found);
        } else if (a.equals("splash-check")) {
            System.out.println("awt splash=" + awtSplash());
            try {
                com.lumenfold.vxo.SplashScreen splash = com.lumenfold.vxo.SplashScreen.getSplashScreen();
                System.out.println("vxo splash=" + (splash != null));
                if (splash != null) splash.close();
            } catch (NoClassDefFoundError e) {
                // The console image's payload has no splash classes: the runtime's own class closes it.
                System.out.println("vxo splash=absent");
                if (java.awt.SplashScreen.getSplashScreen() != null) java.awt.SplashScreen.getSplashScreen().close();
            }
            System.out.println("awt splash after close=" + awtSplash());
        } else if (a.equals("native")) {
            System.out.println("current instance=" + com.lumenfold.vxo.Instances.getCurrentInstance());
        } else if (a.equals("native-thread")) {
            // First use of a companion class from a thread of the application whose context
            // class loader sees none of them.
            final int[] seen = {Integer.MIN_VALUE};
            Thread t = new Thread(() -> seen[0] = com.lumenfold.vxo.Instances.getCurrentInstance());
            t.setContextClassLoader(new java.net.URLClassLoader(new java.net.URL[0], null));
            t.start();
            t.join();
            System.out.println("thread instance=" + seen[0]);
        } else if (a.equals("native-loader")) {
            // The companion classes loaded a second time, by a loader of the application's own.
            java.net.URL program = new java.io.File(System.getProperty("vxo.app.path")).toURI().toURL();
            ClassLoader own = new java.net.URLClassLoader(new java.net.URL[] {program}, null);
            Class<?> c = Class.forName("com.lumenfold.vxo.Instances", true, own);
            System.out.println("loader own class=" + (c.getClassLoader() == own));
            System.out.println("loader instance=" + c.getMethod("getCurrentInstance").invoke(null));
        } else if (a.equals("libraries")) {
            boolean splash = false;
            for (String line : java.nio.file.Files.readAllLines(java.nio.file.Paths.get("/proc/self/maps"))) {
                splash |= line.endsWith("/libsplashscreen.so");
            }
            System.out.println("splash library mapped=" + splash);
        }
    }

    private static String awtSplash() {
        try {
            return String.valueOf(java.awt.SplashScreen.getSplashScreen() != null);
        } catch (java.awt.HeadlessException e) {
            return "headless";
        }
    }

    /** Arguments with every non-ASCII character written as \\uXXXX, so tests compare exactly. */
    private static String[] hex(String[] args) {
        String[] out = new String[args.length];
        for (int i = 0; i < args.length; i++) {
            StringBuilder b = new StringBuilder();
            for (char c : args[i].toCharArray()) {
                if (c >= 0x20 && c < 0x7F) b.append(c); else b.append(String.format("\\u%04X", (int) c));
            }
            out[i] = "<" + b + ">";
        }
        return out;
    }
}
