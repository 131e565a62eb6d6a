package com.lumenfold.vexilo.pack;

/** The records at the end of a ZIP archive, as the packer patches them. */
final class ZipTail {
    static final long END_SIGNATURE = 0x06054b50L;
    static final long LOCATOR_SIGNATURE = 0x07064b50L;
    static final long ZIP64_END_SIGNATURE = 0x06064b50L;
    static final int END_SIZE = 22;
    static final int LOCATOR_SIZE = 20;
    /** The end record, the zip64 end record and its locator, and the longest archive comment. */
    static final int MAX_TAIL = END_SIZE + 56 + LOCATOR_SIZE + 0xFFFF;

    private ZipTail() {
    }

    static long u32(byte[] data, int at) {
        long value = 0;
        for (int i = 3; i >= 0; i--) {
            value = value << 8 | (data[at + i] & 0xFF);
        }
        return value;
    }

    static long u64(byte[] data, int at) {
        return u32(data, at) | u32(data, at + 4) << 32;
    }

    static void putU64(byte[] data, int at, long value) {
        for (int i = 0; i < 8; i++) {
            data[at + i] = (byte) (value >>> (8 * i));
        }
    }
}
