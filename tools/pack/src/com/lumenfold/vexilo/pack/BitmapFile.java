package com.lumenfold.vexilo.pack;

import java.nio.file.Path;

/** A .bmp file as a bitmap resource: the bytes after the 14-byte file header, checked. */
final class BitmapFile {
    private static final int FILE_HEADER = 14;
    private static final int BI_RGB = 0;
    private static final int BI_RLE8 = 1;
    private static final int BI_RLE4 = 2;
    private static final int BI_BITFIELDS = 3;
    private static final int MAX_SIDE = 1 << 15;

    private BitmapFile() {
    }

    /**
     * The pairings Windows draws: run-length encoding with 8 or 4 bits and bottom-up rows only,
     * bit fields with 16 or 32 bits. JPEG and PNG inside a bitmap are for printers, not windows.
     */
    private static void checkCompression(Blob file, long compression, int bitCount, int height)
            throws PackException {
        boolean drawable;
        if (compression == BI_RGB) {
            drawable = true;
        } else if (compression == BI_RLE8 || compression == BI_RLE4) {
            drawable = bitCount == (compression == BI_RLE8 ? 8 : 4) && height > 0;
        } else if (compression == BI_BITFIELDS) {
            drawable = bitCount == 16 || bitCount == 32;
        } else {
            drawable = false;
        }
        if (!drawable) {
            throw file.damaged("compression " + compression + " with " + bitCount + " bits per pixel"
                    + (height < 0 ? " and top-down rows" : "") + " is not a bitmap Windows can draw");
        }
    }

    /**
     * The resource bytes: header, colour table and pixels, with the pixels right after the colour
     * table (a resource has no offset field, so any gap the file has is left out).
     */
    static byte[] resource(Path path) throws PackException {
        Blob file = new Blob(Inputs.read(path, "bitmap"), "bitmap " + path);
        if (file.length() < FILE_HEADER + 12 || file.u8(0, "header") != 'B' || file.u8(1, "header") != 'M') {
            throw new PackException("not a bitmap file (.bmp): " + path);
        }
        long bitsOffset = file.u32(10, "pixel offset");
        long headerSize = file.u32(FILE_HEADER, "header size");
        if (headerSize != 40 && headerSize != 108 && headerSize != 124) {
            throw file.damaged("unsupported bitmap header of " + headerSize + " bytes (need a Windows bitmap)");
        }
        int width = file.s32(FILE_HEADER + 4, "width");
        int height = file.s32(FILE_HEADER + 8, "height");
        int bitCount = file.u16(FILE_HEADER + 14, "bit count");
        long compression = file.u32(FILE_HEADER + 16, "compression");
        long imageSize = file.u32(FILE_HEADER + 20, "image size");
        long colours = file.u32(FILE_HEADER + 32, "colour count");
        if (width <= 0 || width > MAX_SIDE || height == 0 || Math.abs((long) height) > MAX_SIDE) {
            throw file.damaged("size " + width + " x " + height);
        }
        if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) {
            throw file.damaged(bitCount + " bits per pixel");
        }
        checkCompression(file, compression, bitCount, height);
        long tableEntries = colours != 0 ? colours : bitCount <= 8 ? 1L << bitCount : 0;
        if (tableEntries > 256) {
            throw file.damaged(colours + " colours");
        }
        long masks = compression == BI_BITFIELDS && headerSize == 40 ? 12 : 0;
        long headerEnd = FILE_HEADER + headerSize + masks + 4 * tableEntries;
        long pixels;
        if (compression == BI_RGB || compression == BI_BITFIELDS) {
            pixels = ((long) width * bitCount + 31) / 32 * 4 * Math.abs((long) height);
        } else if (imageSize != 0) {
            pixels = imageSize;  // run-length encoded: only the header knows the size
        } else {
            throw file.damaged("compressed bitmap without its image size");
        }
        if (bitsOffset < headerEnd) {
            throw file.damaged("pixels start inside the header or colour table");
        }
        file.require(bitsOffset, pixels, "pixel data");
        byte[] header = file.slice(FILE_HEADER, headerEnd - FILE_HEADER, "bitmap header");
        byte[] out = new byte[(int) (header.length + pixels)];
        System.arraycopy(header, 0, out, 0, header.length);
        System.arraycopy(file.bytes, (int) bitsOffset, out, header.length, (int) pixels);
        return out;
    }
}
