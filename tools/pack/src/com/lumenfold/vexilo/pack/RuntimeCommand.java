package com.lumenfold.vexilo.pack;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileVisitResult;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.TreeMap;
import java.util.TreeSet;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.util.zip.ZipEntry;
import java.util.zip.ZipInputStream;

/**
 * "vexilo-pack runtime": a trimmed Java runtime for the application, linked with jlink from the
 * modules jdeps finds in its JARs plus what the companion classes need, written atomically.
 */
final class RuntimeCommand implements Commands.Command {
    static final String USAGE = "usage: vexilo-pack runtime --jar APP.jar [--jar LIB.jar ...] [--jdk DIR]\n"
            + "                           [--add-modules A,B] --out DIR";
    private static final String HELP = USAGE + "\n\n"
            + "Writes DIR: a Java runtime holding the modules the JARs use (found with jdeps) and those\n"
            + "of the companion classes, linked with jlink from the JDK's jmods; put it beside the\n"
            + "program as jre/ where the launcher looks first.\n\n"
            + "  --jar JAR           application or library JAR; repeat for more\n"
            + "  --jdk DIR           JDK to link (default: JAVA_HOME, else the JDK running the packer);\n"
            + "                      a Windows JDK's folder makes a Windows runtime with the local jlink,\n"
            + "                      which must be of the same Java version\n"
            + "  --add-modules A,B   modules that jdeps cannot see (reflection, services); repeatable\n"
            + "  --out DIR           the runtime folder (replaced only if it is a runtime or empty)\n";

    /** jdeps and jlink of a large application take a while, but never this long. */
    private static final long TOOL_TIMEOUT = 1800;
    private static final Pattern MODULE_LIST = Pattern.compile("[A-Za-z][A-Za-z0-9_.]*(,[A-Za-z][A-Za-z0-9_.]*)*");
    private static final String RUNTIME_IMAGE_LINKING = "Linking from run-time image enabled";

    private final ProcessRunner runner = new ProcessRunner(TOOL_TIMEOUT);

    /** A JDK folder as its release file describes it. */
    static final class Jdk {
        final Path home;
        final String version;
        final int feature;
        final boolean windows;

        Jdk(Path home, String version, boolean windows) throws PackException {
            this.home = home;
            this.version = version;
            this.feature = feature(version);
            this.windows = windows;
        }

        static Jdk at(Path home) throws PackException {
            Path release = home.resolve("release");
            if (!Files.isDirectory(home)) {
                throw new PackException("--jdk " + home + ": no such folder");
            }
            if (!Files.isRegularFile(release)) {
                throw new PackException(home + " is not a JDK: it has no release file");
            }
            Map<String, String> fields = new TreeMap<>();
            try {
                for (String line : Files.readAllLines(release, StandardCharsets.ISO_8859_1)) {
                    int eq = line.indexOf('=');
                    if (eq > 0) {
                        fields.put(line.substring(0, eq).trim(), line.substring(eq + 1).trim().replace("\"", ""));
                    }
                }
            } catch (IOException e) {
                throw new PackException("cannot read " + release + ": " + Inputs.reason(e));
            }
            String version = fields.get("JAVA_VERSION");
            if (version == null || version.isEmpty()) {
                throw new PackException(release + " names no JAVA_VERSION");
            }
            String os = fields.containsKey("OS_NAME") ? fields.get("OS_NAME")
                    : Files.exists(home.resolve("bin").resolve("java.exe")) ? "Windows" : "";
            return new Jdk(home, version, os.toLowerCase(Locale.ROOT).startsWith("windows"));
        }

        Path tool(String name) {
            return home.resolve("bin").resolve(windows ? name + ".exe" : name);
        }

        Path jmods() {
            return home.resolve("jmods");
        }

        boolean hasJmods() {
            return Files.isRegularFile(jmods().resolve("java.base.jmod"));
        }
    }

    /** 1.8.0_392 is 8, 17.0.9 is 17, 25 is 25. */
    static int feature(String version) throws PackException {
        Matcher m = Pattern.compile("^(\\d+)(?:\\.(\\d+))?").matcher(version.trim());
        if (!m.find()) {
            throw new PackException("cannot read the Java version " + version);
        }
        int first = Integer.parseInt(m.group(1));
        return first == 1 && m.group(2) != null ? Integer.parseInt(m.group(2)) : first;
    }

    @Override
    public void run(List<String> args, PrintStream out, PrintStream err) throws PackException, IOException {
        CommandOptions o = new CommandOptions("runtime").many("--jar").one("--jdk").many("--add-modules")
                .one("--out").parse(args);
        if (o.help()) {
            out.print(HELP);
            return;
        }
        List<Path> jars = o.paths("--jar");
        if (jars.isEmpty()) {
            throw o.usage("missing --jar (at least one is needed)");
        }
        Path target = o.requirePath("--out");
        for (Path jar : jars) {
            Inputs.requireFile(jar, "JAR");
        }
        TreeSet<String> extra = new TreeSet<>();
        for (String list : o.all("--add-modules")) {
            for (String module : list.split(",")) {
                if (!module.trim().isEmpty() && !MODULE_LIST.matcher(module.trim()).matches()) {
                    throw o.usage("--add-modules: not a module name: " + module);
                }
                if (!module.trim().isEmpty()) {
                    extra.add(module.trim());
                }
            }
        }
        Jdk jdk = Jdk.at(o.has("--jdk") ? o.path("--jdk").toAbsolutePath().normalize() : defaultJdk());
        if (jdk.feature < 9) {
            throw new PackException("JDK " + jdk.version + " in " + jdk.home + " has no jlink; a runtime needs JDK 9 or later");
        }
        Tools tools = tools(jdk);

        try (StagingFolder staging = StagingFolder.beside(target)) {
            List<String> inputs = new ArrayList<>();
            for (Path jar : jars) {
                inputs.add(jar.toAbsolutePath().toString());
            }
            Path companion = staging.path().resolve("companion");
            if (extractCompanion(companion)) {
                inputs.add(companion.toString());
            }
            TreeSet<String> modules = new TreeSet<>(jdeps(tools, jdk, inputs));
            modules.addAll(extra);
            Path image = staging.path().resolve("image");
            List<String> link = new ArrayList<>(Arrays.asList(tools.jlink.toString()));
            if (tools.modulePath != null) {
                link.add("--module-path");
                link.add(tools.modulePath.toString());
            }
            link.addAll(Arrays.asList("--add-modules", String.join(",", modules), "--strip-debug",
                    "--no-header-files", "--no-man-pages", tools.compress, "--output", image.toString()));
            runner.check(link, null);
            Path library = jdk.windows ? image.resolve("bin/server/jvm.dll") : image.resolve("lib/server/libjvm.so");
            if (!Files.isRegularFile(library)) {
                throw new PackException("jlink wrote no " + image.relativize(library) + "; the runtime is not usable");
            }
            long size = size(image);
            staging.commitFolder(image, target, RuntimeCommand::replaceable, "a Java runtime or an empty folder");
            out.println("modules: " + String.join(",", modules));
            out.printf(Locale.ROOT, "runtime: %s (%.1f MB, Java %s, %s)%n", target, size / 1e6, jdk.version,
                    jdk.windows ? "Windows" : "this system");
        }
    }

    /** The JDK named by JAVA_HOME, else the one running the packer (its parent for a JDK 8 jre). */
    private static Path defaultJdk() {
        String javaHome = System.getenv("JAVA_HOME");
        if (javaHome != null && !javaHome.isEmpty()) {
            return Paths.get(javaHome).toAbsolutePath().normalize();
        }
        Path home = Paths.get(System.getProperty("java.home"));
        if (!Files.exists(home.resolve("release")) && home.getParent() != null
                && Files.exists(home.getParent().resolve("release"))) {
            return home.getParent();
        }
        return home;
    }

    /** jdeps, jlink and the module path for one JDK: its own tools, or the local ones for a foreign JDK. */
    private static final class Tools {
        Path jdeps;
        Path jlink;
        Path modulePath;
        String compress;
    }

    private Tools tools(Jdk jdk) throws PackException {
        Tools t = new Tools();
        boolean foreign = jdk.windows != isWindows();
        if (foreign) {
            if (!jdk.hasJmods()) {
                throw new PackException("JDK " + jdk.home + " has no jmods folder; a runtime for another system"
                        + " can only be linked from its jmods");
            }
            Jdk local = Jdk.at(localJdk());
            if (local.feature != jdk.feature) {
                throw new PackException("the local JDK " + local.home + " is Java " + local.version + " but " + jdk.home
                        + " is Java " + jdk.version + "; jlink only links its own version: set JAVA_HOME to a JDK "
                        + jdk.feature + " of this system");
            }
            t.jdeps = local.tool("jdeps");
            t.jlink = local.tool("jlink");
            t.modulePath = jdk.jmods();
        } else {
            t.jdeps = jdk.tool("jdeps");
            t.jlink = jdk.tool("jlink");
            if (jdk.hasJmods()) {
                t.modulePath = jdk.jmods();
            }
        }
        for (Path tool : Arrays.asList(t.jdeps, t.jlink)) {
            if (!Files.isExecutable(tool)) {
                throw new PackException("no " + tool.getFileName() + " in " + tool.getParent() + ": a JDK is needed, not a JRE");
            }
        }
        if (t.modulePath == null) {
            // Newer JDKs may be built to link from their own run-time image when they ship no jmods;
            // jlink --help says so under "Capabilities".
            ProcessRunner.Result help = runner.run(Arrays.asList(t.jlink.toString(), "--help"), null, null);
            if (!help.output.contains(RUNTIME_IMAGE_LINKING)) {
                throw new PackException("JDK " + jdk.home + " has no jmods and its jlink cannot link from its run-time"
                        + " image; install the JDK's jmods (some systems package them apart, e.g. openjdk-" + jdk.feature + "-jmods) or use a JDK that has them");
            }
        }
        String version = runner.check(Arrays.asList(t.jlink.toString(), "--version"), null).output.trim();
        // zip-0..zip-9 replaced the numbered levels in JDK 21, which deprecates --compress=2.
        t.compress = feature(version) >= 21 ? "--compress=zip-6" : "--compress=2";
        return t;
    }

    private static boolean isWindows() {
        return System.getProperty("os.name", "").toLowerCase(Locale.ROOT).startsWith("windows");
    }

    private static Path localJdk() {
        Path home = Paths.get(System.getProperty("java.home"));
        String javaHome = System.getenv("JAVA_HOME");
        if (javaHome != null && !javaHome.isEmpty() && Files.exists(Paths.get(javaHome, "release"))) {
            return Paths.get(javaHome);
        }
        return Files.exists(home.resolve("release")) || home.getParent() == null ? home : home.getParent();
    }

    private List<String> jdeps(Tools tools, Jdk jdk, List<String> inputs) throws PackException {
        List<String> command = new ArrayList<>(Arrays.asList(tools.jdeps.toString(), "--multi-release",
                Integer.toString(jdk.feature), "--ignore-missing-deps", "--print-module-deps"));
        command.addAll(inputs);
        ProcessRunner.Result result = runner.check(command, null);
        String[] lines = result.output.split("\r?\n");
        for (int i = lines.length - 1; i >= 0; i--) {
            String line = lines[i].trim();
            if (MODULE_LIST.matcher(line).matches()) {
                return Arrays.asList(line.split(","));
            }
        }
        throw new PackException("jdeps printed no module list: " + result.tail());
    }

    /** Copies the companion classes out of vexilo-pack.jar so jdeps sees what they use. */
    private static boolean extractCompanion(Path into) throws PackException {
        Path jar = Packer.packerJar();
        if (jar == null) {
            return false;
        }
        boolean any = false;
        try (ZipInputStream in = new ZipInputStream(Files.newInputStream(jar))) {
            for (ZipEntry e; (e = in.getNextEntry()) != null; ) {
                String name = e.getName();
                if (!name.startsWith("companion/") || !name.endsWith(".class") || name.contains("..")) {
                    continue;
                }
                Path file = into.resolve(name.substring("companion/".length()));
                Files.createDirectories(file.getParent());
                Files.copy(in, file, StandardCopyOption.REPLACE_EXISTING);
                any = true;
            }
        } catch (IOException e) {
            throw new PackException("cannot read the companion classes in " + jar + ": " + Inputs.reason(e));
        }
        return any;
    }

    /** An existing --out is only replaced when it is empty or a runtime image (never a user's folder). */
    static boolean replaceable(Path folder) {
        return StagingFolder.isEmptyFolder(folder) || (Files.isRegularFile(folder.resolve("release"))
                && Files.isRegularFile(folder.resolve("lib").resolve("modules"), LinkOption.NOFOLLOW_LINKS));
    }

    static long size(Path root) throws IOException {
        long[] total = {0};
        Files.walkFileTree(root, new SimpleFileVisitor<Path>() {
            @Override
            public FileVisitResult visitFile(Path file, BasicFileAttributes attrs) {
                total[0] += attrs.size();
                return FileVisitResult.CONTINUE;
            }
        });
        return total[0];
    }

}
