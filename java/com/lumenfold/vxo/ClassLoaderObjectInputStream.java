package com.lumenfold.vxo;

import java.io.IOException;
import java.io.InputStream;
import java.io.ObjectInputStream;
import java.io.ObjectStreamClass;

/**
 * Reads objects whose classes come from a given loader, such as the application's: a receiver of
 * {@link Instances} messages can use it to read objects of classes only its own loader knows.
 * Works the same on Windows and Linux.
 */
public class ClassLoaderObjectInputStream extends ObjectInputStream {
    private final ClassLoader classLoader;

    /**
     * @param in the serialized objects
     * @param loader the loader that resolves their classes first
     * @throws IOException when the stream header cannot be read
     */
    public ClassLoaderObjectInputStream(InputStream in, ClassLoader loader) throws IOException {
        super(in);
        classLoader = loader;
    }

    /** The class from the given loader, else from the default lookup (primitive types among others). */
    @Override
    protected Class<?> resolveClass(ObjectStreamClass desc) throws IOException, ClassNotFoundException {
        try {
            return Class.forName(desc.getName(), false, classLoader);
        } catch (ClassNotFoundException e) {
            // Primitive types and classes only the default lookup knows.
            return super.resolveClass(desc);
        }
    }
}
