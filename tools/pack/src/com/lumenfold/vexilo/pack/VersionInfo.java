package com.lumenfold.vexilo.pack;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/** The version resource: fixed numbers for Windows, and the text fields Explorer shows. */
final class VersionInfo {
    private static final long SIGNATURE = 0xFEEF04BDL;
    private static final long VOS_NT_WINDOWS32 = 0x40004;
    private static final long VFT_APP = 1;
    // English (United States), Unicode: the one translation the text fields are written in.
    private static final String TABLE = "040904B0";
    private static final long TRANSLATION = 0x04B00409L;

    /** The largest block a 16-bit length field can describe. */
    private static final int MAX_BLOCK = 0xFFFF;

    private final int[] fileVersion;
    private final int[] productVersion;
    private final Map<String, String> strings = new LinkedHashMap<>();

    VersionInfo(int[] fileVersion, int[] productVersion) {
        this.fileVersion = fileVersion;
        this.productVersion = productVersion;
    }

    /** Adds a text field unless value is empty (Explorer then shows nothing for it). */
    VersionInfo set(String key, String value) {
        if (value != null && !value.isEmpty()) {
            strings.put(key, value);
        }
        return this;
    }

    /** "1.2.3.4", "1.2" (missing parts are 0); each part 0 to 65535. */
    static int[] parseNumbers(String text) throws PackException {
        String[] parts = text.split("\\.", -1);
        if (parts.length > 4) {
            throw new PackException("version " + text + " has more than four numbers");
        }
        int[] numbers = new int[4];
        for (int i = 0; i < parts.length; i++) {
            if (!parts[i].matches("[0-9]{1,5}") || Integer.parseInt(parts[i]) > 0xFFFF) {
                throw new PackException("version " + text + " is not up to four numbers 0-65535 separated by dots");
            }
            numbers[i] = Integer.parseInt(parts[i]);
        }
        return numbers;
    }

    /**
     * The leading numbers of a free-form version such as "2.1.0-beta", or null when it has none.
     * Numbers that do not fit are refused, never cut: "2.123456-beta" is not version 2.12345.
     */
    static int[] leadingNumbers(String text, String what) throws PackException {
        Matcher m = Pattern.compile("^[0-9]+(\\.[0-9]+)*").matcher(text);
        if (!m.find()) {
            return null;
        }
        try {
            return parseNumbers(m.group());
        } catch (PackException e) {
            throw new PackException(what + " \"" + text + "\" does not start with up to four numbers 0-65535"
                    + " separated by dots, as Windows version numbers must be; give --version N.N.N.N");
        }
    }

    static String text(int[] numbers) {
        return numbers[0] + "." + numbers[1] + "." + numbers[2] + "." + numbers[3];
    }

    /** The field names Explorer shows, as the options that set them are called. */
    private static final Map<String, String> OPTION_OF = new LinkedHashMap<>();

    static {
        OPTION_OF.put("CompanyName", "--company");
        OPTION_OF.put("FileDescription", "--description");
        OPTION_OF.put("LegalCopyright", "--copyright");
        OPTION_OF.put("ProductName", "--product-name");
        OPTION_OF.put("ProductVersion", "--product-version");
        OPTION_OF.put("InternalName", "--out (its name)");
        OPTION_OF.put("OriginalFilename", "--out (its name)");
    }

    /** Every block of the resource records its length in 16 bits: texts that overflow one are refused. */
    byte[] toBytes() throws PackException {
        ByteArrayOutputStream fixed = new ByteArrayOutputStream();
        dword(fixed, SIGNATURE);
        dword(fixed, 0x10000);
        dword(fixed, (long) fileVersion[0] << 16 | fileVersion[1]);
        dword(fixed, (long) fileVersion[2] << 16 | fileVersion[3]);
        dword(fixed, (long) productVersion[0] << 16 | productVersion[1]);
        dword(fixed, (long) productVersion[2] << 16 | productVersion[3]);
        dword(fixed, 0x3F);
        dword(fixed, 0);
        dword(fixed, VOS_NT_WINDOWS32);
        dword(fixed, VFT_APP);
        dword(fixed, 0);
        dword(fixed, 0);
        dword(fixed, 0);
        ByteArrayOutputStream table = new ByteArrayOutputStream();
        for (Map.Entry<String, String> field : strings.entrySet()) {
            byte[] value = (field.getValue() + "\0").getBytes(StandardCharsets.UTF_16LE);
            byte[] string = node(field.getKey(), value, value.length / 2, 1, new byte[0]);
            if (string.length > MAX_BLOCK) {
                String name = OPTION_OF.getOrDefault(field.getKey(), field.getKey());
                throw new PackException("version text " + field.getKey() + " (" + name + ") has "
                        + field.getValue().length() + " characters; the version resource holds at most "
                        + (MAX_BLOCK - string.length + field.getValue().length() * 2) / 2 + " in one text");
            }
            table.write(string, 0, string.length);
            align(table);
        }
        byte[] stringTable = node(TABLE, new byte[0], 0, 1, table.toByteArray());
        byte[] stringInfo = node("StringFileInfo", new byte[0], 0, 1, stringTable);
        ByteArrayOutputStream translation = new ByteArrayOutputStream();
        dword(translation, TRANSLATION);
        byte[] var = node("Translation", translation.toByteArray(), 4, 0, new byte[0]);
        byte[] varInfo = node("VarFileInfo", new byte[0], 0, 1, var);
        ByteArrayOutputStream children = new ByteArrayOutputStream();
        children.write(stringInfo, 0, stringInfo.length);
        align(children);
        children.write(varInfo, 0, varInfo.length);
        byte[] fixedBytes = fixed.toByteArray();
        byte[] all = node("VS_VERSION_INFO", fixedBytes, fixedBytes.length, 0, children.toByteArray());
        if (all.length > MAX_BLOCK) {
            throw new PackException("the version texts (" + String.join(", ", strings.keySet()) + ") add up to "
                    + all.length + " bytes; the version resource holds at most " + MAX_BLOCK
                    + " (about 32,000 characters together)");
        }
        return all;
    }

    /**
     * One block: length, value length (bytes, or characters for text), type (1 text, 0 binary),
     * the key, padding to 32 bits, the value, padding, the children.
     */
    private static byte[] node(String key, byte[] value, int valueLength, int type, byte[] children) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        word(out, 0);
        word(out, valueLength);
        word(out, type);
        byte[] name = (key + "\0").getBytes(StandardCharsets.UTF_16LE);
        out.write(name, 0, name.length);
        align(out);
        out.write(value, 0, value.length);
        if (children.length > 0) {
            align(out);
            out.write(children, 0, children.length);
        }
        byte[] bytes = out.toByteArray();
        Blob.putU16(bytes, 0, Math.min(bytes.length, MAX_BLOCK));
        return bytes;
    }

    private static void align(ByteArrayOutputStream out) {
        while (out.size() % 4 != 0) {
            out.write(0);
        }
    }

    private static void word(ByteArrayOutputStream out, int value) {
        out.write(value & 0xFF);
        out.write(value >>> 8 & 0xFF);
    }

    private static void dword(ByteArrayOutputStream out, long value) {
        word(out, (int) (value & 0xFFFF));
        word(out, (int) (value >>> 16 & 0xFFFF));
    }
}
