package com.lumenfold.vexilo.pack;

import java.nio.ByteBuffer;
import java.nio.ByteOrder;

/** Bounded little-endian reads over an input file's bytes: a read outside them is a clear error. */
final class Blob {
    final byte[] bytes;
    private final String what;

    Blob(byte[] bytes, String what) {
        this.bytes = bytes;
        this.what = what;
    }

    int length() {
        return bytes.length;
    }

    /** Fails unless [offset, offset + size) lies inside the bytes. */
    void require(long offset, long size, String field) throws PackException {
        if (offset < 0 || size < 0 || offset + size > bytes.length) {
            throw new PackException(what + " is damaged: " + field + " lies outside the file");
        }
    }

    int u8(int offset, String field) throws PackException {
        require(offset, 1, field);
        return bytes[offset] & 0xFF;
    }

    int u16(int offset, String field) throws PackException {
        require(offset, 2, field);
        return (bytes[offset] & 0xFF) | (bytes[offset + 1] & 0xFF) << 8;
    }

    /** Unsigned 32-bit value; callers compare it against sizes held in long. */
    long u32(int offset, String field) throws PackException {
        require(offset, 4, field);
        return ByteBuffer.wrap(bytes, offset, 4).order(ByteOrder.LITTLE_ENDIAN).getInt() & 0xFFFFFFFFL;
    }

    int s32(int offset, String field) throws PackException {
        require(offset, 4, field);
        return ByteBuffer.wrap(bytes, offset, 4).order(ByteOrder.LITTLE_ENDIAN).getInt();
    }

    byte[] slice(long offset, long size, String field) throws PackException {
        require(offset, size, field);
        byte[] out = new byte[(int) size];
        System.arraycopy(bytes, (int) offset, out, 0, (int) size);
        return out;
    }

    PackException damaged(String detail) {
        return new PackException(what + " is damaged: " + detail);
    }

    static void putU16(byte[] data, int offset, int value) {
        data[offset] = (byte) value;
        data[offset + 1] = (byte) (value >>> 8);
    }

    static void putU32(byte[] data, int offset, long value) {
        for (int i = 0; i < 4; i++) {
            data[offset + i] = (byte) (value >>> (8 * i));
        }
    }

    static int align(int value, int alignment) {
        return (value + alignment - 1) / alignment * alignment;
    }
}
