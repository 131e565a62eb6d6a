package com.lumenfold.vexilo.pack;

import java.nio.file.InvalidPathException;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Collections;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * The command line of a sub-command: options declared as flags, single values or repeatable
 * values. A value is always the next argument, even when it starts with '-' (a description such
 * as "-- draft --" or a relative path "-x"), so a forgotten value shows as the next option being
 * taken for it and then as a missing required option, never as a silently wrong file.
 */
final class CommandOptions {
    enum Kind { FLAG, ONE, MANY }

    private final String command;
    private final Map<String, Kind> declared = new LinkedHashMap<>();
    private final Map<String, List<String>> values = new LinkedHashMap<>();
    private boolean help;

    CommandOptions(String command) {
        this.command = command;
    }

    CommandOptions flag(String name) {
        declared.put(name, Kind.FLAG);
        return this;
    }

    CommandOptions one(String name) {
        declared.put(name, Kind.ONE);
        return this;
    }

    CommandOptions many(String name) {
        declared.put(name, Kind.MANY);
        return this;
    }

    /** Parses args (the sub-command's name already removed). */
    CommandOptions parse(List<String> args) throws PackException {
        for (int i = 0; i < args.size(); i++) {
            String name = args.get(i);
            if (name.equals("--help") || name.equals("-h")) {
                help = true;
                return this;
            }
            Kind kind = declared.get(name);
            if (kind == null) {
                throw usage(name.startsWith("-") ? "unknown option: " + name : "unexpected argument: " + name);
            }
            List<String> list = values.computeIfAbsent(name, k -> new ArrayList<>());
            if (kind != Kind.MANY && !list.isEmpty()) {
                throw usage("option " + name + " given more than once");
            }
            if (kind == Kind.FLAG) {
                list.add("");
                continue;
            }
            if (i + 1 >= args.size() || args.get(i + 1).isEmpty()) {
                throw usage("option " + name + " needs a value");
            }
            list.add(args.get(++i));
        }
        return this;
    }

    boolean help() {
        return help;
    }

    boolean has(String name) {
        return values.containsKey(name);
    }

    String get(String name) {
        List<String> list = values.get(name);
        return list == null ? null : list.get(0);
    }

    String require(String name) throws PackException {
        String value = get(name);
        if (value == null) {
            throw usage("missing " + name);
        }
        return value;
    }

    List<String> all(String name) {
        List<String> list = values.get(name);
        return list == null ? Collections.<String>emptyList() : list;
    }

    Path path(String name) throws PackException {
        String value = get(name);
        return value == null ? null : toPath(value);
    }

    Path requirePath(String name) throws PackException {
        return toPath(require(name));
    }

    List<Path> paths(String name) throws PackException {
        List<Path> paths = new ArrayList<>();
        for (String value : all(name)) {
            paths.add(toPath(value));
        }
        return paths;
    }

    PackException usage(String message) {
        return PackException.usage(command + ": " + message);
    }

    private PackException invalid(String value) {
        return usage("invalid path: " + value);
    }

    private Path toPath(String value) throws PackException {
        try {
            return Paths.get(value);
        } catch (InvalidPathException e) {
            throw invalid(value);
        }
    }
}
