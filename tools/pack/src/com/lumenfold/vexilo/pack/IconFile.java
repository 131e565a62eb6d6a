package com.lumenfold.vexilo.pack;

import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;

/** An .ico file taken apart: each picture becomes an icon resource, the directory a group. */
final class IconFile {
    private static final int HEADER_SIZE = 6;
    private static final int ENTRY_SIZE = 16;
    private static final int GROUP_ENTRY_SIZE = 14;
    private static final byte[] PNG_SIGNATURE = {(byte) 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    private static final int MAX_IMAGES = 256;

    /** One picture: the 12 directory bytes the group repeats, and the picture's own bytes. */
    static final class Picture {
        final byte[] directory;
        final byte[] data;

        Picture(byte[] directory, byte[] data) {
            this.directory = directory;
            this.data = data;
        }
    }

    final List<Picture> pictures;

    private IconFile(List<Picture> pictures) {
        this.pictures = pictures;
    }

    static IconFile read(Path path) throws PackException {
        Blob file = new Blob(Inputs.read(path, "icon"), "icon " + path);
        if (file.length() < HEADER_SIZE || file.u16(0, "header") != 0 || file.u16(2, "header") != 1) {
            throw new PackException("not an icon file (.ico): " + path);
        }
        int count = file.u16(4, "header");
        if (count == 0 || count > MAX_IMAGES) {
            throw file.damaged(count + " pictures in the directory");
        }
        List<Picture> pictures = new ArrayList<>();
        for (int i = 0; i < count; i++) {
            int entry = HEADER_SIZE + i * ENTRY_SIZE;
            byte[] directory = file.slice(entry, 12, "picture directory");
            long size = file.u32(entry + 8, "picture size");
            long offset = file.u32(entry + 12, "picture offset");
            if (size < 8) {
                throw file.damaged("picture " + (i + 1) + " is empty");
            }
            byte[] data = file.slice(offset, size, "picture " + (i + 1));
            checkPicture(file, new Blob(data, "icon " + path), i + 1);
            pictures.add(new Picture(directory, data));
        }
        return new IconFile(pictures);
    }

    /**
     * A picture Windows can draw: a PNG with its signature and header chunk, or a bitmap with a
     * 40-byte header, one plane, a bit count icons use, no compression, and its colours and mask.
     */
    private static void checkPicture(Blob file, Blob picture, int number) throws PackException {
        String which = "picture " + number;
        if (picture.length() >= 4 && picture.u8(0, which) == 0x89 && picture.u8(1, which) == 'P') {
            if (!isPng(picture.bytes) || picture.length() < 33 || picture.u8(12, which) != 'I'
                    || picture.u8(13, which) != 'H' || picture.u8(14, which) != 'D' || picture.u8(15, which) != 'R') {
                throw file.damaged(which + " has a broken PNG signature or no PNG header chunk");
            }
            return;
        }
        if (picture.u32(0, which + " header") != 40) {
            throw file.damaged(which + " is neither PNG nor a 40-byte bitmap header");
        }
        int width = picture.s32(4, which + " width");
        int height = picture.s32(8, which + " height");
        int planes = picture.u16(12, which + " planes");
        int bits = picture.u16(14, which + " bit count");
        long compression = picture.u32(16, which + " compression");
        long colours = picture.u32(32, which + " colour count");
        if (width <= 0 || width > 1024 || height <= 0 || height > 2048 || planes != 1) {
            throw file.damaged(which + " has a bitmap header of " + width + " x " + height + ", " + planes
                    + " planes");
        }
        if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
            throw file.damaged(which + " has " + bits + " bits per pixel");
        }
        if (compression != 0) {
            throw file.damaged(which + " is a compressed bitmap (compression " + compression
                    + "); icon bitmaps are uncompressed");
        }
        long table = colours != 0 ? colours : bits <= 8 ? 1L << bits : 0;
        if (table > 256) {
            throw file.damaged(which + " has " + colours + " colours");
        }
        // The height counts the colour rows and the mask rows together.
        long rows = height / 2;
        long colourBytes = ((long) width * bits + 31) / 32 * 4 * rows;
        long maskBytes = ((long) width + 31) / 32 * 4 * rows;
        picture.require(0, 40 + 4 * table + colourBytes + maskBytes, which + " pixels and mask");
    }

    private static boolean isPng(byte[] data) {
        if (data.length < PNG_SIGNATURE.length) {
            return false;
        }
        for (int i = 0; i < PNG_SIGNATURE.length; i++) {
            if (data[i] != PNG_SIGNATURE[i]) {
                return false;
            }
        }
        return true;
    }

    /**
     * Adds the pictures as icon resources numbered from after the highest one in use, and the
     * group that names them under groupId.
     */
    void addTo(ResourceTree tree, int groupId) throws PackException {
        int first = tree.highestId(ResourceTree.RT_ICON) + 1;
        if (first + pictures.size() - 1 > 0xFFFF) {
            throw new PackException("too many icon pictures for one program file");
        }
        byte[] group = new byte[HEADER_SIZE + GROUP_ENTRY_SIZE * pictures.size()];
        Blob.putU16(group, 2, 1);
        Blob.putU16(group, 4, pictures.size());
        for (int i = 0; i < pictures.size(); i++) {
            Picture picture = pictures.get(i);
            tree.put(ResourceTree.RT_ICON, first + i, picture.data);
            int at = HEADER_SIZE + i * GROUP_ENTRY_SIZE;
            System.arraycopy(picture.directory, 0, group, at, 12);
            Blob.putU16(group, at + 12, first + i);
        }
        tree.put(ResourceTree.RT_GROUP_ICON, groupId, group);
    }
}
