package com.lumenfold.vexilo.pack;

import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;

/** Converts the configuration file into the form the launcher reads: UTF-8 BOM, CR LF lines, NUL. */
final class ConfigText {
    private static final byte[] UTF8_BOM = {(byte) 0xEF, (byte) 0xBB, (byte) 0xBF};
    private static final byte[] UTF16LE_BOM = {(byte) 0xFF, (byte) 0xFE};
    private static final byte[] UTF16BE_BOM = {(byte) 0xFE, (byte) 0xFF};

    private ConfigText() {
    }

    static byte[] encode(byte[] raw, Path path) throws PackException {
        String text = decode(raw, path);
        // The launcher stops at the first NUL, so one inside the text would silently cut it short.
        if (text.indexOf('\0') >= 0) {
            throw new PackException("config contains a NUL character: " + path);
        }
        byte[] body = withCrLf(text).getBytes(StandardCharsets.UTF_8);
        byte[] out = new byte[UTF8_BOM.length + body.length + 1];
        System.arraycopy(UTF8_BOM, 0, out, 0, UTF8_BOM.length);
        System.arraycopy(body, 0, out, UTF8_BOM.length, body.length);
        return out;
    }

    private static String decode(byte[] raw, Path path) throws PackException {
        try {
            if (startsWith(raw, UTF8_BOM)) {
                return strict(StandardCharsets.UTF_8, raw, UTF8_BOM.length);
            }
            if (startsWith(raw, UTF16LE_BOM)) {
                return strict(StandardCharsets.UTF_16LE, raw, UTF16LE_BOM.length);
            }
            if (startsWith(raw, UTF16BE_BOM)) {
                return strict(StandardCharsets.UTF_16BE, raw, UTF16BE_BOM.length);
            }
            return strict(StandardCharsets.UTF_8, raw, 0);
        } catch (CharacterCodingException e) {
            throw new PackException("config is not valid UTF-8 (or UTF-16 with a byte-order mark): " + path);
        }
    }

    /** Refuses broken input: replacement characters would corrupt values without anyone noticing. */
    private static String strict(Charset charset, byte[] raw, int offset) throws CharacterCodingException {
        return charset.newDecoder()
                .onMalformedInput(CodingErrorAction.REPORT)
                .onUnmappableCharacter(CodingErrorAction.REPORT)
                .decode(ByteBuffer.wrap(raw, offset, raw.length - offset))
                .toString();
    }

    static String withCrLf(String text) {
        String lf = text.replace("\r\n", "\n").replace('\r', '\n');
        if (!lf.isEmpty() && !lf.endsWith("\n")) {
            lf += "\n";
        }
        return lf.replace("\n", "\r\n");
    }

    private static boolean startsWith(byte[] data, byte[] prefix) {
        if (data.length < prefix.length) {
            return false;
        }
        for (int i = 0; i < prefix.length; i++) {
            if (data[i] != prefix[i]) {
                return false;
            }
        }
        return true;
    }
}
