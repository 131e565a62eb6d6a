package com.lumenfold.vexilo.pack;

import java.io.IOException;
import java.io.PrintStream;
import java.nio.charset.Charset;
import java.nio.charset.CharsetEncoder;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileVisitResult;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.attribute.BasicFileAttributes;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Set;
import java.util.UUID;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * "vexilo-pack msi": a per-machine Windows Installer package built with wixl from a generated
 * WiX source: the program, its runtime as jre\ and extra files under Program Files\VENDOR\NAME,
 * shortcuts, file associations and major upgrades through a stable upgrade code.
 */
final class MsiCommand implements Commands.Command {
    static final String USAGE = "usage: vexilo-pack msi --program APP.exe [--runtime DIR] [--file F ...] --name NAME\n"
            + "                       --vendor VENDOR --version X.Y.Z [--upgrade-code GUID] [--icon APP.ico]\n"
            + "                       [--associate .EXT=DESCRIPTION ...] [--desktop-shortcut] --out APP.msi";
    private static final String HELP = USAGE + "\n\n"
            + "Writes a Windows Installer package (with wixl) that installs per machine into\n"
            + "Program Files\\VENDOR\\NAME: the program, the runtime as jre\\ (where the launcher looks\n"
            + "first) and the extra files or folders; a Start menu shortcut, an optional desktop\n"
            + "shortcut, an Add/Remove Programs entry and the file associations. A package with a\n"
            + "higher version replaces an installed one with the same upgrade code, which by default\n"
            + "is derived from VENDOR and NAME (printed, so it can be kept with the project).\n";

    /** Windows Installer's File table numbers files with 16 bits; a runtime has a few hundred. */
    private static final int MAX_FILES = 30000;
    private static final long WIXL_TIMEOUT = 1800;
    private static final Pattern VERSION = Pattern.compile("(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,5})");
    private static final Pattern GUID = Pattern.compile(
            "\\{?([0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12})\\}?");
    private static final Pattern EXTENSION = Pattern.compile("\\.[A-Za-z0-9_-]{1,32}");
    private static final Charset CODEPAGE = Charset.forName("windows-1252");

    /** One file to install: where it comes from, and its folder below the install folder ("" for the top). */
    private static final class Entry {
        final Path source;
        final String folder;
        final String name;
        /** A fixed file identifier for files the tables refer to; null for numbered ones. */
        final String id;

        Entry(Path source, String folder, String name, String id) {
            this.source = source;
            this.folder = folder;
            this.name = name;
            this.id = id;
        }

        Entry(Path source, String folder, String name) {
            this(source, folder, name, null);
        }

        String relative() {
            return folder.isEmpty() ? name : folder + "\\" + name;
        }
    }

    @Override
    public void run(List<String> args, PrintStream out, PrintStream err) throws PackException, IOException {
        CommandOptions o = new CommandOptions("msi").one("--program").one("--runtime").many("--file")
                .one("--name").one("--vendor").one("--version").one("--upgrade-code").one("--icon")
                .many("--associate").flag("--desktop-shortcut").one("--out").parse(args);
        if (o.help()) {
            out.print(HELP);
            return;
        }
        Path program = o.requirePath("--program");
        String name = text(o, "--name");
        String vendor = text(o, "--vendor");
        String version = o.require("--version");
        Path target = o.requirePath("--out");
        Matcher v = VERSION.matcher(version);
        if (!v.matches() || Integer.parseInt(v.group(1)) > 255 || Integer.parseInt(v.group(2)) > 255
                || Integer.parseInt(v.group(3)) > 65535) {
            throw o.usage("--version must be X.Y.Z with X and Y up to 255 and Z up to 65535"
                    + " (what Windows Installer compares): " + version);
        }
        for (String s : Arrays.asList(name, vendor)) {
            if (s.matches(".*[\\\\/:*?\"<>|].*") || s.endsWith(".") || s.endsWith(" ") || s.startsWith(" ")
                    || s.length() > 100) {
                throw o.usage("not usable as a folder name: \"" + s + "\"");
            }
        }
        String upgradeCode;
        if (o.has("--upgrade-code")) {
            Matcher g = GUID.matcher(o.get("--upgrade-code"));
            if (!g.matches()) {
                throw o.usage("--upgrade-code is not a GUID: " + o.get("--upgrade-code"));
            }
            upgradeCode = NameUuid.braced(UUID.fromString(g.group(1)));
        } else {
            upgradeCode = NameUuid.braced(NameUuid.upgradeCode(vendor, name));
        }
        ProcessRunner.requireTool("wixl", "wixl");
        Inputs.requireFile(program, "program");
        byte[] head = new byte[2];
        try (java.io.InputStream in = Files.newInputStream(program)) {
            if (in.read(head) != 2 || head[0] != 'M' || head[1] != 'Z') {
                throw new PackException(program + " is not a Windows program (it does not start with MZ)");
            }
        }
        String programName = program.getFileName().toString();
        if (!programName.toLowerCase(Locale.ROOT).endsWith(".exe")) {
            programName = programName + ".exe";
        }
        Path icon = o.path("--icon");
        if (icon != null) {
            byte[] ico = Inputs.read(icon, "icon");
            if (ico.length < 6 || ico[0] != 0 || ico[1] != 0 || ico[2] != 1 || ico[3] != 0) {
                throw new PackException(icon + " is not an .ico file");
            }
        }
        Map<String, String> associations = new LinkedHashMap<>();
        for (String a : o.all("--associate")) {
            int eq = a.indexOf('=');
            String ext = eq < 0 ? a : a.substring(0, eq);
            if (eq < 0 || !EXTENSION.matcher(ext).matches() || eq + 1 == a.length()) {
                throw o.usage("--associate needs .EXT=DESCRIPTION: " + a);
            }
            if (associations.put(ext.toLowerCase(Locale.ROOT), a.substring(eq + 1)) != null) {
                throw o.usage("--associate " + ext + " given more than once");
            }
            encodable(o, a.substring(eq + 1));
        }

        List<Entry> files = new ArrayList<>();
        files.add(new Entry(program.toAbsolutePath(), "", programName, "program"));
        if (icon != null) {
            // Installed too: Add/Remove Programs shows it from there on every system.
            files.add(new Entry(icon.toAbsolutePath(), "", programName.substring(0, programName.length() - 4) + ".ico",
                    "producticon"));
        }
        Path runtime = o.path("--runtime");
        if (runtime != null) {
            if (!Files.isRegularFile(runtime.resolve("bin").resolve("server").resolve("jvm.dll"))) {
                throw new PackException("--runtime " + runtime + " is not a Windows runtime: it has no bin\\server\\jvm.dll"
                        + " (link one with vexilo-pack runtime --jdk WINDOWS-JDK)");
            }
            addTree(files, runtime, "jre");
        }
        for (Path extra : o.paths("--file")) {
            if (Files.isDirectory(extra)) {
                addTree(files, extra, extra.toAbsolutePath().normalize().getFileName().toString());
            } else {
                Inputs.requireFile(extra, "file");
                files.add(new Entry(extra.toAbsolutePath(), "", extra.getFileName().toString()));
            }
        }
        Set<String> seen = new HashSet<>();
        for (Entry e : files) {
            encodable(o, e.relative());
            if (!seen.add(e.relative().toLowerCase(Locale.ROOT))) {
                throw new PackException("two files would be installed as " + e.relative());
            }
        }
        if (files.size() > MAX_FILES) {
            throw new PackException("too many files for one package: " + files.size());
        }

        try (StagingFolder staging = StagingFolder.beside(target)) {
            // wixl takes sources relative to its working folder only: each input gets a numbered link there.
            Path links = Files.createDirectory(staging.path().resolve("in"));
            List<Entry> linked = new ArrayList<>();
            for (Entry e : files) {
                Path link = links.resolve(Integer.toString(linked.size()));
                Files.createSymbolicLink(link, e.source.toAbsolutePath());
                linked.add(new Entry(staging.path().relativize(link), e.folder, e.name, e.id));
            }
            Path iconLink = null;
            if (icon != null) {
                iconLink = staging.path().relativize(Files.createSymbolicLink(links.resolve("icon.ico"),
                        icon.toAbsolutePath()));
            }
            String wxs = source(name, vendor, version, upgradeCode, programName, linked, iconLink, associations,
                    o.has("--desktop-shortcut"));
            Path source = staging.path().resolve("package.wxs");
            Files.write(source, wxs.getBytes(StandardCharsets.UTF_8));
            Path msi = staging.path().resolve("package.msi");
            new ProcessRunner(WIXL_TIMEOUT).check(Arrays.asList("wixl", "--arch", "x64", "-o", msi.toString(),
                    source.toString()), staging.path());
            if (!Files.isRegularFile(msi)) {
                throw new PackException("wixl wrote no package");
            }
            long size = Files.size(msi);
            staging.commitFile(msi, target);
            out.println("upgrade code: " + upgradeCode);
            out.printf(Locale.ROOT, "package: %s (%s %s by %s, %d files, %.1f MB)%n", target, name, version, vendor,
                    files.size(), size / 1e6);
        }
    }

    private static String text(CommandOptions o, String option) throws PackException {
        String value = o.require(option).trim();
        if (value.isEmpty()) {
            throw o.usage(option + " is empty");
        }
        encodable(o, value);
        return value;
    }

    /** Package tables are written in code page 1252; text outside it would turn into '?'. */
    private static void encodable(CommandOptions o, String value) throws PackException {
        CharsetEncoder encoder = CODEPAGE.newEncoder();
        if (!encoder.canEncode(value) || value.chars().anyMatch(c -> c < 0x20)) {
            throw o.usage("text must be in Windows code page 1252, without control characters: " + value);
        }
    }

    private static void addTree(List<Entry> files, Path root, String under) throws PackException {
        Path base = root.toAbsolutePath().normalize();
        try {
            Files.walkFileTree(base, new SimpleFileVisitor<Path>() {
                @Override
                public FileVisitResult visitFile(Path file, BasicFileAttributes attrs) throws IOException {
                    if (attrs.isSymbolicLink() && Files.isDirectory(file)) {
                        throw new IOException("a link to a folder is not followed: " + file);
                    }
                    if (files.size() > MAX_FILES) {
                        throw new IOException("more than " + MAX_FILES + " files under " + root);
                    }
                    Path rel = base.relativize(file);
                    String folder = rel.getParent() == null ? under
                            : under + "\\" + rel.getParent().toString().replace('/', '\\');
                    files.add(new Entry(file, folder, file.getFileName().toString()));
                    return FileVisitResult.CONTINUE;
                }
            });
        } catch (IOException e) {
            throw new PackException("cannot read " + root + ": " + Inputs.reason(e));
        }
    }

    /** The WiX source. Identifiers are numbered; component GUIDs are derived from the upgrade code and path. */
    static String source(String name, String vendor, String version, String upgradeCode, String programName,
                         List<Entry> files, Path icon, Map<String, String> associations, boolean desktop) {
        UUID space = UUID.fromString(upgradeCode.substring(1, upgradeCode.length() - 1));
        StringBuilder x = new StringBuilder();
        x.append("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n")
                .append("<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n")
                .append("  <Product Id=\"*\" Name=").append(attr(name)).append(" Language=\"1033\" Codepage=\"1252\"")
                .append(" Version=").append(attr(version)).append(" Manufacturer=").append(attr(vendor))
                .append(" UpgradeCode=").append(attr(upgradeCode)).append(">\n")
                .append("    <Package InstallerVersion=\"500\" Compressed=\"yes\" InstallScope=\"perMachine\"")
                .append(" Platform=\"x64\" SummaryCodepage=\"1252\" Manufacturer=").append(attr(vendor))
                .append(" Description=").append(attr(name + " " + version)).append("/>\n")
                .append("    <MajorUpgrade DowngradeErrorMessage=")
                .append(attr("A newer version of " + formatted(name) + " is already installed.")).append("/>\n")
                .append("    <Media Id=\"1\" Cabinet=\"files.cab\" EmbedCab=\"yes\"/>\n");
        if (icon != null) {
            x.append("    <Icon Id=\"product.ico\" SourceFile=").append(attr(icon.toString()))
                    .append("/>\n")
                    .append("    <Property Id=\"ARPPRODUCTICON\" Value=\"product.ico\"/>\n");
        }
        x.append("    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n")
                .append("      <Directory Id=\"ProgramFiles64Folder\">\n")
                .append("        <Directory Id=\"VENDORDIR\" Name=").append(attr(vendor)).append(">\n")
                .append("          <Directory Id=\"INSTALLDIR\" Name=").append(attr(name)).append(">\n");
        // Folders below the install folder, each once, parents before children.
        Map<String, String> folderIds = new LinkedHashMap<>();
        folderIds.put("", "INSTALLDIR");
        for (Entry e : files) {
            String path = "";
            for (String part : e.folder.isEmpty() ? new String[0] : e.folder.split("\\\\")) {
                path = path.isEmpty() ? part : path + "\\" + part;
                if (!folderIds.containsKey(path)) {
                    folderIds.put(path, "d" + folderIds.size());
                }
            }
        }
        List<String> components = new ArrayList<>();
        writeFolder(x, "", folderIds, files, space, components, programName, name, desktop, icon != null, "            ");
        x.append("          </Directory>\n        </Directory>\n      </Directory>\n")
                .append("      <Directory Id=\"ProgramMenuFolder\"/>\n")
                .append("      <Directory Id=\"DesktopFolder\"/>\n")
                .append("    </Directory>\n");

        // The folders of components go when their last file goes; the vendor folder above them
        // holds no component of its own, so this one removes it (wixl puts a RemoveFolder into
        // its component's folder, whatever Directory says).
        x.append("    <DirectoryRef Id=\"VENDORDIR\">\n");
        String cleanup = component(components, "cleanup");
        x.append("      <Component Id=\"").append(cleanup).append("\" Guid=").append(attr(guid(space, "cleanup")))
                .append(" Win64=\"yes\">\n")
                .append("        <RegistryValue Root=\"HKLM\" Key=").append(attr(productKey(vendor, name)))
                .append(" Name=\"InstallDir\" Type=\"string\" Value=\"[INSTALLDIR]\" KeyPath=\"yes\"/>\n");
        // Add/Remove Programs shows the product's .ico, else the program's own icon. (Windows also
        // writes this value from ARPPRODUCTICON; not every installer service does.)
        x.append("        <RegistryValue Root=\"HKLM\" Key=\"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\[ProductCode]\"")
                .append(" Name=\"DisplayIcon\" Type=\"string\" Value=\"")
                .append(icon != null ? "[#producticon]" : "[#program],0").append("\"/>\n");
        x.append("        <RemoveFolder Id=\"rmvendor\" On=\"uninstall\"/>\n")
                .append("      </Component>\n    </DirectoryRef>\n");
        x.append("    <DirectoryRef Id=\"INSTALLDIR\">\n");
        String progIdBase = progId(vendor, name);
        for (Map.Entry<String, String> a : associations.entrySet()) {
            String ext = a.getKey();
            String progId = progIdBase + ext;
            String c = component(components, "assoc" + components.size());
            x.append("      <Component Id=\"").append(c).append("\" Guid=").append(attr(guid(space, "association " + ext)))
                    .append(" Win64=\"yes\">\n")
                    .append("        <RegistryValue Root=\"HKCR\" Key=").append(attr(ext))
                    .append(" Type=\"string\" Value=").append(attr(progId)).append(" KeyPath=\"yes\"/>\n")
                    .append("        <RegistryValue Root=\"HKCR\" Key=").append(attr(progId))
                    .append(" Type=\"string\" Value=").append(attr(formatted(a.getValue()))).append("/>\n")
                    .append("        <RegistryValue Root=\"HKCR\" Key=").append(attr(progId + "\\DefaultIcon"))
                    .append(" Type=\"string\" Value=\"&quot;[#program]&quot;,0\"/>\n")
                    .append("        <RegistryValue Root=\"HKCR\" Key=").append(attr(progId + "\\shell\\open\\command"))
                    .append(" Type=\"string\" Value=\"&quot;[#program]&quot; &quot;%1&quot;\"/>\n")
                    .append("      </Component>\n");
        }
        x.append("    </DirectoryRef>\n");
        x.append("    <Feature Id=\"Complete\" Title=").append(attr(name)).append(" Level=\"1\">\n");
        for (String c : components) {
            x.append("      <ComponentRef Id=\"").append(c).append("\"/>\n");
        }
        x.append("    </Feature>\n  </Product>\n</Wix>\n");
        return x.toString();
    }

    private static void writeFolder(StringBuilder x, String folder, Map<String, String> folderIds, List<Entry> files,
                                    UUID space, List<String> components, String programName, String name,
                                    boolean desktop, boolean icon, String indent) {
        for (Entry e : files) {
            if (!e.folder.equals(folder)) {
                continue;
            }
            boolean isProgram = "program".equals(e.id);
            String c = component(components, "c" + components.size());
            String fileId = e.id != null ? e.id : "f" + components.size();
            x.append(indent).append("<Component Id=\"").append(c).append("\" Guid=")
                    .append(attr(guid(space, "file " + e.relative().toLowerCase(Locale.ROOT)))).append(" Win64=\"yes\">\n")
                    .append(indent).append("  <File Id=\"").append(fileId).append("\" Name=").append(attr(e.name))
                    .append(" Source=").append(attr(e.source.toString())).append(" KeyPath=\"yes\"/>\n");
            if (isProgram) {
                shortcut(x, indent, "menu", "ProgramMenuFolder", name, icon);
                if (desktop) {
                    shortcut(x, indent, "desktop", "DesktopFolder", name, icon);
                }
            }
            x.append(indent).append("</Component>\n");
        }
        for (Map.Entry<String, String> sub : folderIds.entrySet()) {
            String path = sub.getKey();
            if (path.isEmpty()) {
                continue;
            }
            int cut = path.lastIndexOf('\\');
            String parent = cut < 0 ? "" : path.substring(0, cut);
            if (parent.equals(folder)) {
                x.append(indent).append("<Directory Id=\"").append(sub.getValue()).append("\" Name=")
                        .append(attr(path.substring(cut + 1))).append(">\n");
                writeFolder(x, path, folderIds, files, space, components, programName, name, desktop, icon,
                        indent + "  ");
                x.append(indent).append("</Directory>\n");
            }
        }
    }

    private static void shortcut(StringBuilder x, String indent, String id, String folder, String name, boolean icon) {
        x.append(indent).append("  <Shortcut Id=\"").append(id).append("\" Directory=\"").append(folder)
                .append("\" Name=").append(attr(name)).append(" Target=\"[#program]\" WorkingDirectory=\"INSTALLDIR\"");
        if (icon) {
            x.append(" Icon=\"product.ico\"");
        }
        x.append("/>\n");
    }

    private static String component(List<String> components, String id) {
        components.add(id);
        return id;
    }

    private static String guid(UUID space, String what) {
        return NameUuid.braced(NameUuid.of(space, what));
    }

    static String productKey(String vendor, String name) {
        return "Software\\" + formatted(vendor) + "\\" + formatted(name);
    }

    /** A ProgID: letters and digits of vendor and name joined by dots, at most 39 characters with the extension. */
    static String progId(String vendor, String name) {
        String id = clean(vendor) + "." + clean(name);
        return id.length() > 30 ? id.substring(0, 30) : id;
    }

    private static String clean(String s) {
        String c = s.replaceAll("[^A-Za-z0-9]", "");
        return c.isEmpty() ? "App" : c;
    }

    /** Windows Installer reads [...] in formatted columns as references; these stand for the brackets. */
    static String formatted(String s) {
        StringBuilder b = new StringBuilder();
        for (char c : s.toCharArray()) {
            if (c == '[') {
                b.append("[\\[]");
            } else if (c == ']') {
                b.append("[\\]]");
            } else {
                b.append(c);
            }
        }
        return b.toString();
    }

    static String attr(String s) {
        StringBuilder b = new StringBuilder("\"");
        for (char c : s.toCharArray()) {
            switch (c) {
                case '&':
                    b.append("&amp;");
                    break;
                case '<':
                    b.append("&lt;");
                    break;
                case '>':
                    b.append("&gt;");
                    break;
                case '"':
                    b.append("&quot;");
                    break;
                default:
                    b.append(c);
            }
        }
        return b.append('"').toString();
    }
}
