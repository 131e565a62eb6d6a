package com.lumenfold.vexilo.pack;

import java.io.Closeable;
import java.io.IOException;
import java.nio.file.Path;
import java.util.zip.ZipEntry;
import java.util.zip.ZipException;
import java.util.zip.ZipFile;

/** One input of the merge: an application JAR, or the companion classes inside the packer's own JAR. */
final class Source implements Closeable {
    static final String COMPANION_PREFIX = "companion/";

    final String label;
    final ZipFile zip;
    private final Path file;
    private final String prefix;
    private final boolean keepSplash;

    private Source(String label, Path file, String prefix, boolean keepSplash) throws PackException {
        this.label = label;
        this.file = file;
        this.zip = open(file);
        this.prefix = prefix;
        this.keepSplash = keepSplash;
    }

    static Source application(Path jar) throws PackException {
        return new Source(jar.toString(), jar, "", true);
    }

    /** Splash classes only make sense in a GUI program file; console images lack their natives. */
    static Source companions(Path packerJar, boolean gui) throws PackException {
        return new Source("the companion classes of " + packerJar, packerJar, COMPANION_PREFIX, gui);
    }

    /** The application JAR, or null for the companion classes (no Class-Path of theirs is read). */
    Path path() {
        return isApplication() ? file : null;
    }

    /** The JAR's file name, for names derived from it. */
    String fileName() {
        Path name = file.getFileName();
        return name == null ? "jar" : name.toString();
    }

    private static ZipFile open(Path jar) throws PackException {
        try {
            return new ZipFile(jar.toFile());
        } catch (ZipException e) {
            throw new PackException("not a JAR/ZIP archive: " + jar);
        } catch (IOException e) {
            throw new PackException("cannot read " + jar + ": " + Inputs.reason(e));
        }
    }

    /** An application JAR without a single entry. */
    boolean isEmptyApplication() {
        return isApplication() && zip.size() == 0;
    }

    boolean isApplication() {
        return prefix.isEmpty();
    }

    /** The entry's name in the merged archive, or null when it does not go there. */
    String targetName(ZipEntry entry) {
        String name = entry.getName();
        if (!name.startsWith(prefix) || name.length() == prefix.length()) {
            return null;
        }
        String target = name.substring(prefix.length());
        return keepSplash || !isSplashClass(target) ? target : null;
    }

    /** The name in this source of the entry that becomes targetName in the merged archive. */
    String entryNameOf(String targetName) {
        return prefix + targetName;
    }

    /** Looks an entry up by its name in the merged archive. */
    ZipEntry find(String targetName) {
        ZipEntry entry = zip.getEntry(prefix + targetName);
        return entry != null && targetName.equals(targetName(entry)) ? entry : null;
    }

    static boolean isSplashClass(String name) {
        return isClassFamily(name, "com/lumenfold/vxo/SplashScreen")
                || isClassFamily(name, "com/lumenfold/vxo/SplashCloseOnWindow");
    }

    /** The class itself plus its inner and anonymous classes, all in the same package. */
    private static boolean isClassFamily(String name, String stem) {
        return name.startsWith(stem) && name.endsWith(".class") && name.indexOf('/', stem.length()) < 0;
    }

    @Override
    public void close() throws IOException {
        zip.close();
    }
}
