package com.lumenfold.vexilo.pack;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;

/** A pristine launcher image: where its archive-length slot is and whether it is the GUI kind. */
final class Image {
    static final int SLOT_SIZE = 8;
    private static final byte[] MARKER = "VEXILO_ARCLEN\0".getBytes(StandardCharsets.US_ASCII);
    // Only GUI images export the splash natives.
    private static final byte[] GUI_EXPORT =
            "Java_com_lumenfold_vxo_SplashScreen_nativeClose".getBytes(StandardCharsets.US_ASCII);

    final byte[] bytes;
    final int slotOffset;
    final boolean gui;
    /** Offset of a Windows image's checksum field, -1 for an image without one. */
    final int checksumOffset;

    private Image(byte[] bytes, int slotOffset, boolean gui, int checksumOffset) {
        this.bytes = bytes;
        this.slotOffset = slotOffset;
        this.gui = gui;
        this.checksumOffset = checksumOffset;
    }

    /** The same image rebuilt (its resources replaced); the slot stays where it was. */
    Image withBytes(byte[] rebuilt, int checksumAt) {
        return new Image(rebuilt, slotOffset, gui, checksumAt);
    }

    static Image parse(byte[] bytes, Path path) throws PackException {
        int marker = indexOf(bytes, MARKER, 0);
        if (marker < 0) {
            throw new PackException("no archive-length slot in image (not a Vexilo launcher image?): "
                    + path);
        }
        if (indexOf(bytes, MARKER, marker + 1) >= 0) {
            throw new PackException("image has more than one archive-length slot: " + path);
        }
        if (marker < SLOT_SIZE) {
            throw new PackException("archive-length slot is cut off at the start of the image: " + path);
        }
        int slot = marker - SLOT_SIZE;
        for (int i = 0; i < SLOT_SIZE; i++) {
            if (bytes[slot + i] != 0) {
                throw new PackException("image is already packed: " + path);
            }
        }
        return new Image(bytes, slot, indexOf(bytes, GUI_EXPORT, 0) >= 0, -1);
    }

    static int indexOf(byte[] data, byte[] needle, int from) {
        outer:
        for (int i = from; i <= data.length - needle.length; i++) {
            for (int j = 0; j < needle.length; j++) {
                if (data[i + j] != needle[j]) {
                    continue outer;
                }
            }
            return i;
        }
        return -1;
    }
}
