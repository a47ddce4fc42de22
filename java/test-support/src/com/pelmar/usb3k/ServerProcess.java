package com.pelmar.usb3k;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.io.UncheckedIOException;
import java.net.ServerSocket;
import java.net.URI;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/**
 * A usb3k-server started by a test on loopback over the emulator: the built program (system
 * property {@code usb3k.server}) with the emulator's D2XX, set up before it starts by the library
 * of {@code usb3k.server.faults} (its devices and their faults, from the environment). For the
 * remote decoders' tests and measurements.
 */
public final class ServerProcess implements AutoCloseable {
    /** The token of the servers' token files. */
    public static final String TOKEN = "remote-test-token";

    private static final Pattern LISTENING = Pattern.compile("listening on ([0-9.]+) port (\\d+)");

    private final Process process;
    private final StringBuffer log = new StringBuffer();
    private final String address;
    private final int port;
    private final boolean tls;

    private ServerProcess(Process process, boolean tls) throws IOException, InterruptedException {
        this.process = process;
        this.tls = tls;
        var lines = new BufferedReader(
                new InputStreamReader(process.getInputStream(), StandardCharsets.UTF_8));
        String at = null;
        int found = -1;
        for (String line; found < 0 && (line = lines.readLine()) != null; ) {
            log(line);
            Matcher matcher = LISTENING.matcher(line);
            if (matcher.find()) {
                at = matcher.group(1);
                found = Integer.parseInt(matcher.group(2));
            }
        }
        if (found < 0) {
            process.waitFor(5, TimeUnit.SECONDS);
            throw new IOException("usb3k-server did not start: " + log);
        }
        address = at;
        port = found;
        Thread reader = new Thread(() -> {
            try {
                lines.lines().forEach(this::log);
            } catch (UncheckedIOException e) {
                // Stopping the server closes its output under the reader: the log ends there.
            }
        });
        reader.setDaemon(true);
        reader.start();
    }

    /**
     * Starts a server on 127.0.0.1 at a free port.
     *
     * @param dir the folder for its token file and settings
     * @param devices its USB-3000s, {@code SERIAL,SERIAL...}
     * @param faults {@code SERIAL:REQUEST:OCCURRENCE:FAULT:VALUE;...}, or empty
     * @param paced whether the devices take a real device's time for each frame
     * @param options more of usb3k-server's options
     * @return the server, listening
     * @throws IOException when it cannot be started or does not listen
     * @throws InterruptedException when interrupted while it starts
     */
    public static ServerProcess start(
            Path dir, String devices, String faults, boolean paced, String... options)
            throws IOException, InterruptedException {
        int port;
        try (ServerSocket socket = new ServerSocket(0)) {
            port = socket.getLocalPort();
        }
        return startAt("127.0.0.1", port, dir, devices, faults, paced, options);
    }

    /**
     * Starts a server as {@link #start} does, listening at this loopback address and port.
     *
     * @param address a loopback address, {@code 127.0.0.2}
     * @param port the port
     * @param dir the folder for its token file and settings
     * @param devices its USB-3000s, {@code SERIAL,SERIAL...}
     * @param faults {@code SERIAL:REQUEST:OCCURRENCE:FAULT:VALUE;...}, or empty
     * @param paced whether the devices take a real device's time for each frame
     * @param options more of usb3k-server's options
     * @return the server, listening
     * @throws IOException when it cannot be started or does not listen
     * @throws InterruptedException when interrupted while it starts
     */
    public static ServerProcess startAt(String address, int port,
            Path dir, String devices, String faults, boolean paced, String... options)
            throws IOException, InterruptedException {
        Path tokens = dir.resolve("tokens-" + System.nanoTime());
        Files.writeString(tokens, "test:" + TOKEN + "\n");
        Files.setPosixFilePermissions(tokens, PosixFilePermissions.fromString("rw-------"));
        Path config = Files.writeString(dir.resolve("server-" + System.nanoTime() + ".conf"), "");
        List<String> command = new ArrayList<>(List.of(
                System.getProperty("usb3k.server"),
                "--config", config.toString(),
                "--listen", address + ":" + port,
                "--token-file", tokens.toString(),
                "--drain-timeout", "1"));
        command.addAll(List.of(options));
        ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
        Map<String, String> environment = builder.environment();
        String preload = environment.get("LD_PRELOAD");
        String faultsLibrary = System.getProperty("usb3k.server.faults");
        environment.put("LD_PRELOAD",
                preload == null || preload.isEmpty() ? faultsLibrary : preload + ":" + faultsLibrary);
        environment.put("USB3K_EMULATOR_DEVICES", devices);
        environment.put("USB3K_TEST_FAULTS", faults);
        environment.put("USB3K_EMULATOR_PACED", paced ? "1" : "0");
        boolean tls = command.contains("--tls-cert");
        return new ServerProcess(builder.start(), tls);
    }

    /**
     * The server's address.
     *
     * @return {@code http://ADDRESS:PORT}, or {@code https://} with {@code --tls-cert}
     */
    public URI uri() {
        return URI.create((tls ? "https" : "http") + "://" + address + ":" + port);
    }

    private void log(String line) {
        log.append(line).append('\n');
    }

    /**
     * Kills the server at once, as a crash or a lost host would.
     *
     * @throws InterruptedException when interrupted while waiting for its end
     */
    public void kill() throws InterruptedException {
        process.destroyForcibly().waitFor(10, TimeUnit.SECONDS);
    }

    /** SIGTERM: the server drains, then exits. */
    public void drain() {
        process.destroy();
    }

    @Override
    public void close() {
        process.destroy();
        try {
            if (!process.waitFor(10, TimeUnit.SECONDS)) {
                process.destroyForcibly();
            }
        } catch (InterruptedException e) {
            process.destroyForcibly();
            Thread.currentThread().interrupt();
        }
    }
}
