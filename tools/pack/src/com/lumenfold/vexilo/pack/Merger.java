package com.lumenfold.vexilo.pack;

import java.io.ByteArrayInputStream;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.net.URI;
import java.net.URISyntaxException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Enumeration;
import java.util.HashMap;
import java.util.LinkedHashMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.function.Consumer;
import java.util.jar.Attributes;
import java.util.jar.Manifest;
import java.util.zip.CRC32;
import java.util.zip.ZipEntry;
import java.util.zip.ZipOutputStream;

/**
 * Merges the sources into one archive that the class path reads as it would read the JARs one
 * after the other: the first copy of a name wins, service files are joined, the manifests are
 * merged, and a later JAR's licence files are kept under a name of their own.
 *
 * <p>The whole archive is planned from the central directories before a byte is written, so the
 * size, the manifest and every conflict are known up front.
 */
final class Merger {
    static final String MANIFEST = "META-INF/MANIFEST.MF";
    static final String SERVICES = "META-INF/services/";
    private static final String META_INF = "META-INF/";
    /** Service files and manifests are read whole; real ones are a few kilobytes. */
    private static final int MAX_TEXT_ENTRY = 16 << 20;
    // Local header, central header, data descriptor: what ZipOutputStream adds to each entry.
    private static final int ENTRY_OVERHEAD = 30 + 46 + 24;
    private static final Attributes.Name MULTI_RELEASE = new Attributes.Name("Multi-Release");

    /**
     * One entry of the merged archive, copied from one source or joined from several. Large JARs
     * have many entries: an item keeps the entry's name, CRC and size, not the entry itself, and
     * looks the entry up again when it is written.
     */
    private static final class Item {
        final String name;
        final Source source;
        /** The entry's name in its source: the same string as name unless prefixed or renamed. */
        final String entryName;
        final long size;
        final long crc;
        /** Service files only: the later copies to join, in order. */
        List<Source> joined;

        Item(String name, Source source, ZipEntry entry, boolean service) {
            this.name = name;
            this.source = source;
            this.entryName = entry.getName().equals(name) ? name : entry.getName();
            this.size = entry.getSize();
            this.crc = entry.getCrc();
            this.joined = service ? new ArrayList<>() : null;
        }

        boolean sameData(ZipEntry other) {
            return size == other.getSize() && crc == other.getCrc() && crc != -1;
        }
    }

    /** What one source lost to earlier ones, for the summary line. */
    private static final class Losses {
        final Set<String> winners = new LinkedHashSet<>();
        final List<String> names = new ArrayList<>();
        int differing;
        final List<String> renamedLicences = new ArrayList<>();
    }

    private final Consumer<String> warn;
    private final boolean verbose;
    private final List<Item> items = new ArrayList<>();
    /** Name in the archive -> its item. */
    private final Map<String, Item> byName = new HashMap<>();
    private final Map<Source, Losses> losses = new LinkedHashMap<>();
    private Source manifestSource;
    private ZipEntry manifestEntry;
    private byte[] manifestBytes;
    private Manifest manifest;
    private String mainClassFrom;
    private long estimate;
    private final byte[] buffer = new byte[64 * 1024];

    /** Plans the archive; reads the central directories, the manifests and nothing else. */
    Merger(List<Source> sources, List<Path> jars, Consumer<String> warn, boolean verbose) throws PackException {
        this.warn = warn;
        this.verbose = verbose;
        List<Source> withManifest = new ArrayList<>();
        for (Source source : sources) {
            plan(source, withManifest);
        }
        reportLosses();
        mergeManifests(withManifest, jars);
    }

    /** The manifest the merged archive carries (null when none or when it cannot be read). */
    Manifest manifest() {
        return manifest;
    }

    /** The label of the JAR whose Main-Class the merged manifest names, or null. */
    String mainClassFrom() {
        return mainClassFrom;
    }

    boolean isEmpty() {
        return items.isEmpty() && manifestEntry == null;
    }

    /**
     * About the size of the archive: the entries' compressed sizes in their JARs and the headers.
     * The data is deflated again, so the real size differs a little.
     */
    long estimatedSize() {
        return estimate + (manifestBytes == null ? 0 : manifestBytes.length + ENTRY_OVERHEAD) + 22 + 56 + 20;
    }

    private void plan(Source source, List<Source> withManifest) throws PackException {
        Enumeration<? extends ZipEntry> entries = source.zip.entries();
        while (entries.hasMoreElements()) {
            ZipEntry entry = nextEntry(source, entries);
            String name = source.targetName(entry);
            if (name == null || dropped(source, name)) {
                continue;
            }
            if (name.equals(MANIFEST)) {
                if (!withManifest.contains(source)) {
                    withManifest.add(source);
                }
                continue;
            }
            Item winner = byName.get(name);
            boolean service = isService(name) && !entry.isDirectory();
            if (winner == null) {
                add(new Item(name, source, entry, service), entry);
            } else if (entry.isDirectory()) {
                continue;
            } else if (winner.joined != null) {
                winner.joined.add(source);
                estimate += Math.max(0, entry.getSize());
            } else if (isLicence(name) && !winner.sameData(entry)) {
                String kept = licenceName(name, source);
                add(new Item(kept, source, entry, false), entry);
                lossesOf(source).renamedLicences.add(kept);
            } else {
                Losses lost = lossesOf(source);
                lost.winners.add(winner.source.label);
                lost.names.add(name);
                if (!winner.sameData(entry)) {
                    lost.differing++;
                }
            }
        }
    }

    private void add(Item item, ZipEntry entry) {
        items.add(item);
        byName.put(item.name, item);
        long data = entry.isDirectory() ? 0 : Math.max(entry.getCompressedSize(), 0);
        estimate += data + ENTRY_OVERHEAD + 2L * item.name.getBytes(StandardCharsets.UTF_8).length;
    }

    private Losses lossesOf(Source source) {
        return losses.computeIfAbsent(source, s -> new Losses());
    }

    private boolean dropped(Source source, String name) {
        if (isSignature(name)) {
            warn.accept("dropped " + name + " from " + source.label + " (merging invalidates signatures)");
            return true;
        }
        if (name.equalsIgnoreCase("META-INF/INDEX.LIST")) {
            warn.accept("dropped " + name + " from " + source.label + " (it indexes the original JARs only)");
            return true;
        }
        return false;
    }

    /** One line per JAR that lost entries; the names themselves only when asked for. */
    private void reportLosses() {
        for (Map.Entry<Source, Losses> e : losses.entrySet()) {
            String label = e.getKey().label;
            Losses lost = e.getValue();
            if (!lost.names.isEmpty()) {
                String winners = String.join(", ", lost.winners);
                String what = lost.names.size() == 1 ? "entry " + lost.names.get(0)
                        : lost.names.size() + " entries";
                warn.accept(label + ": " + what + " already in " + winners + ", kept "
                        + (lost.winners.size() == 1 ? winners + "'s" : "the first copies")
                        + (lost.differing == 0 ? " (same content)" : " (" + lost.differing + " with other content)"));
                if (verbose && lost.names.size() > 1) {
                    for (String name : lost.names) {
                        warn.accept(label + ": duplicate " + name + " ignored");
                    }
                }
            }
            for (String kept : lost.renamedLicences) {
                warn.accept(label + ": licence file kept as " + kept + " (an earlier JAR has one of that name)");
            }
        }
    }

    static boolean isSignature(String name) {
        String upper = name.toUpperCase(Locale.ROOT);
        if (!upper.startsWith(META_INF) || upper.indexOf('/', META_INF.length()) >= 0) {
            return false;
        }
        return upper.endsWith(".SF") || upper.endsWith(".RSA") || upper.endsWith(".DSA")
                || upper.endsWith(".EC");
    }

    /** A provider-configuration file: one level below META-INF/services/, as the service loader reads them. */
    static boolean isService(String name) {
        return name.startsWith(SERVICES) && name.length() > SERVICES.length()
                && name.indexOf('/', SERVICES.length()) < 0;
    }

    /** Licence, notice and copyright texts at the root or in META-INF (any depth), any case. */
    static boolean isLicence(String name) {
        int slash = name.lastIndexOf('/');
        String folder = name.substring(0, slash + 1).toUpperCase(Locale.ROOT);
        if (!folder.isEmpty() && !folder.startsWith(META_INF)) {
            return false;
        }
        if (folder.startsWith(SERVICES.toUpperCase(Locale.ROOT)) || folder.startsWith("META-INF/VERSIONS/")) {
            return false;
        }
        String file = name.substring(slash + 1).toUpperCase(Locale.ROOT);
        if (file.endsWith(".CLASS")) {
            return false;
        }
        for (String stem : new String[] {"LICENSE", "LICENCE", "NOTICE", "COPYING", "COPYRIGHT", "THIRD-PARTY",
                "THIRD_PARTY", "DEPENDENCIES"}) {
            if (file.startsWith(stem)) {
                return true;
            }
        }
        return false;
    }

    /**
     * "META-INF/LICENSE.txt" of lib-1.2.jar becomes "META-INF/LICENSE-lib-1.2.txt", numbered if
     * taken. Only a short alphabetic ending counts as the extension: "LICENSE-2.0" keeps its ".0".
     */
    private String licenceName(String name, Source source) {
        String jar = source.fileName();
        if (jar.toLowerCase(Locale.ROOT).endsWith(".jar")) {
            jar = jar.substring(0, jar.length() - 4);
        }
        jar = jar.replaceAll("[^A-Za-z0-9._-]", "_");
        int dot = name.lastIndexOf('.');
        boolean hasExtension = dot > name.lastIndexOf('/') + 1 && name.substring(dot + 1).matches("[A-Za-z]{1,5}");
        String stem = hasExtension ? name.substring(0, dot) : name;
        String extension = hasExtension ? name.substring(dot) : "";
        String candidate = stem + "-" + jar + extension;
        for (int n = 2; byName.containsKey(candidate); n++) {
            candidate = stem + "-" + jar + "-" + n + extension;
        }
        return candidate;
    }

    /**
     * The merged manifest: main attributes of the first, the union of every Class-Path, the
     * first Main-Class named, multi-release when any is, every per-entry section (first wins).
     */
    private void mergeManifests(List<Source> withManifest, List<Path> jars) throws PackException {
        if (withManifest.isEmpty()) {
            return;
        }
        manifestSource = withManifest.get(0);
        manifestEntry = manifestSource.find(MANIFEST);
        manifestBytes = readWhole(manifestSource, manifestEntry);
        List<Manifest> readable = new ArrayList<>();
        List<Source> readableSources = new ArrayList<>();
        for (Source source : withManifest) {
            Manifest parsed = parse(source, source == manifestSource ? manifestBytes
                    : readWhole(source, source.find(MANIFEST)));
            if (parsed == null && source == manifestSource) {
                return;  // its bytes go into the archive as they are
            }
            if (parsed != null) {
                readable.add(parsed);
                readableSources.add(source);
            }
        }
        Manifest merged = new Manifest(readable.get(0));
        Attributes main = merged.getMainAttributes();
        Set<String> classPath = new LinkedHashSet<>();
        Set<String> beside = new LinkedHashSet<>();
        for (int i = 0; i < readable.size(); i++) {
            Attributes attributes = readable.get(i).getMainAttributes();
            Source source = readableSources.get(i);
            String mainClass = attributes.getValue(Attributes.Name.MAIN_CLASS);
            if (mainClassFrom == null && mainClass != null && !mainClass.trim().isEmpty()) {
                main.put(Attributes.Name.MAIN_CLASS, mainClass);
                mainClassFrom = source.label;
            }
            if ("true".equalsIgnoreCase(trimmed(attributes.getValue(MULTI_RELEASE)))) {
                main.put(MULTI_RELEASE, "true");
            }
            String path = attributes.getValue(Attributes.Name.CLASS_PATH);
            for (String part : path == null ? new String[0] : path.trim().split("\\s+")) {
                if (!part.isEmpty() && classPath.add(part) && !namesMergedJar(source, part, jars)) {
                    beside.add(part);
                }
            }
            for (Map.Entry<String, Attributes> section : readable.get(i).getEntries().entrySet()) {
                merged.getEntries().putIfAbsent(section.getKey(), section.getValue());
            }
        }
        classPath.retainAll(beside);
        if (classPath.isEmpty()) {
            main.remove(Attributes.Name.CLASS_PATH);
        } else {
            main.put(Attributes.Name.CLASS_PATH, String.join(" ", classPath));
            warn.accept("Class-Path " + String.join(" ", classPath) + ": the runtime looks for "
                    + (classPath.size() == 1 ? "this file" : "these files")
                    + " beside the program file, after the packed classes");
        }
        manifest = merged;
        if (!merged.equals(readable.get(0))) {
            ByteArrayOutputStream out = new ByteArrayOutputStream();
            try {
                merged.write(out);
            } catch (IOException e) {
                throw new IllegalStateException("writing to memory", e);
            }
            manifestBytes = out.toByteArray();
        }
    }

    private static String trimmed(String value) {
        return value == null ? null : value.trim();
    }

    /** True when a Class-Path entry of source, resolved as the class path would, is one of the merged JARs. */
    private static boolean namesMergedJar(Source source, String entry, List<Path> jars) {
        Path jar = source.path();
        if (jar == null) {
            return false;
        }
        Path target;
        try {
            URI uri = new URI(entry);
            if (uri.isAbsolute()) {
                if (!"file".equalsIgnoreCase(uri.getScheme())) {
                    return false;
                }
                target = Paths.get(uri);
            } else {
                Path folder = jar.toAbsolutePath().getParent();
                target = folder.resolve(uri.getPath() == null ? entry : uri.getPath());
            }
        } catch (URISyntaxException | IllegalArgumentException e) {
            return false;
        }
        target = target.normalize();
        for (Path merged : jars) {
            Path candidate = merged.toAbsolutePath().normalize();
            try {
                if (candidate.equals(target) || (Files.exists(target) && Files.isSameFile(candidate, target))) {
                    return true;
                }
            } catch (IOException e) {
                // not comparable: not the same file as far as the packer can tell
            }
        }
        return false;
    }

    private Manifest parse(Source source, byte[] bytes) {
        try {
            return new Manifest(new ByteArrayInputStream(bytes));
        } catch (IOException | RuntimeException e) {
            // The launcher never reads it; only what is taken from it is lost.
            warn.accept("cannot read " + MANIFEST + " of " + source.label + " (" + e.getMessage() + "): "
                    + (source == manifestSource ? "kept as it is, no Main-Class, Class-Path or version taken from it"
                    : "its Main-Class, Class-Path and Multi-Release are not merged"));
            return null;
        }
    }

    /** Writes the planned archive: manifest first (stream readers only look there), then the rest. */
    void write(ZipOutputStream zip) throws PackException, IOException {
        boolean directoryWritten = false;
        if (manifestEntry != null) {
            ZipEntry dir = manifestSource.find(META_INF);
            if (dir != null) {
                putDirectory(zip, META_INF, dir.getTime());
                directoryWritten = true;
            }
            ZipEntry out = newEntry(MANIFEST, manifestEntry);
            zip.putNextEntry(out);
            zip.write(manifestBytes);
            zip.closeEntry();
        }
        for (Item item : items) {
            if (directoryWritten && item.name.equals(META_INF)) {
                continue;
            }
            ZipEntry first = entry(item.source, item.entryName);
            if (first.isDirectory()) {
                putDirectory(zip, item.name, first.getTime());
            } else if (item.joined != null && !item.joined.isEmpty()) {
                zip.putNextEntry(newEntry(item.name, first));
                zip.write(joinServices(item, first));
                zip.closeEntry();
            } else {
                zip.putNextEntry(newEntry(item.name, first));
                copyData(zip, item.source, first);
                zip.closeEntry();
            }
        }
    }

    private static ZipEntry newEntry(String name, ZipEntry from) {
        ZipEntry out = new ZipEntry(name);
        if (from.getTime() != -1) {
            out.setTime(from.getTime());
        }
        out.setMethod(ZipEntry.DEFLATED);
        return out;
    }

    private static void putDirectory(ZipOutputStream zip, String name, long time) throws IOException {
        ZipEntry out = new ZipEntry(name);
        if (time != -1) {
            out.setTime(time);
        }
        out.setMethod(ZipEntry.STORED);
        out.setSize(0);
        out.setCompressedSize(0);
        out.setCrc(0);
        zip.putNextEntry(out);
        zip.closeEntry();
    }

    /** Provider lines of every JAR in order, each provider once; comments and blanks dropped. */
    private byte[] joinServices(Item item, ZipEntry first) throws PackException {
        Set<String> providers = new LinkedHashSet<>();
        List<Source> sources = new ArrayList<>();
        sources.add(item.source);
        sources.addAll(item.joined);
        for (Source source : sources) {
            ZipEntry entry = source == item.source ? first : entry(source, source.entryNameOf(item.name));
            String text = new String(readWhole(source, entry), StandardCharsets.UTF_8);
            for (String line : text.split("\r\n|\r|\n")) {
                int hash = line.indexOf('#');
                String provider = (hash < 0 ? line : line.substring(0, hash)).trim();
                if (provider.startsWith("\uFEFF")) {
                    provider = provider.substring(1).trim();
                }
                if (!provider.isEmpty()) {
                    providers.add(provider);
                }
            }
        }
        StringBuilder joined = new StringBuilder();
        for (String provider : providers) {
            joined.append(provider).append('\n');
        }
        return joined.toString().getBytes(StandardCharsets.UTF_8);
    }

    private byte[] readWhole(Source source, ZipEntry entry) throws PackException {
        if (entry.getSize() > MAX_TEXT_ENTRY) {
            throw new PackException(entry.getName() + " in " + source.label + " is larger than "
                    + (MAX_TEXT_ENTRY >> 20) + " MiB: not a manifest or service file the packer takes");
        }
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        CRC32 crc = new CRC32();
        long total = 0;
        try (InputStream in = openInput(source, entry)) {
            int n;
            while ((n = readInput(source, entry, in)) >= 0) {
                out.write(buffer, 0, n);
                crc.update(buffer, 0, n);
                total += n;
                if (total > MAX_TEXT_ENTRY) {
                    throw corrupt(source, entry, "longer than its recorded size");
                }
            }
        } catch (IOException e) {
            throw corrupt(source, entry, e.getMessage());
        }
        verify(source, entry, crc, total);
        return out.toByteArray();
    }

    /** The entry planned from the central directory, looked up again by its name. */
    private static ZipEntry entry(Source source, String entryName) throws PackException {
        ZipEntry entry = source.zip.getEntry(entryName);
        if (entry == null) {
            throw new PackException("corrupt JAR/ZIP archive " + source.label + ": entry " + entryName
                    + " is listed but cannot be found");
        }
        return entry;
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

    /**
     * Read failures blame the input; write failures propagate as plain I/O errors on the output.
     * The data is checked against its recorded CRC and size: a damaged entry is refused rather
     * than written with a fresh, valid CRC over the damaged bytes.
     */
    private void copyData(ZipOutputStream zip, Source source, ZipEntry entry) throws PackException, IOException {
        CRC32 crc = new CRC32();
        long total = 0;
        try (InputStream in = openInput(source, entry)) {
            int n;
            while ((n = readInput(source, entry, in)) >= 0) {
                crc.update(buffer, 0, n);
                total += n;
                zip.write(buffer, 0, n);
            }
        }
        verify(source, entry, crc, total);
    }

    private static void verify(Source source, ZipEntry entry, CRC32 crc, long total) throws PackException {
        if (entry.getSize() != -1 && total != entry.getSize()) {
            throw corrupt(source, entry, "its data is " + total + " bytes, its header says " + entry.getSize());
        }
        if (entry.getCrc() != -1 && crc.getValue() != entry.getCrc()) {
            throw corrupt(source, entry, String.format("CRC %08x does not match the recorded %08x",
                    crc.getValue(), entry.getCrc()));
        }
    }

    private static InputStream openInput(Source source, ZipEntry entry) throws PackException {
        try {
            return source.zip.getInputStream(entry);
        } catch (IOException e) {
            throw corrupt(source, entry, e.getMessage());
        }
    }

    private int readInput(Source source, ZipEntry entry, InputStream in) throws PackException {
        try {
            return in.read(buffer);
        } catch (IOException e) {
            throw corrupt(source, entry, e.getMessage());
        }
    }

    private static PackException corrupt(Source source, ZipEntry entry, String detail) {
        return new PackException("corrupt entry " + entry.getName() + " in " + source.label + ": " + detail);
    }
}
