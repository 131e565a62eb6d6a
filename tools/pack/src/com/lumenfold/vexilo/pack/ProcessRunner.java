package com.lumenfold.vexilo.pack;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.Charset;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;

/**
 * Runs an external tool as an argument array (never through a shell), with its output collected
 * up to a bound and a bounded wait: a tool that hangs is ended rather than waited on for ever.
 */
final class ProcessRunner {
    /** Output kept per run; tools that talk more than this are cut, with a note. */
    private static final int MAX_OUTPUT = 1 << 20;

    static final class Result {
        final int status;
        final String output;

        Result(int status, String output) {
            this.status = status;
            this.output = output;
        }

        /** The last few lines of the output, for an error message that stays one line long. */
        String tail() {
            String[] lines = output.trim().split("\r?\n");
            StringBuilder b = new StringBuilder();
            for (int i = Math.max(0, lines.length - 3); i < lines.length; i++) {
                if (b.length() > 0) {
                    b.append(" | ");
                }
                b.append(lines[i].trim());
            }
            return b.toString();
        }
    }

    /** Tools running now: a run that is interrupted ends them before its work folder is removed. */
    private static final java.util.Set<Process> RUNNING = java.util.Collections.newSetFromMap(
            new java.util.concurrent.ConcurrentHashMap<Process, Boolean>());

    /** Guards RUNNING against a start racing endAll; once ended, no tool starts any more. */
    private static final Object STARTS = new Object();
    private static boolean ended;

    private final long timeoutSeconds;

    ProcessRunner(long timeoutSeconds) {
        this.timeoutSeconds = timeoutSeconds;
    }

    /** Runs command; stdout and stderr are merged. Throws when it cannot start or times out. */
    Result run(List<String> command, Path directory, Map<String, String> environment) throws PackException {
        ProcessBuilder builder = new ProcessBuilder(new ArrayList<>(command)).redirectErrorStream(true);
        if (directory != null) {
            builder.directory(directory.toFile());
        }
        if (environment != null) {
            builder.environment().putAll(environment);
        }
        String tool = command.get(0);
        Process process;
        synchronized (STARTS) {
            if (ended) {
                throw new PackException("interrupted");
            }
            try {
                process = builder.start();
            } catch (IOException e) {
                throw new PackException("cannot run " + tool + ": " + e.getMessage());
            }
            RUNNING.add(process);
        }
        try {
            return collect(process, tool);
        } finally {
            RUNNING.remove(process);
        }
    }

    /** Ends every tool still running (from a shutdown hook), waiting a bounded time for each. */
    static void endAll() {
        Process[] running;
        synchronized (STARTS) {
            ended = true;
            running = RUNNING.toArray(new Process[0]);
        }
        for (Process p : running) {
            p.destroyForcibly();
            try {
                p.waitFor(10, TimeUnit.SECONDS);
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                return;
            }
        }
    }

    private Result collect(Process process, String tool) throws PackException {
        ByteArrayOutputStream collected = new ByteArrayOutputStream();
        Thread reader = new Thread(() -> drain(process.getInputStream(), collected), "output of " + tool);
        reader.setDaemon(true);
        reader.start();
        try {
            process.getOutputStream().close();
            if (!process.waitFor(timeoutSeconds, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                process.waitFor(10, TimeUnit.SECONDS);
                throw new PackException(tool + " did not finish within " + timeoutSeconds + " s and was ended");
            }
            reader.join(TimeUnit.SECONDS.toMillis(10));
        } catch (InterruptedException e) {
            process.destroyForcibly();
            Thread.currentThread().interrupt();
            throw new PackException("interrupted while " + tool + " ran");
        } catch (IOException e) {
            throw new PackException("cannot talk to " + tool + ": " + e.getMessage());
        }
        String text;
        synchronized (collected) {
            text = new String(collected.toByteArray(), Charset.defaultCharset());
        }
        return new Result(process.exitValue(), text);
    }

    /** Runs command and insists on exit status 0; the failure names the tool and its last words. */
    Result check(List<String> command, Path directory) throws PackException {
        Result result = run(command, directory, null);
        if (result.status != 0) {
            throw new PackException(new java.io.File(command.get(0)).getName() + " failed (exit status "
                    + result.status + "): " + result.tail());
        }
        return result;
    }

    /** True when an executable of that name is on PATH. */
    static boolean onPath(String tool) {
        String path = System.getenv("PATH");
        for (String dir : (path == null ? "" : path).split(java.io.File.pathSeparator)) {
            if (!dir.isEmpty() && java.nio.file.Files.isExecutable(java.nio.file.Paths.get(dir, tool))) {
                return true;
            }
        }
        return false;
    }

    /** Refuses with the package to install when a tool the command cannot do without is missing. */
    static void requireTool(String tool, String debianPackage) throws PackException {
        if (!onPath(tool)) {
            throw new PackException(tool + " not found on PATH (Debian package " + debianPackage + ")");
        }
    }

    private static void drain(InputStream in, ByteArrayOutputStream into) {
        byte[] buffer = new byte[8192];
        boolean cut = false;
        try (InputStream input = in) {
            for (int n; (n = input.read(buffer)) > 0; ) {
                synchronized (into) {
                    int room = MAX_OUTPUT - into.size();
                    if (room > 0) {
                        into.write(buffer, 0, Math.min(room, n));
                    } else if (!cut) {
                        cut = true;
                        byte[] note = "\n[output cut]\n".getBytes(Charset.defaultCharset());
                        into.write(note, 0, note.length);
                    }
                }
            }
        } catch (IOException ignored) {
            // the tool closed its end; what was read is what there is
        }
    }
}
