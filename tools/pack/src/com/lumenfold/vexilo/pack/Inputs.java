package com.lumenfold.vexilo.pack;

import java.io.IOException;
import java.nio.file.AccessDeniedException;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.NoSuchFileException;
import java.nio.file.Path;

/** Reading the input files, with messages that say which file and why. */
final class Inputs {
    private Inputs() {
    }

    static void requireFile(Path path, String what) throws PackException {
        if (!Files.exists(path)) {
            throw new PackException("cannot read " + what + " " + path + ": no such file");
        }
        if (!Files.isRegularFile(path)) {
            throw new PackException("cannot read " + what + " " + path + ": not a regular file");
        }
    }

    /** Inputs read whole (images, configuration, pictures) are small; anything bigger is a mistake. */
    static final long MAX_READ = 256L << 20;

    static byte[] read(Path path, String what) throws PackException {
        requireFile(path, what);
        try {
            if (Files.size(path) > MAX_READ) {
                throw new PackException(what + " " + path + " is larger than " + (MAX_READ >> 20)
                        + " MiB: not a file the packer takes");
            }
            return Files.readAllBytes(path);
        } catch (IOException e) {
            throw new PackException("cannot read " + what + " " + path + ": " + reason(e));
        }
    }

    static String reason(IOException e) {
        if (e instanceof NoSuchFileException) {
            return "no such file";
        }
        if (e instanceof AccessDeniedException) {
            return "permission denied";
        }
        if (e instanceof FileSystemException && ((FileSystemException) e).getReason() != null) {
            return ((FileSystemException) e).getReason();
        }
        return String.valueOf(e.getMessage());
    }
}
