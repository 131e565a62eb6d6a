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
    private volatile boolean done;

    private StagingFolder(Path dir) {
        this.dir = dir;
        this.cleanup = new Thread(() -> {
            if (!done) {
                // A tool still writing into the folder would recreate what is being deleted.
                ProcessRunner.endAll();
                deleteTree(dir);
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
            try {
                StagingFolder staging = new StagingFolder(Files.createDirectory(candidate));
                Runtime.getRuntime().addShutdownHook(staging.cleanup);
                return staging;
            } catch (FileAlreadyExistsException e) {
                if (attempt + 1 >= NAME_ATTEMPTS) {
                    throw new PackException("cannot create a work folder beside " + target);
                }
            } catch (IOException e) {
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
