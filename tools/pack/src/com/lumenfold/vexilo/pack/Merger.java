package com.lumenfold.vexilo.pack;

import java.io.IOException;
import java.io.InputStream;
import java.util.Enumeration;
import java.util.HashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.function.Consumer;
import java.util.jar.Manifest;
import java.util.zip.ZipEntry;
import java.util.zip.ZipOutputStream;

/** Merges the sources into one archive: first copy of a name wins. */
final class Merger {
    static final String MANIFEST = "META-INF/MANIFEST.MF";
    private static final String META_INF = "META-INF/";

    private final ZipOutputStream zip;
    private final Consumer<String> warn;
    /** Name in the archive -> label of the source it came from. */
    private final Map<String, String> written = new HashMap<>();
    private final byte[] buffer = new byte[64 * 1024];

    Merger(ZipOutputStream zip, Consumer<String> warn) {
        this.zip = zip;
        this.warn = warn;
    }

    void merge(List<Source> sources) throws PackException, IOException {
        writeManifestFirst(sources);
        for (Source source : sources) {
            copyAll(source);
        }
        if (written.isEmpty()) {
            throw new PackException("nothing to pack: the JARs have no entries");
        }
    }

    /** The manifest the merged archive will carry (the first JAR's that has one), or null. */
    static Manifest winningManifest(List<Source> sources, Consumer<String> warn) throws PackException {
        for (Source source : sources) {
            ZipEntry entry = source.find(MANIFEST);
            if (entry != null) {
                try (InputStream in = openInput(source, entry)) {
                    return new Manifest(in);
                } catch (IOException e) {
                    // The launcher never reads it; only the defaults taken from it are lost.
                    warn.accept("cannot read " + MANIFEST + " of " + source.label + " (" + e.getMessage()
                            + "): no Main-Class or version taken from it");
                    return null;
                }
            }
        }
        return null;
    }

    /** Stream readers of JARs only find the manifest near the start, so the winning one goes first. */
    private void writeManifestFirst(List<Source> sources) throws PackException, IOException {
        for (Source source : sources) {
            ZipEntry manifest = source.find(MANIFEST);
            if (manifest != null) {
                ZipEntry dir = source.find(META_INF);
                if (dir != null) {
                    copy(source, dir, META_INF);
                }
                copy(source, manifest, MANIFEST);
                return;
            }
        }
    }

    private void copyAll(Source source) throws PackException, IOException {
        Enumeration<? extends ZipEntry> entries = source.zip.entries();
        while (entries.hasMoreElements()) {
            ZipEntry entry = nextEntry(source, entries);
            String name = source.targetName(entry);
            if (name != null && admit(source, entry, name)) {
                copy(source, entry, name);
            }
        }
    }

    private static ZipEntry nextEntry(Source source, Enumeration<? extends ZipEntry> entries)
            throws PackException {
        try {
            return entries.nextElement();
        } catch (IllegalArgumentException e) {
            // ZipFile reports undecodable entry names this way.
            throw new PackException("corrupt JAR/ZIP archive " + source.label + ": " + e.getMessage());
        }
    }

    private boolean admit(Source source, ZipEntry entry, String name) {
        if (isSignature(name)) {
            warn.accept("dropped " + name + " from " + source.label + " (merging invalidates signatures)");
            return false;
        }
        if (name.equalsIgnoreCase("META-INF/INDEX.LIST")) {
            warn.accept("dropped " + name + " from " + source.label + " (it indexes the original JARs only)");
            return false;
        }
        String winner = written.get(name);
        if (winner == null) {
            return true;
        }
        // Every JAR brings a manifest and shares directories; those losing is expected, not news.
        if (!entry.isDirectory() && !name.equals(MANIFEST)) {
            warn.accept("duplicate entry " + name + " in " + source.label + " ignored, keeping the one from "
                    + winner);
        }
        return false;
    }

    static boolean isSignature(String name) {
        String upper = name.toUpperCase(Locale.ROOT);
        if (!upper.startsWith(META_INF) || upper.indexOf('/', META_INF.length()) >= 0) {
            return false;
        }
        return upper.endsWith(".SF") || upper.endsWith(".RSA") || upper.endsWith(".DSA")
                || upper.endsWith(".EC");
    }

    private void copy(Source source, ZipEntry entry, String name) throws PackException, IOException {
        ZipEntry out = new ZipEntry(name);
        if (entry.getTime() != -1) {
            out.setTime(entry.getTime());
        }
        if (entry.isDirectory()) {
            out.setMethod(ZipEntry.STORED);
            out.setSize(0);
            out.setCompressedSize(0);
            out.setCrc(0);
            zip.putNextEntry(out);
        } else {
            out.setMethod(ZipEntry.DEFLATED);
            zip.putNextEntry(out);
            copyData(source, entry);
        }
        zip.closeEntry();
        written.put(name, source.label);
    }

    /** Read failures blame the input; write failures propagate as plain I/O errors on the output. */
    private void copyData(Source source, ZipEntry entry) throws PackException, IOException {
        try (InputStream in = openInput(source, entry)) {
            int n;
            while ((n = readInput(source, entry, in)) >= 0) {
                zip.write(buffer, 0, n);
            }
        }
    }

    private static InputStream openInput(Source source, ZipEntry entry) throws PackException {
        try {
            return source.zip.getInputStream(entry);
        } catch (IOException e) {
            throw corrupt(source, entry, e);
        }
    }

    private int readInput(Source source, ZipEntry entry, InputStream in) throws PackException {
        try {
            return in.read(buffer);
        } catch (IOException e) {
            throw corrupt(source, entry, e);
        }
    }

    private static PackException corrupt(Source source, ZipEntry entry, IOException e) {
        return new PackException("corrupt entry " + entry.getName() + " in " + source.label + ": "
                + e.getMessage());
    }
}
