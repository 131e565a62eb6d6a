package com.lumenfold.vexilo.pack;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.Iterator;
import javax.imageio.ImageIO;
import javax.imageio.ImageReader;
import javax.imageio.stream.ImageInputStream;
import java.nio.file.Path;
import java.util.Map;
import java.util.jar.Attributes;
import java.util.jar.Manifest;

/** The resources the packer puts into a Windows image, from the command line and defaults. */
final class WindowsResources {
    /** The program icon's group: the lowest identifier, so Explorer shows it. */
    static final int PROGRAM_ICON = 1;
    /** Bitmap 100 (native splash window) and raw data 100 (the runtime's splash library). */
    static final int SPLASH = 100;
    private static final int VERSION = 1;
    private static final int MANIFEST = 1;
    private static final int MAX_SPLASH_IMAGE = 64 << 20;
    private static final int MAX_SPLASH_SIDE = 8192;

    private WindowsResources() {
    }

    /** Adds everything asked for to tree; the version information and manifest always. */
    static void apply(ResourceTree tree, Options options, Manifest jarManifest) throws PackException {
        if (options.icon != null) {
            IconFile.read(options.icon).addTo(tree, PROGRAM_ICON);
        }
        for (Map.Entry<Integer, Path> tray : options.trayIcons.entrySet()) {
            IconFile.read(tray.getValue()).addTo(tree, tray.getKey());
        }
        if (options.splashBitmap != null) {
            tree.put(ResourceTree.RT_BITMAP, SPLASH, BitmapFile.resource(options.splashBitmap));
        }
        if (options.splashImage != null) {
            tree.put(ResourceTree.RT_RCDATA, SPLASH, splashImage(options.splashImage));
        }
        tree.put(ResourceTree.RT_VERSION, VERSION, version(options, jarManifest).toBytes());
        tree.put(ResourceTree.RT_MANIFEST, MANIFEST, manifest(options));
    }

    /** The runtime's splash library reads PNG, GIF and JPEG; anything else would show nothing. */
    static byte[] splashImage(Path path) throws PackException {
        byte[] data = Inputs.read(path, "splash image");
        if (data.length > MAX_SPLASH_IMAGE) {
            throw new PackException("splash image is larger than " + (MAX_SPLASH_IMAGE >> 20) + " MiB: " + path);
        }
        String head = new String(data, 0, Math.min(8, data.length), StandardCharsets.ISO_8859_1);
        boolean png = head.equals("\u0089PNG\r\n\u001a\n");
        boolean gif = head.startsWith("GIF87a") || head.startsWith("GIF89a");
        boolean jpeg = head.startsWith("\u00ff\u00d8\u00ff");
        if (!png && !gif && !jpeg) {
            throw new PackException("splash image is not a PNG, GIF or JPEG file: " + path);
        }
        checkDecodes(data, path);
        return data;
    }

    /**
     * The runtime decodes the whole picture before the splash window shows: its size is read from
     * the header and bounded first, then it is decoded once here, so a damaged one is refused.
     */
    private static void checkDecodes(byte[] data, Path path) throws PackException {
        ImageIO.setUseCache(false);  // decoded in memory, no temporary files
        try (ImageInputStream in = ImageIO.createImageInputStream(new ByteArrayInputStream(data))) {
            Iterator<ImageReader> readers = ImageIO.getImageReaders(in);
            if (!readers.hasNext()) {
                throw new PackException("splash image cannot be decoded: " + path);
            }
            ImageReader reader = readers.next();
            try {
                reader.setInput(in, true, true);
                int width = reader.getWidth(0);
                int height = reader.getHeight(0);
                if (width > MAX_SPLASH_SIDE || height > MAX_SPLASH_SIDE || width <= 0 || height <= 0) {
                    throw new PackException("splash image is " + width + " x " + height + " pixels; at most "
                            + MAX_SPLASH_SIDE + " x " + MAX_SPLASH_SIDE + " is taken: " + path);
                }
                reader.read(0);
            } finally {
                reader.dispose();
            }
        } catch (IOException | RuntimeException e) {
            throw new PackException("splash image cannot be decoded (" + e.getMessage() + "): " + path);
        }
    }

    /**
     * Defaults: the JAR manifest's Implementation-Title, -Version and -Vendor when present, else
     * the output's name and version 0.0.0.0.
     */
    static VersionInfo version(Options options, Manifest jarManifest) throws PackException {
        Attributes main = jarManifest == null ? new Attributes() : jarManifest.getMainAttributes();
        String fileName = options.out.getFileName().toString();
        String baseName = fileName.contains(".") ? fileName.substring(0, fileName.lastIndexOf('.')) : fileName;
        String declared = main.getValue(Attributes.Name.IMPLEMENTATION_VERSION);
        int[] numbers;
        String given = options.texts.get("--version");
        if (given != null) {
            numbers = VersionInfo.parseNumbers(given);
        } else {
            numbers = declared == null ? null
                    : VersionInfo.leadingNumbers(declared, "Implementation-Version of the JAR manifest");
            numbers = numbers == null ? new int[4] : numbers;
        }
        String productVersion = first(options.texts.get("--product-version"), given, declared,
                VersionInfo.text(numbers));
        int[] productNumbers = VersionInfo.leadingNumbers(productVersion,
                options.texts.containsKey("--product-version") ? "--product-version" : "product version");
        String productName = first(options.texts.get("--product-name"),
                main.getValue(Attributes.Name.IMPLEMENTATION_TITLE), baseName);
        return new VersionInfo(numbers, productNumbers == null ? numbers : productNumbers)
                .set("CompanyName", first(options.texts.get("--company"),
                        main.getValue(Attributes.Name.IMPLEMENTATION_VENDOR), ""))
                .set("FileDescription", first(options.texts.get("--description"), productName))
                .set("FileVersion", VersionInfo.text(numbers))
                .set("InternalName", baseName)
                .set("LegalCopyright", first(options.texts.get("--copyright"), ""))
                .set("OriginalFilename", fileName)
                .set("ProductName", productName)
                .set("ProductVersion", productVersion);
    }

    private static String first(String... values) {
        for (String value : values) {
            if (value != null) {
                return value;
            }
        }
        return "";
    }

    static byte[] manifest(Options options) throws PackException {
        if (options.manifest != null) {
            return ManifestFile.read(options.manifest);
        }
        String level = options.requireAdmin ? "requireAdministrator" : "asInvoker";
        return String.join("\r\n",
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>",
                "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
                "  <dependency>",
                "    <dependentAssembly>",
                "      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\""
                        + " version=\"6.0.0.0\" processorArchitecture=\"*\""
                        + " publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/>",
                "    </dependentAssembly>",
                "  </dependency>",
                "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
                "    <security>",
                "      <requestedPrivileges>",
                "        <requestedExecutionLevel level=\"" + level + "\" uiAccess=\"false\"/>",
                "      </requestedPrivileges>",
                "    </security>",
                "  </trustInfo>",
                "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">",
                "    <application>",
                "      <supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
                "      <supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",
                "      <supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",
                "      <supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",
                "    </application>",
                "  </compatibility>",
                "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">",
                "    <windowsSettings>",
                "      <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>",
                "      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">"
                        + "PerMonitorV2, PerMonitor</dpiAwareness>",
                "    </windowsSettings>",
                "  </application>",
                "</assembly>",
                "").getBytes(StandardCharsets.UTF_8);
    }
}
