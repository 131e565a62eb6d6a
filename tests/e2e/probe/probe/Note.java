package probe;

import java.io.Serializable;

/** An object of the application's own class. */
public class Note implements Serializable {
    private static final long serialVersionUID = 1L;
    private final String text;

    public Note(String text) {
        this.text = text;
    }

    @Override
    public String toString() {
        return "note:" + text;
    }
}
