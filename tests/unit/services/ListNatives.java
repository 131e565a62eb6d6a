import java.io.File;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.net.URL;
import java.net.URLClassLoader;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

/**
 * Prints the native methods the compiled companion classes declare, one per line, in the
 * format of natives.txt: "class name descriptor static|instance". With --exports, prints the
 * JNI export name each native binds to instead (the long form when a native is overloaded).
 *   java ListNatives [--exports] CLASSES_DIR
 * Classes are loaded without initialisation, so no static block runs.
 */
public class ListNatives {
    public static void main(String[] args) throws Exception {
        boolean exports = args.length == 2 && args[0].equals("--exports");
        if (args.length != (exports ? 2 : 1)) {
            System.err.println("usage: ListNatives [--exports] CLASSES_DIR");
            System.exit(2);
        }
        File root = new File(args[args.length - 1]);
        URLClassLoader loader = new URLClassLoader(new URL[] {root.toURI().toURL()}, null);
        List<String> classNames = new ArrayList<String>();
        collect(root, "", classNames);
        List<String> lines = new ArrayList<String>();
        for (String internal : classNames) {
            Class<?> c = Class.forName(internal.replace('/', '.'), false, loader);
            for (Method m : c.getDeclaredMethods()) {
                if (!Modifier.isNative(m.getModifiers())) continue;
                String descriptor = descriptor(m);
                if (exports) {
                    String name = "Java_" + mangle(internal) + "_" + mangle(m.getName());
                    if (nativeOverloads(c, m.getName()) > 1) {
                        String params = descriptor.substring(1, descriptor.indexOf(')'));
                        name += "__" + mangle(params);
                    }
                    lines.add(name);
                } else {
                    lines.add(internal + " " + m.getName() + " " + descriptor + " "
                            + (Modifier.isStatic(m.getModifiers()) ? "static" : "instance"));
                }
            }
        }
        Collections.sort(lines);
        for (String line : lines) System.out.println(line);
    }

    private static void collect(File dir, String prefix, List<String> out) {
        File[] entries = dir.listFiles();
        if (entries == null) return;
        for (File f : entries) {
            if (f.isDirectory()) {
                collect(f, prefix + f.getName() + "/", out);
            } else if (f.getName().endsWith(".class")) {
                String n = f.getName();
                out.add(prefix + n.substring(0, n.length() - ".class".length()));
            }
        }
    }

    private static int nativeOverloads(Class<?> c, String name) {
        int count = 0;
        for (Method m : c.getDeclaredMethods()) {
            if (Modifier.isNative(m.getModifiers()) && m.getName().equals(name)) count++;
        }
        return count;
    }

    private static String descriptor(Method m) {
        StringBuilder sb = new StringBuilder("(");
        for (Class<?> p : m.getParameterTypes()) sb.append(typeDescriptor(p));
        return sb.append(')').append(typeDescriptor(m.getReturnType())).toString();
    }

    private static String typeDescriptor(Class<?> t) {
        if (t == void.class) return "V";
        if (t == boolean.class) return "Z";
        if (t == byte.class) return "B";
        if (t == char.class) return "C";
        if (t == short.class) return "S";
        if (t == int.class) return "I";
        if (t == long.class) return "J";
        if (t == float.class) return "F";
        if (t == double.class) return "D";
        // Array names are already descriptors, with dots for slashes.
        if (t.isArray()) return t.getName().replace('.', '/');
        return "L" + t.getName().replace('.', '/') + ";";
    }

    // JNI name mangling: '/' separates, '_' ';' '[' are escaped, other non-alphanumerics as _0xxxx.
    private static String mangle(String s) {
        StringBuilder sb = new StringBuilder();
        for (char ch : s.toCharArray()) {
            if (ch == '/') sb.append('_');
            else if (ch == '_') sb.append("_1");
            else if (ch == ';') sb.append("_2");
            else if (ch == '[') sb.append("_3");
            else if (Character.isLetterOrDigit(ch) && ch < 128) sb.append(ch);
            else sb.append(String.format("_0%04x", (int) ch));
        }
        return sb.toString();
    }
}
