package com.lumenfold.vexilo.pack;

/** A failure the user can act on; its message becomes the one line printed on stderr. */
final class PackException extends Exception {
    private static final long serialVersionUID = 1L;

    private final boolean usage;

    PackException(String message) {
        this(message, false);
    }

    private PackException(String message, boolean usage) {
        super(message);
        this.usage = usage;
    }

    static PackException usage(String message) {
        return new PackException(message + " (see --help)", true);
    }

    /** 2 for a bad command line, 1 for everything else. */
    int exitCode() {
        return usage ? 2 : 1;
    }
}
