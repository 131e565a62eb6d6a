package com.lumenfold.vexilo.pack;

import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/** The parsed command line. */
final class Options {
    static final String USAGE =
            "usage: vexilo-pack --image IMAGE --config CONFIG --jar JAR [--jar JAR ...] --out OUTPUT\n"
            + "                   [--verbose] [-- JAR ...]\n"
            + "                   [--icon ICO] [--tray-icon ID=ICO ...] [--splash-bitmap BMP]\n"
            + "                   [--splash-image PNG|GIF|JPEG] [--manifest XML | --require-admin]\n"
            + "                   [--version N.N.N.N] [--product-version TEXT] [--product-name TEXT]\n"
            + "                   [--description TEXT] [--company TEXT] [--copyright TEXT]";

    /** Options that name one file. */
    private static final List<String> FILES = Arrays.asList("--image", "--config", "--out", "--icon",
            "--splash-bitmap", "--splash-image", "--manifest");
    /** Options that give one text for the version resource. */
    static final List<String> TEXTS = Arrays.asList("--version", "--product-version", "--product-name",
            "--description", "--company", "--copyright");

    Path image;
    Path config;
    Path out;
    Path icon;
    Path splashBitmap;
    Path splashImage;
    Path manifest;
    boolean requireAdmin;
    /** List every ignored duplicate, not only one line per JAR. */
    boolean verbose;
    final List<Path> jars = new ArrayList<>();
    /** Tray icon group identifier -> .ico file, in the order given. */
    final Map<Integer, Path> trayIcons = new LinkedHashMap<>();
    final Map<String, String> texts = new HashMap<>();
    boolean help;

    static Options parse(String[] args) throws PackException {
        Options o = new Options();
        // --help wins over everything else so that it always works, but only where an option
        // can stand: "--description -h" describes the program as "-h".
        if (asksForHelp(args)) {
            o.help = true;
            return o;
        }
        String swallowed = null;
        for (int i = 0; i < args.length; i++) {
            String name = args[i];
            if (name.equals("--")) {
                // Everything after it is a JAR, whatever its name looks like.
                for (i++; i < args.length; i++) {
                    o.set("--jar", nonEmpty("--jar", args[i]));
                }
                break;
            }
            if (!name.startsWith("-") || name.equals("-")) {
                throw PackException.usage("unexpected argument: " + name + (swallowed == null ? ""
                        : " (" + swallowed + ")"));
            }
            swallowed = null;
            if (name.equals("--require-admin")) {
                o.requireAdmin = true;
                continue;
            }
            if (name.equals("--verbose")) {
                o.verbose = true;
                continue;
            }
            if (!takesValue(name)) {
                throw PackException.usage("unknown option: " + name);
            }
            if (i + 1 >= args.length) {
                throw PackException.usage("option " + name + " needs a value");
            }
            String value = nonEmpty(name, args[++i]);
            if (value.startsWith("--") && takesValueOrFlag(value)) {
                swallowed = name + " took \"" + value + "\" as its value";
            }
            o.set(name, value);
        }
        o.requireComplete();
        return o;
    }

    private static boolean asksForHelp(String[] args) {
        for (int i = 0; i < args.length && !args[i].equals("--"); i++) {
            if (args[i].equals("--help") || args[i].equals("-h")) {
                return true;
            }
            if (takesValue(args[i])) {
                i++;
            }
        }
        return false;
    }

    private static boolean takesValue(String name) {
        return FILES.contains(name) || TEXTS.contains(name) || name.equals("--jar") || name.equals("--tray-icon");
    }

    private static boolean takesValueOrFlag(String name) {
        return takesValue(name) || name.equals("--require-admin") || name.equals("--verbose")
                || name.equals("--help");
    }

    private static String nonEmpty(String name, String value) throws PackException {
        if (value.isEmpty()) {
            throw PackException.usage("option " + name + " needs a value, not an empty one");
        }
        return value;
    }

    private void set(String name, String value) throws PackException {
        if (TEXTS.contains(name)) {
            if (texts.put(name, value) != null) {
                throw PackException.usage("option " + name + " given more than once");
            }
        } else if (name.equals("--jar")) {
            jars.add(toPath(value));
        } else if (name.equals("--tray-icon")) {
            addTrayIcon(value);
        } else {
            setFile(name, toPath(value));
        }
    }

    private void setFile(String name, Path value) throws PackException {
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
            case "--icon":
                icon = once(icon, name, value);
                break;
            case "--splash-bitmap":
                splashBitmap = once(splashBitmap, name, value);
                break;
            case "--splash-image":
                splashImage = once(splashImage, name, value);
                break;
            default:
                manifest = once(manifest, name, value);
        }
    }

    private void addTrayIcon(String value) throws PackException {
        int eq = value.indexOf('=');
        String id = eq < 0 ? "" : value.substring(0, eq);
        if (!id.matches("[0-9]{1,5}") || Integer.parseInt(id) < 1 || Integer.parseInt(id) > 0xFFFF
                || eq + 1 == value.length()) {
            throw PackException.usage("--tray-icon needs ID=FILE with ID from 1 to 65535: " + value);
        }
        int number = Integer.parseInt(id);
        if (trayIcons.put(number, toPath(value.substring(eq + 1))) != null) {
            throw PackException.usage("--tray-icon " + number + " given more than once");
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

    /** True when any option asks for a Windows resource. */
    boolean wantsResources() {
        return icon != null || splashBitmap != null || splashImage != null || manifest != null || requireAdmin
                || !trayIcons.isEmpty() || !texts.isEmpty();
    }

    /** Every input file, for the checks that the output is none of them. */
    List<Path> inputs() {
        List<Path> inputs = new ArrayList<>(jars);
        for (Path p : Arrays.asList(image, config, icon, splashBitmap, splashImage, manifest)) {
            if (p != null) {
                inputs.add(p);
            }
        }
        inputs.addAll(trayIcons.values());
        return inputs;
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
        if (manifest != null && requireAdmin) {
            throw PackException.usage("--require-admin and --manifest exclude each other (put the level in the file)");
        }
        if (icon != null && trayIcons.containsKey(WindowsResources.PROGRAM_ICON)) {
            throw PackException.usage("--tray-icon " + WindowsResources.PROGRAM_ICON
                    + " is the program icon that --icon sets; pick another identifier");
        }
    }
}
