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
            + "  --image IMAGE    launcher image (console or GUI) to copy\n"
            + "  --config CONFIG  configuration text (UTF-8, or UTF-16 with a byte-order mark)\n"
            + "  --jar JAR        application JAR; repeat for more, earlier ones win\n"
            + "  --out OUTPUT     program file to write (replaced atomically)\n"
            + "  --help           show this text\n";

    private Main() {
    }

    public static void main(String[] args) {
        System.exit(run(args, System.out, System.err));
    }

    static int run(String[] args, PrintStream out, PrintStream err) {
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
        }
    }

    /** Callers rely on one line per message, even when a path or a cause contains breaks. */
    static String oneLine(String message) {
        return message.replace('\r', ' ').replace('\n', ' ');
    }
}
