package com.lumenfold.vexilo.pack;

import java.io.FilterOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.Arrays;

/**
 * Measures the archive while it streams out: its length goes into the slot, its MD5 into the
 * payload. The last bytes (the end records) are held back from the digest until heldTail() hands
 * them out for patching; digest() then covers them as patched.
 */
final class CountingDigestStream extends FilterOutputStream {
    private static final int HOLD = ZipTail.MAX_TAIL;
    /** Thrown once more than the limit has been written. */
    static final class LimitReached extends IOException {
        private static final long serialVersionUID = 1L;

        LimitReached() {
            super("the archive is larger than its limit");
        }
    }

    private final MessageDigest md5;
    private final long limit;
    private final byte[] pending = new byte[4 * HOLD];
    private int pendingLength;
    private byte[] tail;
    private long count;

    CountingDigestStream(OutputStream out, long limit) {
        super(out);
        this.limit = limit;
        try {
            md5 = MessageDigest.getInstance("MD5");
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every Java runtime provides MD5", e);
        }
    }

    /** ZipOutputStream writes its headers a byte at a time: this path allocates nothing. */
    @Override
    public void write(int b) throws IOException {
        if (count >= limit) {
            throw new LimitReached();
        }
        out.write(b);
        if (tail != null) {
            throw new IllegalStateException("written after the tail was taken");
        }
        if (pendingLength == pending.length) {
            makeRoom();
        }
        pending[pendingLength++] = (byte) b;
        count++;
    }

    /** Digests all but the last HOLD bytes and moves those to the front. */
    private void makeRoom() {
        int digested = pendingLength - HOLD;
        md5.update(pending, 0, digested);
        System.arraycopy(pending, digested, pending, 0, HOLD);
        pendingLength = HOLD;
    }

    @Override
    public void write(byte[] b, int off, int len) throws IOException {
        if (len > limit - count) {
            throw new LimitReached();
        }
        out.write(b, off, len);
        hold(b, off, len);
    }

    private void hold(byte[] b, int off, int len) {
        if (tail != null) {
            throw new IllegalStateException("written after the tail was taken");
        }
        count += len;
        while (len > 0) {
            if (pendingLength == pending.length) {
                makeRoom();
            }
            int n = Math.min(len, pending.length - pendingLength);
            System.arraycopy(b, off, pending, pendingLength, n);
            pendingLength += n;
            off += n;
            len -= n;
        }
    }

    long count() {
        return count;
    }

    /** The last bytes written (up to the longest ZIP tail), not yet digested; changes to them count. */
    byte[] heldTail() {
        if (tail == null) {
            int keep = Math.min(pendingLength, HOLD);
            md5.update(pending, 0, pendingLength - keep);
            tail = Arrays.copyOfRange(pending, pendingLength - keep, pendingLength);
            pendingLength = 0;
        }
        return tail;
    }

    byte[] digest() {
        md5.update(heldTail());
        return md5.digest();
    }
}
