package com.lumenfold.vexilo.pack;

import java.io.BufferedOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.net.URISyntaxException;
import java.nio.ByteBuffer;
import java.nio.ByteOrder;
import java.nio.channels.Channels;
import java.nio.channels.FileChannel;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.CodeSource;
import java.util.ArrayList;
import java.util.List;
import java.util.function.Consumer;
import java.util.jar.Manifest;
import java.util.zip.ZipOutputStream;

/** Writes the program file: image, configuration text, its length, archive digest, archive. */
final class Packer {
    private static final int DIGEST_SIZE = 16;
    // The launcher reads its own file with signed 32-bit offsets.
    private static final long MAX_PROGRAM_SIZE = 0x7FFFFFFFL;

    private static final String[] OWN_FILES = {"vexilo-api.jar", "vexilo-api-sources.jar",
        "vexilo-api-javadoc.jar", "vexilo-pack", "vexilo-pack.cmd", "launcher-gui", "launcher-console",
        "launcher-gui.exe", "launcher-console.exe"};

    private final Options options;
    private final Consumer<String> warn;

    Packer(Options options, Consumer<String> warn) {
        this.options = options;
        this.warn = warn;
    }

    void pack() throws PackException, IOException {
        checkPaths();
        checkTotalSize();
        byte[] imageBytes = Inputs.read(options.image, "image");
        Image image = Image.parse(imageBytes, options.image);
        String text = ConfigText.decode(Inputs.read(options.config, "config"), options.config);
        text = ConfigText.withoutInnerMarks(text, options.config, warn);
        List<Source> sources = new ArrayList<>();
        try {
            for (Path jar : options.jars) {
                sources.add(Source.application(jar));
            }
            Path packerJar = packerJar();
            if (packerJar != null) {
                sources.add(Source.companions(packerJar, image.gui));
            }
            if (sources.stream().allMatch(source -> !source.isApplication() || source.isEmptyApplication())) {
                throw new PackException("nothing to pack: the JARs have no entries");
            }
            Merger merger = new Merger(sources, options.jars, warn, options.verbose);
            if (merger.isEmpty()) {
                throw new PackException("nothing to pack: the JARs have no entries");
            }
            Manifest manifest = merger.manifest();
            ConfigCheck check = new ConfigCheck(text, options.config, warn);
            check.warnUnknownKeywords();
            String added = check.checkMainClass(manifest, sources);
            if (added != null) {
                text = ConfigText.withCrLf(text) + added + "\r\n";
                if (options.jars.size() > 1 && !options.jars.get(0).toString().equals(merger.mainClassFrom())) {
                    warn.accept(added + ": the Main-Class of " + merger.mainClassFrom()
                            + "; the JARs before it name none");
                }
            }
            check.warnExternalFiles(options.out);
            byte[] config = ConfigText.encode(text);
            Image finished = finalImage(imageBytes, image, manifest);
            long expected = finished.bytes.length + config.length + 4L + DIGEST_SIZE + merger.estimatedSize();
            if (expected > MAX_PROGRAM_SIZE) {
                throw new PackException("the program file would be about " + (expected >> 20) + " MiB; it must stay "
                        + "below 2 GiB, the most the launcher can read (nothing written)");
            }
            write(finished, config, merger);
        } finally {
            closeAll(sources);
        }
    }

    /** A Windows image gets its resources; any other kind is copied as it is. */
    private Image finalImage(byte[] bytes, Image image, Manifest manifest) throws PackException {
        if (!PeImage.looksLikePe(bytes)) {
            if (options.wantsResources()) {
                throw new PackException("icons, splash pictures, version information and manifests only go "
                        + "into a Windows image (.exe): " + options.image);
            }
            return image;
        }
        PeImage pe = PeImage.parse(new Blob(bytes, "image " + options.image));
        pe.requireUnsigned();
        if (image.slotOffset + Image.SLOT_SIZE > pe.resourceOffset()) {
            throw new PackException("image layout not supported: the archive-length slot is not before "
                    + "the resources: " + options.image);
        }
        ResourceTree tree = pe.resources();
        WindowsResources.apply(tree, options, manifest);
        return image.withBytes(pe.withResources(tree), pe.checksumOffset());
    }

    /** The inputs are only read, so a failure to close one must not hide the real outcome. */
    private static void closeAll(List<Source> sources) {
        for (Source source : sources) {
            try {
                source.close();
            } catch (IOException ignored) {
                // nothing was written through it
            }
        }
    }

    private void checkPaths() throws PackException {
        Inputs.requireFile(options.image, "image");
        Inputs.requireFile(options.config, "config");
        for (Path jar : options.jars) {
            Inputs.requireFile(jar, "JAR");
        }
        if (Files.isDirectory(options.out)) {
            throw new PackException("output is a directory: " + options.out);
        }
        // Replacing a device or a pipe by a file (as root: /dev/null) is never what was meant.
        if (Files.exists(options.out) && !Files.isRegularFile(options.out)) {
            throw new PackException("output exists and is not a regular file: " + options.out);
        }
        for (Path input : options.inputs()) {
            if (sameFile(options.out, input)) {
                throw new PackException("output would overwrite an input: " + options.out);
            }
        }
        for (Path own : ownFiles()) {
            if (sameFile(options.out, own)) {
                throw new PackException("output would overwrite the packer's own " + own.getFileName() + ": "
                        + options.out);
            }
        }
    }

    /** The packer's JAR and what ships beside it: the API JARs, the wrappers, the launcher images. */
    private static List<Path> ownFiles() {
        List<Path> own = new ArrayList<>();
        Path jar = packerJar();
        if (jar == null) {
            return own;
        }
        own.add(jar);
        Path folder = jar.toAbsolutePath().getParent();
        if (folder != null) {
            for (String name : OWN_FILES) {
                own.add(folder.resolve(name));
            }
        }
        return own;
    }

    /** Refused before any work: the archive is at least about as large as the JARs it merges. */
    private void checkTotalSize() throws PackException {
        long total = 0;
        for (Path input : options.inputs()) {
            try {
                total += Files.size(input);
            } catch (IOException e) {
                throw new PackException("cannot read " + input + ": " + Inputs.reason(e));
            }
        }
        if (total > MAX_PROGRAM_SIZE) {
            throw new PackException("the inputs add up to " + (total >> 20) + " MiB; a program file must stay "
                    + "below 2 GiB, the most the launcher can read");
        }
    }

    private static boolean sameFile(Path out, Path input) throws PackException {
        try {
            return Files.exists(out) && Files.exists(input) && Files.isSameFile(out, input);
        } catch (IOException e) {
            throw new PackException("cannot check " + out + ": " + Inputs.reason(e));
        }
    }

    /** Null when running from loose classes: then there are simply no companion classes. */
    static Path packerJar() {
        try {
            CodeSource code = Packer.class.getProtectionDomain().getCodeSource();
            Path path = code == null ? null : Paths.get(code.getLocation().toURI());
            return path != null && Files.isRegularFile(path) ? path : null;
        } catch (URISyntaxException | RuntimeException e) {
            return null;
        }
    }

    private void write(Image image, byte[] config, Merger merger) throws PackException {
        try (AtomicOutput out = AtomicOutput.create(options.out)) {
            FileChannel channel = out.channel();
            writeFully(channel, ByteBuffer.wrap(image.bytes));
            writeFully(channel, ByteBuffer.wrap(config));
            writeFully(channel, littleEndian(4).putInt(config.length));
            long digestOffset = channel.position();
            writeFully(channel, ByteBuffer.allocate(DIGEST_SIZE));
            CountingDigestStream archive = writeArchive(channel, merger);
            if (channel.size() > MAX_PROGRAM_SIZE) {
                throw new PackException("program file would exceed 2 GiB, more than the launcher can read: "
                        + options.out);
            }
            writeAt(channel, digestOffset, ByteBuffer.wrap(archive.digest()));
            writeAt(channel, image.slotOffset, littleEndian(Image.SLOT_SIZE).putLong(archive.count()));
            if (image.checksumOffset >= 0) {
                long sum = PeImage.checksum(channel, image.checksumOffset);
                writeAt(channel, image.checksumOffset, littleEndian(4).putInt((int) sum));
            }
            out.commit();
        } catch (CountingDigestStream.LimitReached e) {
            throw new PackException("program file would exceed 2 GiB, more than the launcher can read (the "
                    + "entries inflate to more than their recorded sizes): " + options.out);
        } catch (IOException e) {
            throw new PackException("cannot write " + options.out + ": " + Inputs.reason(e));
        }
    }

    private CountingDigestStream writeArchive(FileChannel channel, Merger merger)
            throws PackException, IOException {
        long start = channel.position();
        // Not closed on purpose: that would close the channel, which still needs the back-patches.
        OutputStream buffered = new BufferedOutputStream(Channels.newOutputStream(channel), 64 * 1024);
        // Entries that inflate far beyond their recorded sizes stop the run as soon as they pass the limit.
        CountingDigestStream counted = new CountingDigestStream(buffered, MAX_PROGRAM_SIZE - start);
        ZipOutputStream zip = new ZipOutputStream(counted);
        merger.write(zip);
        zip.finish();
        counted.flush();
        locateZip64End(channel, counted, start);
        return counted;
    }

    /**
     * The zip64 locator (written from 65,535 entries on) gives the zip64 end record's offset, which
     * ZipOutputStream counts from the archive's first byte. Zip readers find the archive's start
     * from the central directory's offset and size, but take this one as a position in the file as
     * it is: it is made one, in the file and in the bytes the digest has yet to cover.
     */
    private static void locateZip64End(FileChannel channel, CountingDigestStream archive, long start)
            throws PackException, IOException {
        byte[] tail = archive.heldTail();
        int end = tail.length - ZipTail.END_SIZE;
        if (end < 0 || ZipTail.u32(tail, end) != ZipTail.END_SIGNATURE) {
            throw new IllegalStateException("the archive does not end with its end record");
        }
        int locator = end - ZipTail.LOCATOR_SIZE;
        if (locator < 0 || ZipTail.u32(tail, locator) != ZipTail.LOCATOR_SIGNATURE) {
            return;
        }
        long relative = ZipTail.u64(tail, locator + 8);
        long record = start + relative;
        int recordInTail = (int) (relative - (archive.count() - tail.length));
        if (recordInTail < 0 || ZipTail.u32(tail, recordInTail) != ZipTail.ZIP64_END_SIGNATURE) {
            throw new IllegalStateException("the zip64 locator does not point at the zip64 end record");
        }
        ZipTail.putU64(tail, locator + 8, record);
        long at = start + archive.count() - tail.length + locator + 8;
        writeAt(channel, at, littleEndian(8).putLong(record));
    }

    private static ByteBuffer littleEndian(int size) {
        return ByteBuffer.allocate(size).order(ByteOrder.LITTLE_ENDIAN);
    }

    private static void writeFully(FileChannel channel, ByteBuffer data) throws IOException {
        data.rewind();
        while (data.hasRemaining()) {
            channel.write(data);
        }
    }

    private static void writeAt(FileChannel channel, long position, ByteBuffer data) throws IOException {
        data.rewind();
        while (data.hasRemaining()) {
            channel.write(data, position + data.position());
        }
    }
}
