package com.lumenfold.vexilo.pack;

import java.io.Closeable;
import java.io.IOException;
import java.nio.channels.FileChannel;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.PosixFilePermission;
import java.security.SecureRandom;
import java.util.EnumSet;
import java.util.Set;

/**
 * The output is built in a temporary file next to it and renamed into place, so a failed or
 * interrupted run never leaves a half-written program file behind (nor destroys an older one).
 */
final class AtomicOutput implements Closeable {
    private static final int NAME_ATTEMPTS = 16;
    private static final SecureRandom RANDOM = new SecureRandom();

    private final Path target;
    /** The temporary file once created; read by the shutdown hook, so volatile. */
    private volatile Path temp;
    private FileChannel channel;
    private final Thread cleanup;
    private boolean committed;

    private AtomicOutput(Path target) {
        this.target = target;
        // Ctrl-C ends the JVM through its shutdown hooks: the half-written file goes with it. The
        // hook is in place before the file exists, so no signal can fall between the two.
        this.cleanup = new Thread(() -> {
            Path pending = temp;
            try {
                if (pending != null) {
                    Files.deleteIfExists(pending);
                }
            } catch (IOException ignored) {
                // the process is ending; nothing else can be done
            }
        });
        Runtime.getRuntime().addShutdownHook(cleanup);
    }

    /**
     * Opens a new temporary file beside target. It is created without explicit permissions, so
     * it gets the mode the user's umask allows, as any new file would.
     */
    static AtomicOutput create(Path target) throws IOException {
        AtomicOutput out = new AtomicOutput(target.toAbsolutePath());
        try {
            out.open();
            return out;
        } catch (IOException | RuntimeException e) {
            out.close();
            throw e;
        }
    }

    private void open() throws IOException {
        for (int attempt = 0; ; attempt++) {
            // Not derived from the target's name: an output name at the file system's length
            // limit must still leave room for the temporary one.
            Path candidate = target.resolveSibling(".vxo-" + Long.toUnsignedString(RANDOM.nextLong(), 36) + ".tmp");
            // Named before it exists: a random 64-bit name that is already taken by someone else
            // while a signal arrives in this very step is the only way the hook misses.
            temp = candidate;
            try {
                channel = FileChannel.open(candidate, StandardOpenOption.CREATE_NEW, StandardOpenOption.WRITE,
                        StandardOpenOption.READ);
                return;
            } catch (FileAlreadyExistsException e) {
                temp = null;
                if (attempt + 1 >= NAME_ATTEMPTS) {
                    throw e;
                }
            }
        }
    }

    FileChannel channel() {
        return channel;
    }

    void commit() throws IOException {
        channel.force(true);
        channel.close();
        if (FileSystems.getDefault().supportedFileAttributeViews().contains("posix")) {
            Files.setPosixFilePermissions(temp, finalMode());
        }
        Files.move(temp, target, StandardCopyOption.ATOMIC_MOVE);
        committed = true;
        removeHook();
    }

    /**
     * An existing output keeps its mode; a new one is executable wherever the umask lets the
     * new file be read (0644 becomes 0755, 0600 becomes 0700).
     */
    private Set<PosixFilePermission> finalMode() throws IOException {
        if (Files.isRegularFile(target, LinkOption.NOFOLLOW_LINKS)) {
            return Files.getPosixFilePermissions(target);
        }
        Set<PosixFilePermission> mode = EnumSet.noneOf(PosixFilePermission.class);
        mode.addAll(Files.getPosixFilePermissions(temp));
        if (mode.contains(PosixFilePermission.OWNER_READ)) {
            mode.add(PosixFilePermission.OWNER_EXECUTE);
        }
        if (mode.contains(PosixFilePermission.GROUP_READ)) {
            mode.add(PosixFilePermission.GROUP_EXECUTE);
        }
        if (mode.contains(PosixFilePermission.OTHERS_READ)) {
            mode.add(PosixFilePermission.OTHERS_EXECUTE);
        }
        return mode;
    }

    private void removeHook() {
        try {
            Runtime.getRuntime().removeShutdownHook(cleanup);
        } catch (IllegalStateException ignored) {
            // already shutting down: the hook runs and finds nothing to delete
        }
    }

    @Override
    public void close() throws IOException {
        if (!committed) {
            if (channel != null) {
                channel.close();
            }
            if (temp != null) {
                Files.deleteIfExists(temp);
            }
            removeHook();
        }
    }
}
