package com.lumenfold.vexilo.pack;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.function.Consumer;
import java.util.jar.Attributes;
import java.util.jar.Manifest;

/**
 * What a user would want to hear before shipping a configuration: keywords the launcher does not
 * know, a main class that is missing, an external file that will override the packed text.
 */
final class ConfigCheck {
    /** Every keyword the launcher reads; any other line is never looked at. */
    static final List<String> KEYWORDS = Arrays.asList("mainclass", "option", "property", "export", "argv",
            "message", "classpath", "java_classpath", "libs", "java_libs", "minjre", "maxjre", "jre_order",
            "jre", "jvmdll", "vm", "appid", "singleinstance", "wildcard", "splash", "splashtitle",
            "splashcloseonwindow", "stdout", "stderr", "forcecwd", "disableexternal",
            "jreurl");
    private static final int MAX_SUGGESTION_DISTANCE = 2;

    private final Path path;
    private final Consumer<String> warn;
    private final List<String> lines;

    ConfigCheck(String text, Path path, Consumer<String> warn) {
        this.path = path;
        this.warn = warn;
        this.lines = Arrays.asList(text.replace("\r\n", "\n").replace('\r', '\n').split("\n", -1));
    }

    /** The keyword a line belongs to, as the launcher matches it, or "" for a comment or blank. */
    static String keywordOf(String line) {
        int start = 0;
        while (start < line.length() && line.charAt(start) == ' ') {
            start++;
        }
        int end = start;
        while (end < line.length() && isWordChar(line.charAt(end))) {
            end++;
        }
        return line.substring(start, end);
    }

    private static boolean isWordChar(char c) {
        return c < 0x80 && (Character.isLetterOrDigit(c) || c == '_');
    }

    /** The value after the keyword: spaces, one optional "=", spaces removed; trailing ones kept. */
    static String valueOf(String line, String keyword) {
        int at = line.indexOf(keyword) + keyword.length();
        at = skipSpaces(line, at);
        if (at < line.length() && line.charAt(at) == '=') {
            at = skipSpaces(line, at + 1);
        }
        return line.substring(at);
    }

    private static int skipSpaces(String line, int at) {
        while (at < line.length() && line.charAt(at) == ' ') {
            at++;
        }
        return at;
    }

    void warnUnknownKeywords() {
        for (int i = 0; i < lines.size(); i++) {
            String keyword = keywordOf(lines.get(i));
            if (!keyword.isEmpty() && !KEYWORDS.contains(keyword.toLowerCase(Locale.ROOT))) {
                String near = nearest(keyword.toLowerCase(Locale.ROOT));
                warn.accept(at(i) + "unknown keyword \"" + keyword + "\""
                        + (near == null ? "" : " (did you mean \"" + near + "\"?)")
                        + "; the launcher never reads this line");
            }
        }
    }

    /** Index of the first line of keyword, or -1. */
    int firstLine(String keyword) {
        for (int i = 0; i < lines.size(); i++) {
            if (keywordOf(lines.get(i)).equalsIgnoreCase(keyword)) {
                return i;
            }
        }
        return -1;
    }

    String value(int line) {
        String raw = lines.get(line);
        return valueOf(raw, keywordOf(raw));
    }

    /**
     * Checks the main class; returns a line to add to the text when it comes from the JAR
     * manifest, or null when the configuration names one itself.
     */
    String checkMainClass(Manifest manifest, List<Source> sources) throws PackException {
        int line = firstLine("mainclass");
        String added = null;
        String name;
        if (line < 0) {
            String fromJar = manifest == null ? null : manifest.getMainAttributes().getValue(Attributes.Name.MAIN_CLASS);
            if (fromJar == null || fromJar.trim().isEmpty()) {
                throw new PackException(path + ": no \"mainclass\" line, and the JARs' manifest names no "
                        + "Main-Class: add a line such as \"mainclass com.example.Main\"");
            }
            name = fromJar.trim();
            added = "mainclass " + name;
        } else {
            name = value(line);
            if (name.isEmpty()) {
                throw new PackException(at(line) + "\"mainclass\" has no class name");
            }
        }
        String entry = name.replace('.', '/') + ".class";
        for (Source source : sources) {
            if (source.find(entry) != null) {
                return added;
            }
        }
        // Only a warning: a "classpath" entry or the runtime itself may still provide the class.
        String where = line < 0 ? path + ": Main-Class of the JAR manifest: " : at(line);
        warn.accept(where + "main class \"" + name + "\" is not in the JARs (no " + entry + "); unless a "
                + "\"classpath\" entry provides it at run time, the program stops with \"The main startup "
                + "class could not be found.\"");
        return added;
    }

    /**
     * The launcher reads OUT.cfg, OUT.config, then the same without OUT's extension, and puts
     * that text before the packed one, unless the payload says "disableexternal true".
     */
    void warnExternalFiles(Path out) {
        int disable = firstLine("disableexternal");
        if (disable >= 0 && value(disable).equalsIgnoreCase("true")) {
            return;
        }
        String name = out.getFileName().toString();
        int dot = name.lastIndexOf('.');
        List<String> candidates = new ArrayList<>(Arrays.asList(name + ".cfg", name + ".config"));
        if (dot > 0) {
            candidates.add(name.substring(0, dot) + ".cfg");
            candidates.add(name.substring(0, dot) + ".config");
        }
        for (String candidate : candidates) {
            Path file = out.toAbsolutePath().resolveSibling(candidate);
            if (Files.exists(file)) {
                warn.accept(file + " exists beside the output: the program will read it at run time (as ANSI "
                        + "text unless it starts with a byte-order mark), its lines before the packed ones, so it "
                        + "overrides them; add \"disableexternal true\" to prevent that");
                return;
            }
        }
    }

    private String at(int line) {
        return path + ":" + (line + 1) + ": ";
    }

    private static String nearest(String word) {
        String best = null;
        int bestDistance = MAX_SUGGESTION_DISTANCE + 1;
        for (String keyword : KEYWORDS) {
            int d = distance(word, keyword);
            if (d < bestDistance) {
                best = keyword;
                bestDistance = d;
            }
        }
        return best;
    }

    /** Edit distance; both words are short (the input is bounded by one configuration line). */
    private static int distance(String a, String b) {
        if (Math.abs(a.length() - b.length()) > MAX_SUGGESTION_DISTANCE) {
            return MAX_SUGGESTION_DISTANCE + 1;
        }
        int[] previous = new int[b.length() + 1];
        int[] current = new int[b.length() + 1];
        for (int j = 0; j <= b.length(); j++) {
            previous[j] = j;
        }
        for (int i = 1; i <= a.length(); i++) {
            current[0] = i;
            for (int j = 1; j <= b.length(); j++) {
                int cost = a.charAt(i - 1) == b.charAt(j - 1) ? 0 : 1;
                current[j] = Math.min(Math.min(current[j - 1] + 1, previous[j] + 1), previous[j - 1] + cost);
            }
            int[] swap = previous;
            previous = current;
            current = swap;
        }
        return previous[b.length()];
    }
}
