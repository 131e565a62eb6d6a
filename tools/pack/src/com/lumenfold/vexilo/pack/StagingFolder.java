package com.lumenfold.vexilo.pack;

import java.io.Closeable;
import java.io.IOException;
import java.nio.file.DirectoryNotEmptyException;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.FileVisitResult;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.SimpleFileVisitor;
import java.nio.file.StandardCopyOption;
import java.nio.file.attribute.BasicFileAttributes;
import java.security.SecureRandom;
import java.util.stream.Stream;

/**
 * A work folder created beside an output (same file system, so renames are atomic) that becomes
 * the output folder, or from which one finished file is renamed onto the output. A failed or
 * interrupted run removes it and leaves an existing output as it was.
 */
final class StagingFolder implements Closeable {
    private static final int NAME_ATTEMPTS = 16;
    private static final SecureRandom RANDOM = new SecureRandom();

    private final Path dir;
    private final Thread cleanup;
    private volatile boolean created;
    private volatile boolean done;

    private StagingFolder(Path dir) {
        this.dir = dir;
        this.cleanup = new Thread(() -> {
            if (created && !done) {
                // A tool still writing into the folder would recreate what is being deleted; with
                // the tools ended and no new one started, the command fails and removes the
                // folder itself. Only if it does not within a few seconds is it removed here.
                ProcessRunner.endAll();
                awaitClose(this);
                if (!done) {
                    removeWhileWritten(dir);
                }
            }
        });
    }

    /** A new empty folder named after target, in target's parent folder. */
    static StagingFolder beside(Path target) throws PackException {
        Path absolute = target.toAbsolutePath().normalize();
        Path parent = absolute.getParent();
        if (parent == null || absolute.getFileName() == null) {
            throw new PackException("cannot write to " + target + ": no parent folder");
        }
        if (!Files.isDirectory(parent)) {
            throw new PackException("cannot write " + target + ": folder " + parent + " does not exist");
        }
        for (int attempt = 0; ; attempt++) {
            Path candidate = parent.resolve("." + absolute.getFileName() + "."
                    + Long.toUnsignedString(RANDOM.nextLong(), 36) + ".tmp");
            // The clean-up is registered before the folder exists: an interruption right after
            // it is made must find a hook that removes it (registering can take milliseconds).
            StagingFolder staging = new StagingFolder(candidate);
            try {
                Runtime.getRuntime().addShutdownHook(staging.cleanup);
            } catch (IllegalStateException e) {
                throw new PackException("interrupted");
            }
            try {
                Files.createDirectory(candidate);
                staging.created = true;
                return staging;
            } catch (FileAlreadyExistsException e) {
                staging.removeHook();  // someone else's: never deleted
                if (attempt + 1 >= NAME_ATTEMPTS) {
                    throw new PackException("cannot create a work folder beside " + target);
                }
            } catch (IOException e) {
                staging.removeHook();
                throw new PackException("cannot create a work folder beside " + target + ": " + Inputs.reason(e));
            }
        }
    }

    Path path() {
        return dir;
    }

    /**
     * Renames source (a folder inside the work folder) to target. An existing target is only replaced when
     * replaceable says it may be (an empty folder, or one this command wrote before): it is
     * moved aside first and put back if the rename fails, then deleted.
     */
    void commitFolder(Path source, Path target, java.util.function.Predicate<Path> replaceable, String what)
            throws PackException {
        Path absolute = target.toAbsolutePath().normalize();
        Path aside = null;
        try {
            if (Files.exists(absolute, LinkOption.NOFOLLOW_LINKS)) {
                if (!Files.isDirectory(absolute, LinkOption.NOFOLLOW_LINKS) || !replaceable.test(absolute)) {
                    throw new PackException(target + " exists and is not " + what
                            + "; remove it or choose another --out");
                }
                aside = absolute.resolveSibling("." + absolute.getFileName() + "."
                        + Long.toUnsignedString(RANDOM.nextLong(), 36) + ".old");
                Files.move(absolute, aside, StandardCopyOption.ATOMIC_MOVE);
            }
            try {
                Files.move(source, absolute, StandardCopyOption.ATOMIC_MOVE);
            } catch (IOException e) {
                if (aside != null) {
                    Files.move(aside, absolute, StandardCopyOption.ATOMIC_MOVE);
                }
                throw e;
            }
        } catch (IOException e) {
            throw new PackException("cannot write " + target + ": " + Inputs.reason(e));
        }
        if (aside != null) {
            deleteTree(aside);
        }
    }

    /** Renames one finished file of the work folder onto target (a regular file or nothing). */
    void commitFile(Path finished, Path target) throws PackException {
        Path absolute = target.toAbsolutePath().normalize();
        try {
            if (Files.exists(absolute, LinkOption.NOFOLLOW_LINKS)
                    && !Files.isRegularFile(absolute, LinkOption.NOFOLLOW_LINKS)) {
                throw new PackException("output exists and is not a regular file: " + target);
            }
            Files.move(finished, absolute, StandardCopyOption.ATOMIC_MOVE, StandardCopyOption.REPLACE_EXISTING);
        } catch (IOException e) {
            throw new PackException("cannot write " + target + ": " + Inputs.reason(e));
        }
    }

    @Override
    public void close() {
        if (!done) {
            deleteTree(dir);
            done = true;
        }
        removeHook();
    }

    private void removeHook() {
        try {
            Runtime.getRuntime().removeShutdownHook(cleanup);
        } catch (IllegalStateException ignored) {
            // shutting down already: the hook finds the folder gone or removes it
        }
    }

    private static void awaitClose(StagingFolder staging) {
        for (int waited = 0; waited < 5000 && !staging.done; waited += 20) {
            try {
                Thread.sleep(20);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                return;
            }
        }
    }

    /**
     * Deletes the folder at shutdown, while the command's own thread may still be writing into
     * it (the runtime stops that thread only once the hooks are done): deleted again until it
     * stays gone for a moment, a bounded number of times.
     */
    private static void removeWhileWritten(Path folder) {
        for (int attempt = 0; attempt < 40; attempt++) {
            deleteTree(folder);
            try {
                Thread.sleep(25);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                return;
            }
            if (!Files.exists(folder, LinkOption.NOFOLLOW_LINKS)) {
                return;
            }
        }
    }

    /** True for an empty folder. */
    static boolean isEmptyFolder(Path folder) {
        try (Stream<Path> entries = Files.list(folder)) {
            return !entries.findAny().isPresent();
        } catch (IOException e) {
            return false;
        }
    }

    /** Deletes a tree without following links out of it; errors leave what cannot be removed. */
    static void deleteTree(Path root) {
        if (!Files.exists(root, LinkOption.NOFOLLOW_LINKS)) {
            return;
        }
        try {
            Files.walkFileTree(root, new SimpleFileVisitor<Path>() {
                @Override
                public FileVisitResult visitFile(Path file, BasicFileAttributes attrs) throws IOException {
                    Files.deleteIfExists(file);
                    return FileVisitResult.CONTINUE;
                }

                @Override
                public FileVisitResult visitFileFailed(Path file, IOException e) {
                    return FileVisitResult.CONTINUE;
                }

                @Override
                public FileVisitResult postVisitDirectory(Path folder, IOException e) throws IOException {
                    try {
                        Files.deleteIfExists(folder);
                    } catch (DirectoryNotEmptyException ignored) {
                        // something could not be removed inside; leave the rest
                    }
                    return FileVisitResult.CONTINUE;
                }
            });
        } catch (IOException ignored) {
            // best effort: a leftover work folder is named .NAME.*.tmp and harmless
        }
    }
}
