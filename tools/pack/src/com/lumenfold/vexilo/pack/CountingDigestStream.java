package com.lumenfold.vexilo.pack;

import java.io.FilterOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;

/** Measures the archive while it streams out: its length goes into the slot, its MD5 into the payload. */
final class CountingDigestStream extends FilterOutputStream {
    private final MessageDigest md5;
    private long count;

    CountingDigestStream(OutputStream out) {
        super(out);
        try {
            md5 = MessageDigest.getInstance("MD5");
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every Java runtime provides MD5", e);
        }
    }

    @Override
    public void write(int b) throws IOException {
        out.write(b);
        md5.update((byte) b);
        count++;
    }

    @Override
    public void write(byte[] b, int off, int len) throws IOException {
        out.write(b, off, len);
        md5.update(b, off, len);
        count += len;
    }

    long count() {
        return count;
    }

    byte[] digest() {
        return md5.digest();
    }
}
