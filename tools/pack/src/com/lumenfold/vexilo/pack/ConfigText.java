package com.lumenfold.vexilo.pack;

import java.nio.ByteBuffer;
import java.nio.charset.CharacterCodingException;
import java.nio.charset.Charset;
import java.nio.charset.CodingErrorAction;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.function.Consumer;

/** Converts the configuration file into the form the launcher reads: UTF-8 BOM, CR LF lines, NUL. */
final class ConfigText {
    private static final byte[] UTF8_BOM = {(byte) 0xEF, (byte) 0xBB, (byte) 0xBF};
    private static final byte[] UTF16LE_BOM = {(byte) 0xFF, (byte) 0xFE};
    private static final byte[] UTF16BE_BOM = {(byte) 0xFE, (byte) 0xFF};
    private static final char MARK = '\uFEFF';
    private static final int MAX_REPORTED_LINES = 10;

    private ConfigText() {
    }

    /** The launcher's form of decoded text: a byte-order mark, UTF-8, CR LF lines, one NUL. */
    static byte[] encode(String text) {
        byte[] body = withCrLf(text).getBytes(StandardCharsets.UTF_8);
        byte[] out = new byte[UTF8_BOM.length + body.length + 1];
        System.arraycopy(UTF8_BOM, 0, out, 0, UTF8_BOM.length);
        System.arraycopy(body, 0, out, UTF8_BOM.length, body.length);
        return out;
    }

    /** Removes byte-order marks after the first one, naming the lines they were on. */
    static String withoutInnerMarks(String text, Path path, Consumer<String> warn) {
        if (text.indexOf(MARK) < 0) {
            return text;
        }
        String[] lines = text.replace("\r\n", "\n").replace('\r', '\n').split("\n", -1);
        List<String> where = new ArrayList<>();
        for (int i = 0; i < lines.length && where.size() < MAX_REPORTED_LINES; i++) {
            if (lines[i].indexOf(MARK) >= 0) {
                where.add(Integer.toString(i + 1));
            }
        }
        warn.accept(path + ": byte-order mark inside the text (concatenated files?) removed on line "
                + String.join(", ", where));
        return text.replace(String.valueOf(MARK), "");
    }

    static String decode(byte[] raw, Path path) throws PackException {
        String text = decodeText(raw, path);
        // The launcher stops at the first NUL, so one inside the text would silently cut it short.
        if (text.indexOf('\0') >= 0) {
            throw new PackException("config contains a NUL character: " + path);
        }
        return text;
    }

    private static String decodeText(byte[] raw, Path path) throws PackException {
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
