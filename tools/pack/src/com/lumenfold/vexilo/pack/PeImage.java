package com.lumenfold.vexilo.pack;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.channels.FileChannel;

/**
 * A Windows launcher image whose resource section the packer replaces. The resource section
 * must be the last section, or be followed only by the base-relocation section; the new
 * resources go where the old ones started, and the relocation section moves up behind them.
 * Nothing before the resource section changes, so the archive-length slot keeps its offset.
 */
final class PeImage {
    private static final int DIR_RESOURCE = 2;
    private static final int DIR_SECURITY = 4;
    private static final int DIR_BASERELOC = 5;
    private static final int SECTION_HEADER_SIZE = 40;
    private static final int PE32 = 0x10B;
    private static final int PE32_PLUS = 0x20B;
    private static final int MAX_ALIGNMENT = 1 << 20;

    private final Blob image;
    private final int optionalHeader;
    private final int dataDirectories;
    private final int directoryCount;
    private final int sectionTable;
    private final int sectionCount;
    private final int sectionAlignment;
    private final int fileAlignment;

    private PeImage(Blob image, int optionalHeader, int dataDirectories, int directoryCount,
                    int sectionTable, int sectionCount, int sectionAlignment, int fileAlignment) {
        this.image = image;
        this.optionalHeader = optionalHeader;
        this.dataDirectories = dataDirectories;
        this.directoryCount = directoryCount;
        this.sectionTable = sectionTable;
        this.sectionCount = sectionCount;
        this.sectionAlignment = sectionAlignment;
        this.fileAlignment = fileAlignment;
    }

    static boolean looksLikePe(byte[] bytes) {
        return bytes.length >= 2 && bytes[0] == 'M' && bytes[1] == 'Z';
    }

    static PeImage parse(Blob image) throws PackException {
        long peOffset = image.u32(0x3C, "PE header offset");
        if (peOffset > image.length() - 24 || image.u32((int) peOffset, "PE signature") != 0x4550) {
            throw image.damaged("no PE signature");
        }
        int coff = (int) peOffset + 4;
        int sections = image.u16(coff + 2, "section count");
        int optionalSize = image.u16(coff + 16, "optional header size");
        int optional = coff + 20;
        int magic = image.u16(optional, "optional header");
        if (magic != PE32 && magic != PE32_PLUS) {
            throw image.damaged("unknown optional header kind " + Integer.toHexString(magic));
        }
        int directories = optional + (magic == PE32_PLUS ? 112 : 96);
        long count = image.u32(directories - 4, "data directory count");
        if (count <= DIR_BASERELOC || directories + count * 8 > optional + optionalSize) {
            throw image.damaged("too few data directories");
        }
        int table = optional + optionalSize;
        image.require(table, (long) sections * SECTION_HEADER_SIZE, "section table");
        int sectionAlign = (int) image.u32(optional + 32, "section alignment");
        int fileAlign = (int) image.u32(optional + 36, "file alignment");
        if (Integer.bitCount(sectionAlign) != 1 || Integer.bitCount(fileAlign) != 1 || fileAlign > sectionAlign
                || sectionAlign > MAX_ALIGNMENT) {
            throw image.damaged("unusual section or file alignment");
        }
        return new PeImage(image, optional, directories, (int) count, table, sections, sectionAlign, fileAlign);
    }

    /** Packing changes the file, so a signature made before it could only ever fail to verify. */
    void requireUnsigned() throws PackException {
        if (image.u32(dataDirectories + DIR_SECURITY * 8, "certificate directory") != 0
                || image.u32(dataDirectories + DIR_SECURITY * 8 + 4, "certificate directory") != 0) {
            throw new PackException("image is already signed (its certificate directory is set): packing "
                    + "would invalidate the signature; pack the unsigned image, then sign the program file");
        }
    }

    private long field(int section, int offset) throws PackException {
        return image.u32(sectionTable + section * SECTION_HEADER_SIZE + offset, "section header");
    }

    private long directory(int index, int part) throws PackException {
        return image.u32(dataDirectories + index * 8 + part * 4, "data directory");
    }

    private int sectionAt(long rva) throws PackException {
        for (int i = 0; i < sectionCount; i++) {
            if (field(i, 12) == rva) {
                return i;
            }
        }
        return -1;
    }

    /** File offset of the resource section: bytes before it never change. */
    int resourceOffset() throws PackException {
        int rsrc = sectionAt(directory(DIR_RESOURCE, 0));
        if (directory(DIR_RESOURCE, 0) == 0 || rsrc < 0) {
            throw new PackException("image has no resource section of its own");
        }
        return (int) field(rsrc, 20);
    }

    ResourceTree resources() throws PackException {
        int rsrc = sectionAt(directory(DIR_RESOURCE, 0));
        long raw = Math.min(field(rsrc, 8), field(rsrc, 16));
        Blob section = new Blob(image.slice(field(rsrc, 20), raw, "resource section"), "image resource section");
        return ResourceTree.read(section, field(rsrc, 12));
    }

    /** The image with its resource section replaced by tree; the checksum is left zero. */
    byte[] withResources(ResourceTree tree) throws PackException {
        int rsrc = sectionAt(directory(DIR_RESOURCE, 0));
        int reloc = checkLayout(rsrc);
        long rva = field(rsrc, 12);
        byte[] resources = tree.write(rva);
        int rsrcRaw = Blob.align(resources.length, fileAlignment);
        int rsrcOffset = (int) field(rsrc, 20);
        int end = rsrcOffset + rsrcRaw;
        long nextRva = rva + Blob.align(resources.length, sectionAlignment);
        byte[] relocBytes = reloc < 0 ? new byte[0] : image.slice(field(reloc, 20), field(reloc, 16), "relocations");
        byte[] out = new byte[end + relocBytes.length];
        System.arraycopy(image.bytes, 0, out, 0, rsrcOffset);
        System.arraycopy(resources, 0, out, rsrcOffset, resources.length);
        System.arraycopy(relocBytes, 0, out, end, relocBytes.length);
        long oldRaw = field(rsrc, 16);
        int header = sectionTable + rsrc * SECTION_HEADER_SIZE;
        Blob.putU32(out, header + 8, resources.length);
        Blob.putU32(out, header + 16, rsrcRaw);
        Blob.putU32(out, dataDirectories + DIR_RESOURCE * 8 + 4, resources.length);
        long lastEnd = nextRva;
        if (reloc >= 0) {
            int relocHeader = sectionTable + reloc * SECTION_HEADER_SIZE;
            Blob.putU32(out, relocHeader + 12, nextRva);
            Blob.putU32(out, relocHeader + 20, end);
            Blob.putU32(out, dataDirectories + DIR_BASERELOC * 8, nextRva);
            lastEnd = nextRva + Blob.align((int) field(reloc, 8), sectionAlignment);
        }
        Blob.putU32(out, optionalHeader + 56, lastEnd);  // SizeOfImage
        long initialized = image.u32(optionalHeader + 8, "initialized data size");
        Blob.putU32(out, optionalHeader + 8, Math.max(0, initialized - oldRaw + rsrcRaw));
        Blob.putU32(out, optionalHeader + 64, 0);  // CheckSum, computed over the whole program file
        return out;
    }

    /**
     * The resource section must end the image, or be followed by the relocation section alone
     * (which holds no address of its own and may move). Returns that section, or -1.
     */
    private int checkLayout(int rsrc) throws PackException {
        long rsrcRva = field(rsrc, 12);
        long relocRva = directory(DIR_BASERELOC, 0);
        int reloc = -1;
        long fileEnd = field(rsrc, 20) + field(rsrc, 16);
        for (int i = 0; i < sectionCount; i++) {
            if (i == rsrc || field(i, 12) < rsrcRva) {
                if (field(i, 16) != 0 && i != rsrc && field(i, 20) > field(rsrc, 20)) {
                    throw new PackException("image layout not supported: section " + i
                            + " lies after the resources in the file but before them in memory");
                }
                continue;
            }
            if (relocRva == 0 || field(i, 12) != relocRva || reloc >= 0) {
                throw new PackException("image layout not supported: the resource section must be "
                        + "last, or followed only by the relocation section");
            }
            reloc = i;
            fileEnd = Math.max(fileEnd, field(i, 20) + field(i, 16));
        }
        if (fileEnd != image.length()) {
            throw new PackException("image carries data after its last section (a symbol table or a "
                    + "payload?): use a stripped, unpacked launcher image");
        }
        if (reloc >= 0) {
            checkRelocations(reloc, rsrcRva);
        }
        return reloc;
    }

    /** Moving the sections is only sound while no relocation lands in them. */
    private void checkRelocations(int reloc, long firstMoved) throws PackException {
        long start = field(reloc, 20);
        long size = Math.min(directory(DIR_BASERELOC, 1), field(reloc, 16));
        image.require(start, size, "relocations");
        long at = start;
        while (at + 8 <= start + size) {
            long page = image.u32((int) at, "relocation block");
            long blockSize = image.u32((int) at + 4, "relocation block");
            if (blockSize == 0 && page == 0) {
                break;
            }
            if (blockSize < 8 || at + blockSize > start + size) {
                throw image.damaged("relocation block of size " + blockSize);
            }
            if (page + 0x1000 > firstMoved) {
                throw new PackException("image layout not supported: relocations inside the resource section");
            }
            at += blockSize;
        }
    }

    /** Offset of the CheckSum field in the image (and so in the program file). */
    int checksumOffset() {
        return optionalHeader + 64;
    }

    /**
     * The PE checksum of the whole file: 16-bit one's-complement-style sum with the checksum
     * field counted as zero, plus the file's length. Streams the file once.
     */
    static long checksum(FileChannel file, long checksumOffset) throws IOException {
        long size = file.size();
        ByteBuffer buffer = ByteBuffer.allocate(1 << 16);
        long sum = 0;
        long position = 0;
        while (position < size) {
            // Whole buffers keep every chunk but the last one even, so words never straddle two.
            buffer.clear();
            while (buffer.hasRemaining() && position + buffer.position() < size) {
                if (file.read(buffer, position + buffer.position()) < 0) {
                    throw new IOException("file shrank while computing the checksum");
                }
            }
            int n = buffer.position();
            for (int i = 0; i < n; i += 2) {
                long offset = position + i;
                int low = buffer.get(i) & 0xFF;
                int high = i + 1 < n ? buffer.get(i + 1) & 0xFF : 0;
                if (offset >= checksumOffset && offset < checksumOffset + 4) {
                    low = 0;
                    high = 0;
                }
                sum += low | high << 8;
                sum = (sum & 0xFFFF) + (sum >>> 16);
            }
            position += n;
        }
        return ((sum & 0xFFFF) + (sum >>> 16) & 0xFFFF) + size;
    }
}
