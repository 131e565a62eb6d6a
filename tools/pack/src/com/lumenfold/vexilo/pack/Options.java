package com.lumenfold.vexilo.pack;

import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/** The parsed command line. */
final class Options {
    static final String USAGE =
            "usage: vexilo-pack --image IMAGE --config CONFIG --jar JAR [--jar JAR ...] --out OUTPUT";

    Path image;
    Path config;
    Path out;
    final List<Path> jars = new ArrayList<>();
    boolean help;

    static Options parse(String[] args) throws PackException {
        Options o = new Options();
        // --help wins over everything else so that it always works.
        if (Arrays.asList(args).contains("--help") || Arrays.asList(args).contains("-h")) {
            o.help = true;
            return o;
        }
        for (int i = 0; i < args.length; i++) {
            String name = args[i];
            if (!name.startsWith("-")) {
                throw PackException.usage("unexpected argument: " + name);
            }
            if (!isKnown(name)) {
                throw PackException.usage("unknown option: " + name);
            }
            // A value that looks like an option almost always means the real value was forgotten.
            if (i + 1 >= args.length || args[i + 1].isEmpty() || args[i + 1].startsWith("--")) {
                throw PackException.usage("option " + name + " needs a value");
            }
            o.set(name, toPath(args[++i]));
        }
        o.requireComplete();
        return o;
    }

    private static boolean isKnown(String name) {
        return name.equals("--image") || name.equals("--config") || name.equals("--jar")
                || name.equals("--out");
    }

    private void set(String name, Path value) throws PackException {
        switch (name) {
            case "--image":
                image = once(image, name, value);
                break;
            case "--config":
                config = once(config, name, value);
                break;
            case "--out":
                out = once(out, name, value);
                break;
            default:
                jars.add(value);
        }
    }

    private static Path once(Path previous, String name, Path value) throws PackException {
        if (previous != null) {
            throw PackException.usage("option " + name + " given more than once");
        }
        return value;
    }

    private static Path toPath(String value) throws PackException {
        try {
            return Paths.get(value);
        } catch (InvalidPathException e) {
            throw PackException.usage("invalid path: " + value);
        }
    }

    private void requireComplete() throws PackException {
        if (image == null) {
            throw PackException.usage("missing --image");
        }
        if (config == null) {
            throw PackException.usage("missing --config");
        }
        if (jars.isEmpty()) {
            throw PackException.usage("missing --jar (at least one is needed)");
        }
        if (out == null) {
            throw PackException.usage("missing --out");
        }
    }
}
