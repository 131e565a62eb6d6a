package com.lumenfold.vexilo.pack;

import java.io.IOException;
import java.io.PrintStream;
import java.util.Arrays;
import java.util.List;

/**
 * The release sub-commands: "runtime", "msi" and "deb". Packing a program file stays the default
 * command; these build what ships around it.
 */
final class Commands {
    /** One sub-command: parses its own options, writes its artefact, prints what it made. */
    interface Command {
        void run(List<String> args, PrintStream out, PrintStream err) throws PackException, IOException;
    }

    private Commands() {
    }

    /** True when the first argument names a sub-command rather than an option of the packer. */
    static boolean handles(String[] args) {
        return args.length > 0 && command(args[0]) != null;
    }

    private static Command command(String name) {
        switch (name) {
            case "runtime":
                return new RuntimeCommand();
            case "msi":
                return new MsiCommand();
            case "deb":
                return new DebCommand();
            default:
                return null;
        }
    }

    static int run(String[] args, PrintStream out, PrintStream err) {
        Command command = command(args[0]);
        List<String> rest = Arrays.asList(args).subList(1, args.length);
        try {
            command.run(rest, out, err);
            return 0;
        } catch (PackException e) {
            err.println(Main.PREFIX + Main.oneLine(e.getMessage()));
            return e.exitCode();
        } catch (IOException | RuntimeException e) {
            err.println(Main.PREFIX + "internal error: " + Main.oneLine(String.valueOf(e)));
            return 1;
        }
    }

    static void warn(PrintStream err, String message) {
        err.println(Main.PREFIX + "warning: " + Main.oneLine(message));
    }
}
