package hello;

import java.util.Arrays;

/** The demo application: greets, and shows what the launcher handed to it. */
public class Hello {
    public static void main(String[] args) {
        System.out.println("Hello from a Java application packed into one program file.");
        System.out.println("  arguments:         " + Arrays.toString(args));
        System.out.println("  program file:      " + System.getProperty("vxo.app.path"));
        System.out.println("  application home:  " + System.getProperty("application.home"));
        System.out.println("  class path:        " + System.getProperty("java.class.path"));
        System.out.println("  greeting:          " + System.getProperty("hello.greeting"));
        System.out.println("  runtime:           " + System.getProperty("java.vm.name") + " "
                + System.getProperty("java.version"));
        // The companion classes answer through the launcher's natives. Instance messaging is only
        // switched on by "singleinstance custom", so in this demo the natives report it as off.
        int current = com.lumenfold.vxo.Instances.getCurrentInstance();
        System.out.println("  messaging:         " + (current < 0
                ? "off (the natives answer; \"singleinstance custom\" would switch it on)"
                : "on, this is process " + current));
    }
}
