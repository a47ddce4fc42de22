package com.pelmar.base.audio.codec;

import com.pelmar.base.audio.codec.test.StandardError;
import java.io.File;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/**
 * Runs a main class in a new JVM with this JVM's class path, library path, logging and JNI checks:
 * for what only a new process shows (the state right after loading), and for programs that exit.
 */
public final class ChildJvm {
    private ChildJvm() {}

    /** What the child did: its exit status and what it wrote, standard error read as Latin-1. */
    public record Result(int exit, String out, List<String> err) {}

    public static Result run(Class<?> main, String... args) {
        return run(main, null, args);
    }

    /** Runs with a working directory of the test's choosing (null: this JVM's). */
    public static Result run(Class<?> main, Path directory, String... args) {
        return finish(start(main, directory, Map.of(), args));
    }

    /** A child started and not yet waited for, its output going to temporary files. */
    public record Started(Process process, Path out, Path err) {}

    /**
     * Starts a child with changes to this JVM's environment (a null value removes the variable),
     * so that several can run at once; {@link #finish} waits for one.
     */
    public static Started start(
            Class<?> main, Path directory, Map<String, String> environment, String... args) {
        List<String> command = new ArrayList<>();
        command.add(Path.of(System.getProperty("java.home"), "bin", "java").toString());
        command.add("-Xcheck:jni");
        command.add("-Djava.library.path=" + System.getProperty("java.library.path"));
        String logging = System.getProperty("java.util.logging.config.file");
        if (logging != null) {
            command.add("-Djava.util.logging.config.file=" + logging);
        }
        command.add("-cp");
        command.add(classPath());
        command.add(main.getName());
        command.addAll(List.of(args));
        try {
            Path out = Files.createTempFile("child-out", ".txt");
            Path err = Files.createTempFile("child-err", ".txt");
            ProcessBuilder builder =
                    new ProcessBuilder(command)
                            .redirectOutput(out.toFile())
                            .redirectError(err.toFile());
            if (directory != null) {
                builder.directory(directory.toFile());
            }
            environment.forEach(
                    (name, value) -> {
                        if (value == null) {
                            builder.environment().remove(name);
                        } else {
                            builder.environment().put(name, value);
                        }
                    });
            return new Started(builder.start(), out, err);
        } catch (IOException e) {
            throw new AssertionError("cannot run a child JVM", e);
        }
    }

    /** Waits for a started child and reads what it did. */
    public static Result finish(Started child) {
        Path out = child.out();
        Path err = child.err();
        try {
            try {
                int exit = child.process().waitFor();
                String output = Files.readString(out, StandardCharsets.ISO_8859_1);
                byte[] errors = Files.readAllBytes(err);
                String all = output + new String(errors, StandardCharsets.ISO_8859_1);
                if (all.contains("WARNING in native method")
                        || all.contains("FATAL ERROR in native method")) {
                    throw new AssertionError("JNI check in the child JVM:\n" + all);
                }
                return new Result(exit, output, StandardError.lines(errors));
            } finally {
                Files.delete(out);
                Files.delete(err);
            }
        } catch (IOException e) {
            throw new AssertionError("cannot run a child JVM", e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new AssertionError("interrupted", e);
        }
    }

    /** Absolute, so that a child started in another directory finds the same classes. */
    private static String classPath() {
        List<String> entries = new ArrayList<>();
        for (String entry : System.getProperty("java.class.path").split(File.pathSeparator)) {
            entries.add(Path.of(entry).toAbsolutePath().toString());
        }
        return String.join(File.pathSeparator, entries);
    }
}
