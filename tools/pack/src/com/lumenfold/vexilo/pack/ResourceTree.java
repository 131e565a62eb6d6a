package com.lumenfold.vexilo.pack;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.TreeMap;

/**
 * The resources of a Windows image as type / name / language -> bytes, read from and written to
 * the three-level directory format of a resource section.
 */
final class ResourceTree {
    static final int RT_BITMAP = 2;
    static final int RT_ICON = 3;
    static final int RT_STRING = 6;
    static final int RT_RCDATA = 10;
    static final int RT_GROUP_ICON = 14;
    static final int RT_VERSION = 16;
    static final int RT_MANIFEST = 24;
    static final int LANG_EN_US = 0x0409;

    private static final int DIRECTORY_SIZE = 16;
    private static final int ENTRY_SIZE = 8;
    private static final int DATA_ENTRY_SIZE = 16;
    private static final long HIGH_BIT = 0x80000000L;
    private static final int LEVELS = 3;

    /** A resource type or name: an integer identifier or a string (strings sort first). */
    static final class Key implements Comparable<Key> {
        final int id;
        final String name;

        private Key(int id, String name) {
            this.id = id;
            this.name = name;
        }

        static Key of(int id) {
            return new Key(id, null);
        }

        static Key of(String name) {
            return new Key(-1, name);
        }

        @Override
        public int compareTo(Key other) {
            if ((name == null) != (other.name == null)) {
                return name != null ? -1 : 1;
            }
            if (name == null) {
                return Integer.compare(id, other.id);
            }
            // The loader searches names case-insensitively, in upper-case order.
            return name.toUpperCase(Locale.ROOT).compareTo(other.name.toUpperCase(Locale.ROOT));
        }

        @Override
        public boolean equals(Object o) {
            return o instanceof Key && compareTo((Key) o) == 0;
        }

        @Override
        public int hashCode() {
            return name == null ? id : name.toUpperCase(Locale.ROOT).hashCode();
        }

        @Override
        public String toString() {
            return name == null ? Integer.toString(id) : '"' + name + '"';
        }
    }

    static final class Leaf {
        final byte[] data;
        final long codePage;

        Leaf(byte[] data, long codePage) {
            this.data = data;
            this.codePage = codePage;
        }
    }

    private final Map<Key, Map<Key, Map<Key, Leaf>>> types = new TreeMap<>();

    Map<Key, Leaf> languages(int type, int id) {
        Map<Key, Map<Key, Leaf>> names = types.get(Key.of(type));
        Map<Key, Leaf> languages = names == null ? null : names.get(Key.of(id));
        return languages == null ? new TreeMap<>() : languages;
    }

    /** Replaces every language of type/id with this one resource. */
    void put(int type, int id, byte[] data) {
        Map<Key, Leaf> languages = new TreeMap<>();
        languages.put(Key.of(LANG_EN_US), new Leaf(data, 0));
        types.computeIfAbsent(Key.of(type), k -> new TreeMap<>()).put(Key.of(id), languages);
    }

    /** The highest integer name in use under type, 0 when there is none. */
    int highestId(int type) {
        Map<Key, Map<Key, Leaf>> names = types.get(Key.of(type));
        int highest = 0;
        if (names != null) {
            for (Key name : names.keySet()) {
                highest = Math.max(highest, name.id);
            }
        }
        return highest;
    }

    // ---- reading ----

    /**
     * Reads the directory at the start of section (the section's bytes, loaded at sectionRva).
     * Every offset is checked against the section; the depth is fixed at three levels, so a
     * directory that points back at itself cannot loop.
     */
    static ResourceTree read(Blob section, long sectionRva) throws PackException {
        ResourceTree tree = new ResourceTree();
        for (Map.Entry<Key, Long> type : entries(section, 0, 0).entrySet()) {
            Map<Key, Map<Key, Leaf>> names = new TreeMap<>();
            for (Map.Entry<Key, Long> name : entries(section, subdirectory(section, type.getValue()), 1).entrySet()) {
                Map<Key, Leaf> languages = new TreeMap<>();
                int dir = subdirectory(section, name.getValue());
                for (Map.Entry<Key, Long> lang : entries(section, dir, 2).entrySet()) {
                    languages.put(lang.getKey(), leaf(section, sectionRva, lang.getValue()));
                }
                names.put(name.getKey(), languages);
            }
            tree.types.put(type.getKey(), names);
        }
        return tree;
    }

    private static Map<Key, Long> entries(Blob section, int offset, int level) throws PackException {
        int named = section.u16(offset + 12, "resource directory");
        int ids = section.u16(offset + 14, "resource directory");
        section.require(offset + DIRECTORY_SIZE, (long) (named + ids) * ENTRY_SIZE, "resource directory entries");
        Map<Key, Long> out = new TreeMap<>();
        for (int i = 0; i < named + ids; i++) {
            int at = offset + DIRECTORY_SIZE + i * ENTRY_SIZE;
            long name = section.u32(at, "resource entry");
            Key key = (name & HIGH_BIT) != 0 ? Key.of(string(section, name & ~HIGH_BIT)) : Key.of((int) (name & 0xFFFF));
            long target = section.u32(at + 4, "resource entry");
            boolean isDirectory = (target & HIGH_BIT) != 0;
            if (isDirectory != (level < LEVELS - 1)) {
                throw section.damaged("resource directory is not three levels deep");
            }
            out.put(key, target);
        }
        return out;
    }

    private static int subdirectory(Blob section, long target) throws PackException {
        long offset = target & ~HIGH_BIT;
        section.require(offset, DIRECTORY_SIZE, "resource directory");
        return (int) offset;
    }

    private static String string(Blob section, long offset) throws PackException {
        int length = section.u16((int) Math.min(offset, Integer.MAX_VALUE), "resource name");
        return new String(section.slice(offset + 2, 2L * length, "resource name"), StandardCharsets.UTF_16LE);
    }

    private static Leaf leaf(Blob section, long sectionRva, long target) throws PackException {
        section.require(target, DATA_ENTRY_SIZE, "resource data entry");
        long rva = section.u32((int) target, "resource data entry");
        long size = section.u32((int) target + 4, "resource data entry");
        return new Leaf(section.slice(rva - sectionRva, size, "resource data"), section.u32((int) target + 8, "code page"));
    }

    // ---- writing ----

    /**
     * The section's bytes for loading at sectionRva: all directories, then the data entries, the
     * names, and the data, each resource aligned to 8 bytes.
     */
    byte[] write(long sectionRva) {
        int directoryBytes = directoryBytes();
        List<Leaf> leaves = leaves();
        Layout layout = new Layout(directoryBytes + DATA_ENTRY_SIZE * leaves.size());
        byte[] header = new byte[layout.stringsStart];
        writeDirectories(header, layout, directoryBytes);
        ByteArrayOutputStream data = new ByteArrayOutputStream();
        data.write(header, 0, header.length);
        data.write(layout.strings.toByteArray(), 0, layout.strings.size());
        for (int i = 0; i < leaves.size(); i++) {
            pad(data, 8);
            int entry = directoryBytes + i * DATA_ENTRY_SIZE;
            Blob.putU32(header, entry, sectionRva + data.size());
            Blob.putU32(header, entry + 4, leaves.get(i).data.length);
            Blob.putU32(header, entry + 8, leaves.get(i).codePage);
            data.write(leaves.get(i).data, 0, leaves.get(i).data.length);
        }
        byte[] out = data.toByteArray();
        System.arraycopy(header, 0, out, 0, header.length);
        return out;
    }

    private int directoryBytes() {
        int bytes = DIRECTORY_SIZE + ENTRY_SIZE * types.size();
        for (Map<Key, Map<Key, Leaf>> names : types.values()) {
            bytes += DIRECTORY_SIZE + ENTRY_SIZE * names.size();
            for (Map<Key, Leaf> languages : names.values()) {
                bytes += DIRECTORY_SIZE + ENTRY_SIZE * languages.size();
            }
        }
        return bytes;
    }

    /** The resources in the order their data entries are written. */
    private List<Leaf> leaves() {
        List<Leaf> leaves = new ArrayList<>();
        for (Map<Key, Map<Key, Leaf>> names : types.values()) {
            for (Map<Key, Leaf> languages : names.values()) {
                leaves.addAll(languages.values());
            }
        }
        return leaves;
    }

    /**
     * The root, then every type directory, then every name directory: each level's directories
     * follow one another in map order, so a running cursor hands out the offset of the next
     * level's directory (or, below the names, of the data entry) in that same order.
     */
    private void writeDirectories(byte[] header, Layout layout, int dataEntries) {
        int typeDirs = DIRECTORY_SIZE + ENTRY_SIZE * types.size();
        int nameDirs = typeDirs;
        for (Map<Key, Map<Key, Leaf>> names : types.values()) {
            nameDirs += DIRECTORY_SIZE + ENTRY_SIZE * names.size();
        }
        writeDirectory(header, 0, types, layout, new int[] {typeDirs}, null);
        int[] nameCursor = {nameDirs};
        int[] leafCursor = {dataEntries};
        int at = typeDirs;
        for (Map<Key, Map<Key, Leaf>> names : types.values()) {
            at = writeDirectory(header, at, names, layout, nameCursor, null);
        }
        for (Map<Key, Map<Key, Leaf>> names : types.values()) {
            for (Map<Key, Leaf> languages : names.values()) {
                at = writeDirectory(header, at, languages, layout, null, leafCursor);
            }
        }
    }

    /** Where the names go, and each name's offset once written. */
    private static final class Layout {
        final int stringsStart;
        final ByteArrayOutputStream strings = new ByteArrayOutputStream();
        final Map<String, Integer> stringOffsets = new TreeMap<>();

        Layout(int stringsStart) {
            this.stringsStart = stringsStart;
        }

        int offsetOf(String name) {
            Integer known = stringOffsets.get(name);
            if (known != null) {
                return known;
            }
            int offset = stringsStart + strings.size();
            byte[] units = name.getBytes(StandardCharsets.UTF_16LE);
            strings.write(units.length / 2 & 0xFF);
            strings.write(units.length / 2 >>> 8 & 0xFF);
            strings.write(units, 0, units.length);
            stringOffsets.put(name, offset);
            return offset;
        }
    }

    /**
     * Writes one directory at offset: subdirectories are handed out from dirCursor, data entries
     * (for the language level) from leafCursor. Returns the offset after the directory.
     */
    private static int writeDirectory(byte[] out, int offset, Map<Key, ?> directory, Layout layout,
                                      int[] dirCursor, int[] leafCursor) {
        int named = 0;
        for (Key key : directory.keySet()) {
            named += key.name != null ? 1 : 0;
        }
        Blob.putU16(out, offset + 12, named);
        Blob.putU16(out, offset + 14, directory.size() - named);
        int at = offset + DIRECTORY_SIZE;
        for (Map.Entry<Key, ?> entry : directory.entrySet()) {
            Key key = entry.getKey();
            Blob.putU32(out, at, key.name != null ? HIGH_BIT | layout.offsetOf(key.name) : key.id);
            if (leafCursor != null) {
                Blob.putU32(out, at + 4, leafCursor[0]);
                leafCursor[0] += DATA_ENTRY_SIZE;
            } else if (dirCursor != null) {
                Blob.putU32(out, at + 4, HIGH_BIT | dirCursor[0]);
                dirCursor[0] += DIRECTORY_SIZE + ENTRY_SIZE * ((Map<?, ?>) entry.getValue()).size();
            }
            at += ENTRY_SIZE;
        }
        return at;
    }

    private static void pad(ByteArrayOutputStream out, int alignment) {
        while (out.size() % alignment != 0) {
            out.write(0);
        }
    }
}
