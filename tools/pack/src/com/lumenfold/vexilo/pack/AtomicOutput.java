package com.lumenfold.vexilo.pack;

import java.io.Closeable;
import java.io.IOException;
import java.nio.channels.FileChannel;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFilePermissions;

/**
 * The output is built in a temporary file next to it and renamed into place, so a failed run
 * never leaves a half-written program file behind (nor destroys an older one).
 */
final class AtomicOutput implements Closeable {
    private final Path target;
    private final Path temp;
    private final FileChannel channel;
    private boolean committed;

    private AtomicOutput(Path target, Path temp, FileChannel channel) {
        this.target = target;
        this.temp = temp;
        this.channel = channel;
    }

    static AtomicOutput create(Path target) throws IOException {
        Path absolute = target.toAbsolutePath();
        Path temp = Files.createTempFile(absolute.getParent(), "." + absolute.getFileName() + ".", ".tmp");
        try {
            return new AtomicOutput(absolute, temp, FileChannel.open(temp, StandardOpenOption.WRITE));
        } catch (IOException | RuntimeException e) {
            Files.deleteIfExists(temp);
            throw e;
        }
    }

    FileChannel channel() {
        return channel;
    }

    void commit() throws IOException {
        channel.force(true);
        channel.close();
        if (FileSystems.getDefault().supportedFileAttributeViews().contains("posix")) {
            Files.setPosixFilePermissions(temp, PosixFilePermissions.fromString("rwxr-xr-x"));
        }
        Files.move(temp, target, StandardCopyOption.ATOMIC_MOVE);
        committed = true;
    }

    @Override
    public void close() throws IOException {
        if (!committed) {
            channel.close();
            Files.deleteIfExists(temp);
        }
    }
}
