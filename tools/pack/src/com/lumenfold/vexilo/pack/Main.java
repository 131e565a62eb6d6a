package com.lumenfold.vexilo.pack;

import java.io.IOException;
import java.io.PrintStream;

/** Entry point: turns every failure into one "vexilo-pack: ..." line and an exit code. */
public final class Main {
    static final String PREFIX = "vexilo-pack: ";

    private static final String HELP = Options.USAGE + "\n"
            + "\n"
            + "Writes OUTPUT: the launcher IMAGE followed by the configuration text and one archive\n"
            + "that merges the JARs in the given order (first copy of an entry wins).\n"
            + "\n"
            + "  --image IMAGE          launcher image (console or GUI) to copy\n"
            + "  --config CONFIG        configuration text (UTF-8, or UTF-16 with a byte-order mark)\n"
            + "  --jar JAR              application JAR; repeat for more, earlier ones win\n"
            + "  --out OUTPUT           program file to write (replaced atomically)\n"
            + "  --verbose              list every duplicate entry, not one line per JAR\n"
            + "  --help                 show this text\n"
            + "  --                     ends the options: every argument after it is a JAR\n"
            + "An option's value is the next argument, even when it starts with '-'.\n"
            + "\n"
            + "Windows images (.exe) only; version information and a manifest are always written:\n"
            + "  --icon ICO             the program's icon (icon group 1)\n"
            + "  --tray-icon ID=ICO     an icon group for SystemTray; repeatable\n"
            + "  --splash-bitmap BMP    bitmap 100, the GUI image's native splash window\n"
            + "  --splash-image FILE    raw data 100 (PNG, GIF, JPEG) for the runtime's splash\n"
            + "  --manifest XML         the whole manifest, instead of the default one\n"
            + "  --require-admin        default manifest asking for administrator rights\n"
            + "  --version N.N.N.N      file and product version (default: JAR manifest, 0.0.0.0)\n"
            + "  --product-version, --product-name, --description, --company, --copyright TEXT\n"
            + "\n"
            + "Sign the program file after packing; a signed image is refused.\n"
            + "\n"
            + "Release artefacts: vexilo-pack runtime|msi|deb --help\n";

    private Main() {
    }

    public static void main(String[] args) {
        // Pictures are only decoded to check them: no display is ever needed.
        System.setProperty("java.awt.headless", "true");
        System.exit(run(args, System.out, System.err));
    }

    static int run(String[] args, PrintStream out, PrintStream err) {
        if (Commands.handles(args)) {
            return Commands.run(args, out, err);
        }
        try {
            Options options = Options.parse(args);
            if (options.help) {
                out.print(HELP);
                return 0;
            }
            new Packer(options, message -> err.println(PREFIX + "warning: " + oneLine(message))).pack();
            return 0;
        } catch (PackException e) {
            err.println(PREFIX + oneLine(e.getMessage()));
            return e.exitCode();
        } catch (IOException | RuntimeException e) {
            err.println(PREFIX + "internal error: " + oneLine(String.valueOf(e)));
            return 1;
        } catch (OutOfMemoryError e) {
            // The archive is streamed; only files read whole can get here, and those are bounded.
            err.println(PREFIX + "out of memory (" + oneLine(String.valueOf(e.getMessage()))
                    + "); give the JVM more with JAVA_TOOL_OPTIONS=-Xmx...");
            return 1;
        }
    }

    /** Callers rely on one line per message, even when a path or a cause contains breaks. */
    static String oneLine(String message) {
        return message.replace('\r', ' ').replace('\n', ' ');
    }
}
