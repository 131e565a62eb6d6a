package com.lumenfold.vexilo.pack;

import java.awt.Graphics2D;
import java.awt.RenderingHints;
import java.awt.image.BufferedImage;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.io.RandomAccessFile;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileVisitResult;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.attribute.BasicFileAttributes;
import java.nio.file.attribute.FileTime;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.text.SimpleDateFormat;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Date;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.TimeZone;
import java.util.TreeSet;
import java.util.regex.Pattern;
import java.util.zip.CRC32;
import java.util.zip.Deflater;
import java.util.zip.DeflaterOutputStream;
import javax.imageio.ImageIO;

/**
 * "vexilo-pack deb": a Debian package built with dpkg-deb: the program and its runtime in
 * /opt/PACKAGE, a command in /usr/bin, a menu entry with icons and file types, and the
 * dependencies a system needs to run it.
 */
final class DebCommand implements Commands.Command {
    static final String USAGE = "usage: vexilo-pack deb --program APP [--runtime DIR] [--file F ...] --name PACKAGE\n"
            + "                       --version X.Y.Z --maintainer \"NAME <MAIL>\" [--title \"MENU NAME\"]\n"
            + "                       [--description TEXT] [--categories A;B;] [--icon APP.png]\n"
            + "                       [--associate .EXT=MIME/TYPE ...] [--depends PKG ...] [--copyright FILE]\n"
            + "                       --out PACKAGE.deb";
    private static final String HELP = USAGE + "\n\n"
            + "Writes a Debian package (with dpkg-deb): the program, the runtime (as jre/) and the extra\n"
            + "files or folders in /opt/PACKAGE, the command /usr/bin/PACKAGE, a menu entry (.desktop)\n"
            + "with the icon in the hicolor sizes, a shared-mime-info file for the associated types, and\n"
            + "Depends on the libraries it links (dpkg-shlibdeps) and, without --runtime, on a Java\n"
            + "runtime of the program's minjre. --categories defaults to Utility;.\n";

    private static final Pattern PACKAGE = Pattern.compile("[a-z0-9][a-z0-9+.-]+");
    private static final Pattern VERSION = Pattern.compile("[0-9][A-Za-z0-9.+~]*(-[A-Za-z0-9.+~]+)?");
    private static final Pattern MAINTAINER = Pattern.compile("[^<>,\\n]+ <[^<>@\\s]+@[^<>\\s]+>");
    private static final Pattern EXTENSION = Pattern.compile("\\.[A-Za-z0-9_+-]{1,32}");
    private static final Pattern MIME = Pattern.compile("[a-z0-9][a-z0-9!#$&^_.+-]*/[A-Za-z0-9][A-Za-z0-9!#$&^_.+-]*");
    private static final Pattern CATEGORIES = Pattern.compile("([A-Za-z0-9-]+;)+");
    private static final int[] ICON_SIZES = {16, 22, 24, 32, 48, 64, 128, 256, 512};
    private static final byte[] MARKER = "VEXILO_ARCLEN\0".getBytes(StandardCharsets.ISO_8859_1);
    private static final byte[] GUI_EXPORT = "Java_com_lumenfold_vxo_SplashScreen_nativeClose".getBytes(StandardCharsets.ISO_8859_1);
    /** The launcher image is the first megabytes of a program file; the marker is looked for there only. */
    private static final long IMAGE_SCAN = 64L << 20;
    private static final long TOOL_TIMEOUT = 1800;

    private final ProcessRunner runner = new ProcessRunner(TOOL_TIMEOUT);

    @Override
    public void run(List<String> args, PrintStream out, PrintStream err) throws PackException, IOException {
        CommandOptions o = new CommandOptions("deb").one("--program").one("--runtime").many("--file").one("--name")
                .one("--version").one("--maintainer").one("--title").one("--description").one("--categories")
                .one("--icon").many("--associate").many("--depends").one("--copyright").one("--out").parse(args);
        if (o.help()) {
            out.print(HELP);
            return;
        }
        Path program = o.requirePath("--program");
        String name = o.require("--name");
        String version = o.require("--version");
        String maintainer = o.require("--maintainer");
        Path target = o.requirePath("--out");
        if (!PACKAGE.matcher(name).matches()) {
            throw o.usage("--name must be a Debian package name (a-z, 0-9, + - .; two characters or more): " + name);
        }
        if (!VERSION.matcher(version).matches()) {
            throw o.usage("--version must be a Debian version such as 1.2.3 or 1.2.3-1: " + version);
        }
        if (!MAINTAINER.matcher(maintainer).matches()) {
            throw o.usage("--maintainer must be \"NAME <MAIL>\": " + maintainer);
        }
        String title = line(o, "--title", o.has("--title") ? o.get("--title") : name);
        String description = line(o, "--description", o.has("--description") ? o.get("--description") : title);
        // The synopsis must not merely repeat the package name.
        String synopsis = o.has("--description") ? description : title + " (Java application)";
        String categories = o.has("--categories") ? o.get("--categories") : "Utility;";
        if (!CATEGORIES.matcher(categories).matches()) {
            throw o.usage("--categories must be names each ended by ';', such as Office;Viewer;");
        }
        Map<String, String> associations = new LinkedHashMap<>();
        for (String a : o.all("--associate")) {
            int eq = a.indexOf('=');
            if (eq < 0 || !EXTENSION.matcher(a.substring(0, eq)).matches() || !MIME.matcher(a.substring(eq + 1)).matches()) {
                throw o.usage("--associate needs .EXT=MIME/TYPE: " + a);
            }
            if (associations.put(a.substring(0, eq).toLowerCase(Locale.ROOT), a.substring(eq + 1)) != null) {
                throw o.usage("--associate " + a.substring(0, eq) + " given more than once");
            }
        }
        for (String d : o.all("--depends")) {
            if (d.trim().isEmpty() || d.matches(".*[\\n,].*")) {
                throw o.usage("--depends takes one package relation (no commas): " + d);
            }
        }

        ProcessRunner.requireTool("dpkg-deb", "dpkg");
        Inputs.requireFile(program, "program");
        ProgramInfo info = ProgramInfo.read(program);
        Path runtime = o.path("--runtime");
        if (runtime != null && !Files.isRegularFile(runtime.resolve("lib").resolve("server").resolve("libjvm.so"))) {
            throw new PackException("--runtime " + runtime + " is not a Linux runtime: it has no lib/server/libjvm.so");
        }
        BufferedImage icon = null;
        if (o.has("--icon")) {
            System.setProperty("java.awt.headless", "true");
            byte[] png = Inputs.read(o.path("--icon"), "icon");
            if (png.length < 8 || png[0] != (byte) 0x89 || png[1] != 'P' || png[2] != 'N' || png[3] != 'G') {
                throw new PackException(o.path("--icon") + " is not a PNG picture");
            }
            icon = ImageIO.read(new java.io.ByteArrayInputStream(png));
            if (icon == null || icon.getWidth() < 1 || icon.getHeight() < 1) {
                throw new PackException("cannot read the picture in " + o.path("--icon"));
            }
        }
        String copyright = null;
        if (o.has("--copyright")) {
            copyright = new String(Inputs.read(o.path("--copyright"), "copyright file"), StandardCharsets.UTF_8);
        }

        try (StagingFolder staging = StagingFolder.beside(target)) {
            Path root = staging.path().resolve("root");
            Path opt = dir(root.resolve("opt").resolve(name));
            String programName = program.getFileName().toString();
            copyFile(program, opt.resolve(programName), true);
            if (runtime != null) {
                copyTree(runtime, opt.resolve("jre"));
            }
            for (Path extra : o.paths("--file")) {
                Path into = opt.resolve(extra.toAbsolutePath().normalize().getFileName().toString());
                if (Files.exists(into, LinkOption.NOFOLLOW_LINKS)) {
                    throw new PackException("two files would be installed as " + root.relativize(into));
                }
                if (Files.isDirectory(extra)) {
                    copyTree(extra, into);
                } else {
                    Inputs.requireFile(extra, "file");
                    copyFile(extra, into, Files.isExecutable(extra));
                }
            }
            stripLibraries(opt, opt.resolve(programName), err);
            Files.createSymbolicLink(dir(root.resolve("usr/bin")).resolve(name), Paths.get("/opt", name, programName));
            text(dir(root.resolve("usr/share/applications")).resolve(name + ".desktop"),
                    desktopEntry(name, title, description, categories, icon != null, associations, info.gui));
            if (icon != null) {
                writeIcons(icon, root.resolve("usr/share/icons/hicolor"), name);
            }
            if (!associations.isEmpty()) {
                text(dir(root.resolve("usr/share/mime/packages")).resolve(name + ".xml"), mimeInfo(title, associations));
            }
            Path doc = dir(root.resolve("usr/share/doc").resolve(name));
            long when = Files.getLastModifiedTime(program).toMillis();
            text(doc.resolve("copyright"), copyright != null ? copyright : defaultCopyright(name, maintainer,
                    Integer.parseInt(new SimpleDateFormat("yyyy", Locale.ROOT).format(new Date(when)))));
            gzip(doc.resolve(version.contains("-") ? "changelog.Debian.gz" : "changelog.gz"),
                    changelog(name, version, maintainer, when).getBytes(StandardCharsets.UTF_8), when);
            // The application goes to /opt, which the file system hierarchy keeps for add-on
            // packages; the archive's own rule against it does not apply to a package built here.
            text(dir(root.resolve("usr/share/lintian/overrides")).resolve(name), name + ": dir-or-file-in-opt\n");

            List<String> depends = new ArrayList<>();
            depends.addAll(libraryDepends(staging.path(), root, name, err));
            if (runtime == null) {
                depends.add(javaDepends(info));
            }
            depends.addAll(o.all("--depends"));
            Path control = dir(root.resolve("DEBIAN"));
            script(control.resolve("postinst"), "configure", !associations.isEmpty(), icon != null);
            script(control.resolve("postrm"), "remove", !associations.isEmpty(), icon != null);
            text(control.resolve("md5sums"), md5sums(root));
            text(control.resolve("control"), control(name, version, info.architecture, maintainer, depends,
                    installedSize(root), synopsis, title + (runtime != null
                            ? ", packaged as one program file with its own Java runtime."
                            : ", packaged as one program file that runs on the system's Java runtime.")));

            Path deb = staging.path().resolve("package.deb");
            runner.check(Arrays.asList("dpkg-deb", "--root-owner-group", "--build", root.toString(), deb.toString()), null);
            long size = Files.size(deb);
            staging.commitFile(deb, target);
            out.println("depends: " + String.join(", ", depends));
            out.printf(Locale.ROOT, "package: %s (%s %s %s, %.1f MB)%n", target, name, version, info.architecture, size / 1e6);
        }
    }

    /** What the packed program tells about itself: architecture, image kind, minjre. */
    static final class ProgramInfo {
        String architecture;
        boolean gui;
        String minjre = "";

        static ProgramInfo read(Path program) throws PackException {
            ProgramInfo info = new ProgramInfo();
            try (RandomAccessFile f = new RandomAccessFile(program.toFile(), "r")) {
                byte[] elf = new byte[20];
                f.readFully(elf);
                if (elf[0] != 0x7f || elf[1] != 'E' || elf[2] != 'L' || elf[3] != 'F' || elf[4] != 2 || elf[5] != 1) {
                    throw new PackException(program + " is not a 64-bit Linux program (packed from launcher-gui or launcher-console)");
                }
                int machine = (elf[18] & 0xff) | (elf[19] & 0xff) << 8;
                if (machine == 0x3e) {
                    info.architecture = "amd64";
                } else if (machine == 0xb7) {
                    info.architecture = "arm64";
                } else {
                    throw new PackException(program + ": processor type " + machine + " has no Debian architecture here");
                }
                long slot = -1;
                boolean gui = false;
                byte[] window = new byte[1 << 16];
                int keep = Math.max(MARKER.length, GUI_EXPORT.length) - 1;
                long base = 0;
                int carried = 0;
                f.seek(0);
                while (base < IMAGE_SCAN && (slot < 0 || !gui)) {
                    int n = f.read(window, carried, window.length - carried);
                    if (n <= 0) {
                        break;
                    }
                    int filled = carried + n;
                    if (slot < 0) {
                        int at = indexOf(window, filled, MARKER);
                        if (at >= 0) {
                            slot = base + at - 8;
                        }
                    }
                    gui |= indexOf(window, filled, GUI_EXPORT) >= 0;
                    int move = Math.min(keep, filled);
                    System.arraycopy(window, filled - move, window, 0, move);
                    base += filled - move;
                    carried = move;
                }
                info.gui = gui;
                if (slot < 0) {
                    throw new PackException(program + " is not a packed program: it has no archive-length slot");
                }
                f.seek(slot);
                long archive = Long.reverseBytes(f.readLong());
                long length = f.length();
                if (archive <= 0 || archive + 20 > length) {
                    throw new PackException(program + " is not a packed program (pack it with vexilo-pack first)");
                }
                f.seek(length - archive - 20);
                long textLength = Integer.reverseBytes(f.readInt()) & 0xffffffffL;
                if (textLength > 1 << 24 || textLength + archive + 20 > length) {
                    throw new PackException(program + ": the configuration text of its payload is damaged");
                }
                byte[] config = new byte[(int) textLength];
                f.seek(length - archive - 20 - textLength);
                f.readFully(config);
                info.minjre = keyword(new String(config, StandardCharsets.UTF_8), "minjre");
            } catch (IOException e) {
                throw new PackException("cannot read " + program + ": " + Inputs.reason(e));
            }
            return info;
        }

        /** The first line of keyword, read as the launcher does: case-insensitive, "keyword[ ][=][ ]value". */
        static String keyword(String config, String keyword) {
            for (String line : config.replace("\uFEFF", "").replace("\0", "").split("\r\n|\r|\n")) {
                String l = line.replaceFirst("^ +", "");
                if (l.length() > keyword.length() && l.regionMatches(true, 0, keyword, 0, keyword.length())) {
                    char next = l.charAt(keyword.length());
                    if (Character.isLetterOrDigit(next) || next == '_') {
                        continue;
                    }
                    return l.substring(keyword.length()).replaceFirst("^ *=? *", "").trim();
                } else if (l.equalsIgnoreCase(keyword)) {
                    return "";
                }
            }
            return "";
        }
    }

    private static int indexOf(byte[] data, int length, byte[] wanted) {
        outer:
        for (int i = 0; i + wanted.length <= length; i++) {
            for (int j = 0; j < wanted.length; j++) {
                if (data[i + j] != wanted[j]) {
                    continue outer;
                }
            }
            return i;
        }
        return -1;
    }

    /** A runtime of at least the program's minjre (Java 8 at least: the companion classes need it). */
    static String javaDepends(ProgramInfo info) throws PackException {
        int feature = 8;
        if (!info.minjre.isEmpty()) {
            feature = Math.max(8, RuntimeCommand.feature(info.minjre));
        }
        String kind = info.gui ? "" : "-headless";
        String defaults = "default-jre" + kind + (feature > 8 ? " (>= 2:1." + feature + ")" : "");
        return defaults + " | java" + feature + "-runtime" + kind;
    }

    /**
     * The packages of the shared libraries the program and the runtime link, from dpkg-shlibdeps
     * when the build machine has it (a Debian system); without it only the Java dependency is set.
     */
    private List<String> libraryDepends(Path work, Path root, String name, PrintStream err) throws PackException, IOException {
        List<String> elves = new ArrayList<>();
        Set<String> libraryDirs = new TreeSet<>();
        Files.walkFileTree(root, new SimpleFileVisitor<Path>() {
            @Override
            public FileVisitResult visitFile(Path file, BasicFileAttributes attrs) throws IOException {
                if (attrs.isRegularFile() && isElf(file)) {
                    elves.add(file.toString());
                    if (file.getFileName().toString().contains(".so")) {
                        libraryDirs.add("-l" + file.getParent());
                    }
                }
                return FileVisitResult.CONTINUE;
            }
        });
        if (!ProcessRunner.onPath("dpkg-shlibdeps")) {
            Commands.warn(err, "dpkg-shlibdeps not found (package dpkg-dev): Depends does not list the libraries"
                    + " the program links; add them with --depends");
            return new ArrayList<>();
        }
        Path source = dir(work.resolve("source").resolve("debian"));
        text(source.resolve("control"), "Source: " + name + "\n\nPackage: " + name + "\nArchitecture: any\n");
        Files.createDirectories(root.resolve("DEBIAN"));
        List<String> command = new ArrayList<>(Arrays.asList("dpkg-shlibdeps", "-O", "--ignore-missing-info"));
        command.addAll(libraryDirs);
        command.addAll(elves);
        ProcessRunner.Result r = runner.check(command, source.getParent());
        for (String line : r.output.split("\r?\n")) {
            if (line.startsWith("shlibs:Depends=")) {
                List<String> list = new ArrayList<>();
                for (String d : line.substring("shlibs:Depends=".length()).split(",")) {
                    if (!d.trim().isEmpty()) {
                        list.add(d.trim());
                    }
                }
                return list;
            }
        }
        throw new PackException("dpkg-shlibdeps printed no dependencies: " + r.tail());
    }

    /**
     * Strips the runtime's and the extra files' native code as Debian packages ship it (symbols
     * the loader does not need and the build notes removed). The program is left alone: its
     * payload follows the image, and strip would drop it.
     */
    private void stripLibraries(Path opt, Path program, PrintStream err) throws PackException, IOException {
        List<String> libraries = new ArrayList<>();
        List<String> executables = new ArrayList<>();
        Files.walkFileTree(opt, new SimpleFileVisitor<Path>() {
            @Override
            public FileVisitResult visitFile(Path file, BasicFileAttributes attrs) throws IOException {
                if (attrs.isRegularFile() && !file.equals(program) && isElf(file)) {
                    (file.getFileName().toString().contains(".so") ? libraries : executables).add(file.toString());
                }
                return FileVisitResult.CONTINUE;
            }
        });
        if (libraries.isEmpty() && executables.isEmpty()) {
            return;
        }
        if (!ProcessRunner.onPath("strip")) {
            Commands.warn(err, "strip not found (package binutils): the runtime's native code keeps its symbols");
            return;
        }
        for (List<String> files : Arrays.asList(libraries, executables)) {
            if (files.isEmpty()) {
                continue;
            }
            List<String> command = new ArrayList<>(Arrays.asList("strip", "--remove-section=.comment",
                    "--remove-section=.note"));
            if (files == libraries) {
                command.add("--strip-unneeded");
            }
            command.addAll(files);
            runner.check(command, null);
        }
    }

    private static boolean isElf(Path file) throws IOException {
        byte[] head = new byte[4];
        try (java.io.InputStream in = Files.newInputStream(file)) {
            return in.read(head) == 4 && head[0] == 0x7f && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
        }
    }

    private static String line(CommandOptions o, String option, String value) throws PackException {
        if (value.trim().isEmpty() || value.chars().anyMatch(c -> c < 0x20 || c == 0x7f)) {
            throw o.usage(option + " must be one line of text");
        }
        return value.trim();
    }

    static String desktopEntry(String name, String title, String description, String categories, boolean icon,
                               Map<String, String> associations, boolean gui) {
        StringBuilder b = new StringBuilder("[Desktop Entry]\n")
                .append("Type=Application\n")
                .append("Name=").append(desktopText(title)).append('\n');
        if (!description.equals(title)) {
            b.append("Comment=").append(desktopText(description)).append('\n');
        }
        b.append("Exec=").append(name).append(" %F\n")
                .append("Icon=").append(icon ? name : "application-x-executable").append('\n')
                .append("Terminal=").append(gui ? "false" : "true").append('\n')
                .append("Categories=").append(categories).append('\n');
        if (!associations.isEmpty()) {
            b.append("MimeType=");
            for (String type : new TreeSet<>(associations.values())) {
                b.append(type).append(';');
            }
            b.append('\n');
        }
        return b.toString();
    }

    private static String desktopText(String s) {
        return s.replace("\\", "\\\\");
    }

    /**
     * Globs for every extension; a comment only for the application's own types (x- and vnd.
     * subtypes), so a well-known type keeps the description the system gives it.
     */
    static String mimeInfo(String title, Map<String, String> associations) {
        Map<String, List<String>> byType = new LinkedHashMap<>();
        for (Map.Entry<String, String> a : associations.entrySet()) {
            byType.computeIfAbsent(a.getValue(), k -> new ArrayList<>()).add(a.getKey());
        }
        StringBuilder b = new StringBuilder("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n")
                .append("<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n");
        for (Map.Entry<String, List<String>> t : byType.entrySet()) {
            String type = t.getKey();
            String subtype = type.substring(type.indexOf('/') + 1);
            b.append("  <mime-type type=").append(MsiCommand.attr(type)).append(">\n");
            if (subtype.startsWith("x-") || subtype.startsWith("vnd.")) {
                b.append("    <comment>").append(xmlText(title + " document")).append("</comment>\n");
            }
            for (String ext : t.getValue()) {
                b.append("    <glob pattern=").append(MsiCommand.attr("*" + ext)).append("/>\n");
            }
            b.append("  </mime-type>\n");
        }
        return b.append("</mime-info>\n").toString();
    }

    private static String xmlText(String s) {
        return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;");
    }

    private static void script(Path file, String when, boolean mime, boolean icons) throws IOException {
        StringBuilder b = new StringBuilder("#!/bin/sh\nset -e\n")
                .append("# Menus, file types and icons are read from caches: refresh them.\n")
                .append("case \"$1\" in\n  ").append(when.equals("configure") ? "configure" : "remove|purge")
                .append(")\n")
                .append("    if command -v update-desktop-database >/dev/null 2>&1; then\n")
                .append("      update-desktop-database -q /usr/share/applications || true\n    fi\n");
        if (mime) {
            b.append("    if command -v update-mime-database >/dev/null 2>&1; then\n")
                    .append("      update-mime-database /usr/share/mime || true\n    fi\n");
        }
        if (icons) {
            b.append("    if command -v gtk-update-icon-cache >/dev/null 2>&1 && [ -f /usr/share/icons/hicolor/index.theme ]; then\n")
                    .append("      gtk-update-icon-cache -q -t -f /usr/share/icons/hicolor || true\n    fi\n");
        }
        b.append("    ;;\nesac\nexit 0\n");
        Files.write(file, b.toString().getBytes(StandardCharsets.UTF_8));
        Files.setPosixFilePermissions(file, PosixFilePermissions.fromString("rwxr-xr-x"));
    }

    static String control(String name, String version, String architecture, String maintainer, List<String> depends,
                          long installedKiB, String synopsis, String extended) {
        StringBuilder b = new StringBuilder()
                .append("Package: ").append(name).append('\n')
                .append("Version: ").append(version).append('\n')
                .append("Architecture: ").append(architecture).append('\n')
                .append("Maintainer: ").append(maintainer).append('\n')
                .append("Installed-Size: ").append(installedKiB).append('\n');
        if (!depends.isEmpty()) {
            b.append("Depends: ").append(String.join(", ", depends)).append('\n');
        }
        b.append("Section: misc\nPriority: optional\n")
                .append("Description: ").append(synopsis).append('\n')
                .append(wrapped(extended));
        return b.toString();
    }

    /** Extended description lines: one leading space, at most 80 columns. */
    static String wrapped(String text) {
        StringBuilder b = new StringBuilder();
        StringBuilder line = new StringBuilder();
        for (String word : text.trim().split(" +")) {
            if (line.length() > 0 && line.length() + 1 + word.length() > 79) {
                b.append(' ').append(line).append('\n');
                line.setLength(0);
            }
            line.append(line.length() > 0 ? " " : "").append(word);
        }
        return b.append(' ').append(line).append('\n').toString();
    }

    static String changelog(String name, String version, String maintainer, long when) {
        SimpleDateFormat rfc = new SimpleDateFormat("EEE, dd MMM yyyy HH:mm:ss Z", Locale.ROOT);
        rfc.setTimeZone(TimeZone.getTimeZone("UTC"));
        return name + " (" + version + ") unstable; urgency=medium\n\n  * Release " + version + ".\n\n -- "
                + maintainer + "  " + rfc.format(new Date(when)) + "\n";
    }

    private static String defaultCopyright(String name, String maintainer, int year) {
        return "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
                + "Upstream-Name: " + name + "\n\nFiles: *\nCopyright: " + year + " " + maintainer + "\n"
                + "License: other\n The licence terms are those the application ships with.\n";
    }

    private static void writeIcons(BufferedImage source, Path hicolor, String name) throws IOException {
        int largest = Math.max(source.getWidth(), source.getHeight());
        boolean any = false;
        for (int size : ICON_SIZES) {
            // Pictures are scaled down, never up; the smallest size is always made.
            if (size > largest && any) {
                break;
            }
            Path file = dir(hicolor.resolve(size + "x" + size).resolve("apps")).resolve(name + ".png");
            if (!ImageIO.write(square(source, size), "png", file.toFile())) {
                throw new IOException("no PNG writer");
            }
            Files.setPosixFilePermissions(file, PosixFilePermissions.fromString("rw-r--r--"));
            any = true;
        }
    }

    /** The picture scaled to fit size x size, centred on a transparent square, halving first for quality. */
    static BufferedImage square(BufferedImage source, int size) {
        BufferedImage current = source;
        while (Math.max(current.getWidth(), current.getHeight()) >= 2 * size) {
            current = scaled(current, Math.max(1, current.getWidth() / 2), Math.max(1, current.getHeight() / 2), 0, 0,
                    Math.max(1, current.getWidth() / 2), Math.max(1, current.getHeight() / 2));
        }
        double scale = (double) size / Math.max(current.getWidth(), current.getHeight());
        int w = Math.max(1, (int) Math.round(current.getWidth() * scale));
        int h = Math.max(1, (int) Math.round(current.getHeight() * scale));
        return scaled(current, w, h, (size - w) / 2, (size - h) / 2, size, size);
    }

    private static BufferedImage scaled(BufferedImage source, int w, int h, int x, int y, int width, int height) {
        BufferedImage out = new BufferedImage(width, height, BufferedImage.TYPE_INT_ARGB);
        Graphics2D g = out.createGraphics();
        g.setRenderingHint(RenderingHints.KEY_INTERPOLATION, RenderingHints.VALUE_INTERPOLATION_BICUBIC);
        g.setRenderingHint(RenderingHints.KEY_RENDERING, RenderingHints.VALUE_RENDER_QUALITY);
        g.drawImage(source, x, y, w, h, null);
        g.dispose();
        return out;
    }

    private static Path dir(Path p) throws IOException {
        Files.createDirectories(p);
        // Every folder on the way gets 0755, whatever the umask.
        for (Path q = p; q != null && q.getFileName() != null && !q.getFileName().toString().startsWith("."); q = q.getParent()) {
            Files.setPosixFilePermissions(q, PosixFilePermissions.fromString("rwxr-xr-x"));
            if (q.getFileName().toString().equals("root")) {
                break;
            }
        }
        return p;
    }

    private static void text(Path file, String content) throws IOException {
        Files.write(file, content.getBytes(StandardCharsets.UTF_8));
        Files.setPosixFilePermissions(file, PosixFilePermissions.fromString("rw-r--r--"));
    }

    private static void copyFile(Path from, Path to, boolean executable) throws IOException {
        Files.copy(from, to);
        Files.setPosixFilePermissions(to, PosixFilePermissions.fromString(executable ? "rwxr-xr-x" : "rw-r--r--"));
    }

    /** Copies a tree: folders 0755, files 0644 or 0755 as they were executable; links kept as links. */
    private static void copyTree(Path from, Path to) throws IOException {
        Path base = from.toAbsolutePath().normalize();
        Files.walkFileTree(base, new SimpleFileVisitor<Path>() {
            @Override
            public FileVisitResult preVisitDirectory(Path d, BasicFileAttributes attrs) throws IOException {
                dir(to.resolve(base.relativize(d).toString()));
                return FileVisitResult.CONTINUE;
            }

            @Override
            public FileVisitResult visitFile(Path file, BasicFileAttributes attrs) throws IOException {
                Path into = to.resolve(base.relativize(file).toString());
                if (attrs.isSymbolicLink()) {
                    Files.createSymbolicLink(into, Files.readSymbolicLink(file));
                } else if (attrs.isRegularFile()) {
                    Set<PosixFilePermission> mode = Files.getPosixFilePermissions(file);
                    copyFile(file, into, mode.contains(PosixFilePermission.OWNER_EXECUTE));
                } else {
                    throw new IOException("not a file or folder: " + file);
                }
                return FileVisitResult.CONTINUE;
            }
        });
    }

    private static String md5sums(Path root) throws IOException {
        List<Path> files = new ArrayList<>();
        Files.walkFileTree(root, new SimpleFileVisitor<Path>() {
            @Override
            public FileVisitResult preVisitDirectory(Path d, BasicFileAttributes attrs) {
                return d.equals(root.resolve("DEBIAN")) ? FileVisitResult.SKIP_SUBTREE : FileVisitResult.CONTINUE;
            }

            @Override
            public FileVisitResult visitFile(Path file, BasicFileAttributes attrs) {
                if (attrs.isRegularFile()) {
                    files.add(file);
                }
                return FileVisitResult.CONTINUE;
            }
        });
        files.sort(null);
        StringBuilder b = new StringBuilder();
        for (Path f : files) {
            MessageDigest md5;
            try {
                md5 = MessageDigest.getInstance("MD5");
            } catch (NoSuchAlgorithmException e) {
                throw new IllegalStateException(e);
            }
            try (java.io.InputStream in = Files.newInputStream(f)) {
                byte[] buffer = new byte[65536];
                for (int n; (n = in.read(buffer)) > 0; ) {
                    md5.update(buffer, 0, n);
                }
            }
            for (byte x : md5.digest()) {
                b.append(String.format("%02x", x & 0xff));
            }
            b.append("  ").append(root.relativize(f).toString()).append('\n');
        }
        return b.toString();
    }

    /** Installed-Size as dpkg counts it: KiB per file rounded up, one per folder and link. */
    private static long installedSize(Path root) throws IOException {
        long[] kib = {0};
        Files.walkFileTree(root, new SimpleFileVisitor<Path>() {
            @Override
            public FileVisitResult preVisitDirectory(Path d, BasicFileAttributes attrs) {
                if (d.equals(root.resolve("DEBIAN"))) {
                    return FileVisitResult.SKIP_SUBTREE;
                }
                kib[0]++;
                return FileVisitResult.CONTINUE;
            }

            @Override
            public FileVisitResult visitFile(Path file, BasicFileAttributes attrs) {
                kib[0] += attrs.isRegularFile() ? (attrs.size() + 1023) / 1024 : 1;
                return FileVisitResult.CONTINUE;
            }
        });
        return kib[0];
    }

    /** gzip at the highest level with no name and no time in the header, so the bytes depend on the text alone. */
    private static void gzip(Path file, byte[] data, long when) throws IOException {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        bytes.write(new byte[] {0x1f, (byte) 0x8b, 8, 0, 0, 0, 0, 0, 2, 3});
        Deflater deflater = new Deflater(Deflater.BEST_COMPRESSION, true);
        try (OutputStream z = new DeflaterOutputStream(new NonClosing(bytes), deflater)) {
            z.write(data);
        } finally {
            deflater.end();
        }
        CRC32 crc = new CRC32();
        crc.update(data);
        for (long v : new long[] {crc.getValue(), data.length}) {
            for (int i = 0; i < 4; i++) {
                bytes.write((int) (v >>> (8 * i)) & 0xff);
            }
        }
        Files.write(file, bytes.toByteArray());
        Files.setPosixFilePermissions(file, PosixFilePermissions.fromString("rw-r--r--"));
        Files.setLastModifiedTime(file, FileTime.fromMillis(when));
    }

    private static final class NonClosing extends java.io.FilterOutputStream {
        NonClosing(OutputStream out) {
            super(out);
        }

        @Override
        public void close() throws IOException {
            flush();
        }
    }

}
