package com.lumenfold.vexilo.pack;

import java.io.PrintStream;
import java.util.List;

final class DebCommand implements Commands.Command {
    @Override
    public String usage() {
        return "";
    }

    @Override
    public void run(List<String> args, PrintStream out, PrintStream err) throws PackException {
        throw new PackException("not yet");
    }
}
