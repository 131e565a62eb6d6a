package com.lumenfold.vexilo.pack;

import java.nio.ByteBuffer;
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.UUID;

/** Name-based UUIDs (version 5, SHA-1): the same namespace and name always give the same UUID. */
final class NameUuid {
    /** Namespace of the installer upgrade codes that vexilo-pack derives from vendor and product name. */
    static final UUID UPGRADE_NAMESPACE = UUID.fromString("6c1f0e57-3b8a-5d2e-9a41-7e0d95b3c2f4");

    private NameUuid() {
    }

    static UUID of(UUID namespace, String name) {
        MessageDigest sha1;
        try {
            sha1 = MessageDigest.getInstance("SHA-1");
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every Java runtime has SHA-1", e);
        }
        sha1.update(ByteBuffer.allocate(16).putLong(namespace.getMostSignificantBits())
                .putLong(namespace.getLeastSignificantBits()).array());
        byte[] hash = sha1.digest(name.getBytes(StandardCharsets.UTF_8));
        hash[6] = (byte) ((hash[6] & 0x0f) | 0x50);
        hash[8] = (byte) ((hash[8] & 0x3f) | 0x80);
        ByteBuffer b = ByteBuffer.wrap(hash, 0, 16);
        return new UUID(b.getLong(), b.getLong());
    }

    /**
     * The default upgrade code of a product: a name-based UUID of vendor and name joined by a NUL,
     * so every version of one product (and only that product) shares it.
     */
    static UUID upgradeCode(String vendor, String name) {
        return of(UPGRADE_NAMESPACE, vendor + "\0" + name);
    }

    /** The registry form Windows Installer uses: upper case, in braces. */
    static String braced(UUID uuid) {
        return "{" + uuid.toString().toUpperCase(java.util.Locale.ROOT) + "}";
    }
}
